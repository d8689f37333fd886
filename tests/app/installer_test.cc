// The installer's pure parts: the first configuration, the starter page, the desktop entries'
// quoting, the answers made absolute, the terminal questions' answers and limits, and the
// certificate authority's questions.
#include "app/installer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

TEST(InstallerTest, FirstConfigurationIsSavedBesideTheInstalledProgram) {
    testing_support::TempDir dir;
    InstallChoices choices = ProposedChoices(dir.path());
    EXPECT_EQ(choices.installDir, dir.path() + "/Vantry/");
    EXPECT_EQ(choices.webRoot, dir.path() + "/Vantry/WWWRoot");
    ASSERT_TRUE(std::filesystem::create_directories(choices.installDir));

    config::ServerConfig first = FirstRunConfig(choices, 8080);
    EXPECT_EQ(first.iniPath, choices.installDir + "Vantry.ini");
    ASSERT_TRUE(first.Save());
    config::ServerConfig loaded = config::ServerConfig::Load(choices.installDir);
    ASSERT_FALSE(loaded.iniMissing);
    EXPECT_EQ(loaded.server1().port, 8080);
    EXPECT_EQ(loaded.server2().port, 9600);
    EXPECT_FALSE(loaded.secondPortEnabled);
    for (const config::ServerSettings& s : loaded.servers) {
        EXPECT_EQ(s.wwwroot, choices.webRoot);
        // What visitors send is kept beside the program, outside the web root.
        EXPECT_EQ(s.uploadSaveLocation, choices.installDir + "Incoming/Uploads");
        EXPECT_EQ(s.messageSaveLocation, choices.installDir + "Incoming/Messages");
        EXPECT_EQ(s.postSaveLocation, choices.installDir + "Incoming/Forms");
        EXPECT_FALSE(s.userListPublic || s.httpsOnly);
        EXPECT_EQ(s.defaultDocument, "index.html");
        EXPECT_TRUE(s.list && s.searchEnabled && s.uploadEnabled);
        // The modern upload's own limit, saved and read back.
        EXPECT_EQ(s.uploadMaxSizeMB, 4096);
        EXPECT_EQ(s.webdav, config::WebDavMode::kOff) << "the network drive is asked for";
        EXPECT_FALSE(s.logs || s.cgi || s.messageUploadEnabled || s.redirectorEnabled);
    }
}

TEST(InstallerTest, StarterPageIsOneModernPageWithTheOwnersHtmlAndTheNavigation) {
    InstallChoices choices;
    choices.pageTitle = "Me & <i>mine</i>";
    choices.pageHeading = "Hi";
    choices.pageBody = "Line one<BR>line two";
    choices.linkName = "There";
    choices.linkLocation = "http://example.com/?a=1&b=2";
    config::ServerSettings settings;
    settings.homeEnabled = settings.searchEnabled = true;
    const std::string page = StarterPage(choices, settings);
    for (const char* part : {"<meta charset=\"utf-8\">", "<title>Me & <i>mine</i></title>",
                             "<link rel=\"stylesheet\" href=\"/VNT/vantry.css\">",
                             "<nav class=\"site\" aria-label=\"Site\"><a href=\"/\">Home</a><a "
                             "href=\"/VNT/search.html\">Search</a></nav>",
                             "<h1>Hi</h1>\n<p>Line one<BR>line two</p>\n"
                             "<p><a href=\"http://example.com/?a=1&b=2\">There</a></p>\n</main>"}) {
        EXPECT_NE(page.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(page.find("FRAME"), std::string::npos);
    choices.includeLink = false;
    EXPECT_EQ(StarterPage(choices, settings).find("There"), std::string::npos);
}

TEST(InstallerTest, DesktopEntriesQuoteThePathAsTheLauncherReadsIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/vantry/", "Exec=/opt/vantry/vantry\n"},
        {"/home/a b/V/", "Exec=\"/home/a b/V/vantry\"\n"},
        {"/srv/100%/", "Exec=/srv/100%%/vantry\n"},
        // Inside the quotes \ " ` $ are escaped, and every backslash is doubled once more
        // because the value is a string of the entry.
        {"/x/\"$`\\/", "Exec=\"/x/\\\\\"\\\\$\\\\`\\\\\\\\/vantry\"\n"},
    };
    for (const auto& [installDir, exec] : cases) {
        EXPECT_NE(DesktopEntry(installDir, false).find(exec), std::string::npos) << installDir;
    }
    std::string autostart = DesktopEntry("/home/a b/V/", true);
    EXPECT_NE(autostart.find("Exec=\"/home/a b/V/vantry\" --headless\n"), std::string::npos);
    EXPECT_NE(autostart.find("Path=/home/a b/V/\nTerminal=false\n"), std::string::npos);
}

TEST(InstallerTest, ServiceUnitQuotesThePathAsSystemdReadsIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/vantry/",
         "WorkingDirectory=/opt/vantry/\nExecStart=\"/opt/vantry/vantry\" --headless\n"},
        // A percent sign is a specifier and a dollar sign a variable unless doubled.
        {"/home/a b/100%/$x\"\\/",
         "WorkingDirectory=/home/a b/100%%/$x\"\\/\n"
         "ExecStart=\"/home/a b/100%%/$$x\\\"\\\\/vantry\" --headless\n"},
    };
    for (const auto& [installDir, lines] : cases) {
        EXPECT_NE(ServiceUnit(installDir).find(lines), std::string::npos)
            << ServiceUnit(installDir);
    }
}

