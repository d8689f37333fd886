// The connection object: request reading, dispatch, the body reader and the worker's life.
#include "http/connection.h"

#include <algorithm>
#include <exception>

#include "http/http2_session.h"
#include "http/listener.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace http {
namespace {

using platform::EqualsNoCase;

constexpr size_t kInputBufferSize = 16 * 1024;
constexpr int kIdleLimitMs = kIdleLimitSeconds * 1000;
// A file goes out in pieces of this size from a worker, so that the answer's pace is looked
// at between them; each piece is one blocking sendfile for a large file.
constexpr uint64_t kPacedFilePiece = 4 * 1024 * 1024;
}  // namespace

Connection::Connection() : input_(new char[kInputBufferSize]) {}

Connection::~Connection() { StopWorker(); }

void Connection::StopWorker() {
    if (!worker_.running()) return;
    stopping_.store(true);
    {
        // A request still in progress is cut short: its reads and sends fail at once.
        std::lock_guard lock(socketMutex_);
        if (socket_) platform::ShutdownBoth(socket_.get());
    }
    assigned_.Ring();
    worker_.Join();
}

void Connection::Assign(platform::UniqueFd acceptedSocket, platform::IpAddress address,
                        uint32_t port, ServerInstance* owner, std::optional<std::string> received,
                        bool registered, bool clientBound, uint32_t requestsBefore) {
    headReceived_ = received.has_value();
    socketRegistered_ = registered;
    received_ = received ? std::move(*received) : std::string();
    receivedRead_ = 0;
    {
        std::lock_guard lock(socketMutex_);
        socket_ = std::move(acceptedSocket);
    }
    clientAddress = address;
    clientPort = platform::HostOrderPort(port);
    peerAddress_ = address;
    peerPortNetworkOrder_ = port;
    requestsBefore_ = requestsBefore;
    server = owner;
    clientBound_ = clientBound;
    busy_.store(true);
    stage_ = Stage::kRead;
    if (headReceived_ && !tls_ && AnswerOnLoop()) return;
    if (!worker_.running() && !worker_.Start([this] { WorkerMain(); })) {
        // Without a thread the request would run on the loop, which a script could hold for
        // minutes: the client is told to come back instead.
        AnswerUnavailable();
        return;
    }
    assigned_.Ring();
}

void Connection::AnswerUnavailable() {
    ReportToOwner("The system refused a worker thread: a request was answered 503.");
    onLoop_ = true;
    BeginRequest();
    // A head the loop has not read (a TLS handshake still unfinished) cannot be answered
    // without waiting, nor can a TLS connection be written to without it.
    if (headReceived_ && !tls_ && ReadAndSplit()) {
        Answer(Response::Error(503));
        RespondSafely();
    }
    onLoop_ = false;
    // What the socket did not take at once is dropped with the connection.
    unsentHead_.clear();
    unsentBody_.clear();
    unsentFile_.Reset();
    EndRequest();
}

void Connection::ReportFailure(std::string_view step) noexcept {
    try {
        std::string what = "unknown error";
        if (std::exception_ptr failure = std::current_exception()) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
        }
        ReportToOwner("A request failed while " + std::string(step) + ": " + what + ".");
    } catch (...) {
        // Out of memory for the message itself: nothing more can be said.
    }
}

bool Connection::AdmitWait() {
    if (clientBound_ || server == nullptr) return true;
    clientBound_ = server->AdmitClientBound();
    return clientBound_;
}

void Connection::WorkerMain() {
    for (;;) {
        assigned_.Wait();
        if (stopping_.load()) return;
        Continue();
    }
}

void Connection::ReadRequest() {
    stage_ = Stage::kRead;
    Continue();
}

