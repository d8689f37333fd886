// The routing table of the applications under /VNT/.
#include "apps/application_router.h"

#include <string_view>

#include "apps/application_pages.h"
#include "pages/route_table.h"

namespace apps {
namespace {

// In the order the names are tried.
constexpr pages::Route kRoutes[] = {
    {"FILEUPLOAD.HTML", pages::Match::kPrefix, FileUploadPage},
    {"HANDLEFILEUPLOAD.HTML", pages::Match::kPrefix, HandleFileUpload},
    {"USERLIST.HTML", pages::Match::kPrefix, UserListPage},
    {"SEARCH.HTML", pages::Match::kPrefix, SearchPage},
    {"HANDLESEARCH.HTML", pages::Match::kPrefix, HandleSearch},
    {"HANDLESEARCHRESULTS.HTML", pages::Match::kPrefix, HandleSearchResults},
    {"SENDMESSAGE.HTML", pages::Match::kPrefix, SendMessagePage},
    {"HANDLESENDMESSAGE.HTML", pages::Match::kPrefix, HandleSendMessage},
    {"NAVIGATOR.HTML", pages::Match::kPrefix, NavigatorPage},
    {"NAVIGATION.HTML", pages::Match::kPrefix, NavigatorPage},
    {"HANDLEPOST.HTML", pages::Match::kPrefix, HandlePost},
    {"HANDLEPOSTRAW.HTML", pages::Match::kPrefix, HandlePostRaw},
    {"HANDLEPOSTPLUSHEADERS.HTML", pages::Match::kPrefix, HandlePostPlusHeaders},
    {"FILE.GIF", pages::Match::kExact, pages::Gif<126>},
    {"FOLDER.GIF", pages::Match::kExact, pages::Gif<127>},
    {"SHORTCUT.GIF", pages::Match::kExact, pages::Gif<144>},
    {"VNTBANNER.GIF", pages::Match::kExact, pages::Gif<136>},
};

// The page name of a path after "VNT".
std::string_view PageName(std::string_view path) {
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    return path;
}

}  // namespace

void RouteApplication(http::Connection& c, std::string path) {
    std::string_view name = PageName(path);
    if (!pages::RunRoute(kRoutes, name, c) && !pages::RunRoute(pages::kNavigationImages, name, c))
        c.Answer(http::Response::Error(404));
}

bool IsUserListPath(std::string_view path) {
    const pages::Route* route = pages::FindRoute(kRoutes, PageName(path));
    return route != nullptr && route->answer == UserListPage;
}

}  // namespace apps
