// The configuration record of both servers, its INI file and the process-wide holder.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/address_ranges.h"

namespace config {

// The configuration file's usual name, and the placeholders that stand where the owner has
// yet to give a value.
inline constexpr std::string_view kIniName = "Vantry.ini";
inline constexpr std::string_view kServerNamePlaceholder = "www.your-host.example/your-site";
inline constexpr std::string_view kFtpSitePlaceholder = "ftp.your-host.example";
inline constexpr std::string_view kFtpUserIdPlaceholder = "Your FTP User ID";
inline constexpr std::string_view kFtpPasswordPlaceholder = "Your FTP Password";
inline constexpr std::string_view kFtpPathPlaceholder = "Your Home Page Location";

// The owner's favorites folder: "Favorites" in the home directory.
std::string DefaultFavoritesLocation();

// What visitors send is kept where no URL reaches it: one folder per kind under "Incoming" in
// the program directory, readable by the owner only. A new installation stores there, and so
// does a configuration file that names no location of its own.
inline constexpr std::string_view kIncomingUploads = "Incoming/Uploads";
inline constexpr std::string_view kIncomingMessages = "Incoming/Messages";
inline constexpr std::string_view kIncomingForms = "Incoming/Forms";
// `folder` (one of the three above) in `programDirectory`.
std::string IncomingDirectory(std::string_view programDirectory, std::string_view folder);
// Makes `location` with mode 0700 when it is one of the Incoming folders of `programDirectory`
// and missing; a location of the owner's own choosing is never made. False when it was ours
// to make and could not be made, with the failed call in `*error` when that is given.
bool MakeIncomingDirectory(const std::string& programDirectory, const std::string& location,
                           std::string* error = nullptr);

// The configuration file in `programDirectory` (which ends in "/"): "Zelvin.ini" when a file
// of that name exists there, else "Vantry.ini", whether or not it exists.
std::string IniFilePath(const std::string& programDirectory);
// IniFilePath as this thread last found it, looked up again at most every half second: the
// tables read for every request find their file without asking the disk each time, and an
// edit by hand is seen as soon as the tables' own cache sees it.
std::string RecentIniFilePath(const std::string& programDirectory);

// Where the registry file keeps the two servers' login switches, and their value names
// ([0] is Server 1). The server reads them; the password manager writes them.
inline constexpr std::string_view kAuthSwitchesKeyPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY";
inline constexpr std::string_view kAuthSwitchNames[2] = {"AuthenticationRequiredServerOne",
                                                         "AuthenticationRequiredServerTwo"};

// True when the registry file's switches key holds `valueName` as a 32-bit number that is
// not zero. Anything else (missing file, key or value, a string) gives false.
bool ReadAuthSwitch(std::string_view valueName);

// The most rows a search lists unless the configuration says otherwise.
inline constexpr int32_t kDefaultSearchMaxResults = 1000;

// ServerSettings::uploadMaxSizeMB of a configuration without the key.
inline constexpr int32_t kNoUploadMaxSizeMB = -1;

// The sections of Server 1's and Server 2's settings in the configuration file.
inline constexpr std::string_view kServerSections[2] = {"Config", "Server-2-Config"};

// What the server's network drive offers: nothing, reading, or reading and writing.
enum class WebDavMode { kOff, kReadOnly, kReadWrite };
// The URL prefix the network drive serves when the configuration names none.
inline constexpr std::string_view kDefaultWebDavPath = "/";
// The public authority's directory, and the staging one the installer offers for a trial.
inline constexpr std::string_view kDefaultAcmeDirectory =
    "https://acme-v02.api.letsencrypt.org/directory";
inline constexpr std::string_view kStagingAcmeDirectory =
    "https://acme-staging-v02.api.letsencrypt.org/directory";

// The settings of one server. Field names match the record's documentation; texts are cut
// to their read size at load.
struct ServerSettings {
    std::string servername;
    std::string wwwroot;
    std::string defaultDocument;
    int32_t port = 0;
    bool logs = false;
    bool list = false;
    bool cgi = false;
    bool authRequired = false;
    bool searchEnabled = false;
    bool homeEnabled = false;
    std::string homePageLocation;
    bool favoritesEnabled = false;
    std::string favoritesLocation;
    bool userListEnabled = false;
    bool universalNavBarEnabled = false;
    bool uploadEnabled = false;
    int32_t uploadMaxSizeKB = 0;
    std::string uploadSaveLocation;
    bool messageUploadEnabled = false;
    int32_t messageMaxSizeKB = 0;
    bool messageIsXML = false;
    std::string messageSaveLocation;
    bool postEnabled = false;
    int32_t postMaxSizeKB = 0;
    std::string postSaveLocation;
    bool redirectorEnabled = false;
    std::string ftpSiteName;
    std::string ftpUserID;
    std::string ftpPassword;
    std::string ftpPath;
    std::string ftpUploadFileName;
    bool useJavaScriptRedirector = false;
    std::string vpPageProperties;
    std::string vpTableProperties;
    std::string vpTHRowProperties;
    std::string vpOddRowProperties;
    std::string vpEvenRowProperties;
    std::string vpNavBarBtnProperties;
    std::string vpNavBarBtnImgProperties;
    bool vpEnablePageHeaders = false;
    // HTTPS: the port (0 = off), the certificate chain file and the key file (PEM; a relative
    // path is taken from the working directory). Saved only when one of them is set.
    int32_t tlsPort = 0;
    std::string tlsCertificate;
    std::string tlsKey;
    // While HTTPS runs, plain requests of clients other than this machine's own are sent to
    // the same path over HTTPS. Saved only when set.
    bool httpsOnly = false;
    // Every connection to the server's listeners starts with a PROXY protocol header (version
    // 1 or 2) naming the client a load balancer relays; one without it is closed. Saved only
    // when set; read when the server starts.
    bool proxyProtocol = false;
    // The user list is shown to every visitor, not only to this machine's own clients and the
    // administrator. Saved only when set.
    bool userListPublic = false;
    // The most rows one search lists; a number below 1 reads as the default. Saved only when
    // it is not the default.
    int32_t searchMaxResults = kDefaultSearchMaxResults;
    // The largest upload body the modern look takes, in units of 1,000,000 bytes (0: no
    // limit); it then stands for uploadMaxSizeKB. Negative: no such key (the classic limit
    // holds in both looks). Saved only when set.
    int32_t uploadMaxSizeMB = kNoUploadMaxSizeMB;
    // "webdav": N, R or W (off, read-only, read-write); anything else reads as off. Saved only
    // when on.
    WebDavMode webdav = WebDavMode::kOff;
    // "webdavPath": the URL prefix the network drive serves, "/" for the whole site; it always
    // starts and ends with "/". Saved only when webdav is on.
    std::string webdavPath{kDefaultWebDavPath};
    // Certificates obtained by the server itself: "acmeDomains" the names (blanks or commas
    // between; only well-formed DNS names are kept, in small letters), "acmeEmail" the
    // account's contact, "acmeDirectory" the authority's directory, "acmeAccept" the owner's
    // acceptance of its terms, "acmeCaFile" a CA certificate the directory's HTTPS is checked
    // against instead of the system's (a private authority). Saved only when names are set.
    std::vector<std::string> acmeDomains;
    std::string acmeEmail;
    std::string acmeDirectory{kDefaultAcmeDirectory};
    bool acmeAccept = false;
    std::string acmeCaFile;
    // "acmeChallenge": "http-01" or "tls-alpn-01"; empty (the default) picks one, see
    // AcmeChallengeOf. Saved only when set.
    std::string acmeChallenge;

