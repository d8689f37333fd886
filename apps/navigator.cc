// The navigator page. (not built yet: answers 404)
#include "apps/application_pages.h"

namespace apps {

void NavigatorPage(http::Connection& c) { c.SetStatus(404); }

}  // namespace apps
