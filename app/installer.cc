// The first-run installer: the dialogs, the first configuration, the starter pages and the
// installation itself.
#include "app/installer.h"

#include <istream>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include "app/host_address.h"
#include "pages/help_pages.h"
#include "pages/page_template.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/program.h"
#include "platform/resources.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/tls.h"
#include "platform/version.h"

namespace app {
namespace {

constexpr std::string_view kMessageTitle = vantry::kProductText;
constexpr std::string_view kSuccessMessage =
    "This application was installed successfully on your machine.";
constexpr std::string_view kStartMenuWarning =
    "Warning, could not create a link on the start menu.";
constexpr std::string_view kAutostartWarning = "Warning, could not create a link to autostart.";

constexpr std::string_view kProgramName = "vantry";
// The programs installed beside vantry, from the directory it runs from. A missing optional
// one is skipped.
struct Companion {
    std::string_view name;
    bool optional;
};
constexpr Companion kCompanions[] = {
    {"vantry-passwd", false}, {"vantry-ftp", true}, {"vantry-cert", true}, {"vantry-acme", true}};

constexpr std::string_view kInstallDirName = "Vantry/";
constexpr std::string_view kWebRootName = "WWWRoot";
constexpr std::string_view kCgiDirectory = "/cgi-bin/";
constexpr std::string_view kDownloadDirectory = "/Get Your Copy Of Vantry Here/";
constexpr std::string_view kDesktopEntryName = "vantry.desktop";
// The user unit, under the user's configuration directory, and how to start it.
constexpr std::string_view kServiceUnitPath = "/systemd/user/vantry.service";
constexpr std::string_view kServiceMessage =
    "Vantry can now run as a service of your login. Start it now and at every login with: "
    "systemctl --user enable --now vantry";
constexpr std::string_view kServiceWarning = "Warning, could not write the service unit.";
// Where the installation is recorded for the scripts that start it, under the user's
// configuration directory.
constexpr std::string_view kInstallationRecord = "/vantry/installation";

constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kPrivateDirectoryMode = 0700;

constexpr int32_t kPreferredPort = 80;
constexpr int32_t kFallbackPort = 8080;
constexpr int32_t kServer2Port = 9600;
// Server 1's HTTPS port when the owner has a certificate made, and the certificate's life.
constexpr int32_t kTlsPort = 8443;
constexpr int kCertificateDays = 3650;
// Server 1's HTTPS port with a certificate from a public certificate authority: the port
// browsers and the authorities reach.
constexpr int32_t kPublicTlsPort = 443;
constexpr std::string_view kDefaultDocument = "index.html";
// Settings of a new installation that existing configuration files do not have, each with
// the line that says what it does.
constexpr std::string_view kNewInstallationSettings =
    "[Request]\n"
    "; Scripts see header values (cookies, form boundaries) with the letter case the visitor's\n"
    "; browser sent. N upper-cases them, as older scripts may expect; PHP sessions need Y.\n"
    "cgiKeepHeaderCase=Y\n";

// The embedded files the installer writes, by number, and where.
struct EmbeddedFile {
    int id;
    std::string_view name;
    bool inWebRoot;
};
constexpr EmbeddedFile kEmbeddedFiles[] = {
    {121, "Re Distributing Vantry.doc", false},
    {153, "Vantry Release Notes.html", false},
    {122, "fileid.diz", false},
};

// Lines longer than this are cut; the rest of the line is dropped.
constexpr size_t kMaxInputLine = 8192;

// `text` cut to at most `limit` bytes, never inside a UTF-8 character.
std::string CutToLength(std::string text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// A desktop entry's string value: backslashes and line breaks escaped.
std::string DesktopString(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// One argument of a desktop entry's Exec line: quoted when it holds a character the launcher
// would otherwise read as syntax, with the characters that stay special inside the quotes
// escaped; a percent sign is doubled so that it is not a field code.
std::string ExecArgument(std::string_view argument) {
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    constexpr std::string_view kEscapedInQuotes = "\"`$\\";
    std::string out;
    const bool quoted = argument.find_first_of(kReserved) != std::string_view::npos;
    if (quoted) out += '"';
    for (char c : argument) {
        if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) out += '\\';
        out += c;
        if (c == '%') out += '%';
    }
    if (quoted) out += '"';
    return out;
}

// A value of a unit file taken as it is written: a percent sign would start a specifier.
std::string UnitValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

// One word of a unit's command line: quoted, with the quote's specials escaped and "$" doubled
// so that no variable is expanded.
std::string UnitCommandWord(std::string_view word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return UnitValue(out + "\"");
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The directory of the certificate authority the owner chose: its staging one for a trial.
std::string_view AcmeDirectoryOf(const InstallChoices& choices) {
    return choices.acmeStaging ? config::kStagingAcmeDirectory : config::kDefaultAcmeDirectory;
}

// Each of `items` in quotes, with commas between.
std::string QuotedList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "\"" : ", \"") + item + "\"";
    return out;
}

// The owner's domain names: at least one, each a DNS name, and all of them together no
// longer than the configuration file reads back.
bool AcceptsDomains(std::string_view answer) {
    std::vector<std::string> rejected;
    const std::vector<std::string> names = config::ParseAcmeDomains(answer, &rejected);
    size_t saved = 0;
    for (const std::string& name : names) saved += name.size() + 1;
    return !names.empty() && rejected.empty() && saved <= kMaxAnswerLength + 1;
}

std::string DomainsRefusal(std::string_view answer) {
    std::vector<std::string> rejected;
    const std::vector<std::string> names = config::ParseAcmeDomains(answer, &rejected);
    std::string why = rejected.size() > 1 ? QuotedList(rejected) + " are not domain names. "
                      : !rejected.empty() ? QuotedList(rejected) + " is not a domain name. "
                      : names.empty()     ? "A domain name is needed. "
                                          : "These names are too long together. ";
    return why +
           "Please type the names this machine has on the internet, such as example.com or "
           "www.example.com, separated by blanks or commas, without http://, a port or a path.";
}

// A contact address: none, or one that looks like an e-mail address.
bool AcceptsEmail(std::string_view answer) {
    if (answer.empty()) return true;
    const size_t at = answer.find('@');
    return answer.size() <= kMaxAnswerLength && at != std::string_view::npos && at > 0 &&
           at + 1 < answer.size() && answer.find('@', at + 1) == std::string_view::npos &&
           answer.find_first_of(" \t,;:<>\"") == std::string_view::npos;
}

// The question a field asks only after an answer no to another: the two exclude each other.
DialogField AlternativeCheckBox(std::string label, bool* checked, const bool* onlyWhenNot) {
    DialogField field = CheckBox(std::move(label), checked);
    field.onlyWhenNot = onlyWhenNot;
    return field;
}

// Whether a field is asked, after the answers given before it.
bool Asked(const DialogField& field) {
    return (field.onlyWhen == nullptr || *field.onlyWhen) &&
           (field.onlyWhenNot == nullptr || !*field.onlyWhenNot);
}

std::string RefusalOf(const DialogField& field, std::string_view answer) {
    return field.refusalOf != nullptr ? field.refusalOf(answer) : field.refusal;
}

Dialog WelcomeDialog(const std::string& programDirectory) {
    return Dialog{
        "Vantry Install",
        {"Vantry could not find its configuration file " + std::string(config::kIniName) +
             " beside the program, in " + programDirectory + ".",
         "This is the first time Vantry runs from here, so it needs to be installed: it asks "
         "where the program and your web pages go, then puts them there with a configuration "
         "file and, if you like, a starter home page."},
        {},
        "Install Vantry",
        "Quit"};
}

// The network drive's URL prefix, asked again until it is one the server keeps as typed.
DialogField NetworkDrivePathField(InstallChoices& choices) {
    DialogField field = FollowUpTextField("Network drive's URL prefix (/ is the whole site):",
                                          &choices.networkDrivePath, &choices.makeNetworkDrive);
    field.accepts = config::IsWebDavPath;
    field.refusal = "Please type a path such as / or /dav/, without . or .. parts, ?, # or \\.";
    return field;
}

Dialog HomePageDialog(InstallChoices& choices) {
    return Dialog{"Vantry Install",
                  {"Vantry makes a starter home page from the texts below. You can change the page "
                   "whenever you like: it is " +
                   std::string(kDefaultDocument) + " in your web files."},
                  {TextField("Page Title:", &choices.pageTitle),
                   TextField("Page Heading:", &choices.pageHeading),
                   TextField("Page Body:", &choices.pageBody, kMaxBodyLength),
                   CheckBox("Include", &choices.includeLink, "Include a link to another web page:"),
                   TextField("Link Name:", &choices.linkName),
                   TextField("Link Location:", &choices.linkLocation)},
                  "Finish Installation",
                  "Quit"};
}

// The steps that touch the world. Each failure shows its message and ends the installation.
class Installation {
  public:
    Installation(const InstallChoices& choices, InstallerDialogs& dialogs)
        : choices_(choices), dialogs_(dialogs) {}

