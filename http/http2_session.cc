// The HTTP/2 session of one TLS connection, on libnghttp2.
#include "http/http2_session.h"

#include <fcntl.h>
#include <nghttp2/nghttp2.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/connection.h"
#include "http/framing.h"
#include "http/http_date.h"
#include "http/listener.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace http {
namespace {

// Streams of one connection answered at the same time; more wait their turn.
constexpr size_t kMaxAnswering = 8;
constexpr uint32_t kMaxConcurrentStreams = 100;
// A request body is gathered whole before its stream is answered, up to this size.
constexpr uint64_t kMaxRequestBody = 64 * 1024 * 1024;
// What the streams of one connection may hold of bodies not yet handed on, all together: a
// stream whose body would go beyond it is answered 503, so that one connection's many streams
// cannot make the server hold gigabytes.
constexpr uint64_t kMaxHeldBodies = 2 * kMaxRequestBody;
// A stream's answer is read no further while this much of it waits for the client.
constexpr size_t kMaxBufferedAnswer = 256 * 1024;
// A head that has not ended after this many bytes is no head.
constexpr size_t kMaxAnswerHead = 64 * 1024;
constexpr int kStallLimitMs = kIdleLimitSeconds * 1000;
constexpr size_t kSendBatch = 64 * 1024;
// A session with no stream open this long gives its thread back and waits on the loop. Long
// enough that the requests of one page, each sent as the last answer told of it, find it
// still running; short enough that idle connections hold no thread.
constexpr uint64_t kParkAfterMs = 200;

struct Stream {
    int32_t id = 0;
    std::string method, path, authority;
    std::string headerLines;  // "Name: value\r\n" each
    bool hasHost = false;
    std::string body;
    bool bodyTooLarge = false;
    bool bodiesFull = false;  // the connection's streams held too much at once
    bool dispatched = false;
    // The answering side: our end of the socket pair, what came of it and was not yet framed.
    platform::UniqueFd answer;
    // The pair's other end, kept while the answering object has a copy of its own: the pair
    // may serve another stream once this one's answer is read whole.
    platform::UniqueFd answerObjectEnd;
    std::string answerBytes;
    size_t answerOffset = 0;
    bool answerEnded = false;
    bool headDone = false;
    bool discardBody = false;
    bool deferred = false;
    // Names and values the submitted head points into.
    std::vector<std::string> headStrings;
};

// "content-length" as "Content-Length": the pages look headers up with that letter case.
std::string CanonicalName(std::string_view name) {
    std::string out(name);
    bool start = true;
    for (char& c : out) {
        c = start ? platform::AsciiUpper(c) : c;
        start = c == '-';
    }
    return out;
}

std::string LowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Header fields HTTP/2 does not carry: they describe one HTTP/1 connection.
bool ConnectionSpecific(std::string_view lowerName) {
    return lowerName == "connection" || lowerName == "keep-alive" ||
           lowerName == "transfer-encoding" || lowerName == "upgrade" ||
           lowerName == "proxy-connection";
}

}  // namespace

class Http2Session {
  public:
    Http2Session(const platform::IpAddress& client, uint32_t port, ServerInstance& server)
        : client_(client), port_(port), server_(server) {}
    ~Http2Session() {
        // Streams first: their sockets closed, an answer still running ends at its next send.
        streams_.clear();
        StopAnswering();
        if (session_ != nullptr) nghttp2_session_del(session_);
    }
    Http2Session(const Http2Session&) = delete;
    Http2Session& operator=(const Http2Session&) = delete;

    // Serves the connection until it ends (false) or the session parks (true).
    bool Run(platform::TlsSession& tls, int socketFd);

  private:
    static Http2Session& Of(void* user) { return *static_cast<Http2Session*>(user); }
    Stream* Find(int32_t id) {
        auto it = streams_.find(id);
        return it == streams_.end() ? nullptr : it->second.get();
    }
    // Drops what a stream holds of its body, which no longer counts against kMaxHeldBodies.
    void ReleaseBody(Stream& stream) {
        heldBodies_ -= stream.body.size();
        stream.body = std::string();
    }

