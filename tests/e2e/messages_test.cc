// Messages: the form page, the stored XML and text files byte for byte, their names, the
// acknowledgement's count, the refusals, and messages cut short or arriving all at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kHelpLink =
    "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> <A "
    "href=\"http://help.vantry.example/us/help/vnt/";
const std::string kOddRow = "<TR bgColor=#cbfad2 >\r\n";
const std::string kHeaderRow = "<TR bgColor=#66ccff height='30' align='left' >\r\n";

std::string Post(const std::string& body,
                 const std::string& target = "/VNT/HandleSendMessage.html") {
    return "POST " + target + " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

using testing_support::AcknowledgedText;
using testing_support::FileNames;

class MessagesTest : public ::testing::Test {
  protected:
    MessagesTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www\nuniversalNavBarEnabled=N\n"
              "messageUploadEnabled=Y\nmessageMaxSizeKB=40000\nmessageSaveLocation={dir}/in\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www2\n"
              "universalNavBarEnabled=N\nmessageUploadEnabled=Y\nmessageMaxSizeKB=-5\n"
              "messageIsXML=N\nmessageSaveLocation={dir}/text/\n"
              "[Server-2]\nsecondPortEnabled=Y\n") {
        fs::create_directories(vantry.dir() + "/in");
        fs::create_directories(vantry.dir() + "/text");
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(int port, const std::string& request) {
        return Exchange(vantry.address(), port, request);
    }
    std::string In() { return vantry.dir() + "/in"; }
    std::string Text() { return vantry.dir() + "/text"; }
    VantryInstance vantry;
};

TEST_F(MessagesTest, FormPageHoldsTheLimitToItsRangeAndTheHandlerUsesIt) {
    const std::string spacer = "<td width=\"55\" \">&nbsp</td>\r\n";
    const std::string input =
        "<td width=\"270\" valign=\"top\"><input tabindex=3 type=text name=\"";
    auto page = [&](const std::string& bodyTag, const std::string& limit) {
        return std::string(
                   "<HTML><HEAD><TITLE>\r\nSend Message\r\n</TITLE>\r\n"
                   "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>\r\n</HEAD>\r\n") +
               bodyTag +
               " bgColor=#ffffff >\r\n"
               "<FORM method=POST name=\"writeform\" action=\"HandleSendMessage.html\" "
               "accept-charset=\"UTF-8\">\r\n"
               "<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>\r\n" +
               kHeaderRow +
               "<td COLSPAN=3 height='60'><font  face='Garamond' size='6'>\r\nSend Message\r\n"
               "</font></td></tr>\r\n" +
               kOddRow + spacer + "<td width=\"230\">From</td>\r\n" + input +
               "messageFrom\" value=\"\" size=65 maxlength=256></td>\r\n</tr>\r\n" + kOddRow +
               spacer + "<td width=\"230\"><font  face='Garamond' size='3'>To</font></td>\r\n" +
               input + "messageTo\" value=\"\" size=65 maxlength=256></td>\r\n</tr>\r\n" + kOddRow +
               spacer +
               "<td width=\"230\"><font  face='Garamond' size='3'>Subject</font></td>\r\n" + input +
               "messageSubject\" value=\"\" size=65 maxlength=256></td>\r\n</tr>\r\n" + kOddRow +
               spacer +
               "<td width=\"230\"><font  face='Garamond' size='3'>Message</font></td>\r\n"
               "<td width=\"270\" valign=\"top\"><textarea tabindex=4 name=\"messageBody\" "
               "wrap=soft cols=56 rows=10  maxlength=" +
               limit + "></textarea></td>\r\n</tr>\r\n" + kOddRow + spacer +
               "<td width=\"230\">&nbsp</td>\r\n<td width=\"270\" valign=\"top\"><INPUT "
               "TYPE='SUBMIT' NAME='ACTION' VALUE='Send Message'></td>\r\n</tr>\r\n" +
               kHeaderRow + "<TD COLSPAN=3 height='60'>\r\n" + kHelpLink +
               "SendMessage.shtml\" target='_new'>Help</A> &nbsp</b></font></div>\r\n"
               "</TD> </TABLE>\r\n</FORM>\r\n</BODY></HTML>\r\n";
    };
    EXPECT_EQ(BodyOf(Ask(vantry.port1(), "GET /VNT/SendMessage.html HTTP/1.0\r\n\r\n")),
              page("<BODY", "32000"));
    EXPECT_EQ(BodyOf(Ask(vantry.port2(), "GET /vnt/sendmessage.HTML?x HTTP/1.0\r\n\r\n")),
              page("<BODY ", "0"));

    // The bodies never come: nothing is stored, and the count says so.
    const struct {
        int port;
        std::string contentLength;
        std::string shown;
    } cases[] = {
        {vantry.port1(), "32000", "Object Is Larger Than Allowed By Administrator"},
        {vantry.port1(), "100", "Thank You - 0 Bytes Were Received"},
        {vantry.port1(), "5", "Thank You - 0 Bytes Were Received"},
        {vantry.port2(), "99999999", "Thank You - 0 Bytes Were Received"},
    };
    for (const auto& c : cases) {
        Client client(vantry.address(), c.port);
        client.Send("POST /VNT/HandleSendMessage.html HTTP/1.0\r\nContent-Length: " +
                    c.contentLength + "\r\n\r\n");
        client.ShutdownSend();
        EXPECT_EQ(AcknowledgedText(client.ReadAll()), c.shown) << c.contentLength;
    }
    EXPECT_EQ(FileNames(In()).size(), 0u);
    EXPECT_EQ(FileNames(Text()).size(), 0u);

    // The corrected limits stay in the configuration and are saved with it.
    ASSERT_EQ(vantry.Stop(), 0);
    std::string ini = ReadFile(vantry.dir() + "/Vantry.ini");
    EXPECT_NE(ini.find("messageMaxSizeKB=32000"), std::string::npos) << ini;
    EXPECT_NE(ini.find("messageMaxSizeKB=0"), std::string::npos) << ini;
}

TEST_F(MessagesTest, XmlMessageIsStoredEscapedWithItsParentAndTheFormsCount) {
    const std::string form =
        "messageFrom=Ann+%3Cann%40x.example%3E&messageTo=Bob+%22B%22&"
        "messageSubject=Hi%2C+you%21&messageBody=a%3Cb+%26+%27c%27%0D%0A%3D2&"
        "ACTION=Send+Message&parentMessageID=20241231&parentMessageFile=..%2Fold.xml";
    const std::string response = Ask(vantry.port1(), Post(form));
    EXPECT_EQ(BodyOf(response),
              "<HTML><HEAD><TITLE>\r\nMessage Received\r\n</TITLE>\r\n"
              "<SCRIPT>window.resizeTo(600, 450);</SCRIPT>\r\n</HEAD>\r\n"
              "<BODY bgColor=#ffffff >\r\n"
              "<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>\r\n" +
                  kHeaderRow +
                  "<td height='60'><font  face='Garamond' size='6'>\r\nMessage Received\r\n"
                  "</font></TD></TR>\r\n" +
                  kOddRow + "<TD><font  face='Garamond' size='5'>\r\nThank You - " +
                  // The stored values: from, to, subject, body, parent id and parent file.
                  std::to_string(std::string("Ann <ann@x.example>"
                                             "Bob \"B\""
                                             "Hi, you!"
                                             "a<b & 'c'\r\n=2"
                                             "20241231"
                                             "../old.xml")
                                     .size()) +
                  " Bytes Were Received\r\n</font>\r\n</TD></TR>\r\n" + kHeaderRow +
                  "<TD COLSPAN=3 height='60'>\r\n" + kHelpLink +
                  "HandleSendMessage.shtml\" target='_new'>Help</A> &nbsp</b></font></div>\r\n"
                  "</TD> </TABLE>\r\n</BODY></HTML>\r\n");

    std::vector<std::string> files = FileNames(In());
    ASSERT_EQ(files.size(), 1u);
    std::smatch name;
    ASSERT_TRUE(std::regex_match(files[0], name, std::regex(R"((\d+) - Hi  you \.xml)")))
        << files[0];
    EXPECT_EQ(ReadFile(In() + "/" + files[0]),
              "<?xml version='1.0'?>\r\n"
              "<?xml-stylesheet type='text/xsl' href='http://help.vantry.example/us/vnt/"
              "message.xsl'?>\r\n"
              "<VNTMessage>\r\n"
              "<messageFrom>Ann &lt;ann@x.example&gt;</messageFrom>\r\n"
              "<messageTo>Bob &quot;B&quot;</messageTo>\r\n"
              "<messageSubject>Hi, you!</messageSubject>\r\n"
              "<messageBody>a&lt;b &amp; &apos;c&apos;\r\n=2</messageBody>\r\n"
              "<messageID>" +
                  name[1].str() +
                  "</messageID>\r\n"
                  "<parentMessageID>20241231</parentMessageID>\r\n"
                  "<parentMessageFile>../old.xml</parentMessageFile>\r\n"
                  "</VNTMessage>\r\n");
}

TEST_F(MessagesTest, TextMessagesKeepTheWholeSubjectAndNameFilesInsideTheDirectory) {
    const std::string forty = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
    const struct {
        std::string encoded;
        std::string subject;
        std::string name;
    } cases[] = {
        {forty, forty, forty.substr(0, 31)},
        {"..%2F..%2Fetc%2Fpasswd", "../../etc/passwd", "      etc passwd"},
        {"%00x%01%0D%0A%7F%E9.", std::string("\0x\x01\r\n\x7f\xe9.", 8), " x      "},
        {"", "", ""},
    };
    // Server 2's limit of -5 refuses everything until the form page has held it to 0.
    Ask(vantry.port2(), "GET /VNT/SendMessage.html HTTP/1.0\r\n\r\n");
    for (const auto& c : cases) {
        const std::vector<std::string> old = FileNames(Text());
        const std::string form = "messageTo=me&messageSubject=" + c.encoded +
                                 "&messageBody=line+1%0D%0Aline+2%0D%0A&messageFrom=you";
        EXPECT_EQ(AcknowledgedText(Ask(vantry.port2(), Post(form))),
                  "Thank You - " + std::to_string(c.subject.size() + 21) + " Bytes Were Received");
        std::vector<std::string> added;
        for (const std::string& file : FileNames(Text())) {
            if (std::find(old.begin(), old.end(), file) == old.end()) added.push_back(file);
        }
        ASSERT_EQ(added.size(), 1u) << c.encoded;
        std::smatch id;
        EXPECT_TRUE(std::regex_match(added[0], id, std::regex(R"(\d+(-\d+)? - (.*)\.txt)")));
        EXPECT_EQ(id[2].str(), c.name);
        EXPECT_EQ(ReadFile(Text() + "/" + added[0]),
                  "Message From: you\r\n\r\nMessage To: me\r\n\r\nMessage Subject: " + c.subject +
                      "\r\n\r\nline 1\r\nline 2\r\n");
    }
    EXPECT_EQ(FileNames(vantry.dir() + "/etc"), std::vector<std::string>{});
}

TEST_F(MessagesTest, AMessageCutShortIsNotStored) {
    // Server 2's limit of -5 refuses everything until the form page has held it to 0.
    Ask(vantry.port2(), "GET /VNT/SendMessage.html HTTP/1.0\r\n\r\n");
    const std::string whole = "messageFrom=ann&messageSubject=cut&messageBody=complete+text";
    const std::string sent[] = {
        whole.substr(0, 20),                         // within a field
        whole.substr(0, whole.find("messageBody")),  // after a whole field
        whole,  // every field, and the declared length is larger
    };
    for (int port : {vantry.port1(), vantry.port2()}) {
        for (const std::string& part : sent) {
            Client client(vantry.address(), port);
            client.Send("POST /VNT/HandleSendMessage.html HTTP/1.0\r\nContent-Length: " +
                        std::to_string(whole.size() + 10) + "\r\n\r\n" + part);
            client.ShutdownSend();
            EXPECT_EQ(AcknowledgedText(client.ReadAll()), "Thank You - 0 Bytes Were Received")
                << port << " " << part;
        }
    }
    EXPECT_EQ(FileNames(In()), std::vector<std::string>{});
    EXPECT_EQ(FileNames(Text()), std::vector<std::string>{});
}

// Bytes of any encoding and control characters in every field: each stored file is UTF-8
// that an XML parser reads, and the count is what was stored.
TEST_F(MessagesTest, StoredMessagesAreWellFormedUtf8Xml) {
    const std::string latin1Subject(300, '\xe9');
    const struct {
        std::string form;
        std::string storedSubject;
        size_t count;
    } cases[] = {
        {"messageSubject=caf%E9&messageBody=x", "caf\xc3\xa9", 6},
        {"messageSubject=%C3%A9t%C3%A9&messageFrom=%01%02%0B%0C%1B%7F%C2%85%00a",
         "\xc3\xa9t\xc3\xa9", 6},
        {"messageTo=%ED%A0%80%C0%AF&messageBody=a%0D%0Ab%09c&parentMessageFile=%FF%FE&"
         "parentMessageID=%1B[31m&messageSubject=" +
             latin1Subject,
         // 127 two-byte characters: the next would pass 255 bytes.
         [] {
             std::string e;
             for (int i = 0; i < 127; ++i) e += "\xc3\xa9";
             return e;
         }(),
         8 + 6 + 4 + 4 + 254},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> before = FileNames(In());
        EXPECT_EQ(AcknowledgedText(Ask(vantry.port1(), Post(c.form))),
                  "Thank You - " + std::to_string(c.count) + " Bytes Were Received")
            << c.form;
        std::vector<std::string> after = FileNames(In());
        ASSERT_EQ(after.size(), before.size() + 1) << c.form;
        for (const std::string& name : after) {
            if (std::find(before.begin(), before.end(), name) != before.end()) continue;
            EXPECT_NE(ReadFile(In() + "/" + name)
                          .find("<messageSubject>" + c.storedSubject + "</messageSubject>"),
                      std::string::npos)
                << c.form;
        }
    }
    // Every stored message read back by an XML parser that insists on well-formed UTF-8.
    std::vector<std::string> parse = {
        "/usr/bin/python3", "-c",
        "import sys, xml.dom.minidom\nfor name in sys.argv[1:]: xml.dom.minidom.parse(name)"};
    for (const std::string& name : FileNames(In())) parse.push_back(In() + "/" + name);
    ASSERT_EQ(parse.size(), 3 + std::size(cases));
    const std::string errors = vantry.dir() + "/parse-errors";
    EXPECT_EQ(WaitForProgram(Spawn(parse, {}, "/dev/null", "/dev/null", errors)), 0)
        << ReadFile(errors);
}

TEST_F(MessagesTest, MessagesArrivingTogetherAreAllKeptUnderTheirOwnNames) {
    constexpr int kMessages = 40;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<std::string> requests;
    for (int i = 0; i < kMessages; ++i) {
        clients.push_back(std::make_unique<Client>(vantry.address(), vantry.port1()));
        requests.push_back(Post("messageSubject=same&messageBody=number+" + std::to_string(i)));
    }
    // Every head and body goes out before any answer is read, so the handlers run together.
    for (int i = 0; i < kMessages; ++i) clients[i]->Send(requests[i]);
    for (auto& client : clients) {
        EXPECT_NE(client->ReadAll().find("Bytes Were Received"), std::string::npos);
    }

    std::set<std::string> bodies, ids;
    const std::regex pattern(R"((\d+(-\d+)?) - same\.xml)");
    for (const std::string& file : FileNames(In())) {
        std::smatch name;
        ASSERT_TRUE(std::regex_match(file, name, pattern)) << file;
        std::string content = ReadFile(In() + "/" + file);
        EXPECT_NE(content.find("<messageID>" + name[1].str() + "</messageID>"), std::string::npos);
        size_t start = content.find("<messageBody>") + 13;
        bodies.insert(content.substr(start, content.find("</messageBody>") - start));
        ids.insert(name[1].str());
    }
    EXPECT_EQ(bodies.size(), static_cast<size_t>(kMessages));
    EXPECT_EQ(ids.size(), static_cast<size_t>(kMessages));
}

TEST(MessagesRefusedTest, NothingIsStoredWhenMessagesAreOffUnsizedOrHaveNowhereToGo) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www\nuniversalNavBarEnabled=N\n"
        "messageSaveLocation={dir}\n"
        "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www2\nmessageUploadEnabled=Y\n"
        "messageSaveLocation=www2\n[Server-2]\nsecondPortEnabled=Y\n");
    fs::create_directories(vantry.dir() + "/www2");
    vantry.Start();
    const std::vector<std::string> before = FileNames(vantry.dir());

    EXPECT_EQ(BodyOf(Exchange(vantry.address(), vantry.port1(),
                              "GET /VNT/SendMessage.html HTTP/1.0\r\n\r\n")),
              "<HTML><HEAD><TITLE>\r\nSend Message\r\n</TITLE>\r\n"
              "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>\r\n</HEAD>\r\n"
              "<BODY bgColor=#ffffff >\r\n"
              "<H2>Message Sending Is Currently Disabled By The Administrator<H2>\r\n"
              "</BODY></HTML>\r\n");

    const std::string form = "messageSubject=x&messageBody=y";
    const struct {
        int port;
        std::string request;
        std::string shown;
    } cases[] = {
        {vantry.port1(), Post(form), "Feature Not Enabled By Administrator"},
        {vantry.port2(), "POST /VNT/HandleSendMessage.html HTTP/1.0\r\n\r\n" + form,
         "Object Size Could Not be Determined"},
        {vantry.port2(),
         "POST /VNT/HandleSendMessage.html HTTP/1.0\r\ncontent-length: 30\r\n\r\n" + form,
         "Object Size Could Not be Determined"},
        // A relative directory counts as one that cannot be written.
        {vantry.port2(), Post(form), "Thank You - 0 Bytes Were Received"},
    };
    for (const auto& c : cases) {
        Client client(vantry.address(), c.port);
        client.Send(c.request);
        client.ShutdownSend();
        std::string response = client.ReadAll();
        EXPECT_EQ(response.substr(0, 17), "HTTP/1.0 200 OK\r\n");
        EXPECT_EQ(AcknowledgedText(response), c.shown) << c.request;
    }
    EXPECT_TRUE(vantry.WaitForStderr("is not an absolute path", 5s));
    EXPECT_EQ(FileNames(vantry.dir() + "/www2"), std::vector<std::string>{});
    std::vector<std::string> after = FileNames(vantry.dir());
    after.erase(std::remove(after.begin(), after.end(), "access.log"), after.end());
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace e2e
