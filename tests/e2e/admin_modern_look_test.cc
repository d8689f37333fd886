// The administration pages in the modern look: labelled forms in today's words with the
// built-in help, the pages after a post drawn in the page template's frame, and the choice
// of the look itself, seen on the wire and in the saved configuration file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

// The ids of the controls of `page`, and the ids its labels are for.
std::set<std::string> Matches(const std::string& page, const std::regex& pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator it(page.begin(), page.end(), pattern), end; it != end; ++it) {
        found.insert((*it)[1]);
    }
    return found;
}

bool Has(const std::string& page, const std::string& piece) {
    return page.find(piece) != std::string::npos;
}

class AdminModernLookTest : public ::testing::Test {
  protected:
    AdminModernLookTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\n"
              "universalNavBarEnabled=Y\nhomeEnabled=Y\nmessageUploadEnabled=Y\n"
              "messageSaveLocation={dir}/www/in\nuploadEnabled=N\n"
              "[Server-2-Config]\nwwwroot={dir}/www/\n[Server-2]\nsecondPortEnabled=N\n") {
        ::chmod(IniPath().c_str(), 0644);
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
    }
    void SetUp() override { vantry.Start(); }

    std::string IniPath() const { return vantry.dir() + "/Vantry.ini"; }
    std::string SavedLook() const {
        return platform::GetProfileString(IniPath(), "Config", "look", "<missing>");
    }
    std::string Get(const std::string& target) {
        return BodyOf(Exchange(vantry.address(), vantry.port1(),
                               "GET " + target + " HTTP/1.0\r\n" + kAdminLogin + "\r\n"));
    }
    std::string Post(const std::string& target, const std::string& form) {
        return BodyOf(Exchange(vantry.address(), vantry.port1(),
                               "POST " + target + " HTTP/1.0\r\n" + kAdminLogin +
                                   "Content-Type: application/x-www-form-urlencoded\r\n"
                                   "Content-Length: " +
                                   std::to_string(form.size()) + "\r\n\r\n" + form));
    }

    VantryInstance vantry;
};

// The modern frame: the head with the stylesheet, one main part, nothing of the classic one.
void ExpectModernFrame(const std::string& page) {
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u) << page.substr(0, 200);
    EXPECT_TRUE(Has(page, "<link rel=\"stylesheet\" href=\"/VNT/vantry.css\">"));
    EXPECT_TRUE(Has(page, "<main>") && Has(page, "</main>"));
    for (const char* classic : {"<HTML>", "<BODY", "<TD", "<FONT", "<font", "resizeTo", "width=\"",
                                "help.vantry.example"}) {
        EXPECT_FALSE(Has(page, classic)) << classic;
    }
}