    bool Run() {
        const std::string& installDir = choices_.installDir;
        const std::string& webRoot = choices_.webRoot;
        // A directory that cannot be made shows up as the copy into it failing.
        platform::MakeDirectories(installDir, kDirectoryMode);
        platform::MakeDirectories(webRoot, kDirectoryMode);
        platform::MakeDirectories(webRoot + std::string(kCgiDirectory), kDirectoryMode);

        const std::string executable = platform::ExecutablePath();
        const std::string programDirectory = platform::ProgramDirectory();
        if (!CopyProgram(executable, installDir + std::string(kProgramName))) return false;
        for (const Companion& companion : kCompanions) {
            std::string source = programDirectory + std::string(companion.name);
            if (companion.optional && !platform::FileExists(source)) continue;
            if (!CopyProgram(source, installDir + std::string(companion.name))) return false;
        }
        const std::string download = webRoot + std::string(kDownloadDirectory);
        platform::MakeDirectories(download, kDirectoryMode);
        if (!CopyProgram(executable, download + std::string(kProgramName))) return false;

        if (choices_.makeStartMenuIcon &&
            !WriteDesktopEntry(platform::DataHomeDirectory() + "/applications/", false,
                               kStartMenuWarning)) {
            return false;
        }
        if (choices_.makeAutostart &&
            !WriteDesktopEntry(platform::ConfigHomeDirectory() + "/autostart/", true,
                               kAutostartWarning)) {
            return false;
        }
        if (choices_.makeService && !WriteServiceUnit()) return false;
        if (choices_.makeHomePage) {
            WriteNewFile(webRoot + "/" + std::string(kDefaultDocument),
                         StarterPage(choices_, FirstRunConfig(choices_, 0).servers[0]));
        }
        for (const EmbeddedFile& file : kEmbeddedFiles) {
            std::optional<std::string_view> bytes = platform::FindResource(file.id);
            if (!bytes) continue;
            WriteNewFile((file.inWebRoot ? webRoot + "/" : installDir) + std::string(file.name),
                         *bytes);
        }

        // Installing again over an installation (from another copy of the program, as the
        // one a package puts in /usr/bin) brings its programs up to date and keeps the
        // owner's configuration.
        const std::string existing = config::IniFilePath(installDir);
        if (platform::FileExists(existing)) {
            dialogs_.ShowMessage("Kept the existing " + existing + ".");
        } else if (!SaveFirstConfiguration()) {
            return false;
        }
        RecordInstallation();
        dialogs_.ShowMessage(std::string(kSuccessMessage));
        if (choices_.makeService) dialogs_.ShowMessage(std::string(kServiceMessage));
        return true;
    }

