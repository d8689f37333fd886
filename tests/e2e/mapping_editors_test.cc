// The add/change and delete forms of the MIME, script and virtual-directory tables, seen as
// the confirmation on the wire and the rows in the saved configuration file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kIni = "[Config]\nport={port1}\nwwwroot={dir}/www/\n";

// The lines of one INI section, from its header to the next section, without blank lines.
std::string SectionOf(const std::string& ini, const std::string& name) {
    size_t start = ini.find("[" + name + "]\n");
    if (start == std::string::npos) return "";
    start = ini.find('\n', start) + 1;
    std::string section = ini.substr(start, ini.find("\n[", start) - start + 1);
    while (section.ends_with("\n\n")) section.pop_back();
    return section;
}

class MappingEditorsTest : public ::testing::Test {
  protected:
    MappingEditorsTest() : vantry(kIni) {
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
    }
    void SetUp() override { vantry.Start(); }
    std::string Post(const std::string& target, const std::string& form) {
        return Exchange(vantry.address(), vantry.port1(),
                        "POST " + target + " HTTP/1.0\r\n" + kAdminLogin +
                            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                            std::to_string(form.size()) + "\r\n\r\n" + form);
    }
    std::string Ini() { return ReadFile(vantry.dir() + "/Vantry.ini"); }
    VantryInstance vantry;
};

TEST_F(MappingEditorsTest, EachFamilyAddsChangesAndDeletesRowsAndSaves) {
    const std::string head =
        "<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT>"
        "</HEAD><BODY BGCOLOR='#ffffff'>";
    const std::string tail =
        "<FORM METHOD='POST' ACTION='/admin/ServerProperties.html'>\r\n"
        "<INPUT TYPE='SUBMIT' VALUE='Continue'>\r\n</FORM>\r\n</BODY></HTML>\r\n";
    struct Family {
        std::string change;
        std::string remove;
        std::string section;
        std::string form;
        std::string storedRow;
        std::string deleteForm;
        std::string changed;  // the confirmations' lines before the Continue form
        std::string deleted;
    };
    const std::vector<Family> families = {
        {"/admin/changemime.html", "/admin/delmime.html", "Mime", "EXT=.TXT&TAG=Text%2FPlain",
         "txt=text/plain\n", "EXT=txt",
         head + "\r\n<H1> The MIME changes you requested have been made.</H1>\r\n",
         head + "\r\n<H1> The MIME tag you requested has been deleted.</H1>\r\n"},
        {"/admin/ChangeScript.html", "/admin/delscript.html?x", "Script",
         "AID=a&EXT=py&APW=b&TAG=%2Fusr%2Fbin%2Fpython3", "py=/usr/bin/python3\n", "EXT=.PY",
         head + "<H1> The Script changes you requested have been made.</H1>\r\n",
         head + "<H1> The Script tag you requested has been deleted.</H1>\r\n"},
        {"/admin/changevirtualdirectory.html", "/admin/deletevirtualdirectory.html",
         "VirtualDirectories", "EXT=Media&TAG=%2Fsrv%2Fmedia", "media=/srv/media\n", "EXT=media",
         head + "<H1> The Virtual Directory changes you requested have been made.</H1>\r\n",
         head + "<H1> The Virtual Directory you requested has been deleted.</H1>\r\n"},
    };
    const std::string ok = "HTTP/1.0 200 OK\r\n";
    for (const Family& family : families) {
        SCOPED_TRACE(family.section);
        // The file as the owner wrote it: nothing saved in it yet.
        WriteFile(vantry.dir() + "/Vantry.ini", "[" + family.section + "]\nkeep=this\n");

        std::string response = Post(family.change, "EXT=&TAG=x");
        EXPECT_EQ(response.substr(0, ok.size()), ok);
        EXPECT_EQ(BodyOf(response), family.changed + tail);
        EXPECT_EQ(BodyOf(Post(family.change, "EXT=only")), family.changed + tail);
        EXPECT_EQ(SectionOf(Ini(), family.section), "keep=this\n") << "nothing changed";
        EXPECT_NE(Ini().find("[Server-2]\nsecondPortEnabled=N\n"), std::string::npos)
            << "but the configuration was saved";

        EXPECT_EQ(BodyOf(Post(family.change, family.form)), family.changed + tail);
        EXPECT_EQ(SectionOf(Ini(), family.section), "keep=this\n" + family.storedRow);

        EXPECT_EQ(BodyOf(Post(family.remove, family.deleteForm)), family.deleted + tail);
        EXPECT_EQ(SectionOf(Ini(), family.section), "keep=this\n");
        EXPECT_EQ(BodyOf(Post(family.remove, family.deleteForm)), family.deleted + tail)
            << "a row that is not there is still confirmed";
        EXPECT_EQ(BodyOf(Post(family.remove, "")), family.deleted + tail);
        EXPECT_EQ(SectionOf(Ini(), family.section), "keep=this\n");
    }
}

TEST_F(MappingEditorsTest, AddedMimeTypesAreServed) {
    WriteFile(vantry.dir() + "/www/notes.zzq", "plain");
    Post("/admin/changemime.html", "EXT=.ZZQ&TAG=Text%2FX-Notes");
    EXPECT_NE(Exchange(vantry.address(), vantry.port1(), "GET /notes.zzq HTTP/1.0\r\n\r\n")
                  .find("Content-Type: text/x-notes\r\n"),
              std::string::npos);
}

TEST_F(MappingEditorsTest, AFormCutShortChangesNoTable) {
    const std::string before = Ini();
    for (const char* target :
         {"/admin/changemime.html", "/admin/delmime.html", "/admin/changescript.html",
          "/admin/delscript.html", "/admin/changevirtualdirectory.html",
          "/admin/deletevirtualdirectory.html"}) {
        Client client(vantry.address(), vantry.port1());
        client.Send(std::string("POST ") + target + " HTTP/1.0\r\n" + kAdminLogin +
                    "Content-Length: 100\r\n\r\nEXT=html&TAG=x");
        client.ShutdownSend();
        EXPECT_EQ(client.ReadAll(), ErrorPage("400 Bad Request", true)) << target;
        EXPECT_EQ(Ini(), before) << target;
    }
}

TEST_F(MappingEditorsTest, ChangesThatCannotBeWrittenAreNotConfirmed) {
    // A directory where the file was: neither a row nor the configuration can be written.
    const std::string ini = vantry.dir() + "/Vantry.ini";
    std::filesystem::remove(ini);
    std::filesystem::create_directory(ini);
    const std::string notSaved =
        "<P><B>The changes are in effect, but the configuration file could not be saved: " + ini;

    std::string page = BodyOf(Post("/admin/changemime.html", "EXT=zz&TAG=a%2Fb"));
    EXPECT_NE(page.find("<H1> The change you requested could not be made.</H1>\r\n<P><B>"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find("have been made"), std::string::npos) << page;
    EXPECT_NE(page.find(notSaved), std::string::npos) << page;
    EXPECT_TRUE(vantry.WaitForStderr("The change was not made: ", 5s)) << vantry.Stderr();

    // Nothing to change in the table: confirmed, but the save failed all the same.
    page = BodyOf(Post("/admin/delscript.html", "EXT="));
    EXPECT_NE(page.find("<H1> The Script tag you requested has been deleted.</H1>\r\n" + notSaved),
              std::string::npos)
        << page;
    EXPECT_TRUE(vantry.WaitForStderr("Could not save the configuration file " + ini, 5s))
        << vantry.Stderr();
}

}  // namespace
}  // namespace e2e
