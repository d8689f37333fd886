// Reading the system's MIME database.
#include "config/system_mime_types.h"

#include <gtest/gtest.h>

namespace config {
namespace {

TEST(SystemMimeTypesTest, LinesGiveEachExtensionItsFirstType) {
    auto types = ParseMimeTypes(
        "# comment line text/plain txt\n"
        "text/css\t\t\t\t\tcss\n"
        "text/javascript\t\t\t\tes js mjs   # trailing comment\n"
        "Text/Plain txt TEXT pot\r\n"
        "application/vnd.ms-powerpoint ppt pot\n"
        "application/x-empty\n"
        "no-slash abc\n"
        "\n"
        "   \n"
        "image/" +
        std::string(200, 'x') +
        " big\n"
        "font/woff2 woff2");
    const std::pair<const char*, const char*> expected[] = {
        {"css", "text/css"},       {"es", "text/javascript"},
        {"js", "text/javascript"}, {"mjs", "text/javascript"},
        {"txt", "text/plain"},     {"text", "text/plain"},
        {"pot", "text/plain"},     {"ppt", "application/vnd.ms-powerpoint"},
        {"woff2", "font/woff2"},
    };
    EXPECT_EQ(types.size(), std::size(expected));
    for (const auto& [extension, type] : expected) EXPECT_EQ(types[extension], type) << extension;
    EXPECT_FALSE(types.contains("abc")) << "a type without a slash is no type";
    EXPECT_FALSE(types.contains("big")) << "a type too long for a header line";
}

}  // namespace
}  // namespace config
