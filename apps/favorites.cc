// The owner's favorites listing. (not built yet: answers 404)
#include "apps/application_pages.h"

namespace apps {

void ListFavorites(http::Connection& c, std::string) { c.SetStatus(404); }

}  // namespace apps
