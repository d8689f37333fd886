// The built-in applications under /VNT/: which page or image a name there stands for.
#pragma once

#include <string>
#include <string_view>

#include "http/connection.h"

namespace apps {

// Answers `path`, the upper-cased URL after "VNT" (it may start with "/" and carry a query):
// an application page, an embedded image, or 404.
void RouteApplication(http::Connection& c, std::string path);

// True when RouteApplication answers `path` with the user list, the page that shows every
// visitor's address.
bool IsUserListPath(std::string_view path);

}  // namespace apps