    static int OnBeginHeaders(nghttp2_session*, const nghttp2_frame* frame, void* user);
    static int OnHeader(nghttp2_session*, const nghttp2_frame* frame, const uint8_t* name,
                        size_t nameLength, const uint8_t* value, size_t valueLength, uint8_t,
                        void* user);
    static int OnDataChunk(nghttp2_session*, uint8_t, int32_t id, const uint8_t* data,
                           size_t length, void* user);
    static int OnFrame(nghttp2_session*, const nghttp2_frame* frame, void* user);
    static int OnStreamClose(nghttp2_session*, int32_t id, uint32_t, void* user);
    static ssize_t ReadAnswer(nghttp2_session*, int32_t, uint8_t* buffer, size_t length,
                              uint32_t* flags, nghttp2_data_source* source, void*);

    bool Start();
    bool Flush();
    // Hands waiting requests to free answering objects.
    void DispatchWaiting();
    bool Dispatch(Stream& stream);
    // Answers a stream without asking anyone: `status` and no body.
    void AnswerAtOnce(Stream& stream, int status);
    // Reads what a stream's answer has sent; submits its head once whole.
    void TakeAnswer(Stream& stream);
    void SubmitHead(Stream& stream);
    // Reads the answer of a stream whose object is free again: all of it is in the pair. The
    // pair then waits for another stream, unless the object closed it.
    void TakeWholeAnswer(Stream& stream);
    // Each worker is stopped while its object is whole: a request it is ending still calls
    // the object's own handlers.
    void StopAnswering() {
        for (auto& object : answering_) object->StopWorker();
        answering_.clear();
    }

    // The connection, for the current Run.
    platform::TlsSession* tls_ = nullptr;
    int socket_ = -1;
    platform::IpAddress client_;
    uint32_t port_;
    ServerInstance& server_;
    nghttp2_session* session_ = nullptr;
    std::map<int32_t, std::unique_ptr<Stream>> streams_;
    // The bytes of bodies the streams hold, not yet handed on.
    uint64_t heldBodies_ = 0;
    std::deque<int32_t> waiting_;
    std::vector<std::unique_ptr<Connection>> answering_;
    // Local socket pairs (the session's end, the objects' end) whose last answer was read
    // whole: creating and releasing a pair per stream cost more than the rest of a small
    // stream's answer.
    struct LocalPair {
        platform::UniqueFd session;
        platform::UniqueFd object;
    };
    std::vector<LocalPair> sparePairs_;
    bool failed_ = false;
};

int Http2Session::OnBeginHeaders(nghttp2_session*, const nghttp2_frame* frame, void* user) {
    if (frame->hd.type != NGHTTP2_HEADERS || frame->headers.cat != NGHTTP2_HCAT_REQUEST) return 0;
    auto stream = std::make_unique<Stream>();
    stream->id = frame->hd.stream_id;
    Of(user).streams_[stream->id] = std::move(stream);
    return 0;
}

int Http2Session::OnHeader(nghttp2_session*, const nghttp2_frame* frame, const uint8_t* name,
                           size_t nameLength, const uint8_t* value, size_t valueLength, uint8_t,
                           void* user) {
    Stream* stream = Of(user).Find(frame->hd.stream_id);
    if (stream == nullptr || stream->dispatched) return 0;
    const std::string_view n(reinterpret_cast<const char*>(name), nameLength);
    const std::string_view v(reinterpret_cast<const char*>(value), valueLength);
    if (n == ":method") {
        stream->method = v;
    } else if (n == ":path") {
        stream->path = v;
    } else if (n == ":authority") {
        stream->authority = v;
    } else if (!n.starts_with(':') && !ConnectionSpecific(n) && n != "content-length" &&
               n != "expect") {
        // The library has refused names and values that could end a line.
        stream->hasHost = stream->hasHost || n == "host";
        stream->headerLines.append(CanonicalName(n)).append(": ").append(v).append("\r\n");
    }
    return 0;
}

