// The QR code of Server 1's home page: written headless at start and by --qr, and read back
// by a decoder as the address the links carry.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

#include "tests/e2e/qr_reader.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using std::chrono::seconds;

TEST(QrCodeTest, HeadlessStartAndQrOptionWriteACodeOfTheHomePage) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool qrCode;
    };
    const Case cases[] = {{"headless start", {}, true}, {"--no-qr", {"--no-qr"}, false}};
    for (const Case& test : cases) {
        VantryInstance server;
        server.Start(test.args);
        const std::string url =
            "http://" + server.address() + ":" + std::to_string(server.port1()) + "/";
        const std::string running =
            "Vantry Running (Server 1, port " + std::to_string(server.port1()) + ")\n";
        if (test.qrCode) {
            ASSERT_TRUE(server.WaitForStderr(url + "\n", std::chrono::seconds(10)))
                << test.name << server.Stderr();
            // The status line comes first, whole, as the tools that read it expect.
            std::string errors = server.Stderr();
            EXPECT_LT(errors.find(running), errors.find("\u2588")) << errors;
            EXPECT_EQ(DecodeQrCode(HalfBlockModules(errors), server.dir()), url) << errors;
        } else {
            ASSERT_TRUE(server.WaitForStderr(running, seconds(10))) << server.Stderr();
            EXPECT_EQ(server.Stderr().find("\u2588"), std::string::npos) << server.Stderr();
        }
        EXPECT_EQ(server.Stop(), 0) << test.name;

        // --qr prints the same code and the address, and ends.
        if (!test.qrCode) continue;
        pid_t pid = Spawn({server.dir() + "/vantry", "--qr", "-bind", server.address()}, {},
                          "/dev/null", server.dir() + "/qr-out.txt", server.dir() + "/qr-err.txt");
        int status = -1;
        if (!WaitUntil(seconds(10), [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_EQ(status, 0);
        ExpectNoFaults(server.dir() + "/qr-err.txt", "vantry --qr");
        std::string printed = ReadFile(server.dir() + "/qr-out.txt");
        EXPECT_TRUE(printed.ends_with("\n" + url + "\n")) << printed;
        EXPECT_EQ(DecodeQrCode(HalfBlockModules(printed), server.dir()), url) << printed;
    }
}

}  // namespace
}  // namespace e2e