void Connection::Continue() {
    switch (stage_) {
        case Stage::kRead:
            BeginRequest();
            if (tls_ && !tls_->Handshake(kIdleLimitMs)) {
                answered_ = false;
                break;
            }
            if (tls_ && tls_->NegotiatedHttp2()) {
                // The connection's requests are its session's streams, each answered and
                // logged by an object of its own.
                answered_ = false;
                platform::SendWithoutDelay(socket_.get());
                http2_ = ServeHttp2(*tls_, socket_.get(), peerAddress_, peerPortNetworkOrder_,
                                    *server, std::move(http2_));
                break;
            }
            if (!ReadAndSplit()) break;
            [[fallthrough]];
        case Stage::kDispatch:
            DispatchSafely();
            [[fallthrough]];
        case Stage::kRespond:
            RespondSafely();
            break;
        case Stage::kSendRest:
            SendRest();
            break;
    }
    EndRequest();
}

bool Connection::AnswerOnLoop() {
    onLoop_ = true;
    bool over = true;
    BeginRequest();
    if (ReadAndSplit()) {
        if (!response_.IsError() && (chunkedBody_ || !MayAnswerOnLoop())) {
            stage_ = Stage::kDispatch;
            over = false;
        } else {
            DispatchSafely();
            if (RespondMayWait()) {
                stage_ = Stage::kRespond;
                over = false;
            } else {
                RespondSafely();
            }
        }
    }
    if (over && HasUnsent()) {
        stage_ = Stage::kSendRest;
        over = false;
    }
    onLoop_ = false;
    answeredAtOnce_ = over;
    if (over) EndRequest();
    return over;
}

bool Connection::RespondMayWait() const {
    switch (response_.kind()) {
        case Response::Kind::kPage:
        case Response::Kind::kRaw:
        case Response::Kind::kListing:
            return true;
        case Response::Kind::kFile:
        case Response::Kind::kError:
        case Response::Kind::kSent:
            return false;
    }
    return true;
}

void Connection::BeginRequest() {
    answeredAtOnce_ = false;
    requestTime = platform::NowUtc();
    ResetRequestState();
    config::SharedConfig& shared = server->context().config;
    if (uint64_t version = shared.version(); !config_ || version != configVersion_) {
        config_ = shared.Snapshot();
        configVersion_ = version;
    }
}

platform::ReceiveResult Connection::ReceiveFromClient(void* buffer, size_t size, int timeoutMs) {
    if (tls_) return tls_->Receive(buffer, size, timeoutMs);
    return platform::ReceiveSome(socket_.get(), buffer, size, timeoutMs);
}

bool Connection::SendToClient(const void* data, size_t size, int idleLimitMs) {
    return SendFramed(std::string_view(static_cast<const char*>(data), size), idleLimitMs, true);
}

bool Connection::ReadAndSplit() {
    answered_ = false;
    try {
        HeadResult head = ReadHead();
        if (head == HeadResult::kTooLarge) {
            Answer(Response::Error(400));
            SendErrorPage();
        } else {
            LineResult line = request_.SplitLine();
            answered_ = line != LineResult::kDropped;
            if (answered_) ApplyForwarding();
            if (line == LineResult::kBad) Answer(Response::Error(400));
            if (line == LineResult::kComplete) BeginHttp11();
        }
    } catch (...) {
        ReportFailure("reading its head");
        answered_ = false;
    }
    return answered_;
}

void Connection::ApplyForwarding() {
    const platform::AddressRanges& trusted = Config().trustedProxies;
    if (trusted.empty() || !trusted.Contains(clientAddress)) return;
    forwarding_ = ReadForwarding(request_.headerText(), trusted);
    if (!forwarding_.client) return;
    clientAddress = *forwarding_.client;
}

void Connection::DispatchSafely() {
    try {
        if (!response_.IsError()) Dispatch();
    } catch (...) {
        Answer(Response::Error(500));
    }
}

void Connection::RespondSafely() {
    try {
        Respond();
        EndAnswer();
    } catch (...) {
        ReportFailure("sending its answer");
    }
}

void Connection::SendRest() {
    try {
        if (!unsentHead_.empty() || !unsentBody_.empty()) {
            SendWire(unsentHead_, unsentBody_, !framing_.active());
        }
        if (unsentFile_ && !sendFailed_ &&
            !SendFilePaced(unsentFile_.get(), unsentFileOffset_, unsentFileCount_)) {
            sendFailed_ = true;
        }
    } catch (...) {
        ReportFailure("sending its answer");
    }
}