int Http2Session::OnDataChunk(nghttp2_session*, uint8_t, int32_t id, const uint8_t* data,
                              size_t length, void* user) {
    Http2Session& self = Of(user);
    Stream* stream = self.Find(id);
    if (stream == nullptr || stream->bodyTooLarge || stream->bodiesFull) return 0;
    if (stream->body.size() + length > kMaxRequestBody) {
        stream->bodyTooLarge = true;
        self.ReleaseBody(*stream);
        return 0;
    }
    if (self.heldBodies_ + length > kMaxHeldBodies) {
        stream->bodiesFull = true;
        self.ReleaseBody(*stream);
        return 0;
    }
    stream->body.append(reinterpret_cast<const char*>(data), length);
    self.heldBodies_ += length;
    return 0;
}

int Http2Session::OnFrame(nghttp2_session*, const nghttp2_frame* frame, void* user) {
    Http2Session& self = Of(user);
    if ((frame->hd.type != NGHTTP2_HEADERS && frame->hd.type != NGHTTP2_DATA) ||
        (frame->hd.flags & NGHTTP2_FLAG_END_STREAM) == 0) {
        return 0;
    }
    Stream* stream = self.Find(frame->hd.stream_id);
    if (stream == nullptr || stream->dispatched) return 0;
    stream->dispatched = true;
    if (stream->bodyTooLarge) {
        self.AnswerAtOnce(*stream, 413);
    } else if (stream->bodiesFull) {
        self.AnswerAtOnce(*stream, 503);
    } else if (stream->method.empty() || stream->path.empty()) {
        self.AnswerAtOnce(*stream, 400);
    } else {
        self.waiting_.push_back(stream->id);
    }
    return 0;
}

int Http2Session::OnStreamClose(nghttp2_session*, int32_t id, uint32_t, void* user) {
    Http2Session& self = Of(user);
    if (Stream* stream = self.Find(id)) self.ReleaseBody(*stream);
    self.streams_.erase(id);
    std::erase(self.waiting_, id);
    return 0;
}

ssize_t Http2Session::ReadAnswer(nghttp2_session*, int32_t, uint8_t* buffer, size_t length,
                                 uint32_t* flags, nghttp2_data_source* source, void*) {
    auto* stream = static_cast<Stream*>(source->ptr);
    const size_t available = stream->answerBytes.size() - stream->answerOffset;
    if (available == 0) {
        if (stream->answerEnded) {
            *flags |= NGHTTP2_DATA_FLAG_EOF;
            return 0;
        }
        stream->deferred = true;
        return NGHTTP2_ERR_DEFERRED;
    }
    const size_t n = std::min(available, length);
    std::memcpy(buffer, stream->answerBytes.data() + stream->answerOffset, n);
    stream->answerOffset += n;
    if (stream->answerOffset == stream->answerBytes.size()) {
        stream->answerBytes.clear();
        stream->answerOffset = 0;
        if (stream->answerEnded) *flags |= NGHTTP2_DATA_FLAG_EOF;
    }
    return static_cast<ssize_t>(n);
}

bool Http2Session::Start() {
    nghttp2_session_callbacks* callbacks = nullptr;
    if (nghttp2_session_callbacks_new(&callbacks) != 0) return false;
    nghttp2_session_callbacks_set_on_begin_headers_callback(callbacks, OnBeginHeaders);
    nghttp2_session_callbacks_set_on_header_callback(callbacks, OnHeader);
    nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks, OnDataChunk);
    nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks, OnFrame);
    nghttp2_session_callbacks_set_on_stream_close_callback(callbacks, OnStreamClose);
    const int made = nghttp2_session_server_new(&session_, callbacks, this);
    nghttp2_session_callbacks_del(callbacks);
    if (made != 0) return false;
    const nghttp2_settings_entry settings[] = {
        {NGHTTP2_SETTINGS_MAX_CONCURRENT_STREAMS, kMaxConcurrentStreams},
        {NGHTTP2_SETTINGS_INITIAL_WINDOW_SIZE, 1024 * 1024},
    };
    return nghttp2_submit_settings(session_, NGHTTP2_FLAG_NONE, settings, std::size(settings)) == 0;
}