  private:
    // A certificate for this machine's names beside the program, and Server 1's HTTPS on it.
    // Without one the installation goes on with plain HTTP only.
    void MakeCertificate(config::ServerSettings& server1) {
        const std::string certificate = choices_.installDir + "vantry.crt";
        const std::string key = choices_.installDir + "vantry.key";
        std::string error;
        if (!platform::MakeSelfSignedCertificate(CertificateNames(), kCertificateDays, certificate,
                                                 key, &error)) {
            dialogs_.ShowMessage("Could not make the certificate for HTTPS: " + error + ".");
            return;
        }
        server1.tlsPort = kTlsPort;
        server1.tlsCertificate = certificate;
        server1.tlsKey = key;
        server1.httpsOnly = choices_.httpsOnly;
    }

    // The folders that keep what visitors send, outside the web root and the owner's only. One
    // that cannot be made now is made when the first item arrives.
    void MakeIncomingDirectories() {
        for (std::string_view folder :
             {config::kIncomingUploads, config::kIncomingMessages, config::kIncomingForms}) {
            const std::string path = config::IncomingDirectory(choices_.installDir, folder);
            std::string error;
            if (!config::MakeIncomingDirectory(choices_.installDir, path, &error)) {
                dialogs_.ShowMessage("Warning, could not make " + path + ": " + error + ".");
            }
        }
    }

