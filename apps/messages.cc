// The message form and stored messages. (not built yet: answers 404)
#include "apps/application_pages.h"

namespace apps {

void SendMessagePage(http::Connection& c) { c.SetStatus(404); }
void HandleSendMessage(http::Connection& c) { c.SetStatus(404); }

}  // namespace apps
