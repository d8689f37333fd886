// The configuration record of both servers: where its file is, how it is loaded and saved.
#include "config/server_config.h"

#include <algorithm>
#include <climits>
#include <variant>
#include <vector>

#include "config/mapping_tables.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/program.h"
#include "platform/registry_file.h"
#include "platform/text.h"

namespace config {
namespace {

constexpr std::string_view kPreferredIniName = "Zelvin.ini";
// How long a thread trusts its last look at which configuration file exists.
constexpr uint64_t kIniChoiceTrustMs = 500;

constexpr std::string_view kSecondPortSection = "Server-2";
constexpr std::string_view kRequestSection = "Request";

// A mapping table whose probe row reads as this (in any case) is written afresh at load.
constexpr std::string_view kMappingProbeDefault = "DEFAULT";

// Read sizes, the terminator included: a longer text is cut to one character less.
constexpr std::size_t kLongReadSize = 260;
constexpr std::size_t kShortReadSize = 80;
constexpr std::size_t kPropertiesReadSize = 100;
constexpr std::size_t kAdminHostsReadSize = 1024;

// The file holds the administrator's and the FTP passwords: only its owner may read it.
constexpr mode_t kIniFileMode = 0600;
// The folders of what visitors send are the owner's alone.
constexpr mode_t kIncomingMode = 0700;

constexpr int32_t kDefaultPorts[2] = {80, 9600};
constexpr long kDefaultGoodByeKiss = 30;
// Seconds a CGI script may run before it is stopped.
constexpr long kDefaultCgiTimeLimit = 300;
constexpr long kDefaultKeepAliveSeconds = 15;
constexpr int32_t kMaxKeepAliveSeconds = 3600;
constexpr long kDefaultKeepAliveRequests = 1000;

constexpr std::string_view kWebRootName = "www/";
constexpr std::string_view kFavoritesName = "Favorites";

std::string WithTrailingSlash(std::string directory) {
    if (!directory.empty() && directory.back() != '/') directory += '/';
    return directory;
}

// Where a text field's value comes from when its key is absent.
// kIncoming: the program directory's Incoming folder named by the literal.
enum class Fallback { kLiteral, kWebRoot, kFavorites, kIncoming };

struct TextField {
    std::string ServerSettings::*member;
    std::size_t readSize;
    Fallback fallback;
    std::string_view literal = {};
};
struct SwitchField {
    bool ServerSettings::*member;
    std::string_view byDefault;  // read like a stored value: "Y" is true
};
struct IntField {
    int32_t ServerSettings::*member;
    long byDefault;
};
struct Field {
    std::string_view key;
    std::variant<TextField, SwitchField, IntField> kind;
};

using S = ServerSettings;

const Field kServerName{"servername", TextField{&S::servername, kLongReadSize, Fallback::kLiteral,
                                                kServerNamePlaceholder}};
const Field kWwwRoot{"wwwroot", TextField{&S::wwwroot, kLongReadSize, Fallback::kWebRoot}};
const Field kDefaultDocument{
    "default", TextField{&S::defaultDocument, kShortReadSize, Fallback::kLiteral, "index.html"}};
const Field kLogs{"logs", SwitchField{&S::logs, "N"}};
const Field kList{"list", SwitchField{&S::list, "Y"}};
const Field kCgi{"cgi", SwitchField{&S::cgi, "N"}};

// The built-in applications and the address publishing, in the order they are read and
// saved. postSaveLocation is the last of the applications' fields.
const Field kApplicationFields[] = {
    {"searchEnabled", SwitchField{&S::searchEnabled, "Y"}},
    {"homeEnabled", SwitchField{&S::homeEnabled, "Y"}},
    {"homePageLocation",
     TextField{&S::homePageLocation, kLongReadSize, Fallback::kLiteral, "index.html"}},
    {"favoritesEnabled", SwitchField{&S::favoritesEnabled, "Y"}},
    {"favoritesLocation", TextField{&S::favoritesLocation, kLongReadSize, Fallback::kFavorites}},
    {"userListEnabled", SwitchField{&S::userListEnabled, "Y"}},
    {"universalNavBarEnabled", SwitchField{&S::universalNavBarEnabled, "Y"}},
    {"uploadEnabled", SwitchField{&S::uploadEnabled, "Y"}},
    {"uploadMaxSizeKB", IntField{&S::uploadMaxSizeKB, 1000}},
    {"uploadSaveLocation",
     TextField{&S::uploadSaveLocation, kLongReadSize, Fallback::kIncoming, kIncomingUploads}},
    {"messageUploadEnabled", SwitchField{&S::messageUploadEnabled, "N"}},
    {"messageMaxSizeKB", IntField{&S::messageMaxSizeKB, 32000}},
    {"messageIsXML", SwitchField{&S::messageIsXML, "Y"}},
    {"messageSaveLocation",
     TextField{&S::messageSaveLocation, kLongReadSize, Fallback::kIncoming, kIncomingMessages}},
    {"postEnabled", SwitchField{&S::postEnabled, "N"}},
    {"postMaxSizeKB", IntField{&S::postMaxSizeKB, 1000}},
    {"postSaveLocation",
     TextField{&S::postSaveLocation, kLongReadSize, Fallback::kIncoming, kIncomingForms}},
    {"redirectorEnabled", SwitchField{&S::redirectorEnabled, "N"}},
    {"ftpSiteName",
     TextField{&S::ftpSiteName, kLongReadSize, Fallback::kLiteral, kFtpSitePlaceholder}},
    {"ftpUserID",
     TextField{&S::ftpUserID, kLongReadSize, Fallback::kLiteral, kFtpUserIdPlaceholder}},
    {"ftpPassword",
     TextField{&S::ftpPassword, kLongReadSize, Fallback::kLiteral, kFtpPasswordPlaceholder}},
    {"ftpPath", TextField{&S::ftpPath, kLongReadSize, Fallback::kLiteral, kFtpPathPlaceholder}},
    {"ftpUploadFileName",
     TextField{&S::ftpUploadFileName, kLongReadSize, Fallback::kLiteral, "index.html"}},
    {"useJavaScriptRedirector", SwitchField{&S::useJavaScriptRedirector, "N"}},
};
constexpr std::string_view kLastReadOfServer2 = "postSaveLocation";

// The page properties, read but never saved.
const Field kPagePropertyFields[] = {
    {"vpPageProperties",
     TextField{&S::vpPageProperties, kPropertiesReadSize, Fallback::kLiteral, "bgColor=#ffffff"}},
    {"vpTableProperties", TextField{&S::vpTableProperties, kPropertiesReadSize, Fallback::kLiteral,
                                    "BORDER=0 CELLSPACING='1' CELLPADDING='2'"}},
    {"vpTHRowProperties", TextField{&S::vpTHRowProperties, kPropertiesReadSize, Fallback::kLiteral,
                                    "bgColor=#66ccff height='30' align='left'"}},
    {"vpOddRowProperties",
     TextField{&S::vpOddRowProperties, kPropertiesReadSize, Fallback::kLiteral, "bgColor=#cbfad2"}},
    {"vpEvenRowProperties", TextField{&S::vpEvenRowProperties, kPropertiesReadSize,
                                      Fallback::kLiteral, "bgColor=#caeaff"}},
    {"vpNavBarBtnProperties", TextField{&S::vpNavBarBtnProperties, kPropertiesReadSize,
                                        Fallback::kLiteral, "target='_parent'"}},
    {"vpNavBarBtnImgProperties", TextField{&S::vpNavBarBtnImgProperties, kPropertiesReadSize,
                                           Fallback::kLiteral, "height='25' width='75'"}},
    {"vpEnablePageHeaders", SwitchField{&S::vpEnablePageHeaders, "Y"}},
};
// Saved in place of vpPageProperties, which load never reads back from this key.
constexpr std::string_view kSavedPagePropertiesKey = "defaultPageProperties";

// Reads one section of the configuration file with the value encodings of the record.
class SectionReader {
  public:
    SectionReader(const std::string& path, std::string_view section, const std::string& webRoot,
                  const std::string& favorites, std::string_view programDirectory = {})
        : path_(path),
          section_(section),
          webRoot_(webRoot),
          favorites_(favorites),
          programDirectory_(programDirectory) {}

