// The visitor table: matching a visit to an entry, adding and pruning entries.
#include "apps/visitor_table.h"

#include <algorithm>

#include "platform/text.h"

namespace apps {
namespace {

// A full table keeps its newer half: entries from here on move to the front.
constexpr size_t kKeptOnPrune = kVisitorCapacity / 2;

}  // namespace

void VisitorTable::RecordVisit(const platform::IpAddress& address, std::string_view userName) {
    // The name is cut before it is compared, so an over-long name finds the entry it made.
    userName = userName.substr(0, std::min(userName.size(), kMaxVisitorNameLength));
    platform::CalendarTime now = platform::LocalNow();

    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < count_; ++i) {
        Visitor& entry = entries_[i];
        if (platform::EqualsNoCase(entry.userName, userName)) {
            entry.address = address;
        } else if (entry.address == address) {
            entry.userName.assign(userName);
        } else {
            continue;
        }
        entry.lastAccess = now;
        ++entry.hits;
        return;
    }

    if (count_ == kVisitorCapacity) {
        std::move(entries_.begin() + kKeptOnPrune, entries_.end(), entries_.begin());
        count_ = kKeptOnPrune;
    }
    Visitor& added = entries_[count_++];
    added.address = address;
    added.userName.assign(userName);
    added.lastAccess = now;
    added.hits = 1;
}

size_t VisitorTable::VisitorCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

std::optional<Visitor> VisitorTable::CopyVisitor(size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= count_) return std::nullopt;
    return entries_[index];
}

VisitorTable& Visitors() {
    static VisitorTable table;
    return table;
}

void RecordVisit(const platform::IpAddress& address, std::string_view userName) {
    Visitors().RecordVisit(address, userName);
}

}  // namespace apps
