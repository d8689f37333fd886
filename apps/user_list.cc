// The list of recent visitors. (not built yet: answers 404)
#include "apps/application_pages.h"

namespace apps {

void UserListPage(http::Connection& c) { c.SetStatus(404); }

}  // namespace apps
