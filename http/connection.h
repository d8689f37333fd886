// One HTTP/1.0 exchange: the pooled connection object, its worker, the request reader, the
// body reader and the response senders.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/server_config.h"
#include "http/byte_range.h"
#include "http/chunked_body.h"
#include "http/forwarding.h"
#include "http/framing.h"
#include "http/head_scanner.h"
#include "http/http2_session.h"
#include "http/request.h"
#include "http/response.h"
#include "http/text_buffer.h"
#include "platform/ip_address.h"
#include "platform/open_file.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "platform/transfer_pace.h"
#include "platform/unique_fd.h"
#include "platform/worker_thread.h"

namespace http {

class ServerInstance;

// Seconds of silence after which reading (and sending) gives up.
inline constexpr int kIdleLimitSeconds = 30;
// Limits of one form field read by ReadFormField.
inline constexpr size_t kMaxFormNameLength = 70;
inline constexpr size_t kMaxFormValueLength = 33000;

class Connection : private platform::WaitGate {
  public:
    Connection();
    virtual ~Connection();  // stops the worker (see StopWorker)
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Hands the object an accepted socket. Main thread only, and only while the object is
    // free. A head already read on the loop comes as `received`: its bytes are read first,
    // and no more head is waited for. Such a request is answered on the calling thread when
    // that takes no waiting (see MayAnswerOnLoop); otherwise, and for a socket without a
    // head, the object's worker is woken to go on with it.
    // `registered`: the loop's registration of the socket is kept for its close.
    // `clientBound`: the loop admitted the request as one that waits on its client (a body
    // still arriving), within the server's share for such requests.
    // `requestsBefore`: requests the connection carried already (HTTP/1.1 keeps it open).
    // `portNetworkOrder`: the client's TCP port as the socket address holds it.
    void Assign(platform::UniqueFd acceptedSocket, platform::IpAddress clientAddress,
                uint32_t portNetworkOrder, ServerInstance* server,
                std::optional<std::string> received = std::nullopt, bool registered = false,
                bool clientBound = false, uint32_t requestsBefore = 0);
    // Makes the next Assign a connection of the TLS port, read and written through
    // `session`; the worker completes a handshake still unfinished. Such a request is never
    // answered on the loop. Main thread, object free.
    void UseTls(std::unique_ptr<platform::TlsSession> session) { tls_ = std::move(session); }
    // Makes the next Assign, a connection of the TLS port, go on with its parked HTTP/2
    // session. Main thread, object free.
    void ResumeHttp2(ParkedHttp2 session) { http2_ = std::move(session); }
    bool busy() const { return busy_.load(); }
    // Stops the worker thread, cutting short a request in progress. The pool calls it before
    // destroying an object, while the handlers of its class still exist.
    void StopWorker();

    // The worker's whole course for one request: read, dispatch, respond, finish, log, free.
    // Runs on the worker; tests may call it directly after Assign on an object without one.
    void ReadRequest();

    // Whether the main loop may answer the request just split itself, without a thread
    // switch: only when handling it neither waits for the client nor runs long (a file of
    // the site, say). Its sends then never wait either: what the socket does not take at
    // once, and any file too large to try, is left to the worker. None by default.
    virtual bool MayAnswerOnLoop() { return false; }

    // Whether the handler reads a body sent in chunks as it comes (ReadBody decodes it; it has
    // no declared length), rather than gathered whole first, within a limit, before it runs:
    // for requests whose bodies may be large and are written straight to a file. None by
    // default.
    virtual bool TakesChunksAsTheyCome() { return false; }

    // Handlers, overridden by the application class.
    virtual void OnGet(std::string url);
    virtual void OnPost(std::string url);
    // A PUT: refused (501) unless the application class takes it.
    virtual void OnPut(std::string url);
    // A method none of the above takes (TRACE aside): refused (400) unless the application
    // class takes it.
    virtual void OnOtherMethod(std::string url);
    // The complete header line "Content-Type: <type>" for an extension.
    virtual std::string ContentTypeFor(std::string_view extension);
    virtual void LogRequest();
    virtual void ListDirectory();

