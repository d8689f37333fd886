// The frame of a standard generated page: the head and body opening before the page's own
// content, and the body file, navigation bar and footer after it.
#pragma once

#include <string_view>

#include "http/connection.h"

namespace apps {

// The window scripts the pages size their window with.
inline constexpr std::string_view kFullHeightWindow =
    "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>";

// The title and window script, the HTML header, the body tag and the banner, then the page
// heading when `withHeading` (list pages).
void AppendPageStart(http::Connection& c, std::string_view page, std::string_view title,
                     std::string_view windowScript, bool withHeading);
// The body file, the navigation bar, the footer and the closing tags.
void AppendPageEnd(http::Connection& c, std::string_view page);

}  // namespace apps
