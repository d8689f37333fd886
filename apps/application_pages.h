// The built-in applications' pages and the handlers of their forms.
#pragma once

#include <string>
#include <string_view>

#include "http/connection.h"

namespace apps {

// File upload and form capture: the upload form, and the handlers that store a posted body
// (with the request's headers and variables for the raw and plus-headers forms).
void FileUploadPage(http::Connection& c);
void HandleFileUpload(http::Connection& c);
void HandlePost(http::Connection& c);
void HandlePostRaw(http::Connection& c);
void HandlePostPlusHeaders(http::Connection& c);
// The modern look's PUT of one file to "/VNT/upload/NAME": the body stored in the upload
// folder under NAME made safe (numbered on a clash), answered 201 with the name it got.
void HandlePutUpload(http::Connection& c, std::string_view name);

// Messages: the message form and the handler that stores a message as text or XML.
void SendMessagePage(http::Connection& c);
void HandleSendMessage(http::Connection& c);

// Search: the form, the results page, and the result rows alone.
void SearchPage(http::Connection& c);
void HandleSearch(http::Connection& c);
void HandleSearchResults(http::Connection& c);

// The owner's favorites below `subPath` (the URL after "VNT/FAVORITES/").
void ListFavorites(http::Connection& c, std::string subPath);

// The navigator page (the navigation bar alone) and the list of recent visitors.
void NavigatorPage(http::Connection& c);
void UserListPage(http::Connection& c);

}  // namespace apps
