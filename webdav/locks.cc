// The lock table: a short list under one mutex, searched by path.
#include "webdav/locks.h"

#include <algorithm>

namespace webdav {
namespace {

bool Covers(const Lock& lock, std::string_view path) {
    return lock.path == path || (lock.infinite && IsWithin(path, lock.path));
}

bool Submitted(const std::vector<std::string>& tokens, std::string_view token) {
    return std::find(tokens.begin(), tokens.end(), token) != tokens.end();
}

std::string_view ParentOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos || slash == 0 ? path.substr(0, slash == 0 ? 1 : 0)
                                                         : path.substr(0, slash);
}

}  // namespace

bool IsWithin(std::string_view path, std::string_view ancestor) {
    if (path == ancestor) return true;
    if (ancestor == "/") return !path.empty() && path.front() == '/';
    return path.size() > ancestor.size() && path.substr(0, ancestor.size()) == ancestor &&
           path[ancestor.size()] == '/';
}

LockTable& LockTable::Shared() {
    static LockTable* table = new LockTable;  // never destroyed: workers may outlive main
    return *table;
}

void LockTable::DropExpired(uint64_t nowMs) {
    std::erase_if(locks_, [nowMs](const Lock& lock) { return lock.expiresMs <= nowMs; });
}

std::optional<Lock> LockTable::Acquire(Lock wanted, uint64_t nowMs) {
    std::lock_guard guard(mutex_);
    DropExpired(nowMs);
    for (const Lock& held : locks_) {
        const bool overlaps =
            Covers(held, wanted.path) || (wanted.infinite && IsWithin(held.path, wanted.path));
        if (overlaps && (held.exclusive || wanted.exclusive)) return std::nullopt;
    }
    wanted.expiresMs = nowMs + uint64_t{wanted.timeoutSeconds} * 1000;
    locks_.push_back(wanted);
    return wanted;
}

std::optional<Lock> LockTable::Refresh(std::string_view path, std::string_view token,
                                       uint32_t timeoutSeconds, uint64_t nowMs) {
    std::lock_guard guard(mutex_);
    DropExpired(nowMs);
    for (Lock& held : locks_) {
        if (held.token == token && Covers(held, path)) {
            held.timeoutSeconds = timeoutSeconds;
            held.expiresMs = nowMs + uint64_t{timeoutSeconds} * 1000;
            return held;
        }
    }
    return std::nullopt;
}

bool LockTable::Release(std::string_view path, std::string_view token, uint64_t nowMs) {
    std::lock_guard guard(mutex_);
    DropExpired(nowMs);
    const size_t before = locks_.size();
    std::erase_if(locks_,
                  [&](const Lock& held) { return held.token == token && Covers(held, path); });
    return locks_.size() != before;
}

std::vector<Lock> LockTable::Covering(std::string_view path, uint64_t nowMs) {
    std::lock_guard guard(mutex_);
    DropExpired(nowMs);
    std::vector<Lock> found;
    for (const Lock& held : locks_) {
        if (Covers(held, path)) found.push_back(held);
    }
    return found;
}

bool LockTable::Permits(std::string_view path, Change change,
                        const std::vector<std::string>& tokens, uint64_t nowMs) {
    std::lock_guard guard(mutex_);
    DropExpired(nowMs);
    const std::string_view parent = ParentOf(path);
    for (const Lock& held : locks_) {
        bool touched = Covers(held, path);
        if (change != Change::kContent && held.path == parent) touched = true;
        if (change == Change::kTree && IsWithin(held.path, path)) touched = true;
        if (touched && !Submitted(tokens, held.token)) return false;
    }
    return true;
}

void LockTable::ForgetTree(std::string_view path) {
    std::lock_guard guard(mutex_);
    std::erase_if(locks_, [path](const Lock& held) { return IsWithin(held.path, path); });
}

}  // namespace webdav
