// The server's network drive as the site publishes it: which URLs it takes, who may read and
// write, which local folders it reaches, and what stays out of its reach (hidden entries, the
// scripts of cgi-bin, the program's own folder).
#include <stdlib.h>

#include <algorithm>
#include <memory>

#include "apps/visitor_table.h"
#include "config/mapping_tables.h"
#include "platform/directory.h"
#include "site/app_connection.h"
#include "site/cgi.h"
#include "webdav/drive.h"
#include "webdav/locks.h"

namespace site {
namespace {

using webdav::Access;
using webdav::IsWithin;

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
    return real ? std::string(real.get()) : std::string();
}

// The folders the drive reaches, with the site's rules for each.
class SitePublication : public webdav::Publication {
  public:
    SitePublication(AppConnection& c, std::string_view prefix)
        : c_(c), prefixUrl_(prefix.substr(1)) {
        const config::ServerConfig& config = c.Config();
        programFolder_ = RealPath(config.programDirectory);
        for (int i = 0; i < 2; ++i) {
            const config::ServerSettings& settings = config.servers[i];
            if (!config::IsUsableRoot(settings.wwwroot)) continue;
            std::string scripts = RealPath(CgiDirectory(settings.wwwroot));
            if (scripts.empty()) continue;
            scriptFolders_.push_back(scripts);
            const bool running = settings.cgi && (i == 0 || config.secondPortEnabled);
            if (running) runningScriptFolders_.push_back(std::move(scripts));
        }
        if (const config::ServerSettings* settings = c.Settings();
            settings != nullptr && config::IsUsableRoot(settings->wwwroot)) {
            root_ = settings->wwwroot;
            while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
            if (std::string real = RealPath(root_); !real.empty()) publishedRoots_.push_back(real);
        }
        for (const std::string& key : config::ListVirtualDirectory(config.programDirectory)) {
            std::string value = config::GetVirtualDirectory(config.programDirectory, key);
            if (!config::IsUsableRoot(value)) continue;
            virtualFolders_.emplace_back(key, value);
            if (std::string real = RealPath(value); !real.empty()) publishedRoots_.push_back(real);
        }
    }

    std::optional<std::string> LocalPath(std::string_view relative) const override {
        const std::string url = Url(relative);
        // The longest virtual directory the path lies in; the root otherwise.
        const std::pair<std::string, std::string>* best = nullptr;
        for (const auto& folder : virtualFolders_) {
            if (IsWithin(url, folder.first) &&
                (best == nullptr || folder.first.size() > best->first.size())) {
                best = &folder;
            }
        }
        if (best != nullptr) {
            std::string path = best->second;
            while (path.size() > 1 && path.back() == '/') path.pop_back();
            path.append(url.substr(best->first.size()));
            return path;
        }
        if (root_.empty()) return std::nullopt;
        std::string path = root_;
        if (!url.empty()) path.append("/").append(url);
        return path;
    }

    std::vector<std::string> ExtraFolders(std::string_view relative) const override {
        const std::string url = Url(relative);
        std::vector<std::string> names;
        for (const auto& folder : virtualFolders_) {
            std::string_view key = folder.first;
            if (!url.empty()) {
                if (key.size() <= url.size() + 1 || key.substr(0, url.size()) != url ||
                    key[url.size()] != '/') {
                    continue;
                }
                key.remove_prefix(url.size() + 1);
            }
            if (!key.empty() && key.find('/') == std::string_view::npos &&
                !platform::IsHiddenName(key)) {
                names.emplace_back(key);
            }
        }
        return names;
    }

    std::string ContentType(std::string_view name) const override {
        const size_t dot = name.find('.');
        if (dot == std::string_view::npos) return "application/octet-stream";
        std::string line = c_.ContentTypeFor(name.substr(dot + 1));
        constexpr std::string_view kField = "Content-Type: ";
        if (line.compare(0, kField.size(), kField) == 0) line.erase(0, kField.size());
        return line;
    }

    int Refusal(const std::string& canonical, Access access) const override {
        // The program's folder holds the configuration and its passwords: neither it nor a
        // file of its own is ever there, unless through a published folder inside it.
        if (InProgramFolder(canonical)) return 404;
        if (access == Access::kRead) {
            for (const std::string& scripts : runningScriptFolders_) {
                if (IsWithin(canonical, scripts)) return 403;
            }
            return 0;
        }
        // Scripts are never written, nor any folder of them, nor planted where they would run.
        for (const std::string& scripts : scriptFolders_) {
            if (IsWithin(canonical, scripts)) return 403;
            if (access == Access::kTree && IsWithin(scripts, canonical)) return 403;
        }
        if (access == Access::kTree && !programFolder_.empty() &&
            IsWithin(programFolder_, canonical)) {
            return 403;
        }
        // A link may lead out of the published folders: what lies there is read, never written.
        const bool published =
            std::any_of(publishedRoots_.begin(), publishedRoots_.end(),
                        [&](const std::string& root) { return IsWithin(canonical, root); });
        return published ? 0 : 403;
    }