    // The server gets its certificate by itself: names are set and no certificate file is.
    bool ObtainsCertificate() const { return !acmeDomains.empty() && tlsCertificate.empty(); }
};

// The names of an "acmeDomains" value that are DNS names (letters, digits and "-" in labels
// of at most 63 characters, at most 253 in all), in small letters, each once; `*rejected`
// (when not null) receives the others.
std::vector<std::string> ParseAcmeDomains(std::string_view value,
                                          std::vector<std::string>* rejected = nullptr);
// Where an obtained certificate lives: "certificates/NAME/" in the program directory, NAME
// the first of the server's names, with "fullchain.pem" and "privkey.pem" in it. The account
// key is "certificates/.account/key.pem": no DNS name starts with a dot.
std::string AcmeCertificateFolder(std::string_view programDirectory, std::string_view name);
std::string AcmeAccountKeyFile(std::string_view programDirectory);
// How the authority checks that the server holds its names: a file fetched over HTTP on port
// 80 (http-01) or a handshake on the HTTPS port 443 (tls-alpn-01). Unless "acmeChallenge"
// names one, tls-alpn-01 when the server listens for HTTPS on 443 but not for HTTP on 80,
// since the authority then cannot reach an HTTP answer; http-01 otherwise.
enum class AcmeChallenge { kHttp01, kTlsAlpn01 };
AcmeChallenge AcmeChallengeOf(const ServerSettings& settings);
// The certificate chain and key files HTTPS loads: the configured ones, or the obtained ones
// when the server gets its certificate by itself.
struct TlsFiles {
    std::string chain;
    std::string key;
};
TlsFiles TlsFilesOf(const ServerSettings& settings, std::string_view programDirectory);

// "N", "R" or "W" for a mode, and the mode a configuration value names (off for anything but
// R or W, in either letter case).
std::string_view WebDavModeLetter(WebDavMode mode);
WebDavMode ParseWebDavMode(std::string_view value);
// A "webdavPath" value as the server uses it: starting and ending with "/", no "." or ".."
// segment, no doubled "/"; "/" for anything unusable.
std::string NormalizeWebDavPath(std::string_view value);
// Whether a value names a prefix NormalizeWebDavPath keeps, rather than one it replaces with
// "/" for being unusable ("/a/../b", "/a?b"); "/" itself and "" are the whole site.
bool IsWebDavPath(std::string_view value);

// The ports a server may listen on, plain or HTTPS.
inline constexpr int32_t kLowestPort = 1;
inline constexpr int32_t kHighestPort = 65535;
inline bool IsPortNumber(long port) { return port >= kLowestPort && port <= kHighestPort; }
// "Port 99999 is not a port number (1-65535).", with `port` as the owner wrote it.
std::string NotAPortMessage(std::string_view port);
// Why a server cannot start with these settings: its port, or its HTTPS port when HTTPS is
// on (not 0), is no port number. Nothing when both are usable.
std::optional<std::string> PortProblem(const ServerSettings& settings);

// The linger time of a finished connection, in seconds: "Request" "goodByeKiss" is kept in
// this range (a value outside it is taken as the nearest end).
inline constexpr int32_t kMaxGoodByeKiss = 65535;

// A document root, or a virtual directory's target, that files may be served from: an
// absolute path. An empty or relative one would resolve against the working directory,
// where the configuration file and its passwords are.
inline bool IsUsableRoot(std::string_view path) { return !path.empty() && path.front() == '/'; }

// The one configuration record: both servers' settings and the global items.
struct ServerConfig {
    ServerSettings servers[2];  // [0] is Server 1, [1] is Server 2
    std::string adminid;
    std::string adminpw;
    bool iniMissing = false;
    // Load found the built-in mapping tables missing and could not write them: the file is
    // not writable, and the owner is told at start.
    bool tablesUnwritable = false;
    std::string iniPath;
    bool secondPortEnabled = false;
    int32_t goodByeKiss = 0;   // 0 to kMaxGoodByeKiss
    int32_t cgiTimeLimit = 0;  // "Request" "cgiTimeLimit": seconds a CGI script may run
    // "Request" "keepAliveSeconds": how long an HTTP/1.1 connection may wait for its next
    // request (0: one request per connection); "keepAliveRequests": the most requests one
    // connection carries.
    int32_t keepAliveSeconds = 0;
    int32_t keepAliveRequests = 0;
    // "Request" "cgiKeepHeaderCase": scripts see header values with the letter case the client
    // sent (session cookies, form boundaries), not upper-cased.
    bool cgiKeepHeaderCase = false;
    // "Config" "adminHosts": names besides the machine's own that a request for the
    // administration pages may give as its Host (comma or space separated). Read only; the
    // file keeps what the owner wrote.
    std::string adminHosts;
    // "Config" "trustedProxies": addresses and CIDR ranges of the proxies whose forwarding
    // headers name the client (comma or space separated); none by default. Read only, as
    // adminHosts is. Entries that are no address or range are left out and named here.
    platform::AddressRanges trustedProxies;
    std::vector<std::string> trustedProxiesRejected;
    // "Config" "look": "modern" draws the generated pages as HTML5 in UTF-8 with a viewport
    // and the built-in stylesheet; anything else, or no key, keeps the classic pages byte for
    // byte. Saved only when modern.
    bool modernLook = false;
    std::string programDirectory;  // ends in "/"

