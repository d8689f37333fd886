// LOCK and UNLOCK: write locks taken, refreshed and given back.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "http/entity_tags.h"
#include "http/http_date.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/open_file.h"
#include "platform/pending_file.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/version.h"
#include "webdav/dead_properties.h"
#include "webdav/exchange.h"
#include "webdav/if_header.h"
#include "webdav/locks.h"
#include "webdav/xml.h"

namespace webdav {

namespace {

using platform::EqualsNoCase;

// Lock timeouts: when the client names none, and the longest granted.
constexpr uint32_t kDefaultLockSeconds = 3600;
constexpr uint32_t kLongestLockSeconds = 7 * 24 * 3600;

std::string NewLockToken() {
    const std::string hex = platform::RandomHexName();
    if (hex.size() != 32) return {};
    return "opaquelocktoken:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" +
           hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" + hex.substr(20);
}

}  // namespace

uint32_t Exchange::RequestedTimeout() const {
    std::optional<std::string_view> header = c_.request().Header("Timeout");
    if (!header) return kDefaultLockSeconds;
    std::string_view list = *header;
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(',', start), list.size());
        const std::string_view item = platform::Trim(list.substr(start, end - start));
        if (EqualsNoCase(item, "Infinite")) return kLongestLockSeconds;
        if (item.size() > 7 && EqualsNoCase(item.substr(0, 7), "Second-")) {
            if (std::optional<uint64_t> seconds = platform::ParseDigits(item.substr(7))) {
                return static_cast<uint32_t>(
                    std::clamp<uint64_t>(*seconds, 1, kLongestLockSeconds));
            }
        }
        start = end + 1;
    }
    return kDefaultLockSeconds;
}

void Exchange::SendLockAnswer(int status, const Lock& lock, bool withTokenHeader) {
    std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:prop "
        "xmlns:D=\"DAV:\"><D:lockdiscovery>";
    AppendActiveLock(lock, &body);
    body.append("</D:lockdiscovery></D:prop>\n");
    std::string lines;
    if (withTokenHeader) lines.append("Lock-Token: <").append(lock.token).append(">\r\n");
    SendStatus(status, lines, body);
}

void Exchange::LockResource() {
    bool answered = false;
    std::optional<XmlElement> body = ReadXmlBody(&answered);
    if (answered) return;
    if (!body) {
        RefreshLock();
        return;
    }
    if (!body->Is(kDavNamespace, "lockinfo")) {
        SendStatus(400);
        return;
    }
    const XmlElement* scope = body->DavChild("lockscope");
    const XmlElement* type = body->DavChild("locktype");
    if (scope == nullptr || type == nullptr || type->DavChild("write") == nullptr) {
        SendStatus(400);
        return;
    }
    Lock wanted;
    wanted.exclusive = scope->DavChild("shared") == nullptr;
    if (const XmlElement* owner = body->DavChild("owner")) {
        wanted.ownerXml = "<D:owner>" + owner->SerializeContent() + "</D:owner>";
    }
    wanted.infinite = true;
    if (std::optional<std::string_view> depth = c_.request().Header("Depth")) {
        const std::string_view value = platform::Trim(*depth);
        if (value == "0") {
            wanted.infinite = false;
        } else if (!EqualsNoCase(value, "infinity")) {
            SendStatus(400);
            return;
        }
    }
    std::optional<Entry> entry = Look(local_);
    if ((!entry && !ParentExists(local_)) || !MayReach(local_, Access::kWrite)) return;
    if (!IfHeaderHolds()) return;
    wanted.token = NewLockToken();
    if (wanted.token.empty()) {
        SendStatus(500);
        return;
    }
    wanted.path = local_;
    wanted.href = HrefFor(request_.relative, entry && entry->IsFolder());
    wanted.timeoutSeconds = RequestedTimeout();
    // A lock on an unmapped name makes an empty file of it, as clients expect before they
    // write the file under their lock.
    if (!entry) {
        std::optional<std::vector<std::string>> tokens = SubmittedTokens();
        if (!tokens) return;
        if (!LockTable::Shared().Permits(local_, Change::kMembership, *tokens, now_)) {
            SendError(423, "lock-token-submitted");
            return;
        }
    }
    std::optional<Lock> granted = LockTable::Shared().Acquire(std::move(wanted), now_);
    if (!granted) {
        SendError(423, "no-conflicting-lock");
        return;
    }
    if (!entry) {
        platform::UniqueFd created(
            ::open(local_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!created && errno != EEXIST) {
            LockTable::Shared().Release(local_, granted->token, now_);
            SendStatus(errno == ENOSPC ? 507 : 403);
            return;
        }
    }
    SendLockAnswer(entry ? 200 : 201, *granted, true);
}

void Exchange::RefreshLock() {
    std::optional<std::vector<std::string>> tokens = SubmittedTokens();
    if (!tokens) return;
    for (const std::string& token : *tokens) {
        if (std::optional<Lock> refreshed =
                LockTable::Shared().Refresh(local_, token, RequestedTimeout(), now_)) {
            SendLockAnswer(200, *refreshed, false);
            return;
        }
    }
    SendError(tokens->empty() ? 400 : 412, "lock-token-matches-request-uri");
}

void Exchange::Unlock() {
    std::optional<std::string_view> header = c_.request().Header("Lock-Token");
    std::string_view token = header ? platform::Trim(*header) : std::string_view();
    if (token.size() < 2 || token.front() != '<' || token.back() != '>') {
        SendStatus(400);
        return;
    }
    token = token.substr(1, token.size() - 2);
    if (!LockTable::Shared().Release(local_, token, now_)) {
        SendError(409, "lock-token-matches-request-uri");
        return;
    }
    SendStatus(204);
}

}  // namespace webdav
