// The frame of a standard generated page.
#include "apps/standard_page.h"

#include "apps/page_template.h"

namespace apps {

void AppendPageStart(http::Connection& c, std::string_view page, std::string_view title,
                     std::string_view windowScript, bool withHeading) {
    c.AppendBodyLine("<HTML><HEAD><TITLE>");
    c.AppendBodyLine(title);
    c.AppendBodyLine("</TITLE>");
    c.AppendBodyLine(windowScript);
    AppendHtmlHeader(c, page);
    c.AppendBodyLine("</HEAD>");
    AppendBodyTag(c, page);
    AppendBanner(c, page);
    if (withHeading) AppendPageHeading(c, page);
}

void AppendPageEnd(http::Connection& c, std::string_view page) {
    AppendBodyFile(c, page);
    AppendNavigationBar(c, page);
    AppendFooter(c, page);
    c.AppendBodyLine("</BODY></HTML>");
}

}  // namespace apps
