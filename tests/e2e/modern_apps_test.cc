// The applications' own pages in the modern look: the search repeats the word it was given and
// finds names in UTF-8 (never a file's text), the pages after a post say in words what arrived, and
// the forms and lists carry labels and icons a browser reads out instead of images and tab orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

class ModernAppsTest : public ::testing::Test {
  protected:
    ModernAppsTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nsearchEnabled=Y\n"
              "uploadEnabled=Y\nuploadMaxSizeKB=0\nuploadSaveLocation={dir}/up\n"
              "messageUploadEnabled=Y\nmessageSaveLocation={dir}/messages\npostEnabled=Y\n"
              "postSaveLocation={dir}/forms\nfavoritesEnabled=Y\n"
              "favoritesLocation={dir}/Favorites\nuserListEnabled=Y\nhomeEnabled=Y\n"
              "universalNavBarEnabled=Y\n") {
        const std::string www = vantry.dir() + "/www/";
        fs::create_directories(www + "notes");
        fs::create_directories(www + "cv & more");
        WriteFile(www + "notes/résumé.txt", "x");
        WriteFile(www + "cv & more/letter.txt", "Please find my résumé attached.");
        WriteFile(www + "cv & more/other.txt", "nothing to see");
        for (const char* sub : {"up", "messages", "forms", "Favorites/Links"})
            fs::create_directories(vantry.dir() + "/" + sub);
        for (const char* name : {"Zeta.url", "alpha.url"})
            WriteFile(vantry.dir() + "/Favorites/" + name,
                      "[InternetShortcut]\r\nURL=http://example.invalid/?a=1&b=2\r\n");
    }
    void SetUp() override { vantry.Start(); }
    std::string Body(const std::string& request) {
        const std::string answer = Exchange(vantry.address(), vantry.port1(), request);
        EXPECT_EQ(answer.substr(0, 15), "HTTP/1.0 200 OK") << request.substr(0, 60);
        return BodyOf(answer);
    }
    std::string Post(const std::string& target, const std::string& type, const std::string& body) {
        return Body("POST " + target + " HTTP/1.0\r\nContent-Type: " + type +
                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    VantryInstance vantry;
};

TEST_F(ModernAppsTest, SearchFindsNamesInUtf8AndRepeatsTheWord) {
    struct Case {
        const char* query;
        std::vector<std::string> shown;
        std::vector<std::string> absent;
    };
    const std::string rows = "<ul class=\"listing results\">";
    const Case cases[] = {
        {"r%C3%A9sum%C3%A9",
         {"<h1>Results for “résumé”</h1>", "value=\"résumé\"", "<a href=\"/notes/résumé.txt\">",
          "in <a href=\"/notes/\">/notes/</a>", "title=\"1 byte\">1 byte</span>"},
         {"letter.txt", "other.txt", "No files match"}},
        {"LETTER",
         {"<a href=\"/cv%20%26%20more/letter.txt\">",
          "in <a href=\"/cv%20%26%20more/\">/cv &amp; more/</a>"},
         {"No files match"}},
        // A form of a Latin-1 page sends é as one byte; it finds the same names.
        {"R%E9SUM%E9", {"<h1>Results for “RéSUMé”</h1>", "/notes/résumé.txt"}, {"No files match"}},
        {"%3Cb%3E%22", {"<h1>Results for “&lt;b&gt;&quot;”</h1>", "No files match"}, {"<b>"}},
        {"", {"<h1>Search results</h1>"}, {"No files match"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const std::string body = Body(std::string("GET /VNT/HandleSearch.html?searchTarget=") +
                                      c.query + " HTTP/1.0\r\n\r\n");
        for (const std::string& part : c.shown)
            EXPECT_NE(body.find(part), std::string::npos) << part;
        for (const std::string& part : c.absent)
            EXPECT_EQ(body.find(part), std::string::npos) << part;
        EXPECT_EQ(body.find("<IMG"), std::string::npos);
    }
}

TEST_F(ModernAppsTest, PagesAfterAPostSayWhatArrived) {
    const std::string file(1234, 'j');
    const std::string multipart =
        "--XyZ\r\nContent-Disposition: form-data; name=\"filename\"; "
        "filename=\"C:\\\\photos\\\\vacation <1>.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n" +
        file +
        "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"sub\"\r\n\r\nUpload "
        "file\r\n--XyZ--\r\n";
    struct Case {
        std::string target;
        std::string type;
        std::string body;
        std::string said;
    };
    const Case cases[] = {
        {"/VNT/HandleFileUpload.html", "multipart/form-data; boundary=XyZ", multipart,
         "<p>Received vacation &lt;1&gt;.jpg, 1.2 kB.</p>"},
        {"/VNT/HandleFileUpload.html", "application/octet-stream", std::string(312, 'b'),
         "<p>Received 312 bytes.</p>"},
        {"/VNT/HandlePost.html", "application/x-www-form-urlencoded", "a=1&b=2",
         "<p>Received your form, 7 bytes.</p>"},
        {"/VNT/HandleSendMessage.html", "application/x-www-form-urlencoded",
         "messageTo=Bob+%3Cb%3E&messageBody=hello",
         "<p>Message to Bob &lt;b&gt; received: 12 bytes.</p>"},
        {"/VNT/HandleSendMessage.html", "application/x-www-form-urlencoded", "messageBody=hello",
         "<p>Message received: 5 bytes.</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " " + c.type);
        const std::string body = Post(c.target, c.type, c.body);
        EXPECT_NE(body.find(c.said), std::string::npos) << body;
    }
    // The form's file is stored under its own name; any other body as it came.
    std::vector<std::string> stored;
    for (const auto& entry : fs::directory_iterator(vantry.dir() + "/up")) {
        const std::string name = entry.path().filename().string();
        stored.push_back(name.ends_with(".mim") ? "*.mim" : name);
        EXPECT_EQ(ReadFile(entry.path()),
                  name.ends_with(".mim") ? "\n" + std::string(312, 'b') : file);
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"*.mim", "vacation <1>.jpg"}));
}

TEST_F(ModernAppsTest, FormsAreLabelledAndListsDrawIconsWithoutImages) {
    struct Case {
        const char* target;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"/VNT/search.html", {"<label for=\"searchTarget\">", "id=\"searchTarget\""}},
        {"/VNT/fileupload.html", {"<label for=\"filename\">", "id=\"filename\""}},
        {"/VNT/sendmessage.html",
         {"<label for=\"messageFrom\">", "<label for=\"messageTo\">",
          "<label for=\"messageSubject\">", "<label for=\"messageBody\">", "id=\"messageBody\""}},
        {"/VNT/userlist.html", {"<th scope=\"col\">IP address</th>", "<td>127."}},
        {"/VNT/FAVORITES/", {"<h1>Favorites</h1>", "aria-label=\"Web site\""}},
        {"/VNT/navigator.html", {"<nav class=\"site\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string body = Body(std::string("GET ") + c.target + " HTTP/1.0\r\n\r\n");
        for (const std::string& part : c.shown)
            EXPECT_NE(body.find(part), std::string::npos) << part;
        for (const char* classic : {"<IMG", "<img", "tabindex", "<TABLE", "<font", "Listng"})
            EXPECT_EQ(body.find(classic), std::string::npos) << classic;
    }
    // Folders first, then shortcuts, each in the order a person sorts names.
    const std::string favorites = Body("GET /VNT/FAVORITES/ HTTP/1.0\r\n\r\n");
    const size_t links = favorites.find("Links</a>");
    const size_t alpha = favorites.find("alpha</a>");
    const size_t zeta = favorites.find("Zeta</a>");
    ASSERT_NE(zeta, std::string::npos);
    EXPECT_LT(links, alpha);
    EXPECT_LT(alpha, zeta);
    EXPECT_NE(favorites.find("<a href=\"http://example.invalid/?a=1&amp;b=2\">"),
              std::string::npos);
}

}  // namespace
}  // namespace e2e
