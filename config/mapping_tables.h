// The "Mime", "Script" and "VirtualDirectories" tables kept in the configuration file.
//
// Nothing is cached here beyond what the INI reader revalidates: every operation finds the
// configuration file afresh in the program directory and reads or writes it, so a change
// made on the administration pages or by hand is seen by the next request.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace config {

// A leading "." of a key is dropped by every operation, so ".html" and "html" name the same
// row. Set operations cut key and value at 255 characters and store both in small letters.
// Get operations give at most 79 characters, or the table's absent value. Set and delete
// operations write the file at once and return false when it could not be written (it is
// then as it was); `*error`, when not null, then names the call that failed and the error.
[[nodiscard]] bool SetMime(const std::string& programDirectory, std::string_view key,
                           std::string_view value, std::string* error = nullptr);
std::string GetMime(const std::string& programDirectory,
                    std::string_view key);  // absent: "application/octet-stream"
[[nodiscard]] bool DeleteMime(const std::string& programDirectory, std::string_view key,
                              std::string* error = nullptr);
std::vector<std::string> ListMime(const std::string& programDirectory);

[[nodiscard]] bool SetScript(const std::string& programDirectory, std::string_view key,
                             std::string_view value, std::string* error = nullptr);
std::string GetScript(const std::string& programDirectory, std::string_view key);  // absent: ""
[[nodiscard]] bool DeleteScript(const std::string& programDirectory, std::string_view key,
                                std::string* error = nullptr);
std::vector<std::string> ListScript(const std::string& programDirectory);

[[nodiscard]] bool SetVirtualDirectory(const std::string& programDirectory, std::string_view key,
                                       std::string_view value, std::string* error = nullptr);
std::string GetVirtualDirectory(const std::string& programDirectory,
                                std::string_view key);  // absent: ""
[[nodiscard]] bool DeleteVirtualDirectory(const std::string& programDirectory, std::string_view key,
                                          std::string* error = nullptr);
std::vector<std::string> ListVirtualDirectory(const std::string& programDirectory);

// The built-in rows, written at load when the file has no "html" MIME row (or "pl" script
// row), replacing rows of the same keys and leaving all others alone. False when the file
// could not be written.
[[nodiscard]] bool WriteDefaultMimeTable(const std::string& iniPath);
[[nodiscard]] bool WriteDefaultScriptTable(const std::string& iniPath);

// The complete header line "Content-Type: <type>" for an extension: the MIME table's row, else
// the system's database (see system_mime_types.h), else application/octet-stream.
std::string ContentTypeFor(const std::string& programDirectory, std::string_view extension);

}  // namespace config