    // Copies a program unless `to` is the file `from` already is.
    bool CopyProgram(const std::string& from, const std::string& to) {
        std::optional<std::string> source = platform::RealPath(from);
        if (source && source == platform::RealPath(to)) return true;
        std::string error;
        if (platform::CopyFileAtomically(from, to, &error)) return true;
        dialogs_.ShowMessage("Could not copy " + from + " to " + to + ".");
        dialogs_.ShowMessage(error);
        return false;
    }

    bool WriteDesktopEntry(const std::string& directory, bool autostart, std::string_view warning) {
        std::string error;
        if (platform::MakeDirectories(directory, kPrivateDirectoryMode, &error) &&
            platform::WriteFileAtomically(directory + std::string(kDesktopEntryName),
                                          DesktopEntry(choices_.installDir, autostart),
                                          platform::kNewFileMode, &error)) {
            return true;
        }
        dialogs_.ShowMessage(std::string(warning));
        dialogs_.ShowMessage(error);
        return false;
    }

    bool SaveFirstConfiguration() {
        const int32_t port =
            platform::CanBindOnAllAddresses(kPreferredPort) ? kPreferredPort : kFallbackPort;
        config::ServerConfig configuration = FirstRunConfig(choices_, port);
        MakeIncomingDirectories();
        if (choices_.makeCertificate) MakeCertificate(configuration.servers[0]);
        if (configuration.servers[0].ObtainsCertificate() && port != kPreferredPort) {
            dialogs_.ShowMessage(
                "Warning, this machine does not let Vantry use port 80, so Server 1 listens on " +
                std::to_string(port) +
                ", and it may not let it use port 443 either. The certificate authority then "
                "checks your names by a handshake on port 443: let programs use the ports from "
                "80 up (sysctl net.ipv4.ip_unprivileged_port_start=80).");
        }
        std::string error;
        if (configuration.Save(&error) && NameTheNetworkDrive(configuration, &error) &&
            AppendNewSettings(configuration.iniPath, &error)) {
            return true;
        }
        dialogs_.ShowMessage("Could not save the configuration file " + configuration.iniPath +
                             ": " + error + ".");
        return false;
    }

    // A new installation names each server's network drive even when it is off, so that the
    // owner finds the switch in the file; Save writes the keys only for a drive that is on.
    static bool NameTheNetworkDrive(const config::ServerConfig& configuration, std::string* error) {
        std::vector<platform::ProfileChange> changes;
        for (int index = 0; index < 2; ++index) {
            const config::ServerSettings& s = configuration.servers[index];
            if (s.webdav != config::WebDavMode::kOff) continue;
            const std::string section(config::kServerSections[index]);
            changes.push_back({section, "webdav", std::string(config::WebDavModeLetter(s.webdav))});
            changes.push_back({section, "webdavPath", s.webdavPath});
        }
        return changes.empty() ||
               platform::WriteProfileChanges(configuration.iniPath, changes, std::nullopt, error);
    }

    static bool AppendNewSettings(const std::string& iniPath, std::string* error) {
        std::optional<std::string> text = platform::ReadWholeFile(iniPath);
        if (!text) {
            *error = "it could not be read back";
            return false;
        }
        if (!text->empty() && text->back() != '\n') text->push_back('\n');
        text->append(kNewInstallationSettings);
        return platform::WriteFileAtomically(iniPath, *text, platform::kNewFileMode, error);
    }