void Connection::EndRequest() {
    ServerInstance* owner = server;
    try {
        const bool keep = keepAlive_ && answered_ && framing_.Reusable() && !sendFailed_ &&
                          !HasUnsent() && RequestBodyConsumed() && !stopping_.load();
        if (http2_ && !stopping_.load()) {
            // A parked session: its streams were logged by their own objects.
            KeepConnection();
        } else if (keep) {
            // The line is written before the client's next request can be answered.
            LogRequest();
            KeepConnection();
        } else {
            Finish();
            if (answered_) LogRequest();
        }
    } catch (...) {
        ReportFailure("finishing it");
    }
    tls_.reset();
    http2_.reset();
    received_ = std::string();
    unsentHead_ = std::string();
    unsentBody_ = std::string();
    unsentFile_.Reset();
    response_ = Response();
    if (clientBound_) {
        clientBound_ = false;
        owner->ReleaseClientBound();
    }
    // Clearing the flag hands the object back to the pool: nothing may touch it afterwards.
    busy_.store(false);
    owner->NotifyConnectionFreed();
}

void Connection::ResetRequestState() {
    forwarding_ = {};
    clientAddress = peerAddress_;
    clientPort = platform::HostOrderPort(peerPortNetworkOrder_);
    framing_.Stop();
    keepAlive_ = false;
    chunkedBody_ = false;
    chunksAsTheyCome_ = false;
    chunksCut_ = false;
    chunkDecoder_ = ChunkedDecoder();
    response_ = Response();
    bytesSent_ = 0;
    framingDenied = false;
    page_.Clear();
    request_.Clear();
    loggedTarget_.reset();
    sendFailed_ = false;
    inputStart_ = inputEnd_ = 0;
    inputClosed_ = false;
    headComplete_ = false;
    bodyStarted_ = false;
    bodyHasLength_ = false;
    leadingLineFeedChecked_ = false;
    leadingLineFeed_ = false;
    bodyComplete_ = false;
    bodyRemaining_ = 0;
    bodyPace_.Stop();
    sendPace_.Stop();
}

bool Connection::FillInput(int timeoutMs, bool forBody) {
    if (receivedRead_ < received_.size()) {
        size_t take = std::min(kInputBufferSize, received_.size() - receivedRead_);
        std::copy_n(received_.data() + receivedRead_, take, input_.get());
        receivedRead_ += take;
        inputStart_ = 0;
        inputEnd_ = take;
        return true;
    }
    if (inputClosed_) return false;
    platform::ReceiveResult r = forBody
                                    ? ReceiveBody(input_.get(), kInputBufferSize, timeoutMs)
                                    : ReceiveFromClient(input_.get(), kInputBufferSize, timeoutMs);
    if (r.status == platform::ReceiveStatus::kData) {
        inputStart_ = 0;
        inputEnd_ = r.bytes;
        return true;
    }
    if (r.status != platform::ReceiveStatus::kTimedOut) inputClosed_ = true;
    return false;
}

Connection::HeadResult Connection::ReadHead() {
    // The idle limit counts whole seconds: reading ends once the second of the last byte is
    // 31 seconds behind the current one.
    uint64_t lastByteSecond = platform::MonotonicMillis() / 1000;
    HeadScanner scanner;
    for (;;) {
        if (inputStart_ == inputEnd_) {
            // The loop read the head to its end: what it received is all there is.
            if (headReceived_ && receivedRead_ == received_.size()) return HeadResult::kEnded;
            uint64_t now = platform::MonotonicMillis();
            uint64_t end = (lastByteSecond + kIdleLimitSeconds + 1) * 1000;
            if (now >= end) return HeadResult::kEnded;
            // A client that closes its side cannot send more: go on with what arrived.
            if (!FillInput(static_cast<int>(end - now))) {
                if (inputClosed_) return HeadResult::kEnded;
                continue;
            }
            lastByteSecond = platform::MonotonicMillis() / 1000;
        }
        std::string_view available(input_.get() + inputStart_, inputEnd_ - inputStart_);
        inputStart_ += scanner.Feed(available, [this](char c) { request_.AppendHeadByte(c); });
        if (scanner.state() == HeadScanner::State::kTooLarge) return HeadResult::kTooLarge;
        if (scanner.state() == HeadScanner::State::kComplete) {
            headComplete_ = true;
            return HeadResult::kComplete;
        }
    }
}

