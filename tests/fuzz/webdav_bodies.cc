// Fuzz target: what a network drive client sends besides files: an XML body, an If header and
// a stored property list. Any input is read without a fault; XML that parses writes back as
// XML that parses to the same names; stored properties read back as they were written.
#include <string>

#include "tests/fuzz/fuzz_engine.h"
#include "webdav/dead_properties.h"
#include "webdav/if_header.h"
#include "webdav/xml.h"

namespace {

bool SameNames(const webdav::XmlElement& a, const webdav::XmlElement& b) {
    if (a.space != b.space || a.name != b.name || a.children.size() != b.children.size()) {
        return false;
    }
    for (size_t i = 0; i < a.children.size(); ++i) {
        if (!SameNames(a.children[i], b.children[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (std::optional<webdav::XmlElement> root = webdav::ParseXml(input, &error)) {
        std::optional<webdav::XmlElement> again = webdav::ParseXml(root->Serialize(), &error);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(SameNames(*root, *again));
    }
    if (std::optional<webdav::IfHeader> header = webdav::ParseIfHeader(input)) {
        FUZZ_CHECK(!header->lists.empty());
        webdav::IfHeaderHolds(*header, [](const std::optional<std::string>&) {
            return std::optional<webdav::IfResourceState>(webdav::IfResourceState{"\"t\"", {}});
        });
    }
    const std::vector<webdav::DeadProperty> decoded = webdav::DecodeDeadProperties(input);
    const std::vector<webdav::DeadProperty> again =
        webdav::DecodeDeadProperties(webdav::EncodeDeadProperties(decoded));
    FUZZ_CHECK(again.size() == decoded.size());
    for (size_t i = 0; i < again.size(); ++i) {
        FUZZ_CHECK(again[i].space == decoded[i].space && again[i].name == decoded[i].name &&
                   again[i].valueXml == decoded[i].valueXml);
    }
    return 0;
}
