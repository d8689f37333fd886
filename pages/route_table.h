// Tables that map a page or image name to what answers it: the administration and the
// application routers are both made of them, and share the navigation images.
#pragma once

#include <span>
#include <string_view>

#include "http/connection.h"

namespace pages {

enum class Match { kPrefix, kExact };

struct Route {
    std::string_view name;
    Match match;  // a prefix lets a query or anything else follow the name
    void (*answer)(http::Connection&);
};

// The first route whose name matches `name` (letter case ignored); null when none does.
const Route* FindRoute(std::span<const Route> routes, std::string_view name);
// Runs the first route whose name matches `name` (letter case ignored); false when none does.
bool RunRoute(std::span<const Route> routes, std::string_view name, http::Connection& c);

// The navigation buttons (the owner's files first), the program icon, and the desktop's
// bitmaps, which are no web files: the same under /admin/ and /VNT/.
extern const std::span<const Route> kNavigationImages;

// Sends embedded file `kId` as a GIF image.
template <int kId>
void Gif(http::Connection& c) {
    c.SendResource(kId, "GIF");
}

}  // namespace pages