void Connection::Dispatch() {
    chunksAsTheyCome_ = chunkedBody_ && TakesChunksAsTheyCome();
    if (chunkedBody_ && !chunksAsTheyCome_ && !GatherChunkedBody()) return;
    const std::string_view method = request_.method();
    const std::string target(request_.target());
    if (method == "HEAD" || method == "GET") {
        OnGet(target);
    } else if (method == "POST") {
        OnPost(target);
    } else if (method == "PUT") {
        OnPut(target);
    } else if (method == "TRACE") {
        Answer(Response::Error(501));
    } else {
        OnOtherMethod(target);
    }
}

void Connection::Respond() {
    // A listing becomes a page sent as it stands, or an error; a file that cannot be
    // opened becomes an error.
    if (response_.kind() == Response::Kind::kListing) ListDirectory();
    if (response_.kind() == Response::Kind::kFile) SendFile();
    switch (response_.kind()) {
        case Response::Kind::kPage:
            SendPage();
            break;
        case Response::Kind::kRaw:
            SendRaw();
            break;
        case Response::Kind::kError:
            SendErrorPage();
            break;
        case Response::Kind::kFile:
        case Response::Kind::kListing:
        case Response::Kind::kSent:
            break;
    }
}

void Connection::Finish() {
    // The configuration holds it within 0 to 65535 seconds.
    int linger = Config().goodByeKiss;
    platform::UniqueFd finished;
    // The client learns the response is whole from close_notify, then from the FIN.
    if (tls_) tls_->Close();
    // A stream answered at once leaves its local socket pair whole: its session, on the
    // thread that assigned the request, knows the answer is complete when the object is free,
    // and gives the pair to its next stream.
    const bool pairReused = overTls_ && answeredAtOnce_;
    {
        std::lock_guard lock(socketMutex_);
        if (!pairReused) platform::ShutdownSend(socket_.get());
        finished = std::move(socket_);
    }
    // A stream's local socket is closed at once: its reader is this process's own HTTP/2
    // session, which has what was sent, and the loop never watched it.
    if (overTls_) return;
    // The main loop closes the socket once the client has closed its side, or after the
    // linger time, so the worker never closes a socket the loop might still be watching.
    server->context().loop.HandOver(std::move(finished), linger, socketRegistered_);
}

std::string Connection::PageTypeLines() const {
    return WithFramingRule(
        ModernLook() ? "Content-Type: text/html; charset=utf-8\r\nX-Content-Type-Options: nosniff"
                     : "Content-Type: text/html\r\nX-Content-Type-Options: nosniff");
}

std::string Connection::WithFramingRule(std::string lines) const {
    if (framingDenied)
        lines.append(
            "\r\nX-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'");
    return lines;
}

void Connection::RefreshConfig() {
    config::SharedConfig& shared = server->context().config;
    configVersion_ = shared.version();
    config_ = shared.Snapshot();
}

int Connection::ServerNumber() const { return server != nullptr ? server->number() : 0; }

const config::ServerSettings* Connection::Settings() const {
    int number = ServerNumber();
    return number == 0 ? nullptr : &Config().servers[number - 1];
}

std::string Connection::BaseUrl() const {
    if (ServerNumber() == 0) return {};
    std::string host = server->context().hostAddress;
    if (host == "0.0.0.0") host = "127.0.0.1";
    // A page fetched over TLS links over TLS, or the browser would load its images and
    // follow its links in the clear.
    if (IsTls()) return "https://" + platform::UrlAuthority(host, server->TlsPort(), 443);
    // Behind a trusted proxy, links go where the client went: its scheme, and the host it
    // asked the proxy for when the proxy says.
    if (ClientForwarded()) {
        const char* scheme = ForwardedAsHttps() ? "https://" : "http://";
        return scheme + forwarding_.authority.value_or(platform::UrlHost(host));
    }
    // The port the server really listens on: Server 2 may have moved up from its own.
    return "http://" + platform::UrlAuthority(host, server->Port());
}

