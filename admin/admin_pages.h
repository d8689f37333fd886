// The generated administration pages and the handlers of their forms.
#pragma once

#include <cstddef>

#include "config/server_config.h"
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

// The owner's inbox (/admin/inbox): the stored messages, form captures and uploads of the
// request's server; one file shown as text, downloaded, or deleted after a confirmation.
// Each file is named by its folder's kind ("message", "capture", "upload") and a plain file
// name; any other name is refused with 400, a file that is not there with 404.
void HandleInbox(http::Connection& c);
void HandleInboxView(http::Connection& c);
void HandleInboxDownload(http::Connection& c);
void HandleInboxDelete(http::Connection& c);

// How many files of the server's each inbox folder holds.
struct InboxCounts {
    size_t messages = 0;
    size_t captures = 0;
    size_t uploads = 0;
};
InboxCounts CountInbox(const std::string& programDirectory, const config::ServerSettings& settings);

}  // namespace admin