    std::string Text(std::string_view key, std::string_view byDefault, std::size_t readSize) const {
        std::string value = platform::GetProfileString(path_, section_, key, byDefault);
        if (value.size() > readSize - 1) value.resize(readSize - 1);
        return value;
    }

    // True when the value's first character, upper-cased, is Y.
    bool Switch(std::string_view key, std::string_view byDefault) const {
        std::string value = Text(key, byDefault, kShortReadSize);
        return !value.empty() && (value[0] == 'Y' || value[0] == 'y');
    }

    int32_t Integer(std::string_view key, long byDefault) const {
        long value = platform::GetProfileInt(path_, section_, key, byDefault);
        return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
    }

    void Read(const Field& field, ServerSettings& settings) const {
        if (const auto* text = std::get_if<TextField>(&field.kind)) {
            settings.*(text->member) = Text(field.key, FallbackFor(*text), text->readSize);
        } else if (const auto* flag = std::get_if<SwitchField>(&field.kind)) {
            settings.*(flag->member) = Switch(field.key, flag->byDefault);
        } else {
            const auto& number = std::get<IntField>(field.kind);
            settings.*(number.member) = Integer(field.key, number.byDefault);
        }
    }

  private:
    std::string FallbackFor(const TextField& field) const {
        switch (field.fallback) {
            case Fallback::kWebRoot:
                return webRoot_;
            case Fallback::kFavorites:
                return favorites_;
            case Fallback::kIncoming:
                return IncomingDirectory(programDirectory_, field.literal);
            case Fallback::kLiteral:
                break;
        }
        return std::string(field.literal);
    }