bool Http2Session::Flush() {
    std::string batch;
    for (;;) {
        const uint8_t* data = nullptr;
        const ssize_t n = nghttp2_session_mem_send(session_, &data);
        if (n < 0) return false;
        if (n > 0) batch.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
        if ((n == 0 || batch.size() >= kSendBatch) && !batch.empty()) {
            if (!tls_->SendAll(batch.data(), batch.size(), kStallLimitMs, nullptr)) return false;
            batch.clear();
        }
        if (n == 0) return true;
    }
}

void Http2Session::AnswerAtOnce(Stream& stream, int status) {
    stream.headStrings = {std::to_string(status)};
    nghttp2_nv head = {reinterpret_cast<uint8_t*>(const_cast<char*>(":status")),
                       reinterpret_cast<uint8_t*>(stream.headStrings[0].data()), 7,
                       stream.headStrings[0].size(), NGHTTP2_NV_FLAG_NONE};
    nghttp2_submit_response(session_, stream.id, &head, 1, nullptr);
}

bool Http2Session::Dispatch(Stream& stream) {
    Connection* free = nullptr;
    for (auto& object : answering_) {
        if (!object->busy()) {
            free = object.get();
            break;
        }
    }
    if (free == nullptr) {
        if (answering_.size() >= kMaxAnswering) return false;
        answering_.push_back(server_.MakeConnection());
        free = answering_.back().get();
    }
    LocalPair pair;
    if (!sparePairs_.empty()) {
        pair = std::move(sparePairs_.back());
        sparePairs_.pop_back();
    } else {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
            AnswerAtOnce(stream, 503);
            return true;
        }
        pair.session = platform::UniqueFd(fds[0]);
        pair.object = platform::UniqueFd(fds[1]);
    }
    // The object closes its copy when its answer is over; the pair lives on in ours.
    platform::UniqueFd given(::fcntl(pair.object.get(), F_DUPFD_CLOEXEC, 0));
    if (!given) {
        AnswerAtOnce(stream, 503);
        return true;
    }
    stream.answer = std::move(pair.session);
    stream.answerObjectEnd = std::move(pair.object);
    // The request as the pages know requests: its version says HTTP/2.0, which the pages
    // answer as they answer HTTP/1.0, and scripts see as the protocol asked for.
    std::string request = stream.method + " " + stream.path + " HTTP/2.0\r\n";
    if (!stream.hasHost && !stream.authority.empty()) {
        request.append("Host: ").append(stream.authority).append("\r\n");
    }
    request.append(stream.headerLines);
    if (!stream.body.empty() || stream.method == "POST") {
        request.append("Content-Length: ")
            .append(std::to_string(stream.body.size()))
            .append("\r\n");
    }
    request.append("\r\n").append(stream.body);
    ReleaseBody(stream);
    free->ServeAsTls();
    free->Assign(std::move(given), client_, port_, &server_, std::move(request));
    // Most answers (a file, an error) are given at once, on this thread. Any other ends
    // when the object's worker closes its end: only its copy may be left.
    if (!free->busy()) {
        TakeWholeAnswer(stream);
    } else {
        stream.answerObjectEnd.Reset();
    }
    return true;
}

