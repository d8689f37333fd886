// The XML of WebDAV request bodies, read into a small tree with every name's namespace
// resolved, and the escaping of text written into answers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webdav {

// The namespace of the WebDAV elements.
inline constexpr std::string_view kDavNamespace = "DAV:";

struct XmlElement {
    std::string space;  // the namespace's URI; empty for a name in no namespace
    std::string name;   // the local name
    std::vector<XmlElement> children;
    std::string text;  // character data directly inside, in document order

    bool Is(std::string_view elementSpace, std::string_view elementName) const {
        return space == elementSpace && name == elementName;
    }
    // The first child of the DAV namespace called `childName`, or null.
    const XmlElement* DavChild(std::string_view childName) const;
    // The element written back as XML, every element declaring its own namespace, so that it
    // stands alone wherever it is put.
    std::string Serialize() const;
    // What the element holds, written as Serialize writes it: its text and its children.
    std::string SerializeContent() const;
};

// Reads a request body. Refused (std::nullopt, the reason in `*error`): anything not
// well-formed, a namespace prefix undeclared or declared empty, a document type declaration
// (and so any entity), nesting deeper than 64 elements.
std::optional<XmlElement> ParseXml(std::string_view document, std::string* error);

// `text` with &, <, > and quotes escaped, for element content and attribute values.
void AppendXmlEscaped(std::string_view text, std::string* out);

}  // namespace webdav
