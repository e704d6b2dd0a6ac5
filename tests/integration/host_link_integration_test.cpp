// The link against a real kestrun-host process, each test in its own runtime
// directory.

#include <fmt/core.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/host_link.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/unique_fd.h"
#include "protocol/frame.h"
#include "protocol/host_units.h"
#include "recording/host_sample.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "tests/support/test_files.h"
#include "window/status_texts.h"

namespace kestrun {
namespace {

// One recorder sample (eight reads in one exchange), and whether it finds the
// aircraft flying patterns near `latitude`, `longitude` above `elevation`.
bool SampledNear(HostLink& link, double latitude, double longitude, double elevation) {
    FlightRecord r;
    if (SampleHost(link, r)) return false;
    const double altitude = AltitudeFromHost({r.AltitudeFraction, r.AltitudeMetres});
    const double airspeed = AirspeedFromHost(r.IAS);
    return std::abs(LatitudeFromHost(r.Latitude) - latitude) < 0.05 &&
           std::abs(LongitudeFromHost(r.Longitude) - longitude) < 0.05 &&
           altitude >= elevation - 0.01 && altitude < elevation + 400 && airspeed >= 0 &&
           airspeed < 120 && std::abs(SignedAngleFromHost(r.Pitch)) < 20 &&
           std::abs(SignedAngleFromHost(r.Bank)) < 30;
}

class HostLinkIntegrationTest : public ::testing::Test {
  protected:
    void TearDown() override { link_.CloseLink(); }

    LinkResult Open() {
        LinkResult result = 0;
        link_.ResetLink();
        link_.OpenLink(0, result);
        return result;
    }

    testing::RuntimeSandbox sandbox_;
    testing::HostProcess host_;
    PosixLinkPlatform platform_;
    HostLink link_{platform_};
};

TEST_F(HostLinkIntegrationTest, HandshakeAndEightReadsInOneExchangeAgainstARealHost) {
    // South of the equator and east of Greenwich, so that no sign slips by.
    ASSERT_TRUE(host_.Start({"--version-word", "0x32800000", "--simulator-code", "6", "--start",
                             "-33.9461,151.1772,6,160"}));
    ASSERT_EQ(Open(), kResultOkay);
    EXPECT_EQ(ConnectedStatusText(link_.HostVersion),
              "Connected to Flight Simulator (host ver3.280)");
    EXPECT_EQ(link_.SimulatorVersion, 6);
    EXPECT_TRUE(SampledNear(link_, -33.9461, 151.1772, 6));
    // The first client's write of its library version left the marker intact,
    // so the next handshake passes too.
    link_.CloseLink();
    ASSERT_EQ(Open(), kResultOkay);
    EXPECT_EQ(link_.SimulatorVersion, 6);
}

// The network client's window alone, with a version too old, gives 14; the
// host's own fault modes give what a pilot would see from a faulty host.
TEST_F(HostLinkIntegrationTest, AnOldNetworkClientAndFaultyHostsGiveTheirResults) {
    const std::pair<std::vector<std::string>, LinkResult> hosts[] = {
        {{"--client-mode", "--version-word", "0x19980004"}, kResultWrongVersionViaClient},
        {{"--answer-zero"}, kResultBadData},
        {{"--drop-connection"}, kResultSendFailed},
    };
    for (const auto& [arguments, expected] : hosts) {
        SCOPED_TRACE(arguments[0]);
        ASSERT_TRUE(host_.Start(arguments,
                                expected == kResultWrongVersionViaClient ? "SIMMAIN" : "HOSTMAIN"));
        EXPECT_EQ(Open(), expected);
        EXPECT_FALSE(link_.IsOpen());
        host_.Stop(SIGTERM);
    }
}

TEST_F(HostLinkIntegrationTest, TheHostRemovesItsSocketOnStopAndKeepsALiveOneFromASecondHost) {
    const std::string endpoint = sandbox_.runtime() + "/HOSTMAIN";
    for (int signal : {SIGINT, SIGTERM}) {
        ASSERT_TRUE(host_.Start({}));
        // A second host refuses to take over a live endpoint (1), and does
        // not stay (timeout's 124).
        EXPECT_EQ(testing::ExitStatus(std::system("timeout 5 " KESTRUN_HOST_PATH " 2>/dev/null")),
                  1);
        struct stat info {};
        EXPECT_EQ(::stat(endpoint.c_str(), &info), 0);
        EXPECT_EQ(testing::ExitStatus(host_.Stop(signal)), 0);
        EXPECT_NE(::stat(endpoint.c_str(), &info), 0) << "after signal " << signal;
    }
}

// CPU seconds `pid` has used so far.
double CpuSeconds(pid_t pid) {
    std::ifstream stat(fmt::format("/proc/{}/stat", pid));
    std::string field;
    double ticks = 0;
    // utime and stime are fields 14 and 15; the name (field 2) has no spaces.
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i >= 14) ticks += std::stod(field);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TEST_F(HostLinkIntegrationTest, AHostOutOfDescriptorsKeepsServingAndAcceptsAgainLater) {
    const std::string errors = sandbox_.root() + "/host-errors.txt";
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 32;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const bool started = host_.Start({}, "HOSTMAIN", errors);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(started);
    ASSERT_EQ(Open(), kResultOkay);

    // Far more connections than the host has descriptors for.
    const std::string endpoint = EndpointPath(RuntimeDirectoryPath(), kHostWindowClass);
    std::vector<UniqueFd> flood;
    for (int i = 0; i < 100; ++i) {
        const auto connected = ConnectEndpoint(endpoint);
        ASSERT_TRUE(connected.ok()) << i;
        flood.emplace_back(connected.value);
    }
    // It neither spins nor stops serving the recorder it has.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double cpu_before = CpuSeconds(host_.pid());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_LT(CpuSeconds(host_.pid()) - cpu_before, 0.2);
    EXPECT_TRUE(SampledNear(link_, 37.4611, -122.1150, 2));

    // Once the flood is gone, a new connection gets in.
    flood.clear();
    link_.CloseLink();
    EXPECT_EQ(Open(), kResultOkay);

    const std::string said = testing::ReadFile(errors);
    const auto first = said.find("out of file descriptors");
    EXPECT_NE(first, std::string::npos) << said;
    EXPECT_EQ(said.find("out of file descriptors", first + 1), std::string::npos) << said;
}

}  // namespace
}  // namespace kestrun
