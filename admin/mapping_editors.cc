// The MIME, script and virtual-directory editors (not built yet: they answer 404).
#include "admin/admin_pages.h"

namespace admin {

void HandleMime(http::Connection& c) { c.SetStatus(404); }
void HandleChangeMime(http::Connection& c) { c.SetStatus(404); }
void HandleDeleteMime(http::Connection& c) { c.SetStatus(404); }
void HandleScript(http::Connection& c) { c.SetStatus(404); }
void HandleChangeScript(http::Connection& c) { c.SetStatus(404); }
void HandleDeleteScript(http::Connection& c) { c.SetStatus(404); }
void HandleVirtualDirectory(http::Connection& c) { c.SetStatus(404); }
void HandleChangeVirtualDirectory(http::Connection& c) { c.SetStatus(404); }
void HandleDeleteVirtualDirectory(http::Connection& c) { c.SetStatus(404); }

}  // namespace admin
