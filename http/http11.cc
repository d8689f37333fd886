// HTTP/1.1 on a connection: the rules of a request that asks for it, the end of its answer,
// bodies sent in chunks, and the connection kept for the next request.
#include <algorithm>

#include "http/chunked_body.h"
#include "http/connection.h"
#include "http/listener.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace http {
namespace {

using platform::EqualsNoCase;

constexpr int kIdleLimitMs = kIdleLimitSeconds * 1000;
// A body sent in chunks is gathered in memory before its request runs, up to this size.
constexpr uint64_t kMaxChunkedBody = 64 * 1024 * 1024;

// Whether the comma-separated list `value` holds `token`, letter case ignored.
bool HasToken(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        const size_t comma = value.find(',');
        if (EqualsNoCase(platform::Trim(value.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace

void Connection::EndAnswer() {
    if (!framing_.active()) return;
    framed_.clear();
    framing_.End(&framed_);
    if (!framed_.empty()) SendWire(framed_, {}, false);
}

void Connection::BeginHttp11() {
    const std::string_view protocol = request_.protocol();
    // "HTTP/1.1", or a later minor version, which a server of 1.1 answers as 1.1.
    const std::string_view minor =
        protocol.starts_with("HTTP/1.") ? protocol.substr(7) : std::string_view();
    const bool digits = !minor.empty() && minor.size() <= 3 &&
                        minor.find_first_not_of("0123456789") == std::string_view::npos;
    if (!digits || minor.find_first_not_of('0') == std::string_view::npos) {
        return;
    }
    framing_.Begin(request_.IsHead(), requestTime);
    const config::ServerConfig& config = Config();
    bool close = false;
    for (std::string_view value : request_.Headers("Connection")) {
        close = close || HasToken(value, "close");
    }
    keepAlive_ = !close && headComplete_ && config.keepAliveSeconds > 0 &&
                 requestsBefore_ + 1 < static_cast<uint32_t>(config.keepAliveRequests);
    // Once per connection: the last bytes of each answer must not wait for the client's
    // delayed acknowledgement of the ones before.
    if (keepAlive_ && requestsBefore_ == 0) platform::SendWithoutDelay(socket_.get());
    // A body whose end two headers would tell differently could hide a second request from
    // one reader and not from another: such a request is refused, and the connection closed.
    const std::vector<std::string_view> lengths = request_.Headers("Content-Length");
    const bool lengthsDiffer =
        std::any_of(lengths.begin(), lengths.end(),
                    [&lengths](std::string_view length) { return length != lengths.front(); });
    const std::optional<std::string_view> coding = request_.Header("Transfer-Encoding");
    if (lengthsDiffer || (coding && !lengths.empty()) || !request_.Header("Host")) {
        keepAlive_ = false;
        Answer(Response::Error(400));
    } else if (coding && !EqualsNoCase(*coding, "chunked")) {
        // A body in a coding this server cannot read: refused, and the connection closed.
        keepAlive_ = false;
        Answer(Response::Error(501));
    } else if (coding) {
        chunkedBody_ = true;
    }
}

bool Connection::RequestBodyConsumed() const {
    if (!headComplete_) return false;
    if (chunksAsTheyCome_) return bodyComplete_ && !chunksCut_;
    if (bodyStarted_) return bodyComplete_ && bodyHasLength_ && bodyRemaining_ == 0;
    if (!request_.Header("Content-Length")) return true;
    return request_.ContentLength() == uint64_t{0};
}

void Connection::KeepConnection() {
    ReceivedHead kept;
    kept.bytes.assign(input_.get() + inputStart_, inputEnd_ - inputStart_);
    kept.bytes.append(received_, receivedRead_);
    {
        std::lock_guard lock(socketMutex_);
        kept.socket = std::move(socket_);
    }
    kept.address = peerAddress_;
    kept.portNetworkOrder = static_cast<uint16_t>(peerPortNetworkOrder_);
    kept.registered = socketRegistered_;
    kept.tls = std::move(tls_);
    kept.http2 = std::move(http2_);
    kept.requestsBefore = requestsBefore_ + 1;
    // An HTTP/2 connection is kept for at least a second, whatever HTTP/1.1's setting.
    const int seconds =
        kept.http2 ? std::max(Config().keepAliveSeconds, 1) : Config().keepAliveSeconds;
    server->KeepAlive(std::move(kept), static_cast<uint64_t>(seconds) * 1000);
}

size_t Connection::ReadChunks(char* buffer, size_t size, int waitMs) {
    if (!bodyStarted_) {
        bodyStarted_ = true;
        std::optional<std::string_view> expect = request_.Header("Expect");
        if (expect && EqualsNoCase(*expect, "100-continue")) {
            SendWire("HTTP/1.1 100 Continue\r\n\r\n", {}, false);
        }
        bodyPace_.Start(platform::MonotonicMillis(), tls_ ? nullptr : this);
    }
    if (size == 0 || bodyComplete_) return 0;
    for (;;) {
        if (chunkDecoder_.done()) {
            bodyComplete_ = true;
            bodyPace_.Stop();
            return 0;
        }
        // The client stopped before the last chunk, or sent what is no chunk: the body is cut
        // short, and the connection ends with this request.
        if ((inputStart_ == inputEnd_ && !FillInput(waitMs, true)) || chunkDecoder_.failed()) {
            bodyComplete_ = true;
            chunksCut_ = true;
            keepAlive_ = false;
            return 0;
        }
        if (PassHeadLineFeed()) continue;
        const ChunkedDecoder::Step step = chunkDecoder_.Feed(
            std::string_view(input_.get() + inputStart_, inputEnd_ - inputStart_), buffer, size);
        inputStart_ += step.consumed;
        if (step.produced > 0) return step.produced;
    }
}

bool Connection::GatherChunkedBody() {
    std::optional<std::string_view> expect = request_.Header("Expect");
    if (expect && EqualsNoCase(*expect, "100-continue")) {
        SendWire("HTTP/1.1 100 Continue\r\n\r\n", {}, false);
    }
    ChunkedDecoder decoder(kMaxChunkedBody);
    std::string body;
    bodyPace_.Start(platform::MonotonicMillis(), tls_ ? nullptr : this);
    bool lineFeedChecked = false;
    while (!decoder.done()) {
        if (inputStart_ == inputEnd_ && !FillInput(kIdleLimitMs, true)) {
            // The client stopped before the body's end: nothing of it reaches a handler.
            keepAlive_ = false;
            Answer(Response::Error(400));
            return false;
        }
        // The line feed that ends the head's empty line is no part of the body.
        if (!lineFeedChecked) {
            lineFeedChecked = true;
            if (input_[inputStart_] == '\n') {
                ++inputStart_;
                continue;
            }
        }
        const ChunkedDecoder::Step step = decoder.Decode(
            std::string_view(input_.get() + inputStart_, inputEnd_ - inputStart_), &body);
        inputStart_ += step.consumed;
        if (decoder.failed()) {
            keepAlive_ = false;
            Answer(Response::Error(decoder.error() == ChunkedDecoder::Error::kBodyTooLarge ? 413
                                                                                           : 400));
            return false;
        }
    }
    bodyPace_.Stop();
    // The body is read from here on as one with a length; what followed it (the next
    // request) after it.
    const uint64_t length = body.size();
    body.append(input_.get() + inputStart_, inputEnd_ - inputStart_);
    body.append(received_, receivedRead_);
    received_ = std::move(body);
    receivedRead_ = 0;
    inputStart_ = inputEnd_ = 0;
    leadingLineFeedChecked_ = true;
    request_.ReplaceTransferCoding(length);
    return true;
}

}  // namespace http
