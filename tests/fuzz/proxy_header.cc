// Fuzz target: the PROXY header read from a connection's first bytes. A complete header lies
// within the bytes and is read the same from any longer input; every shorter prefix of it is
// incomplete, so reading it piece by piece never takes a byte past it.
#include "http/proxy_header.h"

#include "tests/fuzz/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const http::ProxyHeader header = http::ParseProxyHeader(bytes);
    if (header.status != http::ProxyHeader::Status::kComplete) return 0;
    FUZZ_CHECK(header.length > 0 && header.length <= bytes.size());
    FUZZ_CHECK(header.length <= http::kMaxProxyHeaderSize);
    const http::ProxyHeader alone = http::ParseProxyHeader(bytes.substr(0, header.length));
    FUZZ_CHECK(alone.status == header.status && alone.length == header.length &&
               alone.source == header.source);
    for (size_t cut = 0; cut < header.length; ++cut) {
        FUZZ_CHECK(http::ParseProxyHeader(bytes.substr(0, cut)).status ==
                   http::ProxyHeader::Status::kIncomplete);
    }
    return 0;
}
