// Running route tables, and the navigation images both routers serve.
#include "pages/route_table.h"

#include "pages/page_template.h"
#include "platform/text.h"

namespace pages {
namespace {

template <int kId, const std::string_view* kName>
void NavImage(http::Connection& c) {
    SendNavImage(c, kId, "GIF", *kName);
}
void NotFound(http::Connection& c) { c.Answer(http::Response::Error(404)); }

constexpr std::string_view kHome = "Home", kSearch = "Search", kFavorites = "Favorites",
                           kDownload = "Download", kUpload = "Upload", kMessage = "Message",
                           kUserList = "UserList";

constexpr Route kImages[] = {
    {"HOME.GIF", Match::kExact, NavImage<137, &kHome>},
    {"SEARCH.GIF", Match::kExact, NavImage<138, &kSearch>},
    {"FAVORITES.GIF", Match::kExact, NavImage<139, &kFavorites>},
    {"DOWNLOAD.GIF", Match::kExact, NavImage<140, &kDownload>},
    {"UPLOAD.GIF", Match::kExact, NavImage<141, &kUpload>},
    {"MESSAGE.GIF", Match::kExact, NavImage<142, &kMessage>},
    {"USERLIST.GIF", Match::kExact, NavImage<143, &kUserList>},
    {"VNTICON.GIF", Match::kExact, Gif<145>},
    {"VNTICON.BMP", Match::kExact, NotFound},
    {"VNTGRAYICON.BMP", Match::kExact, NotFound},
};

}  // namespace

const std::span<const Route> kNavigationImages = kImages;

const Route* FindRoute(std::span<const Route> routes, std::string_view name) {
    for (const Route& route : routes) {
        bool matches = route.match == Match::kPrefix ? platform::StartsWithNoCase(name, route.name)
                                                     : platform::EqualsNoCase(name, route.name);
        if (matches) return &route;
    }
    return nullptr;
}

bool RunRoute(std::span<const Route> routes, std::string_view name, http::Connection& c) {
    const Route* route = FindRoute(routes, name);
    if (route == nullptr) return false;
    route->answer(c);
    return true;
}

}  // namespace pages
