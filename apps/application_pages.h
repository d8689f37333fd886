// The built-in applications' pages and the handlers of their forms.
#pragma once

#include <cstdint>
#include <optional>
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
// Where the modern look's uploads go, and how large one may be.
struct UploadFolder {
    std::string directory;  // absolute, existing
    uint64_t maxBytes = 0;  // 0: no limit
};
// The upload folder of the request's server, made when missing; std::nullopt, with the
// request answered, when uploads are switched off (403) or there is no folder to write (500).
std::optional<UploadFolder> OpenUploadFolder(http::Connection& c);
// The modern look's resumable uploads under "/VNT/resumable/"; `rest` is the path after
// "VNT/resumable" (see apps/resumable_upload.cc).
void HandleResumableUpload(http::Connection& c, std::string_view rest);

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
