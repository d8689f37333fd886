// Reading request bodies with expat, which resolves namespaces and refuses what is not
// well-formed; a tree is built of what it reports.
#include "webdav/xml.h"

#include <expat.h>

#include <memory>

namespace webdav {
namespace {

constexpr size_t kMaxDepth = 64;
// Separates a name's namespace from its local name in what expat reports: a byte no URI and
// no name may hold.
constexpr char kNamespaceSeparator = '\x01';

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

struct TreeBuilder {
    XML_Parser parser = nullptr;
    std::vector<XmlElement*> open;
    XmlElement root;
    bool hasRoot = false;
    std::string failure;

    void Fail(std::string reason) {
        if (failure.empty()) failure = std::move(reason);
        XML_StopParser(parser, XML_FALSE);
    }
};

void SplitName(const XML_Char* qualified, XmlElement* element) {
    std::string_view name(qualified);
    const size_t separator = name.find(kNamespaceSeparator);
    if (separator == std::string_view::npos) {
        element->name = name;
    } else {
        element->space = name.substr(0, separator);
        element->name = name.substr(separator + 1);
    }
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    auto* builder = static_cast<TreeBuilder*>(data);
    if (builder->open.size() >= kMaxDepth) {
        builder->Fail("elements nested too deeply");
        return;
    }
    XmlElement* element = nullptr;
    if (builder->open.empty()) {
        builder->hasRoot = true;
        element = &builder->root;
    } else {
        element = &builder->open.back()->children.emplace_back();
    }
    SplitName(name, element);
    builder->open.push_back(element);
}

void XMLCALL OnEnd(void* data, const XML_Char* /*name*/) {
    auto* builder = static_cast<TreeBuilder*>(data);
    if (!builder->open.empty()) builder->open.pop_back();
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
    auto* builder = static_cast<TreeBuilder*>(data);
    if (!builder->open.empty())
        builder->open.back()->text.append(text, static_cast<size_t>(length));
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<TreeBuilder*>(data)->Fail("a document type declaration");
}

void AppendElement(const XmlElement& element, std::string* out) {
    out->append("<").append(element.name);
    out->append(" xmlns=\"");
    AppendXmlEscaped(element.space, out);
    out->append("\"");
    if (element.text.empty() && element.children.empty()) {
        out->append("/>");
        return;
    }
    out->append(">");
    out->append(element.SerializeContent());
    out->append("</").append(element.name).append(">");
}

}  // namespace

const XmlElement* XmlElement::DavChild(std::string_view childName) const {
    for (const XmlElement& child : children) {
        if (child.Is(kDavNamespace, childName)) return &child;
    }
    return nullptr;
}

std::string XmlElement::Serialize() const {
    std::string out;
    AppendElement(*this, &out);
    return out;
}

std::string XmlElement::SerializeContent() const {
    // Text and children interleave in the document; the tree keeps the text whole, which is
    // all a property value ever needs: text, or elements with blanks between them.
    std::string out;
    AppendXmlEscaped(text, &out);
    for (const XmlElement& child : children) AppendElement(child, &out);
    return out;
}

std::optional<XmlElement> ParseXml(std::string_view document, std::string* error) {
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(
        XML_ParserCreateNS("UTF-8", kNamespaceSeparator));
    if (!parser) {
        *error = "out of memory";
        return std::nullopt;
    }
    TreeBuilder builder;
    builder.parser = parser.get();
    XML_SetUserData(parser.get(), &builder);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnText);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
    // Fed in pieces: expat takes lengths as int.
    constexpr size_t kPiece = 1 << 20;
    bool last = false;
    while (!last) {
        const size_t piece = std::min(document.size(), kPiece);
        last = piece == document.size();
        if (XML_Parse(parser.get(), document.data(), static_cast<int>(piece),
                      last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            *error = !builder.failure.empty() ? builder.failure
                                              : XML_ErrorString(XML_GetErrorCode(parser.get()));
            return std::nullopt;
        }
        document.remove_prefix(piece);
    }
    if (!builder.hasRoot) {
        *error = "no element";
        return std::nullopt;
    }
    return std::move(builder.root);
}

void AppendXmlEscaped(std::string_view text, std::string* out) {
    for (char c : text) {
        switch (c) {
            case '&':
                out->append("&amp;");
                break;
            case '<':
                out->append("&lt;");
                break;
            case '>':
                out->append("&gt;");
                break;
            case '"':
                out->append("&quot;");
                break;
            case '\'':
                out->append("&apos;");
                break;
            default:
                out->push_back(c);
        }
    }
}

}  // namespace webdav
