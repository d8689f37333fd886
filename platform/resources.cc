// Lookup in the generated resource table.
#include "platform/resources.h"

namespace platform {

std::optional<std::string_view> FindResource(int id) {
    for (size_t i = 0; i < kEmbeddedResourceCount; ++i) {
        if (kEmbeddedResources[i].id == id) {
            return std::string_view(reinterpret_cast<const char*>(kEmbeddedResources[i].data),
                                    kEmbeddedResources[i].size);
        }
    }
    return std::nullopt;
}

}  // namespace platform
