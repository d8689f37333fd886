// The generated administration pages and the handlers of their forms.
#pragma once

#include "http/connection.h"

namespace admin {

// The owner's start page for the server the request came to.
void WebMasterHome(http::Connection& c);

// Both servers' settings side by side, in one form posting to change.html.
void HandleServerProperties(http::Connection& c);
// Applies the posted settings; then a mapping page, or the confirmation and a save.
void HandleChange(http::Connection& c);

// The MIME, script and virtual-directory tables: the page listing each, the handler of its
// add/change form and the handler of its delete form.
void HandleMime(http::Connection& c);
void HandleChangeMime(http::Connection& c);
void HandleDeleteMime(http::Connection& c);
void HandleScript(http::Connection& c);
void HandleChangeScript(http::Connection& c);
void HandleDeleteScript(http::Connection& c);
void HandleVirtualDirectory(http::Connection& c);
void HandleChangeVirtualDirectory(http::Connection& c);
void HandleDeleteVirtualDirectory(http::Connection& c);

}  // namespace admin