void Connection::StopScript() {
    std::lock_guard lock(socketMutex_);
    if (runningScript_.load() && socket_) platform::ShutdownBoth(socket_.get());
}

void Connection::ReportToOwner(std::string text) {
    if (server == nullptr) return;
    EngineContext& context = server->context();
    ServerOwner& owner = context.owner;
    context.loop.Post([&owner, text = std::move(text)] { owner.ShowStatusMessage(text); });
}

void Connection::OnGet(std::string) { Answer(Response::Error(404)); }

void Connection::OnPost(std::string requestUrl) { OnGet(std::move(requestUrl)); }

void Connection::OnPut(std::string) { Answer(Response::Error(501)); }

void Connection::OnOtherMethod(std::string) { Answer(Response::Error(400)); }

std::string Connection::ContentTypeFor(std::string_view extension) {
    if (EqualsNoCase(extension, "html") || EqualsNoCase(extension, "htm")) {
        return "Content-Type: text/html";
    }
    if (EqualsNoCase(extension, "jpg") || EqualsNoCase(extension, "jpeg")) {
        return "Content-Type: image/jpeg";
    }
    if (EqualsNoCase(extension, "gif")) return "Content-Type: image/gif";
    return "Content-Type: application/octet-stream";
}

void Connection::LogRequest() {}

void Connection::ListDirectory() { Answer(Response::Error(403)); }

void Connection::StartBody() {
    bodyStarted_ = true;
    if (!headComplete_) {
        // The head never ended properly: there is no body to read, and a body it declared
        // was cut short with it (an upload then stores nothing).
        bodyHasLength_ = true;
        bodyRemaining_ = DeclaredBodyLength().value_or(0);
        bodyComplete_ = true;
        leadingLineFeedChecked_ = true;
        return;
    }
    if (std::optional<uint64_t> declared = DeclaredBodyLength()) {
        bodyHasLength_ = true;
        bodyRemaining_ = *declared;
    } else if (Http11()) {
        // An HTTP/1.1 request without a length has no body: what follows is the next request.
        bodyHasLength_ = true;
    }
    // A client that waits to hear it may send its body is told so.
    if (Http11() && bodyRemaining_ > 0) {
        std::optional<std::string_view> expect = request_.Header("Expect");
        if (expect && EqualsNoCase(*expect, "100-continue")) {
            SendWire("HTTP/1.1 100 Continue\r\n\r\n", {}, false);
        }
    }
    // TLS connections are never counted among those waiting on their client: their sends
    // cannot tell a wait in advance, and a share that only some requests take would mislead.
    bodyPace_.Start(platform::MonotonicMillis(), tls_ ? nullptr : this);
}

platform::ReceiveResult Connection::ReceiveBody(void* buffer, size_t size, int timeoutMs) {
    platform::ReceiveResult r = ReceiveFromClient(buffer, size, 0);
    if (r.status == platform::ReceiveStatus::kTimedOut && timeoutMs != 0) {
        int waitMs = bodyPace_.NextWaitMs(timeoutMs, platform::MonotonicMillis());
        if (waitMs == 0) return r;
        r = ReceiveFromClient(buffer, size, waitMs);
    }
    if (r.status == platform::ReceiveStatus::kData)
        bodyPace_.Moved(r.bytes, platform::MonotonicMillis());
    return r;
}

bool Connection::BodyPaceLost() {
    return bodyPace_.started() &&
           bodyPace_.NextWaitMs(kIdleLimitMs, platform::MonotonicMillis()) == 0;
}

int Connection::SendWaitMs(int idleLimitMs) {
    const uint64_t now = platform::MonotonicMillis();
    if (!sendPace_.started()) sendPace_.Start(now, tls_ ? nullptr : this);
    return sendPace_.NextWaitMs(idleLimitMs, now);
}

