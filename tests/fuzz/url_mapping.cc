// Fuzz target: a request URL decoded and mapped to a local path as a GET of a file or a script
// is; the path lies under the document root or the virtual directory it names (a script's
// under the root's cgi-bin), or it is refused.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/mapping_tables.h"
#include "platform/text.h"
#include "site/app_connection.h"
#include "site/cgi.h"
#include "tests/fuzz/fuzz_engine.h"
#include "tests/support/temp_dir.h"

namespace {

// Files and scripts are mapped here; the administration pages are left out, and a script is
// only located, never run.
class FileConnection : public site::AppConnection {
  public:
    void HandleAdmin(std::string) override {}
    bool RunCgi(std::string scriptName) override {
        scriptPath = site::CgiScriptPath(Settings()->wwwroot, scriptName);
        return false;
    }
    std::optional<std::string> scriptPath;
};

struct Site {
    testing_support::TempDir dir{"vantry-fuzz-url"};
    std::string programDirectory = dir.path() + "/program/";
    std::string root = dir.path() + "/www";
    std::string docs = dir.path() + "/docs";
    Site() {
        for (const std::string& d : {programDirectory, root + "/sub/dir", docs + "/inner"}) {
            std::filesystem::create_directories(d);
        }
        testing_support::WriteFile(root + "/index.html", "<p>home</p>");
        testing_support::WriteFile(docs + "/readme.txt", "docs");
        if (!config::SetVirtualDirectory(programDirectory, "docs", docs) ||
            !config::SetVirtualDirectory(programDirectory, "sub/dir", docs + "/inner")) {
            std::abort();
        }
    }
};

// True when `path`, taken as the system would, stays inside `directory`.
bool Inside(const std::string& path, const std::string& directory) {
    if (path.rfind(directory + "/", 0) != 0 && path != directory) return false;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    return normal.rfind(directory + "/", 0) == 0 || normal == directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Site site;
    static fuzz::Engine engine;
    static bool configured = [] {
        engine.config.Update([](config::ServerConfig& c) {
            c.programDirectory = site.programDirectory;
            c.servers[0].wwwroot = site.root;
            c.servers[0].cgi = true;
            c.servers[0].authRequired = false;
        });
        return true;
    }();
    (void)configured;
    if (size > 4096) return 0;
    std::string requestUrl(reinterpret_cast<const char*>(data), size);
    std::string decoded = requestUrl;
    platform::UrlDecode(decoded);
    const std::string u = site::RoutePath(decoded);
    if (platform::StartsWithNoCase(u, "admin") || platform::StartsWithNoCase(u, "VNT")) return 0;

    FileConnection connection;
    connection.server = &engine.server;
    connection.RefreshConfig();
    connection.OnGet(requestUrl);
    if (connection.scriptPath) {
        FUZZ_CHECK(connection.scriptPath->find('\0') == std::string::npos);
        FUZZ_CHECK(Inside(*connection.scriptPath, site.root + "/cgi-bin"));
    }
    const http::Response& answer = connection.response();
    if (answer.kind() != http::Response::Kind::kFile &&
        answer.kind() != http::Response::Kind::kListing) {
        return 0;
    }
    const std::string& path = answer.path();
    FUZZ_CHECK(path.find('\0') == std::string::npos);
    FUZZ_CHECK(Inside(path, site.root) || Inside(path, site.docs));
    return 0;
}