void Http2Session::TakeWholeAnswer(Stream& stream) {
    char buffer[64 * 1024];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::recv(stream.answer.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            stream.answerBytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The end of the stream: the object's worker finished the answer and closed the pair.
        closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    stream.answerEnded = true;
    if (!closed && sparePairs_.size() < 2 * kMaxAnswering) {
        sparePairs_.push_back({std::move(stream.answer), std::move(stream.answerObjectEnd)});
    }
    stream.answer.Reset();
    stream.answerObjectEnd.Reset();
    SubmitHead(stream);
}

void Http2Session::DispatchWaiting() {
    while (!waiting_.empty()) {
        Stream* stream = Find(waiting_.front());
        if (stream != nullptr && !Dispatch(*stream)) return;
        waiting_.pop_front();
    }
}

void Http2Session::SubmitHead(Stream& stream) {
    std::string_view bytes = stream.answerBytes;
    size_t from = 0;
    const size_t end = AnswerHeadEnd(bytes, &from);
    if (end == std::string_view::npos) {
        if (!stream.answerEnded && bytes.size() <= kMaxAnswerHead) return;
        // No answer the client could read: the stream is reset.
        stream.headDone = true;
        nghttp2_submit_rst_stream(session_, NGHTTP2_FLAG_NONE, stream.id, NGHTTP2_INTERNAL_ERROR);
        return;
    }
    stream.headDone = true;
    std::vector<std::string>& strings = stream.headStrings;
    strings.clear();
    int status = 0;
    std::string_view head = bytes.substr(0, end);
    bool first = true;
    std::vector<std::pair<size_t, size_t>> fields;  // indexes of name and value in `strings`
    while (!head.empty()) {
        const size_t lineFeed = head.find('\n');
        std::string_view line = head.substr(0, lineFeed);
        head.remove_prefix(lineFeed == std::string_view::npos ? head.size() : lineFeed + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (first) {
            first = false;
            const size_t space = line.find(' ');
            if (space != std::string_view::npos && line.size() >= space + 4) {
                status = std::atoi(std::string(line.substr(space + 1, 3)).c_str());
            }
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string name = LowerCopy(line.substr(0, colon));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        if (name.empty() || ConnectionSpecific(name)) continue;
        strings.push_back(std::move(name));
        // Dates in the standard form, as HTTP/1.1 answers have them.
        std::optional<std::time_t> date;
        if (strings.back() == "date" || strings.back() == "last-modified") {
            date = ParseHttpDate(value);
        }
        strings.push_back(date ? FormatImfFixdate(*date) : std::string(value));
        fields.emplace_back(strings.size() - 2, strings.size() - 1);
    }
    if (status < 100 || status > 999) status = 502;
    strings.push_back(std::to_string(status));
    std::vector<nghttp2_nv> nv;
    static char kStatus[] = ":status";
    nv.push_back({reinterpret_cast<uint8_t*>(kStatus),
                  reinterpret_cast<uint8_t*>(strings.back().data()), 7, strings.back().size(),
                  NGHTTP2_NV_FLAG_NONE});
    for (const auto& [name, value] : fields) {
        nv.push_back({reinterpret_cast<uint8_t*>(strings[name].data()),
                      reinterpret_cast<uint8_t*>(strings[value].data()), strings[name].size(),
                      strings[value].size(), NGHTTP2_NV_FLAG_NONE});
    }
    stream.answerBytes.erase(0, end);
    stream.discardBody = stream.method == "HEAD" || status == 304 || status == 204 || status < 200;
    if (stream.discardBody) {
        stream.answerBytes.clear();
        nghttp2_submit_response(session_, stream.id, nv.data(), nv.size(), nullptr);
        return;
    }
    nghttp2_data_provider provider{};
    provider.source.ptr = &stream;
    provider.read_callback = ReadAnswer;
    nghttp2_submit_response(session_, stream.id, nv.data(), nv.size(), &provider);
}

void Http2Session::TakeAnswer(Stream& stream) {
    char buffer[64 * 1024];
    while (stream.answer && !stream.answerEnded &&
           stream.answerBytes.size() - stream.answerOffset < kMaxBufferedAnswer) {
        const ssize_t n = ::recv(stream.answer.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (!stream.discardBody) stream.answerBytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
        stream.answerEnded = true;
        stream.answer.Reset();
    }
    if (!stream.headDone) SubmitHead(stream);
    if (stream.headDone && stream.deferred &&
        (stream.answerEnded || stream.answerBytes.size() > stream.answerOffset)) {
        stream.deferred = false;
        nghttp2_session_resume_data(session_, stream.id);
    }
}

bool Http2Session::Run(platform::TlsSession& tls, int socketFd) {
    tls_ = &tls;
    socket_ = socketFd;
    if (session_ == nullptr && !Start()) return false;
    char buffer[16 * 1024];
    uint64_t lastProgress = platform::MonotonicMillis();
    while (!failed_ && Flush() &&
           (nghttp2_session_want_read(session_) || nghttp2_session_want_write(session_))) {
        DispatchWaiting();
        if (!Flush()) break;
        std::vector<platform::PollItem> items(1);
        std::vector<int32_t> polled;
        items[0].fd = socket_;
        items[0].wantRead = true;
        items[0].watchHangUp = true;
        for (auto& [id, stream] : streams_) {
            if (stream->answer &&
                stream->answerBytes.size() - stream->answerOffset < kMaxBufferedAnswer) {
                platform::PollItem item;
                item.fd = stream->answer.get();
                item.wantRead = true;
                items.push_back(item);
                polled.push_back(id);
            }
        }
        const bool idle = streams_.empty() && !tls_->HasBuffered();
        const uint64_t now = platform::MonotonicMillis();
        const uint64_t limit = idle ? kParkAfterMs : static_cast<uint64_t>(kStallLimitMs);
        if (now >= lastProgress + limit) {
            if (!idle) break;
            // Nothing is open and everything said has gone out: the loop waits for the rest.
            StopAnswering();
            return true;
        }
        int waitMs = static_cast<int>(lastProgress + limit - now);
        if (tls_->HasBuffered()) waitMs = 0;
        const int ready = platform::WaitForDescriptors(items, waitMs);
        if (ready < 0) break;
        if (ready > 0 || tls_->HasBuffered()) lastProgress = platform::MonotonicMillis();
        if (items[0].readable || tls_->HasBuffered()) {
            for (;;) {
                const platform::ReceiveResult r = tls_->Receive(buffer, sizeof buffer, 0);
                if (r.status == platform::ReceiveStatus::kTimedOut) break;
                if (r.status != platform::ReceiveStatus::kData) {
                    failed_ = true;
                    break;
                }
                const ssize_t used = nghttp2_session_mem_recv(
                    session_, reinterpret_cast<const uint8_t*>(buffer), r.bytes);
                if (used < 0) {
                    failed_ = true;
                    break;
                }
            }
        } else if (items[0].hungUp) {
            break;
        }
        for (size_t i = 0; i < polled.size(); ++i) {
            // A stream the client closed meanwhile is gone, and its socket with it.
            Stream* stream = Find(polled[i]);
            if (stream != nullptr && (items[i + 1].readable || items[i + 1].hungUp)) {
                TakeAnswer(*stream);
            }
        }
    }
    // What the session still has to say (a GOAWAY) goes out when it can.
    if (!failed_) {
        nghttp2_session_terminate_session(session_, NGHTTP2_NO_ERROR);
        Flush();
    }
    return false;
}

void Http2SessionDeleter::operator()(Http2Session* session) const { delete session; }

ParkedHttp2 ServeHttp2(platform::TlsSession& tls, int socketFd, const platform::IpAddress& client,
                       uint32_t clientPortNetworkOrder, ServerInstance& server,
                       ParkedHttp2 parked) {
    if (!parked) parked.reset(new Http2Session(client, clientPortNetworkOrder, server));
    if (!parked->Run(tls, socketFd)) parked.reset();
    return parked;
}

}  // namespace http
