// The web files compiled into the executable, found by number.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace platform {

struct EmbeddedResource {
    int id;
    const unsigned char* data;
    size_t size;
};

// The table is generated at build time from the files under resources/ and linked into each
// executable that needs it.
extern const EmbeddedResource kEmbeddedResources[];
extern const size_t kEmbeddedResourceCount;

// The bytes of resource `id`, or std::nullopt when there is none.
std::optional<std::string_view> FindResource(int id);

}  // namespace platform