    // The answer: what the handlers give (an error, a file, a listing, an answer they sent
    // themselves), or by default the page they write into the page buffer.
    void Answer(Response response) { response_ = std::move(response); }
    const Response& response() const { return response_; }
    // The page buffer: the generated page, or the error page's tail.
    TextBuffer& page() { return page_; }
    void AppendBody(std::string_view text) { page_.Append(text); }
    void AppendBodyLine(std::string_view text) {
        page_.Append(text);
        page_.Append("\r\n");
    }
    // Sending for handlers that answer themselves (see Response::Kind::kSent).
    void SendText(std::string_view text);
    // The status line, Server and Accept-Ranges of a 200 answer whose other lines follow.
    void SendStatusHeaders();
    // Sends embedded file `resourceId` whole, with the type of `extension`.
    void SendResource(int resourceId, std::string_view extension);
    // Sends `data` whole as an embedded file is sent, with the type of `extension`.
    void SendData(std::string_view data, std::string_view extension);
    // Sends `data`, which never changes while the program runs, with `contentTypeLine` and
    // leave for the client to keep it `maxAgeSeconds`; a client that has it gets 304.
    void SendUnchanging(std::string_view data, std::string_view contentTypeLine, int maxAgeSeconds);
    // Sends `count` bytes of the open file `fd` from `offset` as the next part of the body of
    // an answer whose head went out, by the system where it can; false once the client went
    // away or the file ended sooner.
    bool SendFileBody(int fd, uint64_t offset, uint64_t count);
    // Bytes of the answer's body sent so far.
    uint64_t BytesSent() const { return bytesSent_; }

    // Request bodies. The body is the Content-Length bytes after the head, read with the idle
    // limit and ending early only when the client closes; without a Content-Length it is what
    // has arrived. The head is read up to the CR of its empty line: the line feed after that
    // CR is no body byte, and ReadBody passes over it. ReadBody returns 0 at the end of the
    // body; with `waitMs` 0 it returns only what is there now (0 then may also mean "nothing
    // yet": BodyComplete tells the two apart).
    size_t ReadBody(char* buffer, size_t size, int waitMs = kIdleLimitSeconds * 1000);
    bool BodyComplete() const { return bodyComplete_; }
    // True when the client ended the head's empty line with its line feed; known once
    // ReadBody has returned bytes or the body is complete. A handler that stores the request
    // as it came puts it back.
    bool HeadEndedWithLineFeed() const { return leadingLineFeed_; }
    // For a handler that reads the body without waiting (ReadBody with `waitMs` 0) and waits
    // on the socket itself: true once the client has sent too slowly to be waited for longer.
    bool BodyPaceLost();
    // True once the request's head ended with its empty line; a head that never did may
    // have lost header lines and the body with it.
    bool HeadComplete() const { return headComplete_; }
    // True when the body ended before its declared length: the client closed its side,
    // stayed silent past the idle limit or sent too slowly (see platform::TransferPace).
    bool BodyCutShort() const {
        return bodyComplete_ && ((bodyHasLength_ && bodyRemaining_ > 0) || chunksCut_);
    }
    // The declared Content-Length when there is a valid one.
    std::optional<uint64_t> DeclaredBodyLength();
    // Reads the next field of a URL-encoded form from the body. The outputs hold at most
    // capacity - 1 bytes; the rest of an over-long field is read and dropped. True when a
    // field ended with "&", or the body ended after a non-empty name.
    bool ReadFormField(std::string& name, size_t nameCapacity, std::string& value,
                       size_t valueCapacity);

    // The request as it came: its line and header lines.
    const Request& request() const { return request_; }

    // The target as the handlers route it: the request's own here; the site's router
    // decodes it.
    virtual std::string_view RoutedTarget() const { return request_.target(); }
    // The target the access log names: the request's own unless a handler named another (a
    // script's, say, without its query).
    std::string_view LoggedTarget() const {
        return loggedTarget_ ? std::string_view(*loggedTarget_) : request_.target();
    }
    void SetLoggedTarget(std::string target) { loggedTarget_ = std::move(target); }

