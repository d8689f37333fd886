// Vantry behind HAProxy (Debian's haproxy): two instances sharing one web root keep answering
// when one of them dies under load, and the survivor logs the clients' own addresses from the
// proxy's PROXY headers. Skipped when haproxy is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The client addresses the tests connect from: any but the one HAProxy itself uses.
const std::string kClientA = "127.0.0.7";
const std::string kClientB = "127.0.0.9";
// HAProxy connects to the servers from this address.
const std::string kProxySource = "127.0.0.1";
const std::string kPage = "<p>one page, two servers</p>\n";

std::string HaproxyProgram() {
    for (const char* path : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return "";
}

// An HAProxy process in the foreground, from a configuration written for it, in HTTP mode with
// X-Forwarded-For, round robin over `servers` (each "ADDRESS:PORT OPTIONS"), on a loopback
// address of its own. Stopped by its id when it goes away.
class Haproxy {
  public:
    explicit Haproxy(const std::vector<std::string>& servers) {
        std::ostringstream config;
        config << "global\n    nbthread 1\n"
               << "defaults\n    mode http\n    option forwardfor\n"
               << "    timeout connect 2s\n    timeout client 10s\n    timeout server 10s\n"
               // No retry and no redispatch: a request sent to a dead server fails, so only the
               // health checks keep requests away from it.
               << "    retries 0\n"
               << "frontend web\n    bind " << address_ << ":" << port_
               << "\n    default_backend vantry\n"
               << "backend vantry\n    balance roundrobin\n    source " << kProxySource << "\n";
        for (size_t i = 0; i < servers.size(); ++i)
            config << "    server v" << i << " " << servers[i] << "\n";
        WriteFile(dir_.File("haproxy.cfg"), config.str());
        pid_ = Spawn({HaproxyProgram(), "-db", "-f", dir_.File("haproxy.cfg")}, {}, "/dev/null",
                     dir_.File("stdout.txt"), dir_.File("stderr.txt"), dir_.path());
        bool ready = WaitUntil(10s, [this] {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("haproxy ended at start: " +
                                         ReadFile(dir_.File("stderr.txt")));
            }
            return Client(address_, port_).connected();
        });
        if (!ready)
            throw std::runtime_error("haproxy did not listen: " +
                                     ReadFile(dir_.File("stderr.txt")));
    }
    ~Haproxy() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        WaitForProgram(pid_, 10s);
    }
    Haproxy(const Haproxy&) = delete;
    Haproxy& operator=(const Haproxy&) = delete;

    // The answer to GET /page.html from a client bound to `from`.
    std::string Get(const std::string& from) const {
        return ExchangeFrom(from, address_, port_,
                            "GET /page.html HTTP/1.0\r\nHost: site.example\r\n\r\n", 5s);
    }

  private:
    testing_support::TempDir dir_{"vantry-haproxy"};
    std::string address_ = NextLoopbackAddress();
    int port_ = FreePort(address_);
    pid_t pid_ = -1;
};

std::string Server(const VantryInstance& vantry, const std::string& options) {
    return vantry.address() + ":" + std::to_string(vantry.port1()) + " " + options;
}

bool Served(const std::string& response) {
    return response.rfind("HTTP/1.0 200 OK\r\n", 0) == 0 && BodyOf(response) == kPage;
}

class LoadBalancerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (HaproxyProgram().empty())
            GTEST_SKIP() << "haproxy is not installed (Debian package haproxy)";
        WriteFile(webRoot_.File("page.html"), kPage);
    }
    testing_support::TempDir webRoot_{"vantry-shared-root"};
};

// Two instances with one web root behind HAProxy's health checks: requests go to both; after
// one is killed, requests fail only until a check has found it gone, and the survivor logs the
// clients' own addresses.
TEST_F(LoadBalancerTest, ASurvivorTakesEveryRequestOnceTheChecksFoundTheOtherGone) {
    const std::string ini = "[Config]\nport={port1}\nwwwroot=" + webRoot_.path() +
                            "/\nlogs=Y\nproxyProtocol=Y\ntrustedProxies=" + kProxySource + "\n";
    VantryInstance doomed(ini), survivor(ini);
    doomed.Start();
    survivor.Start();
    const std::string checked = "send-proxy-v2 check check-send-proxy inter 200ms fall 1 rise 1";
    Haproxy proxy({Server(doomed, checked), Server(survivor, checked)});

    for (int i = 0; i < 10; ++i) ASSERT_TRUE(Served(proxy.Get(i % 2 ? kClientB : kClientA))) << i;
    EXPECT_FALSE(doomed.WaitForLogLines(1).empty());
    EXPECT_FALSE(survivor.WaitForLogLines(1).empty());

    // A steady load of small requests, one after the other, while one server is killed.
    struct Request {
        Clock::duration startedAt;
        Clock::duration endedAt;
        bool served;
    };
    std::vector<Request> requests;
    const Clock::time_point start = Clock::now();
    std::thread load([&] {
        for (int i = 0; i < 600 && Clock::now() - start < 3500ms; ++i) {
            Clock::duration at = Clock::now() - start;
            bool served = Served(proxy.Get(i % 2 ? kClientB : kClientA));
            requests.push_back({at, Clock::now() - start, served});
            std::this_thread::sleep_for(10ms);
        }
    });
    std::this_thread::sleep_for(500ms);
    const Clock::duration killedAt = Clock::now() - start;
    ::kill(doomed.pid(), SIGKILL);
    load.join();
    doomed.WaitForExit(5s);
    EXPECT_FALSE(doomed.Running());

    // Checks every 200 ms, down after one failure: a second is ample.
    const Clock::duration settled = killedAt + 1s;
    size_t before = 0, after = 0, failedBefore = 0, failedAfter = 0;
    for (const Request& r : requests) {
        // One that was under way when the kill came may fail: it counts neither way.
        if (r.endedAt < killedAt) {
            ++before;
            failedBefore += !r.served;
        } else if (r.startedAt >= settled) {
            ++after;
            failedAfter += !r.served;
        }
    }
    EXPECT_GT(before, 5u);
    EXPECT_GT(after, 50u);
    EXPECT_EQ(failedBefore, 0u);
    EXPECT_EQ(failedAfter, 0u) << "of " << after << " requests after the checks' interval";

    // The survivor logged at least every request since, each for the client that sent it.
    std::vector<std::string> logged = LoggedClients(survivor.WaitForLogLines(after));
    EXPECT_GE(logged.size(), after);
    EXPECT_NE(std::find(logged.begin(), logged.end(), kClientA), logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(), kClientB), logged.end());
    for (const std::string& client : logged)
        EXPECT_TRUE(client == kClientA || client == kClientB) << client;
    EXPECT_EQ(survivor.Stop(), 0);
}

}  // namespace
}  // namespace e2e
