// The modern look's upload: the files of a multipart form are stored under their own names
// (made safe, numbered on a clash), byte for byte, only once whole; a body over the limit is
// refused before it is read, and curl's Expect: 100-continue is answered.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct FormEntry {
    std::string filename;  // empty: a field that is no file
    std::string content;
};

// A form as a browser sends it, with the boundary "XyZ".
std::string Multipart(const std::vector<FormEntry>& parts) {
    std::string body;
    for (const FormEntry& part : parts) {
        body += "--XyZ\r\nContent-Disposition: form-data; name=\"f\"";
        if (!part.filename.empty()) body += "; filename=\"" + part.filename + "\"";
        body += "\r\nContent-Type: application/octet-stream\r\n\r\n" + part.content + "\r\n";
    }
    return body + "--XyZ--\r\n";
}

std::string UploadRequest(const std::string& body) {
    return "POST /VNT/HandleFileUpload.html HTTP/1.0\r\nContent-Type: multipart/form-data; "
           "boundary=XyZ\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Each name with its size, for a failure's message.
std::string Names(const std::map<std::string, std::string>& files) {
    std::string text;
    for (const auto& [name, content] : files)
        text += name + " (" + std::to_string(content.size()) + ")\n";
    return text;
}

class ModernUploadTest : public ::testing::Test {
  protected:
    ModernUploadTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nuploadEnabled=Y\n"
              "uploadMaxSizeKB=1\nuploadMaxSizeMB=1\nuploadSaveLocation={dir}/up\n") {}
    void SetUp() override {
        fs::create_directories(up());
        vantry.Start();
    }
    std::string up() const { return vantry.dir() + "/up"; }
    // The upload folder: each name with its content.
    std::map<std::string, std::string> Stored() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(up()))
            files[entry.path().filename().string()] = ReadFile(entry.path().string());
        return files;
    }
    VantryInstance vantry;
};

TEST_F(ModernUploadTest, StoresEachFileUnderItsSafeNameByteForByte) {
    // Line ends and dashes that resemble the delimiter, one cut off at the part's end.
    const std::string tricky = std::string("a\r\n--XyY\r\n-\r\r\n--\0\xff", 18) + "\r\n--Xy";
    const std::string longName(300, 'e');
    std::string longUtf8;
    for (int i = 0; i < 150; ++i) longUtf8 += "é";
    struct Case {
        std::vector<FormEntry> parts;
        std::vector<std::string> said;             // in the page
        std::map<std::string, std::string> added;  // to the folder
        bool unfinished = false;                   // the body stops before the part's end
    };
    const std::vector<Case> cases = {
        {{{"vacation.jpg", tricky}},
         {"<p>Received vacation.jpg, 24 bytes.</p>"},
         {{"vacation.jpg", tricky}}},
        // Two files, a field between them, and a clash with the file stored before.
        {{{"日本語 メモ.txt", "first"}, {"", "a field"}, {"vacation.jpg", std::string(1900, 'v')}},
         {"<p>Received 日本語 メモ.txt, 5 bytes.</p>\n<p>Received vacation (2).jpg, 1.9 kB.</p>"},
         {{"日本語 メモ.txt", "first"}, {"vacation (2).jpg", std::string(1900, 'v')}}},
        {{{"vacation.jpg", "3"},
          {"../../etc/passwd", "root"},
          {"C:\\\\Users\\\\x\\\\a <b>.doc", "d"}},
         {"Received vacation (3).jpg, 1 byte.", "Received passwd, 4 bytes.",
          "Received a &lt;b&gt;.doc, 1 byte."},
         {{"vacation (3).jpg", "3"}, {"passwd", "root"}, {"a <b>.doc", "d"}}},
        {{{".bashrc", "x"}, {"..", "y"}, {"caf\xe9\x01.txt", "z"}, {longName, ""}, {longUtf8, "u"}},
         {"Received bashrc, 1 byte.", "Received upload, 1 byte.", "Received café.txt, 1 byte.",
          "Received " + longName.substr(0, 200) + ", 0 bytes."},
         {{"bashrc", "x"},
          {"upload", "y"},
          {"café.txt", "z"},
          {longName.substr(0, 200), ""},
          {longUtf8.substr(0, 200), "u"}}},
        // No file chosen: the browser sends an empty name and nothing is stored.
        {{{"", "a field"}}, {"No file was chosen: nothing was stored."}, {}},
        // A body that breaks the form stores nothing of the part it breaks.
        // A body that breaks the form after a whole part keeps that part; the part it breaks
        // leaves nothing.
        {{{"whole.txt", "abc"}, {"broken.txt", "abc\r\n--XyZ!"}},
         {"<h1>Upload failed</h1>", "Received whole.txt, 3 bytes.", "Received broken.txt, 3 bytes.",
          "not a form the server can read. The files above were stored."},
         {{"whole.txt", "abc"}, {"broken.txt", "abc"}}},
        {{{"cut.txt", std::string(300000, 'c')}},
         {"<h1>Upload failed</h1>", "ended before its last part. Nothing was stored."},
         {},
         true},
    };
    std::map<std::string, std::string> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parts.front().filename);
        std::string body = Multipart(c.parts);
        if (c.unfinished) body.resize(body.size() - 12);
        const std::string answer = Exchange(vantry.address(), vantry.port1(), UploadRequest(body));
        EXPECT_EQ(answer.substr(0, 15), "HTTP/1.0 200 OK");
        for (const std::string& said : c.said)
            EXPECT_NE(answer.find(said), std::string::npos) << said << "\n" << BodyOf(answer);
        expected.insert(c.added.begin(), c.added.end());
        const std::map<std::string, std::string> stored = Stored();
        EXPECT_TRUE(stored == expected) << Names(stored) << "\nexpected\n" << Names(expected);
    }
}

