// File upload and form capture. (not built yet: answers 404)
#include "apps/application_pages.h"

namespace apps {

void FileUploadPage(http::Connection& c) { c.SetStatus(404); }
void HandleFileUpload(http::Connection& c) { c.SetStatus(404); }
void HandlePost(http::Connection& c) { c.SetStatus(404); }
void HandlePostRaw(http::Connection& c) { c.SetStatus(404); }
void HandlePostPlusHeaders(http::Connection& c) { c.SetStatus(404); }

}  // namespace apps
