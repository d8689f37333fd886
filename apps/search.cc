// The site search. (not built yet: answers 404)
#include "apps/application_pages.h"

namespace apps {

void SearchPage(http::Connection& c) { c.SetStatus(404); }
void HandleSearch(http::Connection& c) { c.SetStatus(404); }
void HandleSearchResults(http::Connection& c) { c.SetStatus(404); }

}  // namespace apps
