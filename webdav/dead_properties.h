// The properties clients set on files and folders (PROPPATCH), kept in one extended attribute
// of the file itself ("user.vantry.dav"), so that a rename takes them along and a delete
// removes them with the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webdav {

struct DeadProperty {
    std::string space;
    std::string name;
    std::string valueXml;  // what the property element holds, as XML
};

// The properties of `path`; empty when it has none. Links are followed.
std::vector<DeadProperty> ReadDeadProperties(const std::string& path);
// Replaces the properties of `path` with `properties` (none: the attribute is removed). The
// system's error when the file system refuses (no extended attributes, or too large a value).
std::optional<int> WriteDeadProperties(const std::string& path,
                                       const std::vector<DeadProperty>& properties);
// Copies the properties of `from` to `to`, for COPY; a file system without them copies none.
void CopyDeadProperties(const std::string& from, const std::string& to);

// The stored form: for each property its namespace, name and value, each as a decimal length,
// a colon and the bytes. Unreadable input gives what was read before it.
std::string EncodeDeadProperties(const std::vector<DeadProperty>& properties);
std::vector<DeadProperty> DecodeDeadProperties(std::string_view stored);

}  // namespace webdav