    bool WriteServiceUnit() {
        const std::string path = platform::ConfigHomeDirectory() + std::string(kServiceUnitPath);
        std::string error;
        if (platform::MakeDirectories(platform::DirectoryOf(path), kPrivateDirectoryMode, &error) &&
            platform::WriteFileAtomically(path, ServiceUnit(choices_.installDir),
                                          platform::kNewFileMode, &error)) {
            return true;
        }
        dialogs_.ShowMessage(std::string(kServiceWarning));
        dialogs_.ShowMessage(error);
        return false;
    }

    // A page or document of the installation: what the owner already has of that name is
    // kept. A file that cannot be written is reported and the installation goes on.
    void WriteNewFile(const std::string& path, std::string_view content) {
        std::string error;
        switch (platform::CreateNewFile(path, content, platform::kNewFileMode, &error)) {
            case platform::NewFileResult::kCreated:
                break;
            case platform::NewFileResult::kNameTaken:
                dialogs_.ShowMessage("Kept the existing " + path + ".");
                break;
            case platform::NewFileResult::kFailed:
                dialogs_.ShowMessage("Warning, could not write " + path + ": " + error + ".");
                break;
        }
    }

    // Tells the scripts that start Vantry where it was installed. Without the record the
    // installation still works; it is only not found by them.
    void RecordInstallation() {
        const std::string path = platform::ConfigHomeDirectory() + std::string(kInstallationRecord);
        std::string error;
        if (platform::MakeDirectories(platform::DirectoryOf(path), kPrivateDirectoryMode, &error) &&
            platform::WriteFileAtomically(path, choices_.installDir + "\n", platform::kNewFileMode,
                                          &error)) {
            return;
        }
        dialogs_.ShowMessage("Warning, could not record the installation: " + error + ".");
    }

