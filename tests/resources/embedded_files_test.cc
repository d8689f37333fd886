// The web files that resources/manifest.txt compiles into vantry: every image a GIF of the
// size the pages draw it at, every document present, and the links the pages depend on.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kResourceDir = VANTRY_SOURCE_DIR "/resources/";

// Id to file, relative to resources/, read as the build step reads the manifest.
std::map<int, std::string> ReadManifest() {
    std::ifstream in(kResourceDir + "manifest.txt");
    std::map<int, std::string> files;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        int id = 0;
        std::string file;
        if (fields >> id >> file) files[id] = file;
    }
    return files;
}

std::string ReadEmbeddedFile(int id) {
    const auto files = ReadManifest();
    const auto found = files.find(id);
    if (found == files.end()) return "";
    std::ifstream in(kResourceDir + found->second, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

struct EmbeddedFile {
    int id;
    int width;  // 0 for a document, else the GIF's logical screen size
    int height;
};

const EmbeddedFile kEmbeddedFiles[] = {
    {107, 0, 0},    {119, 0, 0},   {124, 0, 0},   {135, 0, 0},   {150, 0, 0},
    {151, 0, 0},    {152, 0, 0},   {126, 16, 16}, {127, 16, 16}, {144, 11, 11},
    {136, 468, 60}, {145, 32, 32}, {137, 75, 25}, {138, 75, 25}, {139, 75, 25},
    {140, 75, 25},  {141, 75, 25}, {142, 75, 25}, {143, 75, 25}, {129, 0, 0},
    {130, 0, 0},    {131, 0, 0},   {132, 0, 0},   {133, 0, 0},   {134, 0, 0},
};

int LittleEndian16(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
}

TEST(EmbeddedFilesTest, EachImageIsAGifOfItsSizeAndEachDocumentHasText) {
    for (const EmbeddedFile& file : kEmbeddedFiles) {
        SCOPED_TRACE("id " + std::to_string(file.id));
        const std::string bytes = ReadEmbeddedFile(file.id);
        if (bytes.empty()) {
            ADD_FAILURE() << "missing from the manifest, or empty";
            continue;
        }
        if (file.width == 0) continue;
        ASSERT_GE(bytes.size(), 10u);
        const std::string signature = bytes.substr(0, 6);
        EXPECT_TRUE(signature == "GIF87a" || signature == "GIF89a") << signature;
        EXPECT_EQ(LittleEndian16(bytes, 6), file.width);
        EXPECT_EQ(LittleEndian16(bytes, 8), file.height);
    }
}

TEST(EmbeddedFilesTest, DocumentsCarryTheLinksOfTheAdminPages) {
    const std::map<int, std::vector<std::string>> kLinks = {
        {107,
         {"\"http://127.0.0.1/admin/CopyrightPolicyStatement.html\"",
          "\"http://127.0.0.1/admin/LicenseAndDisclaimer.html\"",
          "\"http://127.0.0.1/admin/ReleaseNotes.html\"",
          "\"http://127.0.0.1/admin/TermsOfUse.html\"", "\"version.html\""}},
        {119, {"\"about.html\""}},
        {124, {"src=\"/admin/vnticon.gif\" width=\"32\" height=\"32\""}},
    };
    for (const auto& [id, links] : kLinks) {
        const std::string text = ReadEmbeddedFile(id);
        for (const std::string& link : links) {
            EXPECT_NE(text.find(link), std::string::npos) << "id " << id << " lacks " << link;
        }
    }
}

}  // namespace
