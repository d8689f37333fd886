// HTTP/2 over TLS: one client connection's session, whose streams are answered by connection
// objects of the server's own class, each given its stream's request as an HTTP/1.0-style
// request over a local socket pair. So every page, file, range, script, upload and login
// behaves as over HTTP/1.x, and the session only translates: frames to requests, answers to
// frames (the framing, header compression and flow control are libnghttp2's).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ip_address.h"
#include "platform/tls.h"

namespace http {

class ServerInstance;

// A session between its streams, parked with its connection on the server's loop, where it
// holds no thread and no object of the pool until the client sends again.
class Http2Session;
struct Http2SessionDeleter {
    void operator()(Http2Session* session) const;
};
using ParkedHttp2 = std::unique_ptr<Http2Session, Http2SessionDeleter>;

// Serves the session on the calling thread until the client closes it, the connection fails,
// or it has had no stream open for a moment: then it returns the session, whose connection
// is to wait on the loop for the client's next frame, and a later call given that session
// goes on with it. `socketFd` is the connection's socket, which `tls` reads and writes;
// `parked` is the session to resume, or null for a new connection.
ParkedHttp2 ServeHttp2(platform::TlsSession& tls, int socketFd, const platform::IpAddress& client,
                       uint32_t clientPortNetworkOrder, ServerInstance& server, ParkedHttp2 parked);

}  // namespace http