    const InstallChoices& choices_;
    InstallerDialogs& dialogs_;
};

}  // namespace

DialogField TextField(std::string label, std::string* text, size_t maxLength) {
    DialogField field;
    field.label = std::move(label);
    field.text = text;
    field.maxLength = maxLength;
    return field;
}

DialogField CheckBox(std::string label, bool* checked, std::string caption) {
    DialogField field;
    field.label = std::move(label);
    field.checked = checked;
    field.caption = std::move(caption);
    return field;
}

DialogField FollowUpCheckBox(std::string label, bool* checked, const bool* onlyWhen) {
    DialogField field = CheckBox(std::move(label), checked);
    field.onlyWhen = onlyWhen;
    return field;
}

DialogField FollowUpTextField(std::string label, std::string* text, const bool* onlyWhen) {
    DialogField field = TextField(std::move(label), text);
    field.onlyWhen = onlyWhen;
    return field;
}

Dialog LocationDialog(InstallChoices& choices) {
    return Dialog{
        "Install Vantry",
        {},
        {TextField("Install Vantry To:", &choices.installDir),
         TextField("HTML files located at:", &choices.webRoot),
         CheckBox("Create a Start-Menu icon for Vantry.", &choices.makeStartMenuIcon),
         CheckBox("Start Vantry Automatically when you start up your computer.",
                  &choices.makeAutostart),
         CheckBox("Run Vantry as a service of your login (systemd user unit).",
                  &choices.makeService),
         CheckBox("Make a self-signed certificate and serve HTTPS on port " +
                      std::to_string(kTlsPort) + ".",
                  &choices.makeCertificate),
         FollowUpCheckBox("Send other computers' plain HTTP requests on to HTTPS.",
                          &choices.httpsOnly, &choices.makeCertificate),
         AlternativeCheckBox("Get a certificate for your domain from a public certificate "
                             "authority instead and serve HTTPS on port " +
                                 std::to_string(kPublicTlsPort) + ".",
                             &choices.obtainCertificate, &choices.makeCertificate),
         FollowUpCheckBox("Use the authority's staging directory for a trial (browsers do not "
                          "trust its certificates).",
                          &choices.acmeStaging, &choices.obtainCertificate),
         CheckBox("Offer the HTML files as a network drive (WebDAV) that file managers can open.",
                  &choices.makeNetworkDrive),
         FollowUpCheckBox("Let visitors change the files on the network drive (a login is needed "
                          "unless they are on this machine).",
                          &choices.networkDriveWritable, &choices.makeNetworkDrive),
         NetworkDrivePathField(choices),
         CheckBox("Create a Starter Home Page called index.html.", &choices.makeHomePage)},
        "Install",
        "Quit"};
}

Dialog CertificateAuthorityDialog(InstallChoices& choices) {
    const std::string directory(AcmeDirectoryOf(choices));
    DialogField names = TextField(
        "Domain names (separated by blanks or commas):", &choices.acmeDomains, kMaxBodyLength);
    names.accepts = AcceptsDomains;
    names.refusalOf = DomainsRefusal;
    DialogField email =
        TextField("Contact e-mail for the authority (may be empty):", &choices.acmeEmail);
    email.accepts = AcceptsEmail;
    email.refusal = "Please type an e-mail address such as you@example.com, or nothing.";
    return Dialog{
        "Vantry Install",
        {"Server 1 gets the certificate for your domain from the certificate authority at " +
             directory + " and renews it by itself while it runs. It serves HTTPS on port " +
             std::to_string(kPublicTlsPort) +
             ", the port browsers and certificate authorities reach. The authority checks each "
             "name by fetching a file from this machine over plain HTTP on port 80, or by a "
             "handshake on port 443 where Server 1 does not listen on port 80: the ports must "
             "reach this machine from the internet under every name (on a home network, forward "
             "them on the router).",
         "The authority may write to the contact address about the certificate, for example "
         "before it expires."},
        {std::move(names), std::move(email),
         CheckBox("I accept the terms of the certificate authority at " + directory + ".",
                  &choices.acmeAccept,
                  "The certificate comes under the terms of the certificate authority at " +
                      directory +
                      " (its subscriber agreement, which that directory names), not under "
                      "Vantry's. Read them there: without your acceptance Vantry asks that "
                      "authority for nothing.")},
        "Continue",
        "Quit"};
}

bool TerminalDialogs::Ask(const std::string& prompt, std::string* answer) {
    out_ << prompt << std::flush;
    answer->clear();
    bool any = false;
    for (int c = in_.get(); c != std::char_traits<char>::eof(); c = in_.get()) {
        any = true;
        if (c == '\n') break;
        if (answer->size() < kMaxInputLine) answer->push_back(static_cast<char>(c));
    }
    if (!any) {
        out_ << '\n' << std::flush;
        return false;
    }
    if (!answer->empty() && answer->back() == '\r') answer->pop_back();
    return true;
}

bool TerminalDialogs::Show(Dialog& dialog) {
    out_ << '\n' << dialog.title << '\n' << std::string(dialog.title.size(), '=') << '\n';
    for (const std::string& paragraph : dialog.paragraphs) out_ << paragraph << "\n\n";
    std::string answer;
    for (DialogField& field : dialog.fields) {
        if (!Asked(field)) continue;
        if (!field.caption.empty()) out_ << field.caption << '\n';
        for (;;) {
            const std::string proposal =
                field.checked ? (*field.checked ? "[Y/n]" : "[y/N]") : "[" + *field.text + "]";
            if (!Ask(field.label + " " + proposal + " ", &answer)) return false;
            std::string_view typed = platform::Trim(answer);
            if (platform::HasControlCharacter(typed)) {
                out_ << "Please type printable text only.\n";
                continue;
            }
            if (typed.empty()) {
                if (field.text != nullptr && field.accepts != nullptr &&
                    !field.accepts(*field.text)) {
                    out_ << RefusalOf(field, *field.text) << '\n';
                    continue;
                }
                break;
            }
            if (field.text != nullptr) {
                if (field.accepts != nullptr && !field.accepts(typed)) {
                    out_ << RefusalOf(field, typed) << '\n';
                    continue;
                }
                *field.text = CutToLength(std::string(typed), field.maxLength);
                break;
            }
            if (platform::EqualsNoCase(typed, "y") || platform::EqualsNoCase(typed, "yes")) {
                *field.checked = true;
                break;
            }
            if (platform::EqualsNoCase(typed, "n") || platform::EqualsNoCase(typed, "no")) {
                *field.checked = false;
                break;
            }
            out_ << "Please answer y or n.\n";
        }
    }
    for (;;) {
        if (!Ask(dialog.okLabel + " or " + dialog.cancelLabel + "? [" + dialog.okLabel + "] ",
                 &answer)) {
            return false;
        }
        std::string_view typed = platform::Trim(answer);
        if (typed.empty() || platform::StartsWithNoCase(dialog.okLabel, typed)) return true;
        if (platform::StartsWithNoCase(dialog.cancelLabel, typed)) return false;
        out_ << "Please answer " << dialog.okLabel << " or " << dialog.cancelLabel << ".\n";
    }
}

void TerminalDialogs::ShowMessage(const std::string& text) {
    out_ << '\n' << kMessageTitle << ": " << text << '\n' << std::flush;
}

bool HeadlessDialogs::Show(Dialog& dialog) {
    std::string line = dialog.title + ":";
    for (const std::string& paragraph : dialog.paragraphs) line += " " + paragraph;
    const char* separator = " ";
    for (const DialogField& field : dialog.fields) {
        if (!Asked(field)) continue;
        line += separator + field.label + " [" +
                (field.checked ? YesNo(*field.checked) : *field.text) + "]";
        separator = "; ";
    }
    out_ << line << '\n' << std::flush;
    return true;
}

void HeadlessDialogs::ShowMessage(const std::string& text) { out_ << text << '\n' << std::flush; }

InstallChoices ProposedChoices(const std::string& home) {
    InstallChoices choices;
    choices.installDir = WithoutTrailingSlashes(home);
    platform::EndWithSlash(choices.installDir);
    choices.installDir += kInstallDirName;
    choices.webRoot = choices.installDir + std::string(kWebRootName);
    choices.pageTitle = "My Home Page";
    choices.pageHeading = "Vantry";
    choices.pageBody = "Thank you for visiting my web site.";
    choices.linkName = "Vantry Help";
    choices.linkLocation = std::string(pages::kHelpPath);
    choices.networkDrivePath = std::string(config::kDefaultWebDavPath);
    return choices;
}

std::string AbsoluteDirectory(std::string answer, const std::string& workingDirectory,
                              const std::string& home) {
    answer = std::string(platform::Trim(answer));
    if (answer == "~" || answer.starts_with("~/")) {
        answer = WithoutTrailingSlashes(home) + answer.substr(1);
    } else if (!answer.starts_with("/")) {
        answer = workingDirectory + answer;
    }
    return answer;
}

config::ServerConfig FirstRunConfig(const InstallChoices& choices, int32_t server1Port) {
    config::ServerConfig configuration;
    configuration.programDirectory = choices.installDir;
    configuration.iniPath = choices.installDir + std::string(config::kIniName);
    // A new installation gets today's pages; existing files without the key stay classic.
    configuration.modernLook = true;
    const std::string favorites = config::DefaultFavoritesLocation();
    for (int index = 0; index < 2; ++index) {
        config::ServerSettings& s = configuration.servers[index];
        s.servername = config::kServerNamePlaceholder;
        s.wwwroot = choices.webRoot;
        s.uploadSaveLocation =
            config::IncomingDirectory(choices.installDir, config::kIncomingUploads);
        s.messageSaveLocation =
            config::IncomingDirectory(choices.installDir, config::kIncomingMessages);
        s.postSaveLocation = config::IncomingDirectory(choices.installDir, config::kIncomingForms);
        s.defaultDocument = s.homePageLocation = s.ftpUploadFileName = kDefaultDocument;
        s.port = index == 0 ? server1Port : kServer2Port;
        s.list = true;
        s.searchEnabled = s.homeEnabled = s.favoritesEnabled = s.userListEnabled =
            s.universalNavBarEnabled = s.uploadEnabled = true;
        s.uploadMaxSizeKB = 1000;
        // The modern look's uploads are whole files of today's sizes.
        s.uploadMaxSizeMB = 4096;
        s.webdav = !choices.makeNetworkDrive      ? config::WebDavMode::kOff
                   : choices.networkDriveWritable ? config::WebDavMode::kReadWrite
                                                  : config::WebDavMode::kReadOnly;
        s.webdavPath = config::NormalizeWebDavPath(choices.networkDrivePath);
        s.messageMaxSizeKB = 32000;
        s.postMaxSizeKB = 1000;
        s.favoritesLocation = favorites;
        s.ftpSiteName = config::kFtpSitePlaceholder;
        s.ftpUserID = config::kFtpUserIdPlaceholder;
        s.ftpPassword = config::kFtpPasswordPlaceholder;
        s.ftpPath = config::kFtpPathPlaceholder;
        s.vpPageProperties = "bgColor=#ffffff";
    }
    // The self-signed certificate excludes the authority's, and without the owner's
    // acceptance of its terms nothing of the authority is written.
    if (choices.obtainCertificate && choices.acmeAccept && !choices.makeCertificate) {
        config::ServerSettings& server1 = configuration.servers[0];
        server1.acmeDomains = config::ParseAcmeDomains(choices.acmeDomains);
        if (!server1.acmeDomains.empty()) {
            server1.acmeEmail = choices.acmeEmail;
            server1.acmeDirectory = AcmeDirectoryOf(choices);
            server1.acmeAccept = true;
            server1.tlsPort = kPublicTlsPort;
        }
    }
    return configuration;
}

std::string StarterPage(const InstallChoices& choices, const config::ServerSettings& settings) {
    std::string page;
    http::AppendModernHead(choices.pageTitle, &page);
    page += "\n</head>\n<body>\n" + pages::ModernNavigation(settings) + "\n<main>\n";
    page += "<h1>" + choices.pageHeading + "</h1>\n<p>" + choices.pageBody + "</p>\n";
    if (choices.includeLink) {
        page += "<p><a href=\"" + choices.linkLocation + "\">" + choices.linkName + "</a></p>\n";
    }
    page += "</main>\n</body></html>\n";
    return page;
}

std::string DesktopEntry(const std::string& installDir, bool autostart) {
    std::string exec = ExecArgument(installDir + std::string(kProgramName));
    if (autostart) exec += " --headless";
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vantry\n"
           "Comment=" VANTRY_PRODUCT_TEXT
           "\n"
           "Exec=" +
           DesktopString(exec) +
           "\n"
           "Path=" +
           DesktopString(installDir) +
           "\n"
           "Terminal=" +
           (autostart ? "false" : "true") +
           "\n"
           "Categories=Network;WebServer;\n";
}

std::string ServiceUnit(const std::string& installDir) {
    return "[Unit]\n"
           "Description=Vantry web server\n"
           "\n"
           "[Service]\n"
           "WorkingDirectory=" +
           UnitValue(installDir) +
           "\n"
           "ExecStart=" +
           UnitCommandWord(installDir + std::string(kProgramName)) +
           " --headless\n"
           // SIGTERM stops the servers and saves the configuration; the program then ends
           // with status 0, so only a failure restarts it.
           "KillSignal=SIGTERM\n"
           "Restart=on-failure\n"
           // Standard error, where the status lines go, is the journal.
           "SyslogIdentifier=vantry\n"
           "\n"
           "[Install]\n"
           "WantedBy=default.target\n";
}

bool RunInstaller(InstallerDialogs& dialogs) {
    const std::string home = platform::HomeDirectory();
    InstallChoices choices = ProposedChoices(home);

    Dialog welcome = WelcomeDialog(platform::ProgramDirectory());
    if (!dialogs.Show(welcome)) return false;
    Dialog location = LocationDialog(choices);
    if (!dialogs.Show(location)) return false;
    const std::string workingDirectory = platform::WorkingDirectory();
    choices.installDir = AbsoluteDirectory(choices.installDir, workingDirectory, home);
    platform::EndWithSlash(choices.installDir);
    choices.webRoot =
        WithoutTrailingSlashes(AbsoluteDirectory(choices.webRoot, workingDirectory, home));
    if (choices.obtainCertificate) {
        Dialog authority = CertificateAuthorityDialog(choices);
        if (!dialogs.Show(authority)) return false;
        if (!choices.acmeAccept) {
            choices.obtainCertificate = false;
            dialogs.ShowMessage(
                "Without your acceptance of the certificate authority's terms Vantry gets no "
                "certificate from it: Server 1 serves plain HTTP only.");
        }
    }
    if (choices.makeHomePage) {
        Dialog homePage = HomePageDialog(choices);
        if (!dialogs.Show(homePage)) return false;
    }
    return Installation(choices, dialogs).Run();
}

}  // namespace app
