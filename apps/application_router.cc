// The routing table of the applications under /VNT/.
#include "apps/application_router.h"

#include <string_view>

#include "apps/application_pages.h"
#include "apps/page_template.h"
#include "platform/text.h"

namespace apps {
namespace {

enum class Match { kPrefix, kExact };

struct Route {
    std::string_view name;
    Match match;
    void (*answer)(http::Connection&);
};

void NotFound(http::Connection& c) { c.SetStatus(404); }

// Embedded images by id, and the navigation buttons the owner may replace.
template <int kId>
void Image(http::Connection& c) {
    c.SendResource(kId, "GIF");
}
template <int kId, const std::string_view* kName>
void NavImage(http::Connection& c) {
    SendNavImage(c, kId, "GIF", *kName);
}
constexpr std::string_view kHome = "Home", kSearch = "Search", kFavorites = "Favorites",
                           kDownload = "Download", kUpload = "Upload", kMessage = "Message",
                           kUserList = "UserList";

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
    {"FILE.GIF", Match::kExact, Image<126>},
    {"FOLDER.GIF", Match::kExact, Image<127>},
    {"SHORTCUT.GIF", Match::kExact, Image<144>},
    {"VNTBANNER.GIF", Match::kExact, Image<136>},
    {"HOME.GIF", Match::kExact, NavImage<137, &kHome>},
    {"SEARCH.GIF", Match::kExact, NavImage<138, &kSearch>},
    {"FAVORITES.GIF", Match::kExact, NavImage<139, &kFavorites>},
    {"DOWNLOAD.GIF", Match::kExact, NavImage<140, &kDownload>},
    {"UPLOAD.GIF", Match::kExact, NavImage<141, &kUpload>},
    {"MESSAGE.GIF", Match::kExact, NavImage<142, &kMessage>},
    {"USERLIST.GIF", Match::kExact, NavImage<143, &kUserList>},
    {"VNTICON.GIF", Match::kExact, Image<145>},
    // The desktop's bitmaps are no web files.
    {"VNTICON.BMP", Match::kExact, NotFound},
    {"VNTGRAYICON.BMP", Match::kExact, NotFound},
};

}  // namespace

void RouteApplication(http::Connection& c, std::string path) {
    std::string_view name = path;
    if (!name.empty() && name.front() == '/') name.remove_prefix(1);
    for (const Route& route : kRoutes) {
        bool matches = route.match == Match::kPrefix ? platform::StartsWithNoCase(name, route.name)
                                                     : platform::EqualsNoCase(name, route.name);
        if (matches) {
            route.answer(c);
            return;
        }
    }
    c.SetStatus(404);
}

}  // namespace apps