TEST(InstallerTest, AnswersBecomeAbsoluteDirectories) {
    const std::pair<const char*, const char*> cases[] = {{"~", "/home/u"},
                                                         {"~/web ", "/home/u/web"},
                                                         {" /srv/x", "/srv/x"},
                                                         {"rel/x", "/work/rel/x"}};
    for (const auto& [answer, expected] : cases) {
        EXPECT_EQ(AbsoluteDirectory(answer, "/work/", "/home/u/"), expected) << answer;
    }
}

TEST(InstallerTest, TerminalAnswersAreCutToTheirLimitsAndUnclearOnesAskedAgain) {
    InstallChoices choices = ProposedChoices("/home/u");
    // "é" is two bytes: a cut never splits it.
    const std::string longTitle = std::string(258, 't') + "é";
    const std::string longBody(5000, 'b');
    std::istringstream in(longTitle + "\n\n" + longBody + "\nmaybe\n\x1b[A\nn\nx\nf\n");
    std::ostringstream out;
    TerminalDialogs dialogs(in, out);
    Dialog dialog{"T",
                  {},
                  {TextField("Page Title:", &choices.pageTitle),
                   TextField("Page Heading:", &choices.pageHeading),
                   TextField("Page Body:", &choices.pageBody, kMaxBodyLength),
                   CheckBox("Include", &choices.includeLink)},
                  "Finish Installation",
                  "Quit"};
    ASSERT_TRUE(dialogs.Show(dialog)) << out.str();
    EXPECT_EQ(choices.pageTitle, std::string(258, 't'));
    EXPECT_EQ(choices.pageHeading, "Vantry");
    EXPECT_EQ(choices.pageBody, std::string(kMaxBodyLength, 'b'));
    EXPECT_FALSE(choices.includeLink);
    EXPECT_NE(out.str().find("Please answer y or n.\n"), std::string::npos);
    EXPECT_NE(out.str().find("Please type printable text only.\n"), std::string::npos);
    EXPECT_NE(out.str().find("Please answer Finish Installation or Quit.\n"), std::string::npos);

    std::istringstream ended("\n");
    TerminalDialogs endedDialogs(ended, out);
    EXPECT_FALSE(endedDialogs.Show(dialog)) << "the end of input quits";
}

