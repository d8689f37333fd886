// Dead properties in an extended attribute.
#include "webdav/dead_properties.h"

#include <errno.h>
#include <sys/xattr.h>

#include "platform/text.h"

namespace webdav {
namespace {

constexpr const char* kAttributeName = "user.vantry.dav";
// The most an attribute may hold that this code reads back.
constexpr size_t kMaxStored = 64 * 1024;

std::optional<std::string> ReadAttribute(const std::string& path) {
    std::string value(kMaxStored, '\0');
    const ssize_t length = ::getxattr(path.c_str(), kAttributeName, value.data(), value.size());
    if (length < 0) return std::nullopt;
    value.resize(static_cast<size_t>(length));
    return value;
}

void AppendField(std::string_view field, std::string* out) {
    out->append(std::to_string(field.size())).push_back(':');
    out->append(field);
}

// Takes one field off the front of `stored`.
std::optional<std::string> TakeField(std::string_view* stored) {
    const size_t colon = stored->find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::optional<uint64_t> length = platform::ParseDigits(stored->substr(0, colon));
    if (!length || *length > stored->size() - colon - 1) return std::nullopt;
    std::string field(stored->substr(colon + 1, *length));
    stored->remove_prefix(colon + 1 + *length);
    return field;
}

}  // namespace

std::string EncodeDeadProperties(const std::vector<DeadProperty>& properties) {
    std::string out;
    for (const DeadProperty& property : properties) {
        AppendField(property.space, &out);
        AppendField(property.name, &out);
        AppendField(property.valueXml, &out);
    }
    return out;
}

std::vector<DeadProperty> DecodeDeadProperties(std::string_view stored) {
    std::vector<DeadProperty> properties;
    while (!stored.empty()) {
        std::optional<std::string> space = TakeField(&stored);
        std::optional<std::string> name = space ? TakeField(&stored) : std::nullopt;
        std::optional<std::string> value = name ? TakeField(&stored) : std::nullopt;
        if (!value) break;
        properties.push_back({std::move(*space), std::move(*name), std::move(*value)});
    }
    return properties;
}

std::vector<DeadProperty> ReadDeadProperties(const std::string& path) {
    std::optional<std::string> stored = ReadAttribute(path);
    return stored ? DecodeDeadProperties(*stored) : std::vector<DeadProperty>{};
}

std::optional<int> WriteDeadProperties(const std::string& path,
                                       const std::vector<DeadProperty>& properties) {
    if (properties.empty()) {
        if (::removexattr(path.c_str(), kAttributeName) != 0 && errno != ENODATA &&
            errno != ENOTSUP) {
            return errno;
        }
        return std::nullopt;
    }
    const std::string stored = EncodeDeadProperties(properties);
    if (stored.size() > kMaxStored) return E2BIG;
    if (::setxattr(path.c_str(), kAttributeName, stored.data(), stored.size(), 0) != 0) {
        return errno;
    }
    return std::nullopt;
}

void CopyDeadProperties(const std::string& from, const std::string& to) {
    if (std::optional<std::string> stored = ReadAttribute(from)) {
        ::setxattr(to.c_str(), kAttributeName, stored->data(), stored->size(), 0);
    }
}

}  // namespace webdav
