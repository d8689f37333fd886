// The routing table of the applications under /VNT/.
#include "apps/application_router.h"

#include <string_view>

#include "apps/application_pages.h"
#include "apps/route_table.h"

namespace apps {
namespace {

// In the order the names are tried.
constexpr Route kRoutes[] = {
    {"FILEUPLOAD.HTML", Match::kPrefix, FileUploadPage},
    {"HANDLEFILEUPLOAD.HTML", Match::kPrefix, HandleFileUpload},
    {"USERLIST.HTML", Match::kPrefix, UserListPage},
    {"SEARCH.HTML", Match::kPrefix, SearchPage},
    {"HANDLESEARCH.HTML", Match::kPrefix, HandleSearch},
    {"HANDLESEARCHRESULTS.HTML", Match::kPrefix, HandleSearchResults},
    {"SENDMESSAGE.HTML", Match::kPrefix, SendMessagePage},
    {"HANDLESENDMESSAGE.HTML", Match::kPrefix, HandleSendMessage},
    {"NAVIGATOR.HTML", Match::kPrefix, NavigatorPage},
    {"NAVIGATION.HTML", Match::kPrefix, NavigatorPage},
    {"HANDLEPOST.HTML", Match::kPrefix, HandlePost},
    {"HANDLEPOSTRAW.HTML", Match::kPrefix, HandlePostRaw},
    {"HANDLEPOSTPLUSHEADERS.HTML", Match::kPrefix, HandlePostPlusHeaders},
    {"FILE.GIF", Match::kExact, Gif<126>},
    {"FOLDER.GIF", Match::kExact, Gif<127>},
    {"SHORTCUT.GIF", Match::kExact, Gif<144>},
    {"VNTBANNER.GIF", Match::kExact, Gif<136>},
};

// The page name of a path after "VNT".
std::string_view PageName(std::string_view path) {
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    return path;
}

}  // namespace

void RouteApplication(http::Connection& c, std::string path) {
    std::string_view name = PageName(path);
    if (!RunRoute(kRoutes, name, c) && !RunRoute(kNavigationImages, name, c)) c.SetStatus(404);
}

bool IsUserListPath(std::string_view path) {
    const Route* route = FindRoute(kRoutes, PageName(path));
    return route != nullptr && route->answer == UserListPage;
}

}  // namespace apps