    const std::string& path_;
    std::string_view section_;
    const std::string& webRoot_;
    const std::string& favorites_;
    std::string_view programDirectory_;
};

// Collects the keys of one save, in the order they are written.
class SectionWriter {
  public:
    SectionWriter(std::vector<platform::ProfileChange>& changes, std::string_view section)
        : changes_(changes), section_(section) {}

    void Text(std::string_view key, const std::string& value) {
        changes_.push_back({section_, std::string(key), value});
    }
    void Switch(std::string_view key, bool value) { Text(key, value ? "Y" : "N"); }
    void Remove(std::string_view key) {
        changes_.push_back({section_, std::string(key), std::nullopt});
    }
    void Integer(std::string_view key, int32_t value) {
        Text(key, std::to_string(static_cast<long>(value)));
    }

    void Write(const Field& field, const ServerSettings& settings) {
        if (const auto* text = std::get_if<TextField>(&field.kind)) {
            Text(field.key, settings.*(text->member));
        } else if (const auto* flag = std::get_if<SwitchField>(&field.kind)) {
            Switch(field.key, settings.*(flag->member));
        } else {
            Integer(field.key, settings.*(std::get<IntField>(field.kind).member));
        }
    }

  private:
    std::vector<platform::ProfileChange>& changes_;
    std::string section_;
};

// Writes a built-in table when its probe row is missing or reads as the default marker.
// False when a table was due and could not be written.
bool SeedMappingTables(const std::string& iniPath) {
    bool written = true;
    if (platform::EqualsNoCase(
            platform::GetProfileString(iniPath, "Mime", "html", kMappingProbeDefault),
            kMappingProbeDefault)) {
        written = WriteDefaultMimeTable(iniPath) && written;
    }
    if (platform::EqualsNoCase(
            platform::GetProfileString(iniPath, "Script", "pl", kMappingProbeDefault),
            kMappingProbeDefault)) {
        written = WriteDefaultScriptTable(iniPath) && written;
    }
    return written;
}

}  // namespace

std::string NotAPortMessage(std::string_view port) {
    return "Port " + std::string(port) + " is not a port number (" + std::to_string(kLowestPort) +
           "-" + std::to_string(kHighestPort) + ").";
}

std::optional<std::string> PortProblem(const ServerSettings& settings) {
    if (!IsPortNumber(settings.port)) return NotAPortMessage(std::to_string(settings.port));
    if (settings.tlsPort != 0 && !IsPortNumber(settings.tlsPort)) {
        return "HTTPS: " + NotAPortMessage(std::to_string(settings.tlsPort));
    }
    return std::nullopt;
}

std::string IncomingDirectory(std::string_view programDirectory, std::string_view folder) {
    return WithTrailingSlash(std::string(programDirectory)) + std::string(folder);
}

bool MakeIncomingDirectory(const std::string& programDirectory, const std::string& location,
                           std::string* error) {
    std::string_view wanted = location;
    while (wanted.size() > 1 && wanted.back() == '/') wanted.remove_suffix(1);
    for (std::string_view folder : {kIncomingUploads, kIncomingMessages, kIncomingForms}) {
        if (wanted == IncomingDirectory(programDirectory, folder)) {
            return platform::MakeDirectories(std::string(wanted), kIncomingMode, error);
        }
    }
    return true;
}

std::string DefaultFavoritesLocation() {
    std::string home = platform::HomeDirectory();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") home.clear();
    return home + "/" + std::string(kFavoritesName);
}

std::string IniFilePath(const std::string& programDirectory) {
    std::string directory = WithTrailingSlash(programDirectory);
    std::string preferred = directory + std::string(kPreferredIniName);
    if (platform::FileExists(preferred)) return preferred;
    return directory + std::string(kIniName);
}

std::string RecentIniFilePath(const std::string& programDirectory) {
    struct Choice {
        std::string programDirectory;
        std::string path;
        uint64_t checkedAtMs = 0;
    };
    thread_local Choice last;
    const uint64_t now = platform::MonotonicMillis();
    if (!last.path.empty() && last.programDirectory == programDirectory &&
        now - last.checkedAtMs < kIniChoiceTrustMs) {
        return last.path;
    }
    last.programDirectory = programDirectory;
    last.path = IniFilePath(programDirectory);
    last.checkedAtMs = now;
    return last.path;
}

bool ReadAuthSwitch(std::string_view valueName) {
    std::optional<platform::RegistryValue> value =
        platform::RegistryFile::Load(platform::RegistryFilePath())
            .Find(kAuthSwitchesKeyPath, valueName);
    const uint32_t* number = value ? std::get_if<uint32_t>(&*value) : nullptr;
    return number != nullptr && *number != 0;
}

ServerConfig ServerConfig::Load(const std::string& programDirectory) {
    ServerConfig config;
    config.programDirectory = WithTrailingSlash(programDirectory);
    const std::string webRoot = config.programDirectory + std::string(kWebRootName);
    const std::string favorites = DefaultFavoritesLocation();

    config.iniPath = IniFilePath(config.programDirectory);
    if (!platform::FileExists(config.iniPath)) {
        config.iniMissing = true;
        return config;
    }
    const std::string& path = config.iniPath;

    ServerSettings& one = config.servers[0];
    const SectionReader first(path, kServerSections[0], webRoot, favorites,
                              config.programDirectory);
    first.Read(kServerName, one);
    first.Read(kWwwRoot, one);
    config.adminid = first.Text("adminid", "", kShortReadSize);
    config.adminpw = first.Text("adminpw", "", kShortReadSize);
    first.Read(kDefaultDocument, one);
    first.Read(kLogs, one);
    first.Read(kList, one);
    first.Read(kCgi, one);
    one.port = first.Integer("port", kDefaultPorts[0]);

    config.tablesUnwritable = !SeedMappingTables(path);

    one.authRequired = ReadAuthSwitch(kAuthSwitchNames[0]);
    for (const Field& field : kApplicationFields) first.Read(field, one);

    ServerSettings& two = config.servers[1];
    const SectionReader second(path, kServerSections[1], webRoot, favorites,
                               config.programDirectory);
    second.Read(kServerName, two);
    second.Read(kWwwRoot, two);
    second.Read(kDefaultDocument, two);
    two.port = second.Integer("port", kDefaultPorts[1]);
    second.Read(kLogs, two);
    second.Read(kList, two);
    second.Read(kCgi, two);
    two.authRequired = ReadAuthSwitch(kAuthSwitchNames[1]);
    const Field* readLast = nullptr;
    for (const Field& field : kApplicationFields) {
        if (field.key == kLastReadOfServer2) {
            readLast = &field;
        } else {
            second.Read(field, two);
        }
    }
    if (readLast != nullptr) second.Read(*readLast, two);
    config.secondPortEnabled = SectionReader(path, kSecondPortSection, webRoot, favorites)
                                   .Switch("secondPortEnabled", "F");

    for (const Field& field : kPagePropertyFields) first.Read(field, one);
    for (const Field& field : kPagePropertyFields) second.Read(field, two);
    for (const SectionReader* section : {&first, &second}) {
        ServerSettings& settings = section == &first ? one : two;
        settings.tlsPort = section->Integer("tlsPort", 0);
        settings.tlsCertificate = section->Text("tlsCertificate", "", kLongReadSize);
        settings.tlsKey = section->Text("tlsKey", "", kLongReadSize);
        settings.httpsOnly = section->Switch("httpsOnly", "N");
        settings.proxyProtocol = section->Switch("proxyProtocol", "N");
        settings.userListPublic = section->Switch("userListPublic", "N");
        settings.searchMaxResults = section->Integer("searchMaxResults", kDefaultSearchMaxResults);
        if (settings.searchMaxResults < 1) settings.searchMaxResults = kDefaultSearchMaxResults;
        settings.uploadMaxSizeMB =
            std::max(section->Integer("uploadMaxSizeMB", kNoUploadMaxSizeMB), kNoUploadMaxSizeMB);
        settings.webdav = ParseWebDavMode(section->Text("webdav", "N", kShortReadSize));
        settings.webdavPath =
            NormalizeWebDavPath(section->Text("webdavPath", kDefaultWebDavPath, kLongReadSize));
        settings.acmeDomains = ParseAcmeDomains(section->Text("acmeDomains", "", kLongReadSize));
        settings.acmeEmail = section->Text("acmeEmail", "", kLongReadSize);
        settings.acmeDirectory =
            section->Text("acmeDirectory", kDefaultAcmeDirectory, kLongReadSize);
        if (settings.acmeDirectory.empty()) settings.acmeDirectory = kDefaultAcmeDirectory;
        settings.acmeAccept = section->Switch("acmeAccept", "N");
        settings.acmeCaFile = section->Text("acmeCaFile", "", kLongReadSize);
        settings.acmeChallenge = section->Text("acmeChallenge", "", kShortReadSize);
    }

    config.adminHosts = first.Text("adminHosts", "", kAdminHostsReadSize);
    config.modernLook = platform::EqualsNoCase(first.Text("look", "classic", 16), "modern");
    config.trustedProxies = platform::AddressRanges::Parse(
        first.Text("trustedProxies", "", kAdminHostsReadSize), &config.trustedProxiesRejected);

    SectionReader request(path, kRequestSection, webRoot, favorites);
    config.goodByeKiss =
        std::clamp(request.Integer("goodByeKiss", kDefaultGoodByeKiss), 0, kMaxGoodByeKiss);
    config.cgiTimeLimit = request.Integer("cgiTimeLimit", kDefaultCgiTimeLimit);
    config.cgiKeepHeaderCase = request.Switch("cgiKeepHeaderCase", "N");
    config.keepAliveSeconds = std::clamp<int32_t>(
        request.Integer("keepAliveSeconds", kDefaultKeepAliveSeconds), 0, kMaxKeepAliveSeconds);
    config.keepAliveRequests =
        std::max<int32_t>(request.Integer("keepAliveRequests", kDefaultKeepAliveRequests), 1);
    return config;
}

std::string_view WebDavModeLetter(WebDavMode mode) {
    switch (mode) {
        case WebDavMode::kReadOnly:
            return "R";
        case WebDavMode::kReadWrite:
            return "W";
        case WebDavMode::kOff:
            break;
    }
    return "N";
}

WebDavMode ParseWebDavMode(std::string_view value) {
    if (platform::EqualsNoCase(value, "R")) return WebDavMode::kReadOnly;
    if (platform::EqualsNoCase(value, "W")) return WebDavMode::kReadWrite;
    return WebDavMode::kOff;
}

std::vector<std::string> ParseAcmeDomains(std::string_view value,
                                          std::vector<std::string>* rejected) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < value.size()) {
        size_t end = value.find_first_of(" \t,", start);
        if (end == std::string_view::npos) end = value.size();
        std::string name = platform::LowerCopy(value.substr(start, end - start));
        start = end + 1;
        if (name.empty()) continue;
        if (name.back() == '.') name.pop_back();  // the root's dot
        bool good = !name.empty() && name.size() <= 253;
        size_t labelStart = 0;
        for (size_t i = 0; good && i <= name.size(); ++i) {
            if (i == name.size() || name[i] == '.') {
                const size_t length = i - labelStart;
                good = length >= 1 && length <= 63 && name[labelStart] != '-' && name[i - 1] != '-';
                labelStart = i + 1;
            } else {
                const char c = name[i];
                good = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
            }
        }
        if (!good) {
            if (rejected != nullptr) rejected->push_back(name);
        } else if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

std::string AcmeCertificateFolder(std::string_view programDirectory, std::string_view name) {
    return std::string(programDirectory) + "certificates/" + std::string(name) + "/";
}

std::string AcmeAccountKeyFile(std::string_view programDirectory) {
    return std::string(programDirectory) + "certificates/.account/key.pem";
}

AcmeChallenge AcmeChallengeOf(const ServerSettings& settings) {
    if (platform::EqualsNoCase(settings.acmeChallenge, "http-01")) return AcmeChallenge::kHttp01;
    if (platform::EqualsNoCase(settings.acmeChallenge, "tls-alpn-01")) {
        return AcmeChallenge::kTlsAlpn01;
    }
    return settings.tlsPort == 443 && settings.port != 80 ? AcmeChallenge::kTlsAlpn01
                                                          : AcmeChallenge::kHttp01;
}

TlsFiles TlsFilesOf(const ServerSettings& settings, std::string_view programDirectory) {
    if (!settings.ObtainsCertificate()) return {settings.tlsCertificate, settings.tlsKey};
    const std::string folder =
        AcmeCertificateFolder(programDirectory, settings.acmeDomains.front());
    return {folder + "fullchain.pem", folder + "privkey.pem"};
}

std::string NormalizeWebDavPath(std::string_view value) {
    std::string path = "/";
    for (size_t start = 0; start < value.size();) {
        const size_t end = std::min(value.find('/', start), value.size());
        const std::string_view segment = value.substr(start, end - start);
        if (segment == "." || segment == "..") return std::string(kDefaultWebDavPath);
        if (!segment.empty()) path.append(segment).push_back('/');
        start = end + 1;
    }
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '?' || c == '#' ||
            c == '\\') {
            return std::string(kDefaultWebDavPath);
        }
    }
    return path;
}