TEST_F(ModernUploadTest, CurlIsToldToContinueAndLargeBodiesAreRefusedUnread) {
    const std::string& d = vantry.dir();
    const std::string content = "curl's file\r\n--XyZ\r\n";
    WriteFile(d + "/résumé 2026.txt", content);
    const std::string server = "http://" + vantry.address() + ":" + std::to_string(vantry.port1());
    struct Case {
        std::vector<std::string> options;
        std::string head;  // the start of the answer's head
        std::string body;  // a part of the answer's body
        std::string stored;
    };
    // curl waits 20 s for a 100 Continue that never comes: the answer must come at once.
    const Case cases[] = {
        {{"-H", "Expect: 100-continue", "-F", "file=@" + d + "/résumé 2026.txt",
          server + "/VNT/HandleFileUpload.html"},
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n",
         "Received résumé 2026.txt, 20 bytes.",
         "résumé 2026.txt"},
        {{"-H", "Expect: 100-continue", "-T", d + "/résumé 2026.txt",
          server + "/VNT/upload/r%C3%A9sum%C3%A9%202026.txt"},
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\n",
         "Stored résumé 2026 (2).txt, 20 bytes.",
         "résumé 2026 (2).txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.back());
        std::vector<std::string> args = {
            "/usr/bin/curl",  "-sS", "--max-time",    "30", "--expect100-timeout", "20", "-D",
            d + "/curl.head", "-o",  d + "/curl.body"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(WaitForProgram(Spawn(args, {}, "/dev/null", d + "/curl.out", d + "/curl.err")), 0)
            << ReadFile(d + "/curl.err");
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
        EXPECT_EQ(ReadFile(d + "/curl.head").substr(0, c.head.size()), c.head);
        EXPECT_NE(ReadFile(d + "/curl.body").find(c.body), std::string::npos)
            << ReadFile(d + "/curl.body");
        EXPECT_EQ(Stored()[c.stored], content);
    }

    // Over 1 MB declared: refused before a byte of the body is read.
    Client client(vantry.address(), vantry.port1());
    client.Send(
        "POST /VNT/HandleFileUpload.html HTTP/1.1\r\nHost: x\r\nContent-Type: "
        "multipart/form-data; boundary=XyZ\r\nExpect: 100-continue\r\nContent-Length: "
        "1000001\r\n\r\n");
    const std::string refused = client.ReadUntil("</html>", 10s);
    EXPECT_EQ(refused.substr(0, 12), "HTTP/1.1 413") << refused;
    EXPECT_EQ(refused.find("100 Continue"), std::string::npos);
    EXPECT_EQ(Stored().size(), 2u);
}

TEST_F(ModernUploadTest, ACutConnectionLeavesNoFile) {
    const std::string start =
        "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"cut.bin\"\r\n\r\n" +
        std::string(5000, 'c');
    {
        Client client(vantry.address(), vantry.port1());
        client.Send(
            "POST /VNT/HandleFileUpload.html HTTP/1.0\r\nContent-Type: multipart/form-data; "
            "boundary=XyZ\r\nContent-Length: 100000\r\n\r\n" +
            start);
        // Declared longer than sent: the server writes what came to the pending file.
        ASSERT_TRUE(WaitUntil(5s, [&] { return fs::exists(up() + "/cut.bin.part"); }));
    }
    EXPECT_TRUE(WaitUntil(5s, [&] { return fs::is_empty(up()); }));
    EXPECT_TRUE(vantry.Running());
}

// A resumable upload: created with its length and name, sent in a piece cut off by a dropped
// connection, asked where its bytes end, and finished from there; the file appears under its
// own name only when whole, byte for byte. Each step's answer is checked on the wire.
TEST_F(ModernUploadTest, AResumedUploadGoesOnFromWhereItsBytesEndAndEndsByteIdentical) {
    std::string source(600000, '\0');
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7919 >> 5);
    WriteFile(up() + "/été.bin", "an earlier file of that name");
    const std::string metadata = "Upload-Metadata: filename " + Base64Encode("été.bin") + "\r\n";
    auto ask = [&](const std::string& method, const std::string& path, const std::string& lines,
                   const std::string& body = "") {
        return Exchange(vantry.address(), vantry.port1(),
                        method + " " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
                            lines + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                            body);
    };
    const std::string bytes = "Content-Type: application/offset+octet-stream\r\n";
    auto hidden = [&] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(up()))
            count += entry.path().filename().string().front() == '.';
        return count;
    };

    // Refused before anything is kept: over the limit (1 MB), or without a length.
    EXPECT_EQ(StatusOf(ask("POST", "/VNT/resumable/", "Upload-Length: 1000001\r\n" + metadata)),
              413);
    EXPECT_EQ(StatusOf(ask("POST", "/VNT/resumable/", metadata)), 400);
    EXPECT_EQ(hidden(), 0);

    const std::string created =
        ask("POST", "/VNT/resumable/", "Upload-Length: 600000\r\n" + metadata);
    ASSERT_EQ(StatusOf(created), 201) << created;
    const std::string address = HeaderOf(created, "Location");
    ASSERT_EQ(address.size(), std::string("/VNT/resumable/").size() + 32) << created;
    EXPECT_EQ(HeaderOf(created, "Upload-Offset"), "0");

    {
        // The connection drops after 250,000 of the 600,000 bytes: they stay, hidden.
        Client client(vantry.address(), vantry.port1());
        client.Send("PATCH " + address + " HTTP/1.1\r\nHost: x\r\n" + bytes +
                    "Upload-Offset: 0\r\nContent-Length: 600000\r\n\r\n" +
                    source.substr(0, 250000));
        ASSERT_TRUE(client.WaitUntilServerRead());
    }
    std::string status;
    EXPECT_TRUE(WaitUntil(5s, [&] {
        status = ask("HEAD", address, "");
        return HeaderOf(status, "Upload-Offset") == "250000";
    })) << status;
    EXPECT_EQ(HeaderOf(status, "Upload-Length"), "600000");
    EXPECT_EQ(Stored().size(), 3u) << Names(Stored());
    EXPECT_EQ(hidden(), 2);

    struct Refusal {
        std::string path, lines;
        int status;
    };
    const Refusal refusals[] = {
        {address, bytes + "Upload-Offset: 0\r\n", 409},  // not where the bytes end
        {address, "Content-Type: text/plain\r\nUpload-Offset: 250000\r\n", 415},
        {address, bytes, 400},  // no offset
        {"/VNT/resumable/0123456789abcdef0123456789abcdef", bytes + "Upload-Offset: 0\r\n", 404},
        {"/VNT/resumable/..%2F..%2Fetc%2Fpasswd", bytes + "Upload-Offset: 0\r\n", 404},
    };
    for (const Refusal& r : refusals) {
        const std::string answer = ask("PATCH", r.path, r.lines, "x");
        EXPECT_EQ(StatusOf(answer), r.status) << r.path << "\n" << r.lines << answer;
    }
    EXPECT_EQ(HeaderOf(ask("PATCH", address, bytes + "Upload-Offset: 0\r\n", "x"), "Upload-Offset"),
              "250000");

    // The rest, sent alone, finishes it under a free form of its name.
    const std::string finished =
        ask("PATCH", address, bytes + "Upload-Offset: 250000\r\n", source.substr(250000));
    EXPECT_EQ(StatusOf(finished), 204) << finished;
    EXPECT_EQ(HeaderOf(finished, "Upload-Offset"), "600000");
    EXPECT_EQ(HeaderOf(finished, "Upload-Stored-Name"), "%C3%A9t%C3%A9%20%282%29.bin");
    EXPECT_TRUE(Stored()["été (2).bin"] == source);
    EXPECT_EQ(hidden(), 0);
    EXPECT_EQ(StatusOf(ask("HEAD", address, "")), 404);

    // Given up: nothing of it stays.
    const std::string abandoned =
        HeaderOf(ask("POST", "/VNT/resumable/", "Upload-Length: 10\r\n" + metadata), "Location");
    ASSERT_EQ(StatusOf(ask("PATCH", abandoned, bytes + "Upload-Offset: 0\r\n", "12345")), 204);
    EXPECT_EQ(StatusOf(ask("DELETE", abandoned, "")), 204);
    EXPECT_EQ(hidden(), 0);
    EXPECT_EQ(Stored().size(), 2u) << Names(Stored());
}

// uploadMaxSizeMB=0 is no limit at all, whatever uploadMaxSizeKB says: a body of any size is
// stored whole.
TEST(ModernUploadWithoutLimitTest, StoresABodyOfAnySize) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nuploadEnabled=Y\n"
        "uploadMaxSizeKB=1\nuploadMaxSizeMB=0\nuploadSaveLocation={dir}/up\n");
    fs::create_directories(vantry.dir() + "/up");
    vantry.Start();
    const std::string content(2000000, 'z');
    const std::string answer = Exchange(vantry.address(), vantry.port1(),
                                        UploadRequest(Multipart({{"big.bin", content}})));
    EXPECT_NE(answer.find("<p>Received big.bin, "), std::string::npos) << BodyOf(answer);
    EXPECT_TRUE(ReadFile(vantry.dir() + "/up/big.bin") == content);
}

}  // namespace
}  // namespace e2e