// A follow-up question is asked only after a yes to the question it follows, on a terminal
// and headless alike; otherwise its answer stays as it was.
TEST(InstallerTest, AFollowUpQuestionIsAskedOnlyAfterAYes) {
    struct Case {
        std::string input;  // the certificate, the follow-up, the dialog's choice
        bool certificate;
        bool httpsOnly;
    } cases[] = {
        {"\n\n", false, false},
        {"y\n\n\n", true, false},
        {"y\ny\n\n", true, true},
        {"n\ni\n", false, false},
    };
    for (const Case& c : cases) {
        InstallChoices choices;
        Dialog dialog{
            "T",
            {},
            {CheckBox("Certificate", &choices.makeCertificate),
             FollowUpCheckBox("HTTPS only", &choices.httpsOnly, &choices.makeCertificate)},
            "Install",
            "Quit"};
        std::istringstream in(c.input);
        std::ostringstream out;
        TerminalDialogs dialogs(in, out);
        ASSERT_TRUE(dialogs.Show(dialog)) << c.input << out.str();
        EXPECT_EQ(choices.makeCertificate, c.certificate) << c.input;
        EXPECT_EQ(choices.httpsOnly, c.httpsOnly) << c.input;
        EXPECT_EQ(out.str().find("HTTPS only [y/N] ") != std::string::npos, c.certificate)
            << out.str();

        std::ostringstream line;
        HeadlessDialogs headless(line);
        ASSERT_TRUE(headless.Show(dialog));
        EXPECT_EQ(line.str().find("HTTPS only") != std::string::npos, c.certificate) << line.str();
    }
}

// The network drive's questions in the second dialog: off unless asked for, read-only unless
// writing is asked for too, and a prefix asked again until the server would keep it.
TEST(InstallerTest, TheNetworkDriveIsOffUnlessAskedForAndItsPrefixMustBeUsable) {
    // The two folders and five boxes (the authority's certificate after no to the self-signed
    // one) before the drive's questions; the starter page's box and the dialog's choice after.
    const std::string before = "\n\n\n\n\n\n\n", after = "\n\n";
    struct Case {
        std::string answers;  // the drive, writing, the prefix
        config::WebDavMode mode;
        std::string path;
        int refusals;
    } cases[] = {
        {"\n", config::WebDavMode::kOff, "/", 0},
        {"n\n", config::WebDavMode::kOff, "/", 0},
        {"y\n\n\n", config::WebDavMode::kReadOnly, "/", 0},
        {"y\ny\ndav\n", config::WebDavMode::kReadWrite, "/dav/", 0},
        {"yes\nn\n/a/../b\n/a?b\n x\\y \n files//pub \n", config::WebDavMode::kReadOnly,
         "/files/pub/", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers);
        InstallChoices choices = ProposedChoices("/home/u");
        std::istringstream in(before + c.answers + after);
        std::ostringstream out;
        TerminalDialogs dialogs(in, out);
        Dialog dialog = LocationDialog(choices);
        ASSERT_TRUE(dialogs.Show(dialog)) << out.str();
        EXPECT_TRUE(choices.makeHomePage) << "every answer went to its own question";
        const bool on = c.mode != config::WebDavMode::kOff;
        EXPECT_EQ(out.str().find("Network drive's URL prefix (/ is the whole site): [/] ") !=
                      std::string::npos,
                  on)
            << out.str();
        int refusals = 0;
        for (size_t at = out.str().find("Please type a path such as / or /dav/");
             at != std::string::npos; at = out.str().find("Please type a path", at + 1)) {
            ++refusals;
        }
        EXPECT_EQ(refusals, c.refusals) << out.str();
        for (const config::ServerSettings& s : FirstRunConfig(choices, 8080).servers) {
            EXPECT_EQ(s.webdav, c.mode);
            EXPECT_EQ(s.webdavPath, c.path);
        }
    }
}