bool IsWebDavPath(std::string_view value) {
    return value.find_first_not_of('/') == std::string_view::npos ||
           NormalizeWebDavPath(value) != kDefaultWebDavPath;
}

bool ServerConfig::Save(std::string* error) const {
    std::string path;
    if (!programDirectory.empty()) {
        path = IniFilePath(programDirectory);
    } else if (!iniPath.empty()) {
        path = iniPath;
    } else {
        if (error != nullptr) *error = "no configuration file is known";
        return false;
    }

    std::vector<platform::ProfileChange> changes;
    for (int index = 0; index < 2; ++index) {
        const ServerSettings& settings = servers[index];
        SectionWriter section(changes, kServerSections[index]);
        section.Write(kServerName, settings);
        section.Write(kWwwRoot, settings);
        if (index == 0) {
            section.Text("adminid", adminid);
            section.Text("adminpw", adminpw);
        }
        section.Write(kDefaultDocument, settings);
        section.Write(kLogs, settings);
        section.Write(kList, settings);
        section.Write(kCgi, settings);
        section.Integer("port", settings.port);
        section.Text(kSavedPagePropertiesKey, settings.vpPageProperties);
        for (const Field& field : kApplicationFields) section.Write(field, settings);
        // Written only once set, so that a file without them stays as it was.
        if (settings.tlsPort != 0 || !settings.tlsCertificate.empty() || !settings.tlsKey.empty()) {
            section.Integer("tlsPort", settings.tlsPort);
            section.Text("tlsCertificate", settings.tlsCertificate);
            section.Text("tlsKey", settings.tlsKey);
        }
        if (settings.httpsOnly) section.Switch("httpsOnly", true);
        if (settings.proxyProtocol) section.Switch("proxyProtocol", true);
        // Off is no key at all, so a switch turned off on the properties page leaves none.
        if (settings.userListPublic) {
            section.Switch("userListPublic", true);
        } else {
            section.Remove("userListPublic");
        }
        if (settings.searchMaxResults != kDefaultSearchMaxResults) {
            section.Integer("searchMaxResults", settings.searchMaxResults);
        }
        if (settings.uploadMaxSizeMB >= 0) {
            section.Integer("uploadMaxSizeMB", settings.uploadMaxSizeMB);
        } else {
            section.Remove("uploadMaxSizeMB");
        }
        if (settings.webdav != WebDavMode::kOff) {
            section.Text("webdav", std::string(WebDavModeLetter(settings.webdav)));
            section.Text("webdavPath", settings.webdavPath);
        } else {
            section.Remove("webdav");
            section.Remove("webdavPath");
        }
        if (!settings.acmeDomains.empty()) {
            std::string names;
            for (const std::string& name : settings.acmeDomains) {
                names.append(names.empty() ? "" : " ").append(name);
            }
            section.Text("acmeDomains", names);
            section.Text("acmeEmail", settings.acmeEmail);
            section.Text("acmeDirectory", settings.acmeDirectory);
            section.Switch("acmeAccept", settings.acmeAccept);
            if (!settings.acmeCaFile.empty()) section.Text("acmeCaFile", settings.acmeCaFile);
            if (!settings.acmeChallenge.empty()) {
                section.Text("acmeChallenge", settings.acmeChallenge);
            }
        }
        if (index == 0) {
            if (modernLook) {
                section.Text("look", "modern");
            } else {
                section.Remove("look");
            }
        }
    }
    SectionWriter(changes, kSecondPortSection).Switch("secondPortEnabled", secondPortEnabled);
    return platform::WriteProfileChanges(path, changes, kIniFileMode, error);
}

}  // namespace config
