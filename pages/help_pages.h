// The help pages compiled into the program: one page for each thing a visitor or the owner
// meets, served under /VNT/help/ by every server without a login, and the local
// address of each help topic the generated pages link to.
#pragma once

#include <string>
#include <string_view>

#include "http/connection.h"

namespace pages {

// Where the help pages are served: the index is this path itself, a page follows it.
inline constexpr std::string_view kHelpPath = "/VNT/help/";

// The local address of the help of `topic` (a page name such as "Search" or "HandleChange",
// or the help topic of a properties row such as "PortNumber"), addressed from the root: the
// page, and after "#" the section of it that explains the topic when it is one of a page.
// A topic without help of its own leads to the help index.
std::string LocalHelpAddress(std::string_view topic);

// True when the path `route` (without its leading "/"; a query may follow) lies under the
// help path, "VNT/help" itself included.
bool IsHelpPath(std::string_view route);

// Answers the request for help path `route`: the page, which a browser may keep for a day,
// or 404 when there is no such page.
void SendHelpPage(http::Connection& c, std::string_view route);

}  // namespace pages
