// Fuzz target: any bytes as a request, read by the loop's head reader and split by the
// connection; each request is answered by its handler, dropped, or refused (400, or 501 for
// methods not supported), within the head and URL limits.
#include <algorithm>
#include <string>

#include "tests/fuzz/fuzz_engine.h"

namespace {

class RecordingConnection : public http::Connection {
  public:
    bool handled = false;
    std::string seenMethod;
    bool MayAnswerOnLoop() override { return true; }
    void OnGet(std::string requestUrl) override { Check(requestUrl); }
    void OnPost(std::string requestUrl) override { Check(requestUrl); }

  private:
    void Check(const std::string& requestUrl) {
        handled = true;
        const http::Request& r = request();
        seenMethod = r.method();
        const std::string_view url = r.target();
        FUZZ_CHECK(r.head().size() <= http::kMaxHeadBytes);
        FUZZ_CHECK(url.size() <= http::kMaxUrlLength);
        FUZZ_CHECK(requestUrl == url);
        FUZZ_CHECK(r.method() == "GET" || r.method() == "HEAD" || r.method() == "POST");
        // The request line is method, URL and protocol, with no zero byte and no line end.
        FUZZ_CHECK(r.head().find('\n') == std::string_view::npos);
        for (std::string_view part : {r.method(), url, r.protocol()}) {
            FUZZ_CHECK(part.find('\0') == std::string_view::npos);
            FUZZ_CHECK(part.find('\r') == std::string_view::npos);
        }
        FUZZ_CHECK(url.find(' ') == std::string_view::npos);
        AppendBody("handled");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Past the head limit and a little more: larger inputs only repeat that case.
    if (size > http::kMaxHeadBytes + 4096) return 0;
    std::string request(reinterpret_cast<const char*>(data), size);
    RecordingConnection connection;
    std::string response = fuzz::Exchange(connection, request);

    // Exactly one outcome: answered by the handler, dropped unanswered, or refused.
    if (connection.handled) {
        FUZZ_CHECK(response.rfind("HTTP/1.0 200 ", 0) == 0 ||
                   response.rfind("HTTP/1.1 200 ", 0) == 0);
        // HEAD is answered without the body.
        const std::string body = connection.seenMethod == "HEAD" ? "" : "handled";
        FUZZ_CHECK(response.size() >= body.size() &&
                   response.compare(response.size() - body.size(), body.size(), body) == 0);
        // A request line ends at a carriage return.
        FUZZ_CHECK(request.find('\r') != std::string::npos);
    } else {
        // PUT and TRACE are refused as not supported.
        // An HTTP/1.1 request is refused in HTTP/1.1 (no Host, a body of unclear length).
        FUZZ_CHECK(response.empty() || response.rfind("HTTP/1.0 400 ", 0) == 0 ||
                   response.rfind("HTTP/1.0 501 ", 0) == 0 ||
                   response.rfind("HTTP/1.1 400 ", 0) == 0 ||
                   response.rfind("HTTP/1.1 501 ", 0) == 0);
    }
    // A head that has not ended within the limit and goes on past it is refused with 400.
    std::string kept;
    for (char c : request) {
        if (c != '\n') kept.push_back(c);
    }
    size_t end = kept.find("\r\r");
    if ((end == std::string::npos || end + 2 > http::kMaxHeadBytes) &&
        kept.size() > http::kMaxHeadBytes) {
        FUZZ_CHECK(!connection.handled && response.rfind("HTTP/1.0 400 ", 0) == 0);
    }
    return 0;
}
