// The help pages: which embedded file each one is, and which page and section explain each
// topic the generated pages link to.
#include "pages/help_pages.h"

#include <algorithm>
#include <optional>

#include "http/response.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace pages {
namespace {

// A page under the help path and the embedded file it is (resources/help/).
struct HelpPage {
    std::string_view name;  // empty for the index
    int resource;
};
constexpr HelpPage kHelpPages[] = {
    {"", 170},
    {"FileList", 171},
    {"Search", 172},
    {"FileUpload", 173},
    {"SendMessage", 174},
    {"Capture", 175},
    {"Favorites", 176},
    {"UserList", 177},
    {"Navigator", 178},
    {"WebMasterHome", 179},
    {"ServerProperties", 180},
    {"MappingEditors", 181},
    {"RemoteAdministration", 182},
    {"ControlPanel", 183},
    {"Menu", 184},
};

// A topic whose help is not a page of its own name: the page and the section that explain it.
struct HelpTopic {
    std::string_view topic;
    std::string_view page;
    std::string_view section;
};
constexpr HelpTopic kHelpTopics[] = {
    {"Index", "", ""},
    {"HandleSearch", "Search", "results"},
    {"HandleSendMessage", "SendMessage", "received"},
    {"HandlePost", "Capture", ""},
    {"CheckingMessages", "WebMasterHome", "messages"},
    {"CheckingUploads", "WebMasterHome", "uploads"},
    {"CheckingPosts", "WebMasterHome", "posts"},
    {"HandleServerProperties", "ServerProperties", ""},
    {"HandleChange", "ServerProperties", "saving"},
    {"SubPropertyButtons", "ServerProperties", "buttons"},
    {"HandleMime", "MappingEditors", "mime"},
    {"HandleScript", "MappingEditors", "script"},
    {"HandleVirtualDirectory", "MappingEditors", "virtual-directories"},
};

// The properties rows' topics: each is the section of the properties help of the same name.
constexpr std::string_view kPropertyTopics[] = {
    "EnableServer2",
    "PortNumber",
    "SiteName",
    "RootDirectory",
    "DefaultDocuments",
    "LogWebRequests",
    "EnableCgi",
    "AllowBrowsing",
    "EnableSearch",
    "EnableHome",
    "HomePageLocation",
    "EnableFavortes",
    "FavortesLocation",
    "EnableUserList",
    "UserListPublic",
    "EnableNavBar",
    "UploadsEnabled",
    "UploadMaxSize",
    "UploadMaxSizeMB",
    "UploadLocation",
    "MessagesEnabled",
    "MessageMaxSize",
    "MessageIsInXMLFormat",
    "MessageLocation",
    "PostingEnabled",
    "PostingMaxSize",
    "PostingLocation",
    "ReDirectorEnabled",
    "ReDirectorSiteName",
    "ReDirectorUserID",
    "ReDirectorPassword",
    "ReDirectorPath",
    "ReDirectorFileName",
    "ReDirectorUseJavaScript",
    "WebDav",
    "WebDavPath",
};

std::string Address(std::string_view page, std::string_view section) {
    std::string address(kHelpPath);
    address.append(page);
    if (!section.empty()) address.append("#").append(section);
    return address;
}

const HelpPage* FindPage(std::string_view name) {
    for (const HelpPage& page : kHelpPages) {
        if (platform::EqualsNoCase(page.name, name)) return &page;
    }
    return nullptr;
}

// The help path without its slashes: "VNT/help".
constexpr std::string_view kHelpRoute = kHelpPath.substr(1, kHelpPath.size() - 2);

}  // namespace

std::string LocalHelpAddress(std::string_view topic) {
    for (const HelpTopic& entry : kHelpTopics) {
        if (entry.topic == topic) return Address(entry.page, entry.section);
    }
    for (std::string_view property : kPropertyTopics) {
        if (property == topic) return Address("ServerProperties", property);
    }
    if (const HelpPage* page = FindPage(topic)) return Address(page->name, "");
    return std::string(kHelpPath);
}

bool IsHelpPath(std::string_view route) {
    route = route.substr(0, route.find('?'));
    if (!platform::StartsWithNoCase(route, kHelpRoute)) return false;
    return route.size() == kHelpRoute.size() || route[kHelpRoute.size()] == '/';
}

void SendHelpPage(http::Connection& c, std::string_view route) {
    route = route.substr(0, route.find('?'));
    std::string_view name = route.substr(std::min(route.size(), kHelpRoute.size() + 1));
    const HelpPage* page = FindPage(name);
    std::optional<std::string_view> text =
        page != nullptr ? platform::FindResource(page->resource) : std::nullopt;
    if (!text) {
        c.Answer(http::Response::Error(404));
        return;
    }
    constexpr int kDay = 24 * 60 * 60;
    c.SendUnchanging(
        *text, "Content-Type: text/html; charset=utf-8\r\nX-Content-Type-Options: nosniff", kDay);
}

}  // namespace pages