void Connection::SendMoved(uint64_t bytes) {
    if (sendPace_.started() && bytes > 0) sendPace_.Moved(bytes, platform::MonotonicMillis());
}

bool Connection::SendPaced(std::string_view head, std::string_view content, bool more,
                           int idleLimitMs, uint64_t* contentSent) {
    if (tls_) {
        // The session sends a piece whole or fails; the pace sets each piece's wait. A small
        // answer still leaves with its head in one record.
        constexpr size_t kPiece = 64 * 1024;
        do {
            const std::string_view piece = content.substr(0, kPiece);
            const int waitMs = SendWaitMs(idleLimitMs);
            const uint64_t before = *contentSent;
            const bool whole =
                waitMs != 0 &&
                (head.empty() ? tls_->SendAll(piece.data(), piece.size(), waitMs, contentSent)
                              : tls_->SendTwo(head, piece, waitMs, contentSent));
            if (!whole) return false;
            SendMoved(head.size() + (*contentSent - before));
            head = {};
            content.remove_prefix(piece.size());
        } while (!content.empty());
        return true;
    }
    for (;;) {
        size_t sent = 0;
        if (!platform::SendNow(socket_.get(), head, content, more, &sent)) return false;
        const size_t fromHead = std::min(sent, head.size());
        head.remove_prefix(fromHead);
        content.remove_prefix(sent - fromHead);
        *contentSent += sent - fromHead;
        SendMoved(sent);
        if (head.empty() && content.empty()) return true;
        int waitMs = SendWaitMs(idleLimitMs);
        if (waitMs == 0 || !platform::WaitWritable(socket_.get(), waitMs)) return false;
    }
}

bool Connection::SendFilePaced(int fileFd, uint64_t offset, uint64_t count) {
    if (!tls_) {
        // What the socket takes now goes without a wait, and without asking to wait.
        uint64_t before = bytesSent_;
        if (!platform::SendFileNow(socket_.get(), fileFd, &offset, &count, &bytesSent_))
            return false;
        SendMoved(bytesSent_ - before);
    }
    while (count > 0) {
        const uint64_t piece = std::min(count, kPacedFilePiece);
        int waitMs = SendWaitMs(kIdleLimitMs);
        if (waitMs == 0) return false;
        uint64_t before = bytesSent_;
        bool whole = tls_ ? tls_->SendFile(fileFd, offset, piece, waitMs, &bytesSent_)
                          : platform::SendFileContents(socket_.get(), fileFd, offset, piece, waitMs,
                                                       &bytesSent_);
        const uint64_t moved = bytesSent_ - before;
        SendMoved(moved);
        if (!whole) return false;
        offset += piece;
        count -= piece;
    }
    return true;
}

std::optional<uint64_t> Connection::DeclaredBodyLength() { return request_.ContentLength(); }

size_t Connection::ReceiveBodyDirectly(char* buffer, size_t size, int timeoutMs) {
    if (receivedRead_ < received_.size()) {
        // The body's start came with the head: it is read before the socket.
        const auto want = static_cast<size_t>(
            std::min<uint64_t>({size, bodyRemaining_, received_.size() - receivedRead_}));
        std::copy_n(received_.data() + receivedRead_, want, buffer);
        receivedRead_ += want;
        bodyRemaining_ -= want;
        if (bodyRemaining_ == 0) bodyComplete_ = true;
        return want;
    }
    const auto want = static_cast<size_t>(std::min<uint64_t>(size, bodyRemaining_));
    platform::ReceiveResult r = ReceiveBody(buffer, want, timeoutMs);
    if (r.status == platform::ReceiveStatus::kData) {
        bodyRemaining_ -= r.bytes;
        if (bodyRemaining_ == 0) bodyComplete_ = true;
        return r.bytes;
    }
    if (r.status != platform::ReceiveStatus::kTimedOut) inputClosed_ = true;
    if (inputClosed_ || timeoutMs != 0) bodyComplete_ = true;
    return 0;
}

