// A folder as a ZIP archive, streamed as its files are read: stored entries, so the server
// spends no time compressing and the archive's bytes go out while the next file is read.
// What the archive holds is what the listing shows and nothing more: hidden entries, the
// scripts directory and anything a link leads to outside the served root stay out.
#include "site/folder_zip.h"

#include <algorithm>
#include <set>

#include "http/http_date.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/program.h"
#include "platform/text.h"
#include "platform/version.h"
#include "platform/zip_writer.h"
#include "site/app_connection.h"
#include "site/cgi.h"

namespace site {
namespace {

// Folders deeper than this are left out: no real tree is, and a walk must end.
constexpr int kMaxDepth = 64;
constexpr std::string_view kRootArchiveName = "files";

// True when `path` is `root` or lies below it (both resolved, without a trailing "/").
bool LiesIn(const std::string& path, const std::string& root) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// Adds the entries of one folder, and of its folders in turn.
class TreeZip {
  public:
    TreeZip(platform::ZipWriter& zip, const config::ServerConfig& config, std::string root)
        : zip_(zip), config_(config), root_(std::move(root)) {}

    // Adds `names` of `directory` (all of its visible entries when empty) under `prefix`;
    // false once the client has gone.
    bool AddFolder(const std::string& directory, const std::string& prefix,
                   const std::vector<std::string>& names, int depth) {
        std::optional<platform::FileIdentity> identity = platform::DirectoryIdentity(directory);
        // A link back up the tree would make the walk endless.
        if (!identity || depth > kMaxDepth || !onPath_.insert(*identity).second) return true;
        std::vector<platform::DirectoryEntry> entries =
            platform::ListDirectory(directory).value_or(std::vector<platform::DirectoryEntry>{});
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        for (const platform::DirectoryEntry& entry : entries) {
            if (entry.hidden || entry.name == "." || entry.name == "..") continue;
            if (!names.empty() &&
                std::find(names.begin(), names.end(), entry.name) == names.end()) {
                continue;
            }
            if (!AddEntry(directory + entry.name, prefix + entry.name, entry, depth)) return false;
        }
        onPath_.erase(*identity);
        return zip_.ok();
    }

  private:
    bool AddEntry(const std::string& path, const std::string& name,
                  const platform::DirectoryEntry& entry, int depth) {
        // Where links lead: only inside the served root.
        const std::optional<std::string> real = platform::RealPath(path);
        if (!real || !LiesIn(*real, root_)) return true;
        if (entry.isDirectory) {
            // A link back up the tree is left out, not followed for ever.
            if (onPath_.count(entry.identity) > 0 || IsScriptDirectory(config_, path)) return true;
            if (!zip_.AddDirectory(name, entry.modified)) return false;
            return AddFolder(path + "/", name + "/", {}, depth + 1);
        }
        if (IsScriptFile(config_, path)) return true;
        return zip_.AddFileAt(name, path);
    }

    platform::ZipWriter& zip_;
    const config::ServerConfig& config_;
    const std::string root_;
    std::set<platform::FileIdentity> onPath_;
};

}  // namespace

bool AsksForZip(std::string_view target) {
    const auto parameters = http::QueryParameters(target);
    return std::any_of(parameters.begin(), parameters.end(),
                       [](const auto& parameter) { return parameter.first == "zip"; });
}

std::vector<std::string> TickedNames(std::string_view target) {
    std::vector<std::string> names;
    for (auto& [name, value] : http::QueryParameters(target)) {
        if (name == "n") names.push_back(std::move(value));
    }
    return names;
}

std::string ZipDisposition(std::string_view folderName) {
    const std::string file = std::string(folderName) + ".zip";
    std::string plain;
    std::string encoded;
    constexpr std::string_view kAttributeCharacters = "!#$&+-.^_`|~";
    for (const char c : file) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                                  (byte >= 'a' && byte <= 'z');
        plain.push_back(byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\' ? '_' : c);
        if (alphanumeric || kAttributeCharacters.find(c) != std::string_view::npos) {
            encoded.push_back(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 15]);
        }
    }
    return "Content-Disposition: attachment; filename=\"" + plain + "\"; filename*=UTF-8''" +
           encoded;
}

void AppConnection::SendFolderZip(const std::string& directory) {
    // The names ticked must each be a plain entry of this folder.
    std::vector<std::string> names = TickedNames(request().target());
    for (const std::string& name : names) {
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
            name.find('\0') != std::string::npos || platform::IsHiddenName(name)) {
            Answer(http::Response::Error(400));
            return;
        }
    }
    // The folder itself must lie in the served root, and be no scripts directory.
    const std::optional<std::string> root = platform::RealPath(servedRoot);
    const std::optional<std::string> real = platform::RealPath(directory);
    if (!root || !real || !LiesIn(*real, *root)) {
        Answer(http::Response::Error(403));
        return;
    }
    if (IsScriptDirectory(Config(), directory)) {
        Answer(http::Response::Error(403));
        return;
    }

    // The archive is named after the folder as the address names it.
    // The folder as the address names it ("photos/2026/"); the download page names the root.
    std::string_view address = std::string_view(routePath).substr(0, routePath.find('?'));
    if (address.empty() || address.back() != '/') address = "/";
    address.remove_suffix(1);
    address = address.substr(address.rfind('/') + 1);
    if (address.empty()) address = kRootArchiveName;

    const std::string date = http::FormatHttpDate(platform::NowUtc());
    SendText("HTTP/1.0 200 OK\r\nServer: " VANTRY_SERVER_HEADER "\r\nDate: " + date +
             "\r\nContent-Type: application/zip\r\n" + ZipDisposition(address) +
             "\r\nX-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\n\r\n");
    Answer(http::Response::Sent(200));
    if (request().IsHead()) return;

    platform::ZipWriter zip([this](std::string_view piece) {
        return SendToClient(piece.data(), piece.size(), http::kIdleLimitSeconds * 1000);
    });
    zip.SendFilesBy([this](int fd, uint64_t offset, uint64_t count) {
        return SendFileBody(fd, offset, count);
    });
    TreeZip tree(zip, Config(), *root);
    if (tree.AddFolder(directory, "", names, 0)) zip.Finish();
}

}  // namespace site