    // Reads the configuration file of `programDirectory` in the documented order, seeding
    // the built-in MIME and script tables when the file has none. When the file is missing
    // the record keeps its zero values and `iniMissing` is set.
    static ServerConfig Load(const std::string& programDirectory);

    // Writes every stored key (in one atomic rewrite that keeps unknown keys, comments and
    // the mapping sections) and leaves the file readable by its owner only (mode 0600).
    // Returns false when the file could not be written; `*error`, when not null, then names
    // the call that failed and the error.
    [[nodiscard]] bool Save(std::string* error = nullptr) const;

    const ServerSettings& server1() const { return servers[0]; }
    const ServerSettings& server2() const { return servers[1]; }
};

// The process-wide holder of the configuration record. Workers take an immutable snapshot
// once per request; the administration pages install a changed copy whole, so a request
// never sees a half-made change. `mutex_` guards only the pointer; `changeMutex_` puts the
// changes in a row, so that none starts from a record another is about to replace.
class SharedConfig {
  public:
    explicit SharedConfig(ServerConfig initial)
        : current_(std::make_shared<const ServerConfig>(std::move(initial))) {}

    std::shared_ptr<const ServerConfig> Snapshot() const {
        std::lock_guard lock(mutex_);
        return current_;
    }

    void Replace(ServerConfig next) {
        std::lock_guard changing(changeMutex_);
        Install(std::move(next));
    }

