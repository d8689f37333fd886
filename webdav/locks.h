// The write locks of the network drive: exclusive and shared, of one resource or of a whole
// tree, each with a timeout. They are kept in memory: a restart ends them all, as it ends the
// sessions of the clients that hold them.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webdav {

struct Lock {
    std::string token;  // "opaquelocktoken:" and a random UUID
    std::string path;   // the local path locked, without a trailing "/"
    std::string href;   // the URL path the lock was taken on, as answers give it
    bool exclusive = true;
    bool infinite = false;  // the lock covers what lies below as well
    std::string ownerXml;   // the client's DAV:owner element, written back as it came
    uint32_t timeoutSeconds = 0;
    uint64_t expiresMs = 0;  // monotonic milliseconds
};

// What a change does to a path: it writes the resource itself, or it also adds or removes
// the resource as a member of its folder (a depth-0 lock on the folder covers that), or it
// removes or replaces a whole tree (locks below count too).
enum class Change { kContent, kMembership, kTree };

class LockTable {
  public:
    // The table every server shares.
    static LockTable& Shared();

    // Takes a new lock on `path`; std::nullopt when a lock held already conflicts with it.
    std::optional<Lock> Acquire(Lock wanted, uint64_t nowMs);
    // Gives the lock `token` on a path it covers a new timeout; the lock as it stands then.
    std::optional<Lock> Refresh(std::string_view path, std::string_view token,
                                uint32_t timeoutSeconds, uint64_t nowMs);
    // Removes the lock `token` that covers `path`; false when there is none.
    bool Release(std::string_view path, std::string_view token, uint64_t nowMs);
    // The locks that cover `path` (on it, or on a folder above it with infinite depth).
    std::vector<Lock> Covering(std::string_view path, uint64_t nowMs);
    // True when `change` of `path` may go ahead with the lock tokens the client submitted:
    // every lock it touches is one of them.
    bool Permits(std::string_view path, Change change, const std::vector<std::string>& tokens,
                 uint64_t nowMs);
    // A resource moved or removed takes its locks with it: those on `path` and below end.
    void ForgetTree(std::string_view path);

  private:
    void DropExpired(uint64_t nowMs);

    std::mutex mutex_;
    std::vector<Lock> locks_;
};

// True when `path` is `ancestor` or lies below it.
bool IsWithin(std::string_view path, std::string_view ancestor);

}  // namespace webdav
