// Local help addresses: every topic the pages and the properties rows name leads to a help
// page the program carries and to a section of it that is there, never to the index by default.
#include "pages/help_pages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "admin/property_rows.h"

namespace pages {
namespace {

std::string HelpFile(const std::string& page) {
    std::ifstream in(std::string(VANTRY_SOURCE_DIR) + "/resources/help/" +
                     (page.empty() ? "index" : page) + ".html");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(HelpPagesTest, EveryTopicLeadsToASectionThatIsThere) {
    std::vector<std::string> topics = {"FileList",
                                       "Search",
                                       "HandleSearch",
                                       "FileUpload",
                                       "SendMessage",
                                       "HandleSendMessage",
                                       "HandlePost",
                                       "Favorites",
                                       "UserList",
                                       "Navigator",
                                       "WebMasterHome",
                                       "CheckingMessages",
                                       "CheckingUploads",
                                       "CheckingPosts",
                                       "ServerProperties",
                                       "HandleServerProperties",
                                       "HandleChange",
                                       "SubPropertyButtons",
                                       "EnableServer2",
                                       "HandleMime",
                                       "HandleScript",
                                       "HandleVirtualDirectory",
                                       "RemoteAdministration",
                                       "ControlPanel",
                                       "Menu"};
    for (const admin::PropertyRow& row : admin::kPropertyRows) {
        topics.emplace_back(row.helpTopic);
    }
    for (const std::string& topic : topics) {
        SCOPED_TRACE(topic);
        const std::string address = LocalHelpAddress(topic);
        ASSERT_EQ(address.rfind(kHelpPath, 0), 0u) << address;
        const size_t hash = address.find('#');
        const std::string page = address.substr(kHelpPath.size(), hash - kHelpPath.size());
        EXPECT_FALSE(page.empty()) << "fell back to the index";
        const std::string text = HelpFile(page);
        ASSERT_FALSE(text.empty()) << address;
        if (hash != std::string::npos) {
            EXPECT_NE(text.find(" id=\"" + address.substr(hash + 1) + "\""), std::string::npos)
                << address;
        }
    }
    EXPECT_EQ(LocalHelpAddress("NoSuchTopic"), "/VNT/help/");
    EXPECT_TRUE(IsHelpPath("VNT/help"));
    EXPECT_TRUE(IsHelpPath("vnt/HELP/Search?x=1"));
    EXPECT_FALSE(IsHelpPath("VNT/helpless.html"));
}

}  // namespace
}  // namespace pages
