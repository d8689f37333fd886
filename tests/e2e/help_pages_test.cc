// The help pages the program serves under /VNT/help/: every page a help link leads to is
// there, in UTF-8 and drawn with the stylesheet, including the section a link names; in the
// modern look the generated pages' Help links lead there.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

std::string StatusOf(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
}

// The targets of the links in `page` that lead into the help.
std::vector<std::string> HelpLinks(const std::string& page) {
    static const std::regex link("href=\"([^\"]*/VNT/help/[^\"]*)\"", std::regex::icase);
    std::vector<std::string> links;
    for (std::sregex_iterator it(page.begin(), page.end(), link), end; it != end; ++it) {
        links.push_back((*it)[1]);
    }
    return links;
}

TEST(HelpPagesTest, EveryHelpLinkLeadsToAServedPageAndSection) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nsearchEnabled=Y\n"
        "homeEnabled=Y\nuniversalNavBarEnabled=Y\nuploadEnabled=Y\nmessageUploadEnabled=Y\n"
        "list=Y\n");
    std::filesystem::create_directories(vantry.dir() + "/www");
    vantry.Start();
    auto get = [&](const std::string& target) {
        return Exchange(vantry.address(), vantry.port1(), "GET " + target + " HTTP/1.0\r\n\r\n");
    };

    // The generated pages link their help, and the help links its pages from the index on.
    std::vector<std::string> pending = {"/VNT/help/"};
    for (const char* page :
         {"/VNT/search.html", "/VNT/fileupload.html", "/VNT/sendmessage.html",
          "/VNTFileDownload.html", "/admin/serverproperties.html", "/admin/index.html"}) {
        SCOPED_TRACE(page);
        const std::vector<std::string> links = HelpLinks(BodyOf(get(page)));
        EXPECT_FALSE(links.empty());
        pending.insert(pending.end(), links.begin(), links.end());
    }
    std::set<std::string> fetched;
    std::map<std::string, std::string> bodies;
    while (!pending.empty()) {
        const std::string link = pending.back();
        pending.pop_back();
        SCOPED_TRACE(link);
        ASSERT_EQ(link.rfind("/VNT/help/", 0), 0u) << "addressed from the root";
        const std::string path = link.substr(0, link.find('#'));
        if (fetched.insert(path).second) {
            const std::string answer = get(path);
            ASSERT_EQ(StatusOf(answer), "HTTP/1.0 200 OK");
            EXPECT_EQ(HeaderOf(answer, "Content-Type"), "text/html; charset=utf-8");
            const std::string body = BodyOf(answer);
            EXPECT_EQ(body.rfind("<!DOCTYPE html>", 0), 0u);
            for (const char* piece : {"<meta charset=\"utf-8\">", "<meta name=\"viewport\"",
                                      "<link rel=\"stylesheet\" href=\"/VNT/vantry.css\">",
                                      "<a href=\"/\">", "<a href=\"/VNT/help/\">", "</html>"}) {
                EXPECT_NE(body.find(piece), std::string::npos) << piece;
            }
            for (const std::string& next : HelpLinks(body)) pending.push_back(next);
            bodies[path] = body;
        }
        if (size_t hash = link.find('#'); hash != std::string::npos) {
            EXPECT_NE(bodies[path].find(" id=\"" + link.substr(hash + 1) + "\""),
                      std::string::npos);
        }
    }
    // Every page the program carries is reachable from the index.
    EXPECT_EQ(fetched.size(), 15u);

    struct Miss {
        const char* target;
        const char* status;
    };
    for (const Miss& miss : {Miss{"/VNT/help/NoSuchTopic", "HTTP/1.0 404 Object Not Found"},
                             Miss{"/VNT/help/Search/", "HTTP/1.0 404 Object Not Found"},
                             Miss{"/VNT/helpless.html", "HTTP/1.0 404 Object Not Found"}}) {
        EXPECT_EQ(StatusOf(get(miss.target)), miss.status) << miss.target;
    }
}

}  // namespace
}  // namespace e2e
