// Uploads stored under the names their senders gave them (the modern look): the files of a
// multipart/form-data body, read as it streams in, each written as "NAME.part" and renamed to
// a free name only once it is whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/connection.h"

namespace apps {

// The name a sender's file name is stored under: without folders (what follows the last '/'
// or '\'), in UTF-8 (a byte of no valid sequence read as Latin-1), without control
// characters or leading dots and spaces, cut to at most 200 bytes between two characters;
// "upload" when nothing is left.
std::string SafeUploadName(std::string_view sent);

// The boundary of a multipart/form-data Content-Type; std::nullopt for another type, a
// missing boundary or one longer than 200 characters.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

struct StoredUpload {
    std::string name;  // as it is stored in the folder
    uint64_t size = 0;
};

struct UploadOutcome {
    std::vector<StoredUpload> stored;
    // Why the upload stopped, in words for the sender; empty when the whole body was read.
    std::string failure;
};

// Reads the request's multipart/form-data body with `boundary` and stores each of its file
// parts in `directory` (absolute, existing). Other fields are read and dropped. At most
// `maxBytes` of body are read unless it is 0. A part cut short, a body that breaks the form
// or a file that cannot be written leaves no file of that part, pending or final; the parts
// stored before it stay.
UploadOutcome StoreMultipartUpload(http::Connection& c, std::string_view boundary,
                                   const std::string& directory, uint64_t maxBytes);

// Reads the request's whole body into `directory` as one file named after `sentName` (see
// SafeUploadName); std::nullopt, and no file, when the body was cut short or the file could
// not be written.
std::optional<StoredUpload> StoreWholeBody(http::Connection& c, std::string_view sentName,
                                           const std::string& directory);

// Gives the complete file `path` the first free form of `name` in `directory` ("photo (2).jpg"),
// never replacing a file; std::nullopt when it could not be renamed, and it stays where it is.
std::optional<StoredUpload> PublishUnderFreeName(const std::string& directory,
                                                 const std::string& path, const std::string& name,
                                                 uint64_t size);

}  // namespace apps
