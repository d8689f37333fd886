// The first-run installer: asks the owner where Vantry and the web files go, then installs the
// programs, the shortcuts, the starter pages and the first configuration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "config/server_config.h"

namespace app {

// The longest answer kept for a path or a page text, and for the starter page's body.
inline constexpr size_t kMaxAnswerLength = 259;
inline constexpr size_t kMaxBodyLength = 3999;

// What the owner chose. `installDir` ends in "/"; `webRoot` does not.
struct InstallChoices {
    std::string installDir;
    std::string webRoot;
    bool makeStartMenuIcon = true;
    bool makeAutostart = false;
    bool makeService = false;  // a systemd user unit that runs it headless
    bool makeHomePage = true;
    std::string pageTitle;
    std::string pageHeading;
    std::string pageBody;
    std::string linkName;
    std::string linkLocation;
    bool includeLink = true;  // the starter page carries the link
    // A self-signed certificate is made and Server 1 also serves HTTPS with it.
    bool makeCertificate = false;
    // With HTTPS, other computers' plain requests are sent on to it (asked only with the
    // certificate).
    bool httpsOnly = false;
    // Or, asked only without the self-signed certificate: Server 1 obtains a certificate for
    // the owner's domain names (`acmeDomains`, as typed) from a public certificate authority,
    // at its staging directory for a trial with `acmeStaging`, with `acmeEmail` (perhaps
    // empty) as the account's contact, and serves HTTPS on port 443. Taken only when the
    // owner accepts the authority's terms (`acmeAccept`).
    bool obtainCertificate = false;
    bool acmeStaging = false;
    std::string acmeDomains;
    std::string acmeEmail;
    bool acmeAccept = false;
    // The web files are also offered as a network drive under `networkDrivePath`, for
    // reading or (with `networkDriveWritable`) for reading and writing too.
    bool makeNetworkDrive = false;
    bool networkDriveWritable = false;
    std::string networkDrivePath;
};

// One question of a dialog: a text with its pre-filled answer, or a check box. The answer is
// written where the pointer leads, so it must outlive the dialog.
struct DialogField {
    std::string label;
    std::string* text = nullptr;  // a text field, or
    bool* checked = nullptr;      // a check box
    size_t maxLength = kMaxAnswerLength;
    std::string caption;  // shown above the question when not empty
    // Asked only when this answer (of an earlier question) is yes; otherwise left as it is.
    const bool* onlyWhen = nullptr;
    // Asked only when this answer (of an earlier question) is no; otherwise left as it is.
    const bool* onlyWhenNot = nullptr;
    // A text answer this refuses, typed or kept, is asked again, after `refusal` (or, when
    // `refusalOf` is set, what it says of the answer).
    bool (*accepts)(std::string_view answer) = nullptr;
    std::string refusal;
    std::string (*refusalOf)(std::string_view answer) = nullptr;
};

// A text question whose pre-filled answer is `*text`, and a check box whose state is
// `*checked`.
DialogField TextField(std::string label, std::string* text, size_t maxLength = kMaxAnswerLength);
DialogField CheckBox(std::string label, bool* checked, std::string caption = {});
// A check box asked only when `*onlyWhen` is checked by then.
DialogField FollowUpCheckBox(std::string label, bool* checked, const bool* onlyWhen);
// A text question asked only when `*onlyWhen` is checked by then.
DialogField FollowUpTextField(std::string label, std::string* text, const bool* onlyWhen);

struct Dialog {
    std::string title;
    std::vector<std::string> paragraphs;
    std::vector<DialogField> fields;
    std::string okLabel;
    std::string cancelLabel;
};

// How the installer talks to the owner.
class InstallerDialogs {
  public:
    virtual ~InstallerDialogs() = default;
    // Shows `dialog` and lets the owner change its answers. True for the OK button; false for
    // the cancel button (Quit), which also stands for the end of the owner's input.
    virtual bool Show(Dialog& dialog) = 0;
    // A message box titled with the product text ("Vantry V1.0").
    virtual void ShowMessage(const std::string& text) = 0;
};

// Questions on a terminal: each answer is one line; Enter keeps the answer in brackets and
// the end of input (Ctrl-D) quits.
class TerminalDialogs : public InstallerDialogs {
  public:
    TerminalDialogs(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
    bool Show(Dialog& dialog) override;
    void ShowMessage(const std::string& text) override;

  private:
    // The next line typed after `prompt`, or false at the end of input.
    bool Ask(const std::string& prompt, std::string* answer);

    std::istream& in_;
    std::ostream& out_;
};

// No questions: every pre-filled answer is taken, and each dialog and message is written to
// `out` as one line.
class HeadlessDialogs : public InstallerDialogs {
  public:
    explicit HeadlessDialogs(std::ostream& out) : out_(out) {}
    bool Show(Dialog& dialog) override;
    void ShowMessage(const std::string& text) override;

  private:
    std::ostream& out_;
};

// The second dialog: where the program and the web files go, the shortcuts, HTTPS, the
// network drive and whether to make a starter page.
Dialog LocationDialog(InstallChoices& choices);

// Only when the owner asked for a certificate from a public certificate authority: the
// domain names, the contact address and the acceptance of the authority's terms.
Dialog CertificateAuthorityDialog(InstallChoices& choices);

// The pre-filled answers for a user whose home directory is `home`.
InstallChoices ProposedChoices(const std::string& home);

// An answer given as a directory, made absolute: "~" stands for `home` and a relative path
// is taken from `workingDirectory` (which ends in "/"). Surrounding blanks are dropped.
std::string AbsoluteDirectory(std::string answer, const std::string& workingDirectory,
                              const std::string& home);

// The configuration the installation starts with. Server 1 gets `server1Port`, and the
// certificate authority's keys with HTTPS on port 443 when the owner asked for its
// certificate and accepted its terms.
config::ServerConfig FirstRunConfig(const InstallChoices& choices, int32_t server1Port);

// The starter home page index.html: one page in the modern look with the navigation of
// `settings` at the top and the owner's texts as typed (the owner writes the HTML of their own
// page, so nothing in it is escaped).
std::string StarterPage(const InstallChoices& choices, const config::ServerSettings& settings);

// A desktop entry that starts the installed program; the autostart one starts it headless.
std::string DesktopEntry(const std::string& installDir, bool autostart);

// A systemd user unit that runs the installed program headless from `installDir`, restarts
// it when it fails and stops it with SIGTERM (which saves the configuration).
std::string ServiceUnit(const std::string& installDir);

// The whole course: the dialogs, then the directories, copies, shortcuts, pages and
// the configuration. True when Vantry was installed; false when the owner quit (nothing is
// written then) or a step failed (its message was shown).
bool RunInstaller(InstallerDialogs& dialogs);

}  // namespace app