  private:
    bool InProgramFolder(const std::string& canonical) const {
        if (programFolder_.empty() || !IsWithin(canonical, programFolder_)) return false;
        for (const std::string& root : publishedRoots_) {
            if (root != programFolder_ && IsWithin(root, programFolder_) &&
                IsWithin(canonical, root)) {
                return false;
            }
        }
        const size_t slash = canonical.rfind('/');
        const std::string_view folder =
            std::string_view(canonical).substr(0, slash == 0 ? 1 : slash);
        return canonical == programFolder_ || folder == programFolder_;
    }

    // The site's URL (without its leading "/") of a path under the drive.
    std::string Url(std::string_view relative) const {
        std::string url = prefixUrl_;
        url.append(relative);
        while (!url.empty() && url.back() == '/') url.pop_back();
        return url;
    }

    AppConnection& c_;
    std::string prefixUrl_;  // the prefix without its leading "/"; ends in "/" unless empty
    std::string root_;
    std::string programFolder_;
    std::vector<std::string> scriptFolders_;
    std::vector<std::string> runningScriptFolders_;
    std::vector<std::string> publishedRoots_;
    std::vector<std::pair<std::string, std::string>> virtualFolders_;
};

// The path of the request's target, decoded, without its query; std::nullopt for one holding
// a zero byte.
std::optional<std::string> DecodedPath(std::string_view target) {
    std::string path(target.substr(0, target.find('?')));
    if (size_t scheme = path.find("://"); scheme != std::string::npos && path[0] != '/') {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    platform::UrlDecode(path);
    if (path.find('\0') != std::string::npos) return std::nullopt;
    if (path.empty() || path[0] != '/') path.insert(0, "/");
    return path;
}

}  // namespace

bool AppConnection::RoutesDrive() {
    const config::ServerSettings* settings = Settings();
    const std::string_view method = request().method();
    if (settings == nullptr || settings->webdav == config::WebDavMode::kOff ||
        !webdav::IsDriveMethod(method)) {
        return false;
    }
    const bool writable = settings->webdav == config::WebDavMode::kReadWrite;
    if (method == "OPTIONS") {
        webdav::AnswerDriveOptions(*this, writable);
        return true;
    }
    // The site's own pages are no part of the drive.
    switch (RouteOf(routePath)) {
        case Route::kAdmin:
        case Route::kDownloadPage:
        case Route::kFavorites:
        case Route::kApplication:
            return false;
        case Route::kScript:
        case Route::kFile:
            break;
    }
    std::optional<std::string> path = DecodedPath(request().target());
    if (!path) {
        Answer(http::Response::Error(400));
        return true;
    }
    const std::string& prefix = settings->webdavPath;
    // Segments as the drive names them: no empty or "." ones, and no way up.
    std::string normal = "/";
    for (size_t start = 1; start <= path->size();) {
        const size_t end = std::min(path->find('/', start), path->size());
        const std::string_view segment = std::string_view(*path).substr(start, end - start);
        if (segment == "..") {
            Answer(http::Response::Error(403));
            return true;
        }
        if (!segment.empty() && segment != ".") normal.append(segment).push_back('/');
        start = end + 1;
    }
    const bool insideDrive = normal.compare(0, prefix.size(), prefix) == 0;
    const bool aboveDrive = !insideDrive && prefix.compare(0, normal.size(), normal) == 0;
    if (!insideDrive && !(aboveDrive && method == "PROPFIND")) return false;

    // A plain request of a server that takes only HTTPS from other machines is refused: its
    // login would cross the network readable.
    if (RedirectsToHttps()) {
        Answer(http::Response::Error(403));
        return true;
    }
    const bool changes = webdav::ChangesDrive(method);
    if (AuthRequiredFor() || (changes && IsRemoteClient())) {
        if (!CheckAuthorization(false)) return true;
    } else {
        apps::RecordVisit(clientAddress, "");
    }
    if (aboveDrive) {
        webdav::AnswerAboveDrive(*this, normal, prefix);
        return true;
    }
    webdav::DriveRequest drive;
    drive.prefix = prefix;
    drive.relative = normal.substr(prefix.size());
    while (!drive.relative.empty() && drive.relative.back() == '/') drive.relative.pop_back();
    drive.writable = writable;
    SitePublication publication(*this, prefix);
    webdav::ServeDrive(*this, publication, drive);
    return true;
}

}  // namespace site
