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

// Serves the session on the calling thread until the client closes it, stays idle past
// `idleLimitMs` with no stream open, or the connection fails. `socketFd` is the connection's
// socket, which `tls` reads and writes.
void ServeHttp2(platform::TlsSession& tls, int socketFd, const platform::IpAddress& client,
                uint32_t clientPortNetworkOrder, ServerInstance& server, int idleLimitMs);

}  // namespace http
