// The webmaster home page of each server, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kHelp = "http://help.vantry.example/us/help/vnt/";

class WebMasterHomeTest : public ::testing::Test {
  protected:
    WebMasterHomeTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www\nuniversalNavBarEnabled=N\n"
              "messageUploadEnabled=Y\nmessageSaveLocation={dir}/WWW/in\n"
              "uploadEnabled=Y\nuploadSaveLocation={dir}/elsewhere\n"
              "postEnabled=Y\npostSaveLocation=\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www2/\nvpEnablePageHeaders=N\n"
              "messageUploadEnabled=N\nmessageSaveLocation={dir}/www2/m\n"
              "uploadEnabled=Y\nuploadSaveLocation={dir}/www2\n"
              "postEnabled=N\npostSaveLocation={dir}/www2/p\n"
              "[Server-2]\nsecondPortEnabled=Y\n") {
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
    }
    void SetUp() override { vantry.Start(); }
    std::string Home(int port, const std::string& target = "/admin/") {
        return Exchange(vantry.address(), port,
                        "GET " + target + " HTTP/1.0\r\n" + kAdminLogin + "\r\n");
    }
    std::string Base(int port) { return "http://" + vantry.address() + ":" + std::to_string(port); }
    VantryInstance vantry;
};

TEST_F(WebMasterHomeTest, ServerOneShowsEachStateOfItsIncomingDirectories) {
    const std::string expected =
        "<HTML><HEAD><TITLE>\r\nWebMaster Home Page\r\n </TITLE>\r\n"
        "<SCRIPT>window.resizeTo(600, 480);</SCRIPT>\r\n</HEAD>\r\n"
        "<BODY bgColor=#ffffff >\r\n"
        "<H3> Server 1 </H3>\r\n"
        "<H2>WebMaster Home Page</H2>\r\n"
        "<TABLE BORDER=0 CELLSPACING='1' CELLPADDING='2' >\r\n"
        "<TR bgColor=#66ccff height='30' align='left' >\r\n"
        "<TH width=\"200\">Description</TH><TH>Do It</TH><TH>Help</TH></TR>\r\n"
        "<TR bgColor=#cbfad2 >\r\n"
        "<TD>Incoming Messages</TD><TD><A HREF=\"" +
        Base(vantry.port1()) +
        "/in/\"> Display </A>"
        "</TD><TD><A HREF=\"" +
        kHelp +
        "CheckingMessages.shtml\"> Help </A></TD></TR>\r\n"
        "<TR bgColor=#caeaff >\r\n"
        "<TD>Incoming Uploads</TD><TD>Path Not In Web</TD><TD><A HREF=\"" +
        kHelp +
        "CheckingUploads.shtml\"> Help </A></TD></TR>\r\n"
        "<TR bgColor=#cbfad2 >\r\n"
        "<TD>Incoming Posts</TD><TD>Path Empty</TD><TD><A HREF=\"" +
        kHelp +
        "CheckingPosts.shtml\"> Help </A></TD></TR>\r\n"
        "<TR bgColor=#caeaff >\r\n"
        "<TD>Server Properties</TD><TD><A HREF=\"ServerProperties.html\"> Display </A></TD><TD>"
        "<A HREF=\"" +
        kHelp +
        "ServerProperties.shtml\"> Help </A></TD></TR>\r\n"
        "<TR bgColor=#cbfad2 >\r\n"
        "<TD>Accessing This Page Remotely</TD><TD><A HREF=\"" +
        kHelp + "RemoteAdministration.shtml\"> Display </A></TD><TD><A HREF=\"" + kHelp +
        "RemoteAdministration.shtml\"> Help </A></TD></TR>\r\n"
        "<TR bgColor=#66ccff height='30' align='left' >\r\n"
        "<TD COLSPAN=3 height='30'>\r\n"
        "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> "
        "<A href=\"" +
        kHelp +
        "WebMasterHome.shtml\" target='_new'>Help</A> &nbsp</b></font>"
        "</div>\r\n"
        "</TD> </TABLE>\r\n"
        "</BODY></HTML>\r\n";
    std::string response = Home(vantry.port1());
    EXPECT_EQ(response.substr(0, 17), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(BodyOf(response), expected);
    EXPECT_EQ(BodyOf(Home(vantry.port1(), "/admin")), expected);
    EXPECT_EQ(BodyOf(Home(vantry.port1(), "/admin/Index.Html")), expected);
}

TEST_F(WebMasterHomeTest, ServerTwoShowsOnlyItsOwnSwitchedOnDirectories) {
    std::string page = BodyOf(Home(vantry.port2()));
    EXPECT_NE(page.find("<BODY  bgColor=#ffffff >\r\n<H3> Server 2 </H3>\r\n<TABLE  "),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<TH>Help</TH></TR>\r\n<TR bgColor=#caeaff >\r\n<TD>Incoming Uploads</TD>"
                        "<TD><A HREF=\"" +
                        Base(vantry.port2()) + "\"> Display </A></TD>"),
              std::string::npos)
        << "the root itself, right after the header row";
    EXPECT_EQ(page.find("Incoming Messages"), std::string::npos);
    EXPECT_EQ(page.find("Incoming Posts"), std::string::npos);
    EXPECT_NE(page.find("<P><table border='0'>"), std::string::npos) << "its navigation bar";
}

}  // namespace
}  // namespace e2e