// A certificate from a public authority: asked only without the self-signed one, its names
// asked again until they are domain names, and written to Server 1's section only when the
// owner accepts the authority's terms.
TEST(InstallerTest, TheAuthoritysCertificateNeedsDomainNamesAndTheAcceptedTerms) {
    const std::string production(config::kDefaultAcmeDirectory);
    const std::string staging(config::kStagingAcmeDirectory);
    struct Case {
        std::string certificates;  // the self-signed one and its follow-up, or the authority's
        std::string authority;     // names, contact, terms and the dialog's choice
        std::string domains;       // what Server 1's section then holds ("" for nothing)
        std::string email;
        std::string directory;
        std::vector<std::string> refusals;
    } cases[] = {
        {"\n\n", "", "", "", "", {}},
        {"y\n\n", "", "", "", "", {}},
        {"n\ny\n\n",
         "Example.COM, www.example.com.\nme@example.com\ny\n\n",
         "example.com www.example.com",
         "me@example.com",
         production,
         {}},
        {"n\ny\ny\n",
         "\nhttps://example.com/ *.example.com\nexample.org\nme at home\n\nyes\n\n",
         "example.org",
         "",
         staging,
         {"A domain name is needed. Please type the names this machine has on the internet",
          "\"https://example.com/\", \"*.example.com\" are not domain names. Please type",
          "Please type an e-mail address such as you@example.com, or nothing."}},
        {"n\ny\n\n", "example.com\nme@example.com\n\n\n", "", "", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificates + c.authority);
        testing_support::TempDir dir;
        InstallChoices choices = ProposedChoices(dir.path());
        ASSERT_TRUE(std::filesystem::create_directories(choices.installDir));
        // The folders and three boxes before the certificates; the drive, the starter page and
        // the dialog's choice after them.
        std::istringstream in("\n\n\n\n\n" + c.certificates + "\n\n\n" + c.authority);
        std::ostringstream out;
        TerminalDialogs dialogs(in, out);
        Dialog location = LocationDialog(choices);
        ASSERT_TRUE(dialogs.Show(location)) << out.str();
        EXPECT_TRUE(choices.makeHomePage) << "every answer went to its own question";
        EXPECT_EQ(
            out.str().find("from a public certificate authority instead") != std::string::npos,
            !choices.makeCertificate)
            << out.str();
        EXPECT_EQ(choices.obtainCertificate, !c.authority.empty());
        if (choices.obtainCertificate) {
            Dialog authority = CertificateAuthorityDialog(choices);
            ASSERT_TRUE(dialogs.Show(authority)) << out.str();
            const std::string directory = choices.acmeStaging ? staging : production;
            for (const std::string& text :
                 {"The certificate comes under the terms of the certificate authority at " +
                      directory + " (",
                  "I accept the terms of the certificate authority at " + directory + ". [y/N] "}) {
                EXPECT_NE(out.str().find(text), std::string::npos) << text << out.str();
            }
        }
        size_t refusals = 0;
        for (const char* refusal : {"Please type the names", "Please type an e-mail"}) {
            for (size_t at = out.str().find(refusal); at != std::string::npos;
                 at = out.str().find(refusal, at + 1)) {
                ++refusals;
            }
        }
        EXPECT_EQ(refusals, c.refusals.size()) << out.str();
        for (const std::string& refusal : c.refusals) {
            EXPECT_NE(out.str().find(refusal), std::string::npos) << refusal << out.str();
        }

        config::ServerConfig first = FirstRunConfig(choices, 80);
        ASSERT_TRUE(first.Save());
        const bool written = !c.domains.empty();
        const std::pair<const char*, std::string> keys[] = {
            {"acmeDomains", c.domains}, {"acmeEmail", c.email}, {"acmeDirectory", c.directory},
            {"acmeAccept", "Y"},        {"tlsPort", "443"},
        };
        for (const auto& [key, value] : keys) {
            EXPECT_EQ(platform::GetProfileString(first.iniPath, "Config", key, "(missing)"),
                      written ? value : "(missing)")
                << key;
            EXPECT_EQ(
                platform::GetProfileString(first.iniPath, "Server-2-Config", key, "(missing)"),
                "(missing)")
                << key;
        }
    }
}

}  // namespace
}  // namespace app
