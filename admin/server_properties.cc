// The server properties page. (not built yet: it answers 404)
#include "admin/admin_pages.h"

namespace admin {

void HandleServerProperties(http::Connection& c) { c.SetStatus(404); }

}  // namespace admin
