// The process-wide table of recent visitors: who came from where, how often and when last.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/ip_address.h"

namespace apps {

// The table holds this many visitors; a newcomer to a full table drops the older half.
inline constexpr size_t kVisitorCapacity = 200;
// The longest user name kept; a longer one is cut.
inline constexpr size_t kMaxVisitorNameLength = 63;

struct Visitor {
    platform::IpAddress address;
    platform::CalendarTime lastAccess;  // local time of the latest visit
    uint32_t hits = 0;
    std::string userName;  // the login name, or empty for an anonymous visit
};

class VisitorTable {
  public:
    // Counts a visit on the first entry (in table order) whose name equals `userName`
    // without regard to case, which then moves to `address`, or else whose address is
    // `address`, which then takes `userName`. Without such an entry a new one is added.
    void RecordVisit(const platform::IpAddress& address, std::string_view userName);

    size_t VisitorCount() const;
    // A copy of the entry at `index`; std::nullopt past the entries in use.
    std::optional<Visitor> CopyVisitor(size_t index) const;

  private:
    // Guards entries_ and count_; held only for one update or one copy.
    mutable std::mutex mutex_;
    std::array<Visitor, kVisitorCapacity> entries_;
    size_t count_ = 0;  // entries 0 .. count_ - 1 are in use, in order of first visit
};

// The one table of the program, shared by both servers.
VisitorTable& Visitors();

// Records a visit in the program's table.
void RecordVisit(const platform::IpAddress& address, std::string_view userName);

}  // namespace apps
