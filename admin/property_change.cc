// Applying the posted server properties. (not built yet: it answers 404)
#include "admin/admin_pages.h"

namespace admin {

void HandleChange(http::Connection& c) { c.SetStatus(404); }

}  // namespace admin