TEST_F(AdminModernLookTest, PagesLabelEveryControlInTodaysWordsAndLinkTheBuiltInHelp) {
    const std::regex control("<(?:input|select)[^>]* id=\"([^\"]+)\"");
    const std::regex label("<label for=\"([^\"]+)\"");
    const std::regex help("href=\"([^\"]*)\">Help");
    struct Case {
        std::string name;
        std::string page;
        std::vector<std::string> pieces;
        size_t controls;
    };
    const Case cases[] = {
        {"properties",
         Get("/admin/serverproperties.html"),
         {"<form class=\"properties\" method=\"post\" action=\"/admin/change.html\">",
          "<option value=\"modern\" selected>Modern</option><option value=\"classic\">Classic",
          "<legend>Messages</legend>", "Home page enabled", "Maximum allowable message size in KB",
          "Maximum allowable posting size in KB",
          "name=\"PORT\" value=\"" + std::to_string(vantry.port1()) + "\"",
          "id=\"HOMEENABLED\" name=\"HOMEENABLED\" checked>", "name=\"SECONDPORTENABLED\">",
          "<button type=\"submit\" name=\"ACTION\" value=\"SAVE\">Save</button>",
          "href=\"/VNT/help/ServerProperties#PortNumber\"",
          // Unset, the upload size in MB is blank.
          "Maximum upload size in MB (0: no limit)</span> <a class=\"help\" "
          "href=\"/VNT/help/ServerProperties#UploadMaxSizeMB\">",
          "id=\"UPLOADMAXSIZEMB-2\" name=\"UPLOADMAXSIZEMB-2\" value=\"\">",
          // The network drive: off, serving the whole site once on.
          "<legend>Network drive</legend>",
          "<label for=\"WEBDAV-2\">Server 2</label><select id=\"WEBDAV-2\" name=\"WEBDAV-2\">"
          "<option value=\"N\" selected>Off</option><option value=\"R\">Read only</option>"
          "<option value=\"W\">Read and write</option></select>",
          "href=\"/VNT/help/ServerProperties#WebDavPath\">",
          "id=\"WEBDAVPATH\" name=\"WEBDAVPATH\" value=\"/\">"},
         // Each row's control for each server, Server 2's switch and the look.
         2 * 35 + 2},
        {"webmaster home",
         Get("/admin/"),
         {"<p class=\"status\">Server 1</p>", "Incoming messages</span><span class=\"state\">On",
          "<a href=\"/admin/inbox#messages\">Open the inbox</a>",
          "Incoming uploads</span><span class=\"state\">Off",
          "<a href=\"/admin/ServerProperties.html\">", "/VNT/help/WebMasterHome#messages"},
         0},
        {"MIME table",
         Post("/admin/change.html", "ACTION=MIME&UNIVERSALNAVBARENABLED=on"),
         {"<h1>MIME types</h1>", "action=\"/admin/changemime.html\"",
          "action=\"/admin/delmime.html\"", "/VNT/help/MappingEditors#mime"},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectModernFrame(c.page);
        for (const std::string& piece : c.pieces) EXPECT_TRUE(Has(c.page, piece)) << piece;
        for (const char* misspelt : {"Maximim", "Enabled Enabled", "AID", "APW"}) {
            EXPECT_FALSE(Has(c.page, misspelt)) << misspelt;
        }
        const std::set<std::string> ids = Matches(c.page, control);
        EXPECT_EQ(ids.size(), c.controls);
        EXPECT_EQ(Matches(c.page, label), ids) << "a label for each control, none for another";
        for (const std::string& link : Matches(c.page, help)) {
            EXPECT_EQ(link.rfind("/VNT/help/", 0), 0u) << link;
        }
    }
}

TEST_F(AdminModernLookTest, PagesAfterAPostAreDrawnInTheFrameWithAWayOn) {
    struct Case {
        std::string target;
        std::string form;
        std::vector<std::string> pieces;
    };
    const std::string onward =
        "<a class=\"button\" href=\"/admin/ServerProperties.html\">Continue</a>";
    const Case cases[] = {
        {"/admin/change.html",
         "ACTION=SAVE&UNIVERSALNAVBARENABLED=on&HOMEENABLED=on",
         {"<title>Changes made</title>", "<h1>Changes made</h1>", onward,
          "<nav class=\"site\" aria-label=\"Site\"><a href=\"/\">Home</a>",
          "/VNT/help/ServerProperties#saving"}},
        {"/admin/change.html",
         "PORT=http&UNIVERSALNAVBARENABLED=on",
         {"<h1>Changes not made</h1>", "<p>Server 1: ", onward}},
        {"/admin/change.html",
         "UPLOADMAXSIZEMB-2=-1&UNIVERSALNAVBARENABLED=on",
         {"<h1>Changes not made</h1>",
          "<p>Server 2: Maximum upload size in MB (0: no limit) takes a whole number, 0 or "
          "more, not \"-1\".</p>",
          onward}},
        {"/admin/changemime.html",
         "EXT=.vnt&TAG=text%2Fx-vantry",
         {"<h1>Changes made</h1>", "<p>The MIME mapping has been saved.</p>", onward}},
        {"/admin/delscript.html",
         "EXT=.pl",
         {"<h1>Changes made</h1>", "<p>The script mapping has been deleted.</p>", onward}},
        {"/admin/changevirtualdirectory.html",
         "EXT=media&TAG=%2Fsrv%2Fmedia",
         {"<p>The virtual directory has been saved.</p>", onward}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " " + c.form);
        const std::string page = Post(c.target, c.form);
        ExpectModernFrame(page);
        for (const std::string& piece : c.pieces) EXPECT_TRUE(Has(page, piece)) << piece;
    }
    EXPECT_TRUE(Has(ReadFile(IniPath()), "vnt=text/x-vantry"));
}

// The network drive's rows: each post either changes what it names and saves it, or is
// refused whole; a field left out or blank leaves its setting alone.
TEST_F(AdminModernLookTest, TheNetworkDriveRowsSaveTheDriveAndRefuseJunk) {
    struct Step {
        std::string form;
        std::string refusal;             // empty: the change is made
        std::vector<std::string> saved;  // webdav, webdavPath of Server 1, then of Server 2
    };
    const std::string missing = "<missing>";
    const Step steps[] = {
        {"WEBDAV=W&WEBDAVPATH=%2Fdav%2F", "", {"W", "/dav/", missing, missing}},
        {"WEBDAV=x&WEBDAVPATH=%2Fother%2F",
         "<p>Server 1: Network drive takes N (off), R (read only) or W (read and write), not "
         "\"x\".</p>",
         {"W", "/dav/", missing, missing}},
        {"WEBDAV-2=R&WEBDAVPATH-2=%2Fa%2F..%2Fb",
         "<p>Server 2: Network drive's URL prefix (/: the whole site) takes a path such as / "
         "or /dav/",
         {"W", "/dav/", missing, missing}},
        {"WEBDAVPATH=%2Fa%3Fb", "not \"/a?b\".</p>", {"W", "/dav/", missing, missing}},
        {"WEBDAVPATH=%2Fa%09b", "Network drive's URL prefix", {"W", "/dav/", missing, missing}},
        {"WEBDAV-2=r&WEBDAVPATH-2=files%2F%2Fpub", "", {"W", "/dav/", "R", "/files/pub/"}},
        {"WEBDAV=+&WEBDAVPATH=&WEBDAVPATH-2=%2F", "", {"W", "/dav/", "R", "/"}},
        {"WEBDAV=n", "", {missing, missing, "R", "/"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.form);
        const std::string before = ReadFile(IniPath());
        const std::string page = Post("/admin/change.html", step.form + "&ACTION=SAVE");
        if (step.refusal.empty()) {
            EXPECT_TRUE(Has(page, "<h1>Changes made</h1>")) << page;
        } else {
            EXPECT_TRUE(Has(page, "<h1>Changes not made</h1>")) << page;
            EXPECT_TRUE(Has(page, step.refusal)) << page;
            EXPECT_EQ(ReadFile(IniPath()), before);
        }
        const std::string keys[] = {"webdav", "webdavPath"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(platform::GetProfileString(IniPath(), i < 2 ? "Config" : "Server-2-Config",
                                                 keys[i % 2], missing),
                      step.saved[i])
                << i;
        }
    }
    // Switched off, the prefix is no longer saved; the form shows it until the next start.
    const std::string form = Get("/admin/serverproperties.html");
    for (const char* piece :
         {"name=\"WEBDAV\"><option value=\"N\" selected>Off</option>",
          "name=\"WEBDAV-2\"><option value=\"N\">Off</option><option value=\"R\" selected>",
          "name=\"WEBDAVPATH\" value=\"/dav/\">", "name=\"WEBDAVPATH-2\" value=\"/\">"}) {
        EXPECT_TRUE(Has(form, piece)) << piece;
    }
}

TEST_F(AdminModernLookTest, OnlyAPostedLookChangesTheLookAndItsSavedKey) {
    struct Step {
        std::string form;
        bool modernAfter;
        std::string savedLook;
    };
    const Step steps[] = {
        {"ACTION=SAVE", true, "modern"},
        {"LOOK=classic&ACTION=SAVE", false, "<missing>"},
        // The classic form has no LOOK field: the look stays classic.
        {"ACTION=SAVE", false, "<missing>"},
        {"ACTION=SAVE&LOOK=Modern", true, "modern"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.form);
        const std::string confirmation = Post("/admin/change.html", step.form);
        EXPECT_EQ(SavedLook(), step.savedLook);
        // The confirmation already shows the look chosen, and so does the next page.
        for (const std::string& page : {confirmation, Get("/admin/serverproperties.html")}) {
            if (step.modernAfter) {
                EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u) << page.substr(0, 100);
            } else {
                EXPECT_EQ(page.rfind("<HTML><HEAD><TITLE>", 0), 0u) << page.substr(0, 100);
                EXPECT_FALSE(Has(page, "LOOK"));
            }
        }
    }
}

}  // namespace
}  // namespace e2e
