// The link against a real kestrun-host process, each test in its own runtime
// directory.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "link/host_link.h"
#include "platform/posix/posix_link_platform.h"
#include "protocol/host_units.h"
#include "tests/integration/host_process.h"
#include "tests/integration/runtime_sandbox.h"

namespace kestrun {
namespace {

// The values of one recorder sample, read as the recorder reads them: eight
// reads in one exchange.
struct Sample {
    std::int64_t latitude = 0;
    std::int64_t longitude = 0;
    std::int32_t altitude_metres = 0;
    std::uint32_t altitude_fraction = 0;
    std::int32_t airspeed = 0;
    std::int32_t pitch = 0;
    std::int32_t bank = 0;
    std::uint32_t heading = 0;
};

LinkResult TakeSample(HostLink& link, Sample& s) {
    LinkResult result = 0;
    const struct {
        std::uint32_t offset;
        std::int32_t size;
        void* destination;
    } reads[] = {
        {kOffsetLatitude, 8, &s.latitude},
        {kOffsetLongitude, 8, &s.longitude},
        {kOffsetAltitudeMetres, 4, &s.altitude_metres},
        {kOffsetAltitudeFraction, 4, &s.altitude_fraction},
        {kOffsetIndicatedAirspeed, 4, &s.airspeed},
        {kOffsetPitch, 4, &s.pitch},
        {kOffsetBank, 4, &s.bank},
        {kOffsetHeading, 4, &s.heading},
    };
    for (const auto& read : reads) {
        if (!link.QueueRead(static_cast<std::int32_t>(read.offset), read.size, read.destination,
                            result)) {
            return result;
        }
    }
    link.ProcessQueue(result);
    return result;
}

// Where an aircraft flying patterns from `field` may plausibly be.
bool Plausible(const Sample& s, double latitude, double longitude, double elevation) {
    const double altitude = AltitudeFromHost({s.altitude_fraction, s.altitude_metres});
    const double airspeed = AirspeedFromHost(s.airspeed);
    return std::abs(LatitudeFromHost(s.latitude) - latitude) < 0.05 &&
           std::abs(LongitudeFromHost(s.longitude) - longitude) < 0.05 &&
           altitude >= elevation - 0.01 && altitude < elevation + 400 && airspeed >= 0 &&
           airspeed < 120 && std::abs(SignedAngleFromHost(s.pitch)) < 20 &&
           std::abs(SignedAngleFromHost(s.bank)) < 30;
}

// The host version as the recorder's window shows it: "3.280".
std::string VersionDigits(std::int32_t version) {
    std::string digits;
    for (int shift : {28, 24, 20, 16}) {
        digits += static_cast<char>('0' + ((static_cast<std::uint32_t>(version) >> shift) & 0xF));
        if (shift == 28) digits += '.';
    }
    return digits;
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

TEST_F(HostLinkIntegrationTest, HandshakeReadsTheVersionWordAndSimulatorCode) {
    ASSERT_TRUE(host_.Start({"--version-word", "0x32800000", "--simulator-code", "6"}));
    ASSERT_EQ(Open(), kResultOkay);
    EXPECT_EQ(VersionDigits(link_.HostVersion), "3.280");
    EXPECT_EQ(link_.SimulatorVersion, 6);

    // The first client's write of its library version left the marker intact,
    // so the next handshake passes too.
    link_.CloseLink();
    ASSERT_EQ(Open(), kResultOkay);
    EXPECT_EQ(link_.SimulatorVersion, 6);
}

TEST_F(HostLinkIntegrationTest, EightReadsOfASampleComeBackInOneExchange) {
    // South of the equator and east of Greenwich, so that no sign slips by.
    ASSERT_TRUE(host_.Start({"--start", "-33.9461,151.1772,6,160"}));
    ASSERT_EQ(Open(), kResultOkay);
    for (int second = 0; second < 3; ++second) {
        Sample sample;
        ASSERT_EQ(TakeSample(link_, sample), kResultOkay);
        EXPECT_TRUE(Plausible(sample, -33.9461, 151.1772, 6));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

TEST_F(HostLinkIntegrationTest, AHostThatWentAwayFailsTheExchange) {
    ASSERT_TRUE(host_.Start({}));
    ASSERT_EQ(Open(), kResultOkay);
    host_.Stop(SIGKILL);
    Sample sample;
    EXPECT_EQ(TakeSample(link_, sample), kResultSendFailed);

    // Reconnecting finds no host; the dead host's socket file is no window.
    link_.CloseLink();
    EXPECT_EQ(Open(), kResultNoHost);
}

TEST_F(HostLinkIntegrationTest, ANetworkClientWithALowVersionGivesResult14) {
    ASSERT_TRUE(host_.Start({"--client-mode", "--version-word", "0x19980004"}, "SIMMAIN"));
    EXPECT_EQ(Open(), kResultWrongVersionViaClient);
    EXPECT_FALSE(link_.IsOpen());
}

TEST_F(HostLinkIntegrationTest, FaultyHostsShowAsResultCodes) {
    ASSERT_TRUE(host_.Start({"--answer-zero"}));
    EXPECT_EQ(Open(), kResultBadData);
    host_.Stop(SIGTERM);

    ASSERT_TRUE(host_.Start({"--drop-connection"}));
    EXPECT_EQ(Open(), kResultSendFailed);
}

TEST_F(HostLinkIntegrationTest, TwoRecordersShareOneHostAtOnce) {
    ASSERT_TRUE(host_.Start({}));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The other recorder: a process of its own, as each names its block
        // after its process id. Only plain checks here; gtest stays with the
        // parent.
        PosixLinkPlatform platform;
        HostLink link(platform);
        LinkResult result = 0;
        link.ResetLink();
        const bool opened = link.OpenLink(0, result);
        const char byte = opened ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        int failures = opened ? 0 : 1;
        for (int i = 0; i < 20 && opened; ++i) {
            Sample sample;
            if (TakeSample(link, sample) != kResultOkay ||
                !Plausible(sample, 37.4611, -122.1150, 2)) {
                ++failures;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        link.CloseLink();
        ::_exit(failures == 0 ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    ASSERT_EQ(Open(), kResultOkay);
    for (int i = 0; i < 20; ++i) {
        Sample sample;
        ASSERT_EQ(TakeSample(link_, sample), kResultOkay);
        EXPECT_TRUE(Plausible(sample, 37.4611, -122.1150, 2));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(HostLinkIntegrationTest, TheHostRemovesItsSocketOnStopAndKeepsALiveOneFromASecondHost) {
    const std::string endpoint = sandbox_.runtime() + "/HOSTMAIN";
    for (int signal : {SIGINT, SIGTERM}) {
        ASSERT_TRUE(host_.Start({}));
        // A second host refuses to take over a live endpoint.
        const int refused = testing::HostProcess::RunToEnd({});
        EXPECT_TRUE(WIFEXITED(refused) && WEXITSTATUS(refused) == 1) << refused;
        struct stat info {};
        EXPECT_EQ(::stat(endpoint.c_str(), &info), 0);
        const int status = host_.Stop(signal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(::stat(endpoint.c_str(), &info), 0) << "after signal " << signal;
    }
}

TEST_F(HostLinkIntegrationTest, AHostThatNeverAnswersTimesOutAfterEveryRetry) {
    ASSERT_TRUE(host_.Start({"--never-answer"}));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(), kResultTimedOut);
    // Eleven sends of two seconds each and ten pauses of 100 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(23000));
}

}  // namespace
}  // namespace kestrun