    // Applies `change` to a copy of the current record and installs the copy whole. Readers
    // see the old record or the new one; two changes at once both take effect, one after
    // the other. `change` runs under the change lock, so what it writes out (a save) lands
    // in the order of the changes. Returns the installed record.
    std::shared_ptr<const ServerConfig> Update(const std::function<void(ServerConfig&)>& change) {
        std::lock_guard changing(changeMutex_);
        ServerConfig next = *Snapshot();
        change(next);
        return Install(std::move(next));
    }

    // Runs `work` with the current record under the change lock, changing nothing: a write
    // to the configuration file (a mapping row, a save) falls in line with the changes'
    // saves.
    void WithChangeLock(const std::function<void(const ServerConfig&)>& work) {
        std::lock_guard changing(changeMutex_);
        work(*Snapshot());
    }

    // Grows with every Replace. A reader that keeps a snapshot takes a new one only when
    // this has changed since, which saves every request the lock.
    uint64_t version() const { return version_.load(std::memory_order_acquire); }

  private:
    std::shared_ptr<const ServerConfig> Install(ServerConfig next) {
        auto fresh = std::make_shared<const ServerConfig>(std::move(next));
        std::lock_guard lock(mutex_);
        current_ = fresh;
        version_.fetch_add(1, std::memory_order_release);
        return fresh;
    }

    std::mutex changeMutex_;
    mutable std::mutex mutex_;
    std::shared_ptr<const ServerConfig> current_;
    std::atomic<uint64_t> version_{0};
};

}  // namespace config