    // Who asked, when, and of which server.
    uint16_t clientPort = 0;  // the client's TCP port
    platform::IpAddress clientAddress;
    ServerInstance* server = nullptr;
    std::time_t requestTime = 0;
    // The request is the administration's: its pages may not be framed by another site.
    bool framingDenied = false;
    // The type lines of a page the server generates (no CR LF after the last): HTML, not to
    // be sniffed as anything else, and for the administration never inside a frame.
    std::string PageTypeLines() const;
    // The head SendPage sends for the body it holds; without `length` (a page sent while it
    // is built) it has no Content-Length, and the close of the connection ends the page.
    std::string GeneratedPageHead(std::optional<uint64_t> length) const;
    // `lines` (header lines without CR LF after the last), followed by the lines that forbid
    // frames when the request is the administration's.
    std::string WithFramingRule(std::string lines) const;

    // The configuration as it was when this request began.
    const config::ServerConfig& Config() const { return *config_; }
    // The generated pages are drawn in the modern look (HTML5, UTF-8, the stylesheet).
    bool ModernLook() const { return config_ != nullptr && config_->modernLook; }
    // Takes the configuration as it is now, for a handler that changed it and goes on to
    // show it.
    void RefreshConfig();
    // 1 or 2: the server this connection belongs to (0 only for a connection without one).
    int ServerNumber() const;
    // The settings of this connection's server; null for server number 0.
    const config::ServerSettings* Settings() const;
    // "http://address" or "http://address:port", the server's own address for links (empty
    // for server number 0); "https://" and the TLS port for a connection of the TLS port.
    std::string BaseUrl() const;
    // The client's socket, for handlers that wait on it together with other descriptors.
    int socketFd() const { return socket_.get(); }
    // Reading and writing the client's bytes, through TLS on a connection of the TLS port:
    // as platform::ReceiveSome and platform::SendAll. Sends keep the answer's pace (see
    // platform::TransferPace): each wait lasts at most `idleLimitMs`. What is sent counts
    // as body bytes (see BytesSent).
    platform::ReceiveResult ReceiveFromClient(void* buffer, size_t size, int timeoutMs);
    bool SendToClient(const void* data, size_t size, int idleLimitMs);
    // Bytes of the client already received and decrypted: readable although the socket
    // may be quiet.
    bool ClientBytesBuffered() const { return tls_ && tls_->HasBuffered(); }
    // True on a connection of the TLS port: the request came as https.
    bool IsTls() const { return tls_ != nullptr || overTls_; }
    // Makes the object answer requests that came over TLS to another object (the streams of
    // an HTTP/2 connection): its links and rules are those of the TLS port.
    void ServeAsTls() { overTls_ = true; }
    // The request asked for HTTP/1.1 (or a later 1.x): it gets an HTTP/1.1 answer, and the
    // connection may carry further requests.
    bool Http11() const { return framing_.active(); }
    // The request came through a proxy the owner trusts (see config trustedProxies), whose
    // headers named the client: `clientAddress` is that client, not the proxy.
    bool ClientForwarded() const { return forwarding_.client.has_value(); }
    // A trusted proxy says its client asked over HTTPS.
    bool ForwardedAsHttps() const { return forwarding_.https; }
    // The host and port the client of a trusted proxy asked for, when it is known.
    std::optional<std::string_view> ForwardedAuthority() const {
        if (!forwarding_.authority) return std::nullopt;
        return *forwarding_.authority;
    }
    // While a request runs a script, a server that stops cuts it short: StopScript (any
    // thread) shuts the client's socket down, and the relay then stops the script.
    void SetRunningScript(bool running) { runningScript_.store(running); }
    void StopScript();

    // Shows `text` to the owner (on the main thread, where the status line lives): failures
    // the owner must act on, never shown to the client.
    void ReportToOwner(std::string text);

  private:
    enum class HeadResult { kComplete, kEnded, kTooLarge };
    // A request line is split, dropped unanswered (no method and URL to be found) or
    // answered with 400.
    using LineResult = Request::LineResult;

    // Where the worker takes up a request: from its start, or where the loop left it.
    enum class Stage { kRead, kDispatch, kRespond, kSendRest };

