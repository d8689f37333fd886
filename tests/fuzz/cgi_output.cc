// Fuzz target: the gateway's reading of a request for a script's environment. The script's
// own output needs no parsing: the gateway sends its success head and relays the output as
// it comes. What it does parse is the request's header lines, into HTTP_ variables.
#include <set>
#include <string>
#include <vector>

#include "site/cgi.h"
#include "tests/fuzz/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first line is the query string; the rest are the header lines.
    size_t split = input.find('\n');
    std::string_view query = split == std::string_view::npos ? input : input.substr(0, split);
    // A URL holding a zero byte is refused before any script runs.
    query = query.substr(0, query.find('\0'));
    std::string_view headers =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    site::CgiRequest request;
    request.queryString = query;
    request.serverName = "fuzz";
    request.serverPort = 80;
    request.documentRoot = "/srv/www";
    request.scriptFilename = "/srv/cgi-bin/run.pl";
    request.protocol = "HTTP/1.0";
    request.requestUri = "/cgi-bin/run.pl";
    request.scriptName = "/cgi-bin/run.pl";
    request.headers = headers;
    const std::vector<std::string> process = {"PATH=/usr/bin:/bin", "HTTP_HOST=outside", "LANG=C"};
    std::vector<std::string> environment = site::BuildCgiEnvironment(process, request);

    std::set<std::string> names;
    for (const std::string& entry : environment) {
        size_t equals = entry.find('=');
        FUZZ_CHECK(equals != std::string::npos && equals > 0);
        std::string name = entry.substr(0, equals);
        // One variable per name, and each name and value is one entry the system passes whole.
        FUZZ_CHECK(names.insert(name).second);
        FUZZ_CHECK(entry.find('\0') == std::string::npos);
        FUZZ_CHECK(name != "HTTP_PROXY");
        FUZZ_CHECK(entry.size() - equals - 1 <= site::kMaxCgiValueLength);
        if (name.rfind("HTTP_", 0) == 0) {
            FUZZ_CHECK(entry.find('\r') == std::string::npos);
        }
    }
    FUZZ_CHECK(names.count("PATH") == 1 && names.count("QUERY_STRING") == 1);
    return 0;
}
