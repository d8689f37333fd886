// The icons of the modern look's lists.
#include "pages/icons.h"

#include "platform/text.h"

namespace pages {
namespace {

// A file's kind, told by its name's extension: the icon it gets.
constexpr std::string_view kFileKind = "file";
constexpr std::string_view kText = "text";
constexpr std::string_view kImage = "image";
constexpr std::string_view kAudio = "audio";
constexpr std::string_view kVideo = "video";
constexpr std::string_view kArchive = "archive";
constexpr std::string_view kPdf = "pdf";
constexpr std::string_view kCode = "code";
struct ExtensionKind {
    std::string_view extension;
    std::string_view icon;
};
constexpr ExtensionKind kKinds[] = {
    {"txt", kText},    {"md", kText},     {"csv", kText},    {"log", kText},    {"rtf", kText},
    {"doc", kText},    {"docx", kText},   {"odt", kText},    {"jpg", kImage},   {"jpeg", kImage},
    {"png", kImage},   {"gif", kImage},   {"webp", kImage},  {"svg", kImage},   {"bmp", kImage},
    {"heic", kImage},  {"avif", kImage},  {"ico", kImage},   {"tif", kImage},   {"tiff", kImage},
    {"mp3", kAudio},   {"wav", kAudio},   {"flac", kAudio},  {"ogg", kAudio},   {"opus", kAudio},
    {"m4a", kAudio},   {"aac", kAudio},   {"mp4", kVideo},   {"mkv", kVideo},   {"webm", kVideo},
    {"mov", kVideo},   {"avi", kVideo},   {"m4v", kVideo},   {"zip", kArchive}, {"gz", kArchive},
    {"tgz", kArchive}, {"tar", kArchive}, {"bz2", kArchive}, {"xz", kArchive},  {"zst", kArchive},
    {"7z", kArchive},  {"rar", kArchive}, {"iso", kArchive}, {"deb", kArchive}, {"pdf", kPdf},
    {"c", kCode},      {"cc", kCode},     {"cpp", kCode},    {"h", kCode},      {"hpp", kCode},
    {"py", kCode},     {"js", kCode},     {"ts", kCode},     {"rs", kCode},     {"go", kCode},
    {"java", kCode},   {"sh", kCode},     {"pl", kCode},     {"php", kCode},    {"rb", kCode},
    {"html", kCode},   {"htm", kCode},    {"css", kCode},    {"json", kCode},   {"xml", kCode},
    {"yaml", kCode},   {"yml", kCode},    {"ini", kCode},
};

}  // namespace

std::string_view FileIcon(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return kFileKind;
    // Every known extension is short: the name's is lowered once and compared as it is.
    const std::string_view extension = name.substr(dot + 1);
    constexpr size_t kLongestExtension = 4;
    if (extension.empty() || extension.size() > kLongestExtension) return kFileKind;
    char lowered[kLongestExtension];
    for (size_t i = 0; i < extension.size(); ++i) lowered[i] = platform::AsciiLower(extension[i]);
    const std::string_view key(lowered, extension.size());
    for (const ExtensionKind& known : kKinds) {
        if (known.extension == key) return known.icon;
    }
    return kFileKind;
}

std::string Icon(std::string_view symbol, std::string_view word) {
    std::string icon = "<svg class=\"icon\" role=\"img\" aria-label=\"";
    icon.append(word).append("\"><use href=\"#i-").append(symbol).append("\"/></svg>");
    return icon;
}

}  // namespace pages