    void WorkerMain();
    // Runs the request from `stage_` to its end, on the worker.
    void Continue();
    // Runs what the loop may of a request whose head was read on the loop; true when the
    // request is over, false when the worker must go on from `stage_`.
    bool AnswerOnLoop();
    // True when what Respond would do next may wait: a listing, a page or a script's output.
    bool RespondMayWait() const;
    void BeginRequest();
    // For a request of a trusted proxy, takes the client its headers name as the request's
    // client (see http::ReadForwarding).
    void ApplyForwarding();
    // Reads the head and splits its request line; false when the request is dropped (or,
    // too large, already answered) and nothing is logged.
    bool ReadAndSplit();
    void DispatchSafely();
    void RespondSafely();
    // Sends what the loop left unsent, waiting as every worker send does.
    void SendRest();
    // Finishes the exchange, logs it when it was answered, and frees the object.
    void EndRequest();
    void ResetRequestState();
    HeadResult ReadHead();
    void Dispatch();
    void Respond();
    void SendPage();
    // Sends the file answer; a file that cannot be opened turns it into an error.
    void SendFile();
    void SendErrorPage();
    void SendRaw();
    // The HTTP/1.1 rules for a request that asks for that version: the framing of its answer,
    // whether the connection stays open, and the requests refused (no Host, a body of two
    // lengths). Runs once its head is split.
    void BeginHttp11();
    // Sends the end of an HTTP/1.1 answer (its last chunk).
    void EndAnswer();
    // The request's body has been read to its end, or it has none: the bytes that follow are
    // the next request's.
    bool RequestBodyConsumed() const;
    // Gives the connection back to the server's loop to wait for its next request.
    void KeepConnection();
    // Reads a body sent in chunks to its end, before the request runs, so that it reaches
    // the handlers as a body of known length; false when it was refused (and answered).
    bool GatherChunkedBody();
    void Finish();
    bool SendBytes(std::string_view bytes, bool more = false);
    // Sends `head`, then `content`, which counts in `bytesSent` (through the HTTP/1.1
    // framing for such a request). `more`: the connection's close follows at once (its
    // last bytes go out with the FIN), or with `fileFollows` the file the system sends next
    // (the head goes out with its first bytes, even on a connection that stays open).
    bool SendHeadAndBody(std::string_view head, std::string_view content, bool more,
                         bool fileFollows = false);
    // Sends bytes as they are to go on the wire: now and what the socket takes on the loop
    // (the rest left for the worker), or with waits on the worker.
    bool SendWire(std::string_view head, std::string_view content, bool more);
    // Sends `bytes` of the answer through the framing with the worker's waits; they count in
    // `bytesSent` when `countAsBody`.
    bool SendFramed(std::string_view bytes, int idleLimitMs, bool countAsBody);
    // The worker's sends: what the socket takes at once goes out; a wait for the client keeps
    // the answer's pace, and the request's first wait must be admitted (AdmitWait). The bytes
    // of `content` that went out count in `*contentSent`.
    bool SendPaced(std::string_view head, std::string_view content, bool more, int idleLimitMs,
                   uint64_t* contentSent);
    bool SendFilePaced(int fileFd, uint64_t offset, uint64_t count);
    // How long the answer's next wait for the client may last; 0 when it must give up.
    int SendWaitMs(int idleLimitMs);
    void SendMoved(uint64_t bytes);
    // A request that waits on its client takes a share of the server's objects kept for
    // such requests; false when that share is full.
    bool AdmitWait() override;
    // Inside a handler of an exception: shows the owner what failed during `step` of a
    // request, where nothing else would tell.
    void ReportFailure(std::string_view step) noexcept;
    // The loop could start no worker: answers 503 with what the socket takes at once.
    void AnswerUnavailable();
    // True when the request's If-Modified-Since is a date no earlier than `modified`.
    bool NotModifiedSince(std::time_t modified) const;
    // How the request's conditions (If-Match, If-None-Match, If-Modified-Since) end for
    // `file`, whose entity tag is `tag`: 0 when the answer goes on, 304 when the client's
    // copy is current, 412 when the request must not go on.
    int FailedCondition(const platform::OpenedFile& file, std::string_view tag) const;
    // Whether the file answer carries an ETag line: for HTTP/1.1 and HTTP/2, and for an
    // HTTP/1.0 request that names entity tags itself.
    bool SendsEntityTag() const;
    // The part of `file` the request's Range asks for, honouring If-Range (a date, or the
    // file's entity tag `tag`).
    ByteRange RequestedRange(const platform::OpenedFile& file, std::string_view tag) const;
    bool HasUnsent() const { return !unsentHead_.empty() || !unsentBody_.empty() || unsentFile_; }
    // Refills the input buffer, waiting at most `timeoutMs` (and, for the body, as its pace
    // allows). False at the end of input.
    bool FillInput(int timeoutMs, bool forBody = false);
    // Receives bytes of the body: at once what is there, and a wait only as its pace allows.
    platform::ReceiveResult ReceiveBody(void* buffer, size_t size, int timeoutMs);
    void StartBody();
    // Receives up to `size` bytes of a body with a declared length into `buffer`, bypassing
    // the input buffer (which must be empty).
    size_t ReceiveBodyDirectly(char* buffer, size_t size, int timeoutMs);
    // Passes over the line feed that ends the head's empty line (no byte of the body), the
    // first time input is there to look at; true when it was there. Input must be waiting.
    bool PassHeadLineFeed();
    // ReadBody of a body in chunks decoded as it comes.
    size_t ReadChunks(char* buffer, size_t size, int waitMs);

