// Applying the posted server properties: the settings change in memory at once, then a
// mapping page opens or the change is confirmed and saved.
#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "admin/admin_pages.h"
#include "admin/admin_router.h"
#include "admin/property_rows.h"
#include "http/listener.h"
#include "pages/page_template.h"
#include "platform/text.h"

namespace admin {
namespace {

constexpr std::string_view kPage = "HandleChange";

constexpr std::string_view kActionField = "ACTION";
constexpr std::size_t kMaxActionLength = 79;
constexpr std::string_view kSecondPortField = "SECONDPORTENABLED";
// Accepted although the properties page does not send them. Both servers' names of the
// administrator's fields set the one global value.
constexpr std::string_view kAdminIdField = "ID";
constexpr std::string_view kAdminPasswordField = "PW";
constexpr std::string_view kPagePropertiesField = "DEFUALTPAGEPROPERTIES";
constexpr std::size_t kMaxPagePropertiesLength = 99;

constexpr std::string_view kSwitchOn = "on";

// The look of the generated pages: only the modern properties page sends it, so a classic
// form leaves the look as it is.
constexpr std::string_view kLookField = "LOOK";
constexpr std::string_view kModernLook = "modern";

constexpr std::string_view kRefusal =
    "<HTML><HEAD><TITLE>Changes Not Made</TITLE><SCRIPT>window.resizeTo(500, "
    "400);</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1> The changes you requested have not been "
    "made.</H1>";

constexpr std::string_view kConfirmation =
    "<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, "
    "400);</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1> The changes you requested have been "
    "made.</H1><P> If you changed the port, this change will not take effect until the server "
    "is restarted (click stop and then start).";

struct Button {
    std::string_view action;
    void (*page)(http::Connection&);
};
// The buttons that open a mapping page; with any other, the change is saved.
constexpr Button kMappingButtons[] = {
    {"MIME", HandleMime},
    {"SCRIPT", HandleScript},
    {"Virtual Directories", HandleVirtualDirectory},
};

std::string Cut(std::string value, std::size_t maxLength) {
    if (value.size() > maxLength) value.resize(maxLength);
    return value;
}

// Leading blanks, an optional sign, then digits up to the first other character; no digits
// give 0.
int32_t ToNumber(std::string_view value) {
    long number = platform::ParseDecimalAfterSpace(value);
    if (number > INT32_MAX) return INT32_MAX;
    if (number < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(number);
}

bool ToSwitch(std::string_view value) { return platform::EqualsNoCase(value, kSwitchOn); }

// A form has no field for an unticked box, so every switch of the form is off unless its
// field arrives.
void ClearSwitches(config::ServerConfig& config) {
    config.secondPortEnabled = false;
    for (config::ServerSettings& settings : config.servers) {
        for (const PropertyRow& row : kPropertyRows) {
            if (auto flag = std::get_if<bool ServerSettings::*>(&row.setting)) {
                settings.*(*flag) = false;
            }
        }
    }
}

// What a posted field changes.
struct Target {
    enum class Kind { kSecondPort, kAdminId, kAdminPassword, kPageProperties, kRow };
    Kind kind;
    int server = 0;  // 0 for Server 1, 1 for Server 2
    const PropertyRow* row = nullptr;
    bool operator==(const Target&) const = default;
};

// The target of a field name, or nothing for a name that belongs to no setting.
std::optional<Target> Resolve(std::string_view name) {
    if (platform::EqualsNoCase(name, kSecondPortField)) return Target{Target::Kind::kSecondPort};
    int server = 0;
    if (name.size() > kServer2Suffix.size() &&
        platform::EqualsNoCase(name.substr(name.size() - kServer2Suffix.size()), kServer2Suffix)) {
        name.remove_suffix(kServer2Suffix.size());
        server = 1;
    }
    if (platform::EqualsNoCase(name, kAdminIdField)) return Target{Target::Kind::kAdminId};
    if (platform::EqualsNoCase(name, kAdminPasswordField)) {
        return Target{Target::Kind::kAdminPassword};
    }
    if (platform::EqualsNoCase(name, kPagePropertiesField)) {
        return Target{Target::Kind::kPageProperties, server};
    }
    for (const PropertyRow& row : kPropertyRows) {
        if (platform::EqualsNoCase(name, row.field)) {
            return Target{Target::Kind::kRow, server, &row};
        }
    }
    return std::nullopt;
}

void Apply(const Target& target, const std::string& value, config::ServerConfig& config) {
    config::ServerSettings& settings = config.servers[target.server];
    switch (target.kind) {
        case Target::Kind::kSecondPort:
            config.secondPortEnabled = ToSwitch(value);
            return;
        case Target::Kind::kAdminId:
            config.adminid = Cut(value, kMaxTextLength);
            return;
        case Target::Kind::kAdminPassword:
            config.adminpw = Cut(value, kMaxTextLength);
            return;
        case Target::Kind::kPageProperties:
            settings.vpPageProperties = Cut(value, kMaxPagePropertiesLength);
            return;
        case Target::Kind::kRow:
            break;
    }
    const PropertyRow& row = *target.row;
    if (row.modernOnly && platform::Trim(value).empty()) return;
    if (row.setting == Setting(&ServerSettings::webdavPath)) {
        settings.webdavPath = config::NormalizeWebDavPath(platform::Trim(value));
    } else if (auto text = std::get_if<std::string ServerSettings::*>(&row.setting)) {
        settings.*(*text) = Cut(value, row.maxLength);
    } else if (auto number = std::get_if<int32_t ServerSettings::*>(&row.setting)) {
        settings.*(*number) = ToNumber(value);
    } else if (auto mode = std::get_if<config::WebDavMode ServerSettings::*>(&row.setting)) {
        settings.*(*mode) = config::ParseWebDavMode(platform::Trim(value));
    } else {
        settings.*std::get<bool ServerSettings::*>(row.setting) = ToSwitch(value);
    }
}

// A posted number without the blanks around it and its optional "+".
std::string_view PostedDigits(std::string_view value) {
    value = platform::Trim(value);
    if (value.starts_with('+')) value.remove_prefix(1);
    return value;
}

// A posted count: blanks around an optional "+" and digits.
bool IsPostedCount(std::string_view value) {
    value = PostedDigits(value);
    return !value.empty() &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A posted port: a posted count naming a port the server can listen on.
bool IsPostedPort(std::string_view value) {
    return IsPostedCount(value) && PostedDigits(value).size() <= 5 &&
           config::IsPortNumber(ToNumber(PostedDigits(value)));
}

// A posted mode of the network drive: one of its letters, blanks around it.
bool IsPostedWebDavMode(std::string_view value) {
    value = platform::Trim(value);
    return platform::EqualsNoCase(value, "N") || platform::EqualsNoCase(value, "R") ||
           platform::EqualsNoCase(value, "W");
}

// What a row only the modern form shows takes, when the posted value (not blank) is not
// such a value: a negative number would mean "unset", and an unusable prefix would silently
// serve the whole site.
std::optional<std::string_view> UnusableModernValue(const PropertyRow& row,
                                                    std::string_view value) {
    if (std::holds_alternative<config::WebDavMode ServerSettings::*>(row.setting)) {
        if (IsPostedWebDavMode(value)) return std::nullopt;
        return "takes N (off), R (read only) or W (read and write)";
    }
    if (row.setting == Setting(&ServerSettings::webdavPath)) {
        if (config::IsWebDavPath(platform::Trim(value))) return std::nullopt;
        return "takes a path such as / or /dav/, without \".\" or \"..\" parts, \"?\", \"#\", "
               "\"\\\" or control characters";
    }
    if (IsPostedCount(value)) return std::nullopt;
    return "takes a whole number, 0 or more";
}

// Why a posted value cannot be stored, or nothing when it can. A port must name one the
// server can listen on, rather than be stored and later wrapped by the listener; a setting
// only the modern form shows must be blank or a value it takes.
std::optional<std::string> ProblemOf(const Target& target, std::string_view value) {
    if (target.kind != Target::Kind::kRow) return std::nullopt;
    const std::string server = "Server " + std::to_string(target.server + 1) + ": ";
    if (target.row->setting == Setting(&ServerSettings::port) && !IsPostedPort(value)) {
        return server + config::NotAPortMessage(platform::EscapeHtml(value));
    }
    if (!target.row->modernOnly || platform::Trim(value).empty()) return std::nullopt;
    if (std::optional<std::string_view> takes = UnusableModernValue(*target.row, value)) {
        return server + std::string(target.row->modern) + " " + std::string(*takes) + ", not \"" +
               platform::EscapeHtml(value) + "\".";
    }
    return std::nullopt;
}

// The posted values by target, the last one of each: a form that repeats a field sets it
// to its last value, and the list stays as short as the form.
class PostedChanges {
  public:
    // Why the form cannot be applied: the first value that cannot be stored. Nothing when
    // it can.
    std::optional<std::string> Problem() const {
        for (const auto& [target, value] : changes_) {
            if (std::optional<std::string> problem = ProblemOf(target, value)) return problem;
        }
        return std::nullopt;
    }
    void Add(const Target& target, std::string value) {
        for (auto& [known, held] : changes_) {
            if (known == target) {
                held = std::move(value);
                return;
            }
        }
        changes_.emplace_back(target, std::move(value));
    }
    void ApplyTo(config::ServerConfig& config) const {
        for (const auto& [target, value] : changes_) Apply(target, value, config);
    }

  private:
    std::vector<std::pair<Target, std::string>> changes_;
};

// What the modern look says after a post.
struct ModernResult {
    std::string_view title;
    std::string_view message;
};
constexpr ModernResult kModernConfirmation{
    "Changes made",
    "The changes you asked for have been made. A new port takes effect when the server is "
    "restarted (stop it, then start it)."};
constexpr ModernResult kModernRefusal{"Changes not made",
                                      "The changes you asked for have not been made."};

// The page's head, then `notice` when there is one, then the Continue form and the help;
// in the modern look the page template's frame with `modern`'s words and a link back.
void AppendResult(http::Connection& c, std::string_view head, const ModernResult& modern,
                  std::string_view notice = {}) {
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kPage, modern.title, {}, false);
        c.AppendBodyLine("<h1>" + std::string(modern.title) + "</h1>\n<p>" +
                         std::string(modern.message) + "</p>");
        if (!notice.empty()) c.AppendBodyLine(notice);
        c.AppendBodyLine(
            "<p><a class=\"button\" href=\"/admin/ServerProperties.html\">Continue</a></p>");
        pages::AppendHelpLink(c, kPage);
        pages::AppendPageEnd(c, kPage);
        return;
    }
    c.AppendBodyLine(head);
    if (!notice.empty()) c.AppendBodyLine(notice);
    c.AppendBodyLine("<P><HR>");
    AppendContinueForm(c);
    pages::AppendHelpLink(c, kPage);
    c.AppendBodyLine("</BODY></HTML>");
}

}  // namespace

void HandleChange(http::Connection& c) {
    // The whole form is read before anything changes: other requests see the old settings
    // or the new ones, never switches cleared and not yet set again.
    PostedChanges changes;
    std::string action;
    std::optional<bool> modernLook;
    std::string name, value;
    while (c.ReadFormField(name, kFormNameCapacity, value, kFormValueCapacity)) {
        if (platform::EqualsNoCase(name, kActionField)) {
            action = Cut(value, kMaxActionLength);
        } else if (platform::EqualsNoCase(name, kLookField)) {
            modernLook = platform::EqualsNoCase(platform::Trim(value), kModernLook);
        } else if (std::optional<Target> target = Resolve(name)) {
            changes.Add(*target, value);
        }
    }
    if (!FormArrivedWhole(c)) return;
    if (std::optional<std::string> problem = changes.Problem()) {
        const std::string notice = c.ModernLook() ? "<p>" + *problem + "</p>" : "<P> " + *problem;
        AppendResult(c, kRefusal, kModernRefusal, notice);
        return;
    }

    const Button* opened = nullptr;
    for (const Button& button : kMappingButtons) {
        if (platform::EqualsNoCase(action, button.action)) opened = &button;
    }

    bool saved = true;
    std::string error;
    std::shared_ptr<const config::ServerConfig> changed =
        c.server->context().config.Update([&](config::ServerConfig& config) {
            ClearSwitches(config);
            changes.ApplyTo(config);
            if (modernLook) config.modernLook = *modernLook;
            // Saved under the change lock, so the file receives the changes in their order.
            if (opened == nullptr) saved = config.Save(&error);
        });

    if (opened != nullptr) {
        // The change stays unsaved until the next save, from wherever it comes; the page
        // shows the record as it now is.
        c.RefreshConfig();
        opened->page(c);
        return;
    }
    // The page after the change is drawn in the look it chose.
    c.RefreshConfig();
    AppendResult(c, kConfirmation, kModernConfirmation,
                 saved ? "" : ReportNotSaved(c, changed->iniPath, error));
}

}  // namespace admin
