// The system's MIME database (/etc/mime.types): the types of the extensions the owner's
// "Mime" table has no row for.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace config {

// Where the database lives on Debian (the media-types package).
inline constexpr std::string_view kSystemMimeTypesPath = "/etc/mime.types";

// Extension (small letters, no dot) to type, from the text of a mime.types file: lines of a
// type followed by its extensions, "#" comments. The first line naming an extension wins;
// types that could not stand in a header line are left out.
std::unordered_map<std::string, std::string> ParseMimeTypes(std::string_view text);

// Reads the system's database; later calls use what the first one read. The program calls it
// at start, so no request waits for the file. Empty when the file is missing.
void LoadSystemMimeTypes();

// The system's type for an extension (any letter case), when it knows one.
std::optional<std::string_view> SystemMimeType(std::string_view extension);

}  // namespace config
