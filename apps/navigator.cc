// The navigator page: the navigation bar alone, for the owner's own frames and windows.
#include "apps/application_pages.h"
#include "pages/page_template.h"

namespace apps {

// The one page that carries the bar even where the bar is off for every other page.
void NavigatorPage(http::Connection& c) {
    constexpr std::string_view kPage = "Navigator";
    if (c.ModernLook()) {
        // The modern start carries the bar, which this page always has.
        pages::AppendPageStart(c, kPage, "Navigator", {}, false);
        pages::AppendPageEnd(c, kPage);
        return;
    }
    c.AppendBodyLine("<HTML><HEAD><TITLE>Navigator</TITLE>");
    pages::AppendHtmlHeader(c, kPage);
    c.AppendBodyLine("</HEAD>");
    pages::AppendBodyTag(c, kPage);
    pages::AppendBodyFile(c, kPage);
    pages::AppendNavigationBar(c, kPage);
    pages::AppendFooter(c, kPage);
    c.AppendBodyLine("</BODY></HTML>");
}

}  // namespace apps