bool Connection::PassHeadLineFeed() {
    if (leadingLineFeedChecked_) return false;
    leadingLineFeedChecked_ = true;
    if (input_[inputStart_] != '\n') return false;
    leadingLineFeed_ = true;
    ++inputStart_;
    return true;
}

size_t Connection::ReadBody(char* buffer, size_t size, int waitMs) {
    if (chunksAsTheyCome_) return ReadChunks(buffer, size, waitMs);
    if (!bodyStarted_) StartBody();
    if (size == 0 || bodyComplete_) return 0;
    size_t copied = 0;
    while (copied < size) {
        if (bodyHasLength_ && bodyRemaining_ == 0 && leadingLineFeedChecked_) {
            bodyComplete_ = true;
            break;
        }
        // An empty body is complete at once: after a bare-CR head no line feed is coming,
        // and one that is already here is taken below.
        if (bodyHasLength_ && bodyRemaining_ == 0 && inputStart_ == inputEnd_) {
            bodyComplete_ = true;
            break;
        }
        if (inputStart_ == inputEnd_) {
            if (copied > 0) break;  // hand over what we have before waiting again
            // Without a declared length the body is what has already arrived.
            int timeout = bodyHasLength_ ? waitMs : 0;
            if (bodyHasLength_ && leadingLineFeedChecked_ && size >= kInputBufferSize) {
                // A large read goes straight into the caller's buffer: a big body is not
                // copied twice nor received in pieces of the input buffer's size.
                return ReceiveBodyDirectly(buffer, size, timeout);
            }
            if (!FillInput(timeout, true)) {
                if (inputClosed_ || !bodyHasLength_ || timeout != 0) bodyComplete_ = true;
                break;
            }
        }
        if (PassHeadLineFeed()) continue;
        size_t available = inputEnd_ - inputStart_;
        size_t take = std::min(available, size - copied);
        if (bodyHasLength_) take = static_cast<size_t>(std::min<uint64_t>(take, bodyRemaining_));
        std::copy_n(input_.get() + inputStart_, take, buffer + copied);
        inputStart_ += take;
        copied += take;
        if (bodyHasLength_) bodyRemaining_ -= take;
    }
    return copied;
}

bool Connection::ReadFormField(std::string& name, size_t nameCapacity, std::string& value,
                               size_t valueCapacity) {
    name.clear();
    value.clear();
    const size_t nameLimit = std::min(kMaxFormNameLength, nameCapacity > 0 ? nameCapacity - 1 : 0);
    const size_t valueLimit =
        std::min(kMaxFormValueLength, valueCapacity > 0 ? valueCapacity - 1 : 0);
    bool inValue = false;
    auto store = [&](char c) {
        if (inValue) {
            if (value.size() < valueLimit) value.push_back(c);
        } else if (name.size() < nameLimit) {
            name.push_back(c);
        }
    };
    enum class State { kPlain, kEscapeFirst, kEscapeSecond } state = State::kPlain;
    char firstRaw = 0;
    char c;
    while (ReadBody(&c, 1) == 1) {
        if (c == '\r' || c == '\n') continue;
        switch (state) {
            case State::kPlain:
                if (c == '=') {
                    inValue = true;
                } else if (c == '&') {
                    return true;
                } else if (c == '+') {
                    store(' ');
                } else if (c == '%') {
                    state = State::kEscapeFirst;
                } else {
                    store(c);
                }
                break;
            case State::kEscapeFirst:
                firstRaw = c;
                state = State::kEscapeSecond;
                break;
            case State::kEscapeSecond: {
                int high = platform::HexDigitValue(firstRaw);
                int low = platform::HexDigitValue(c);
                if (high >= 0 && low >= 0) {
                    store(static_cast<char>(high * 16 + low));
                } else {
                    // Not an escape after all: keep the characters as they came.
                    store('%');
                    store(firstRaw);
                    store(c);
                }
                state = State::kPlain;
                break;
            }
        }
    }
    return !name.empty();
}

}  // namespace http