    Request request_;
    Response response_;
    TextBuffer page_;
    uint64_t bytesSent_ = 0;
    std::optional<std::string> loggedTarget_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> runningScript_{false};
    platform::UniqueFd socket_;
    // The session of a connection of the TLS port.
    std::unique_ptr<platform::TlsSession> tls_;
    // The HTTP/2 session of the connection, while it is resumed or parking.
    ParkedHttp2 http2_;
    bool overTls_ = false;
    // The request was answered whole on the thread that assigned it, nothing left unsent:
    // an HTTP/2 stream's local socket then stays open for the session's next stream.
    bool answeredAtOnce_ = false;
    std::mutex socketMutex_;  // guards socket_ against the shut-down path of the destructor
    // The configuration this object last read, kept until the configuration changes.
    std::shared_ptr<const config::ServerConfig> config_;
    uint64_t configVersion_ = 0;
    bool sendFailed_ = false;
    // What a trusted proxy said of this request; empty for any other.
    Forwarding forwarding_;
    // The socket's own peer, whatever a proxy names as the client of one request.
    platform::IpAddress peerAddress_;
    uint32_t peerPortNetworkOrder_ = 0;
    Http11Framing framing_;
    std::string framed_;  // the framing's output, reused from send to send
    // The connection may carry another request after this one (HTTP/1.1).
    bool keepAlive_ = false;
    uint32_t requestsBefore_ = 0;
    // The request's body comes in chunks (see GatherChunkedBody), and is decoded as it is read
    // (see TakesChunksAsTheyCome); the chunks ended before the last one, or did not parse.
    bool chunkedBody_ = false;
    bool chunksAsTheyCome_ = false;
    bool chunksCut_ = false;
    ChunkedDecoder chunkDecoder_;

    // Bytes received and not yet consumed: the rest of the head's packet is the body's start.
    std::unique_ptr<char[]> input_;
    size_t inputStart_ = 0;
    size_t inputEnd_ = 0;
    bool inputClosed_ = false;
    // What the loop received before the worker took over, read before the socket.
    std::string received_;
    size_t receivedRead_ = 0;
    // The loop has read the head to its end: once `received_` is used up, it is over.
    bool headReceived_ = false;
    // The socket is still registered with the loop (see EventLoop::WatchOnce).
    bool socketRegistered_ = false;

    bool headComplete_ = false;
    bool bodyStarted_ = false;
    bool bodyHasLength_ = false;
    bool leadingLineFeedChecked_ = false;
    bool leadingLineFeed_ = false;
    bool bodyComplete_ = false;
    uint64_t bodyRemaining_ = 0;
    platform::TransferPace bodyPace_;
    platform::TransferPace sendPace_;
    // This request holds one of the server's places for requests that wait on their client.
    bool clientBound_ = false;

    Stage stage_ = Stage::kRead;
    // The request gets an answer and a log line (it was not dropped).
    bool answered_ = false;
    // The loop is running the request: sends must not wait.
    bool onLoop_ = false;
    // What a send on the loop could not get out at once, for the worker: head bytes, body
    // bytes, then `unsentFileCount_` bytes of `unsentFile_` from `unsentFileOffset_`.
    std::string unsentHead_;
    std::string unsentBody_;
    platform::UniqueFd unsentFile_;
    uint64_t unsentFileOffset_ = 0;
    uint64_t unsentFileCount_ = 0;

    platform::WorkerThread worker_;
    platform::WakeUp assigned_;
    std::atomic<bool> stopping_{false};
};

}  // namespace http
