// Ports that are no port numbers in the configuration file: the server does not start, and
// says why, rather than listen on the number's low 16 bits or on any port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

TEST(PortNumbersTest, AServerWhosePortIsNoPortNumberDoesNotStart) {
    struct Case {
        std::string keys;     // Server 1's port keys
        std::string message;  // what the owner is told
        int wrapped;          // where the low 16 bits would have listened (0: nowhere known)
    };
    const std::vector<Case> cases = {
        {"port=99999", "Port 99999 is not a port number (1-65535).", 34463},
        {"port=65536", "Port 65536 is not a port number (1-65535).", 0},
        {"port=-1", "Port -1 is not a port number (1-65535).", 65535},
        {"port=abc", "Port 0 is not a port number (1-65535).", 0},
        {"port={port1}\ntlsPort=99999", "HTTPS: Port 99999 is not a port number (1-65535).", 34463},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        VantryInstance vantry("[Config]\n" + c.keys + "\nwwwroot={dir}/www/\n");
        vantry.Start({}, false);
        EXPECT_TRUE(vantry.WaitForStderr("Server 1 does not start. " + c.message + "\n", 10s))
            << vantry.Stderr();
        EXPECT_EQ(vantry.Stderr().find("Vantry Running (Server 1"), std::string::npos);
        if (c.wrapped != 0) {
            EXPECT_FALSE(Client(vantry.address(), c.wrapped).connected());
        }

        // --url announces no address on a port the server cannot have.
        const std::string& d = vantry.dir();
        pid_t pid = Spawn({d + "/vantry", "-bind", vantry.address(), "--url"}, vantry.extraEnv,
                          "/dev/null", d + "/url.out", d + "/url.err", d);
        EXPECT_EQ(WaitForProgram(pid), 1);
        EXPECT_EQ(ReadFile(d + "/url.out"), "");
        EXPECT_EQ(ReadFile(d + "/url.err"), c.message + "\n");
    }
}

}  // namespace
}  // namespace e2e
