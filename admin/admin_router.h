// The administration pages under /admin/: which page or file a name there stands for, and
// the pieces the administration pages share.
#pragma once

#include <string>

#include "http/connection.h"

namespace admin {

// Answers `path`, the upper-cased URL after "admin" (it may start with "/" and carry a
// query). A POST that another site's page made is refused with 403 before anything changes.
void HandleAdmin(http::Connection& c, std::string path);

// The "Continue" button back to the server properties page.
void AppendContinueForm(http::Connection& c);

// The licence page: the embedded licence text and a link to its latest version.
void ShowLicenseAndDisclaimer(http::Connection& c);

// True when a request's Origin header (or, without one, its Referer header) names the
// request's own Host, or when it has neither (a tool, not a browser, sent it).
bool IsSameOriginRequest(std::string_view headers);

}  // namespace admin
