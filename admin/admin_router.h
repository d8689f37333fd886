// The administration pages under /admin/: which page or file a name there stands for, and
// the pieces the administration pages share.
#pragma once

#include <string>

#include "http/connection.h"

namespace admin {

// Answers `path`, the upper-cased URL after "admin" (it may start with "/" and carry a
// query). A request whose Host is not one of the machine's own names or addresses (see
// own_hosts.h), and a POST that another site's page made, are refused with 403 before
// anything changes.
void HandleAdmin(http::Connection& c, std::string path);

// For a handler that changes settings, after it has read the whole form: true when the form
// was posted and arrived whole (the head ended, the body has a Content-Length and all of it
// came). Otherwise the request is answered 400 and the handler changes nothing: a form cut
// short by a client that went away, or by the server stopping, would clear every switch
// that had not arrived yet.
bool FormArrivedWhole(http::Connection& c);

// A change applied but not saved: tells the owner's status line, and gives the line that
// says so on the page.
std::string ReportNotSaved(http::Connection& c, const std::string& iniPath,
                           const std::string& error);

// The "Continue" button back to the server properties page.
void AppendContinueForm(http::Connection& c);

// The licence page: the embedded licence text and a link to its latest version.
void ShowLicenseAndDisclaimer(http::Connection& c);

// True when a request's Origin header (or, without one, its Referer header) names the
// request's own scheme, Host and port, or when it has neither (a tool, not a browser, sent
// it). Behind a trusted proxy, the scheme and host are those the client used.
bool IsSameOriginRequest(const http::Connection& c);

}  // namespace admin
