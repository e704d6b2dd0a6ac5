#include "link/host_link.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "link/general.h"
#include "protocol/frame.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "tests/support/fake_link_platform.h"

namespace kestrun {
namespace {

using ::testing::ElementsAre;
using Faults = FakeLinkPlatform::Faults;

class HostLinkTest : public ::testing::Test {
  protected:
    HostLinkTest() { link_.ResetLink(); }

    void Open() {
        ASSERT_EQ(OpenResult(), kResultOkay);
        fake_.ClearLog();
    }
    LinkResult OpenResult(std::int32_t requested = 0) {
        LinkResult result = 0;
        const bool opened = link_.OpenLink(requested, result);
        EXPECT_EQ(opened, result == kResultOkay);
        return result;
    }
    std::ptrdiff_t Used() const { return link_.state().WriteCursor - link_.state().ViewBase; }
    void ExpectClosedAndReleased() {
        EXPECT_FALSE(link_.IsOpen());
        EXPECT_TRUE(fake_.AllReleased());
        EXPECT_EQ(fake_.bad_releases(), 0);
    }

    FakeLinkPlatform fake_;
    HostLink link_{fake_};
    LinkResult result_ = 0;
};

// The texts themselves show in the window's status tests.
TEST(GeneralTest, ResultTextsCoverExactlyTheCodes) {
    General general;
    general.FillResultMessages();
    EXPECT_EQ(general.ResultMessage(kResultCount), "");
    EXPECT_EQ(general.ResultMessage(-1), "");
}

TEST_F(HostLinkTest, OpenHandshakesOnceWithAHealthyHostAndOnlyOnce) {
    EXPECT_EQ(OpenResult(), kResultOkay);
    EXPECT_EQ(link_.HostVersion, static_cast<std::int32_t>(FakeLinkPlatform::kDefaultHostVersion));
    EXPECT_EQ(link_.SimulatorVersion, 8);
    EXPECT_THAT(fake_.Calls("AddAtom"), ElementsAre("AddAtom HOSTLINK:IPC:1A2B:1"));
    EXPECT_EQ(fake_.Calls("Sleep").size(), 1u);

    // The atom travels sign-extended with lParam 0 and a 2000 ms time-out.
    const std::uint32_t message = RegisteredMessageNumber(kExchangeMessageName);
    EXPECT_THAT(fake_.Calls("SendMessageTimeout"),
                ElementsAre(fmt::format("SendMessageTimeout 100 {:X} FFFFC000 0 2000", message)));
    EXPECT_LT(link_.state().MappingAtom, 0);

    // Two reads of the version words, the library version write (two zero
    // bytes to 0x330A), the terminator.
    const std::byte* block = fake_.last_block().data();
    EXPECT_EQ(LoadU32(block + 4), kOffsetHostVersion);
    EXPECT_EQ(LoadU32(block + 24), kOffsetSimulatorVersion);
    EXPECT_EQ(LoadU32(block + 44), kOffsetLibraryVersion);
    EXPECT_EQ(LoadU32(block + 48), 2u);
    EXPECT_EQ(LoadU16(block + 52), 0u);
    EXPECT_EQ(LoadU32(block + 54), 0u);

    // Opening an open link changes nothing and leaves it usable.
    fake_.ClearLog();
    EXPECT_EQ(OpenResult(), kResultAlreadyOpen);
    EXPECT_EQ(link_.HostVersion, 0);
    EXPECT_EQ(link_.SimulatorVersion, 0);
    EXPECT_TRUE(fake_.Calls("FindHostWindow").empty());
    std::int32_t version = 0;
    EXPECT_TRUE(link_.QueueRead(kOffsetHostVersion, 4, &version, result_));
    EXPECT_TRUE(link_.ProcessQueue(result_));
    EXPECT_EQ(version, static_cast<std::int32_t>(FakeLinkPlatform::kDefaultHostVersion));
}

TEST_F(HostLinkTest, OpenFailuresBeforeTheHandshakeReleaseEverything) {
    fake_.SetWindow(kHostWindowClass, false);
    EXPECT_EQ(OpenResult(), kResultNoHost);
    ExpectClosedAndReleased();
    fake_.SetWindow(kHostWindowClass, true);

    const std::pair<bool Faults::*, LinkResult> faults[] = {
        {&Faults::add_atom, kResultAtomFailed},
        {&Faults::create_mapping, kResultMappingFailed},
        // A name someone else already holds is never shared, handle or not.
        {&Faults::mapping_exists, kResultMappingFailed},
        {&Faults::map_view, kResultViewFailed},
    };
    for (const auto& [fault, expected] : faults) {
        fake_.faults.*fault = true;
        EXPECT_EQ(OpenResult(), expected);
        ExpectClosedAndReleased();
        fake_.faults.*fault = false;
    }

    // A failed registration keeps the window until the next close or open.
    fake_.faults.register_message = true;
    EXPECT_EQ(OpenResult(), kResultRegisterFailed);
    EXPECT_EQ(fake_.open_windows(), 1u);
    fake_.faults.register_message = false;
    EXPECT_EQ(OpenResult(), kResultOkay);
    EXPECT_EQ(fake_.open_windows(), 1u);
}

TEST_F(HostLinkTest, HandshakeOutcomes) {
    constexpr std::uint32_t kNew = FakeLinkPlatform::kDefaultHostVersion;
    constexpr std::uint32_t kSix = 0xFADE0006;  // the marker, simulator code 6
    const struct {
        const char* name;
        std::uint32_t host_version, simulator_word;
        bool via_client;  // only the network client's window is there
        std::int32_t requested;
        HostReply reply;
        LinkResult expected;
        int sends;
    } cases[] = {
        {"old host", 0x19980004, kSix, false, 0, {}, kResultWrongVersion, 1},
        {"old client", 0x19980004, kSix, true, 0, {}, kResultWrongVersionViaClient, 1},
        {"no marker", 0x19980005, 0xFADF0006, true, 0, {}, kResultWrongVersionViaClient, 1},
        {"oldest client that will do", 0x19980005, kSix, true, 0, {}, kResultOkay, 1},
        // A host not yet ready shows a zero version: asked five times.
        {"zero version", 0, kSix, false, 0, {}, kResultWrongVersion, 5},
        {"the simulator asked for", kNew, kSix, false, 6, {}, kResultOkay, 1},
        {"another simulator", kNew, kSix, false, 2, {}, kResultWrongSimulator, 1},
        {"no answer", kNew, kSix, false, 0, HostReply::TimeOut(), kResultTimedOut, 11},
        {"answer 0", kNew, kSix, false, 0, HostReply::Answer(0), kResultBadData, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake_.SetWindow(kHostWindowClass, !c.via_client);
        fake_.SetWindow(kSimulatorWindowClass, c.via_client);
        fake_.SetVersions(c.host_version, c.simulator_word);
        fake_.default_reply = c.reply;
        const int sends = fake_.sends();
        EXPECT_EQ(OpenResult(c.requested), c.expected);
        EXPECT_EQ(fake_.sends() - sends, c.sends);
        // The host's simulator code is kept even when it is not the one asked for.
        EXPECT_TRUE(c.requested == 0 || link_.SimulatorVersion == 6);
        if (c.expected != kResultOkay) ExpectClosedAndReleased();
        link_.CloseLink();
    }
}

// Closing releases everything once, in order; a link never opened, or opened
// and closed, refuses every call with 9.
TEST_F(HostLinkTest, CloseReleasesInOrderOnceAndAClosedLinkRefusesWithNine) {
    std::int32_t value = 0;
    const auto refused_with_nine = [&] {
        result_ = 0;
        EXPECT_FALSE(link_.QueueRead(0x0560, 4, &value, result_) || result_ != kResultNotOpen);
        EXPECT_FALSE(link_.QueueWrite(0x0560, 4, &value, result_) || result_ != kResultNotOpen);
        EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultNotOpen);
    };
    refused_with_nine();
    Open();
    link_.CloseLink();
    EXPECT_THAT(fake_.log(), ElementsAre("ReleaseWindow 100", "DeleteAtom C000", "UnmapView",
                                         "CloseMapping 200"));
    ExpectClosedAndReleased();
    EXPECT_NE(link_.HostVersion, 0);
    fake_.ClearLog();
    link_.CloseLink();
    EXPECT_TRUE(fake_.log().empty());
    refused_with_nine();
}

TEST_F(HostLinkTest, QueueSizesAndTheCapacityBoundary) {
    Open();
    EXPECT_TRUE(link_.QueueRead(0x0560, 0, nullptr, result_));
    EXPECT_EQ(Used(), 16);
    EXPECT_TRUE(link_.QueueWrite(0x0560, 0, nullptr, result_));
    EXPECT_EQ(Used(), 28);

    // Fill to exactly 0x7F00 with the terminator: accepted.
    const std::vector<std::byte> filler(0x7F00);
    const auto fill = static_cast<std::int32_t>(0x7F00 - 28 - 4 - 12);
    EXPECT_TRUE(link_.QueueWrite(0x1000, fill, filler.data(), result_));
    EXPECT_EQ(Used() + 4, 0x7F00);
    EXPECT_FALSE(link_.QueueWrite(0x1000, 0, nullptr, result_) || result_ != kResultBlockFull);

    link_.DiscardQueue();
    for (std::int32_t too_big : {0x7F00 - 4 - 16 + 1, INT_MAX}) {
        EXPECT_FALSE(link_.QueueRead(0x1000, too_big, nullptr, result_));
        EXPECT_EQ(result_, kResultBlockFull);
    }
    EXPECT_TRUE(link_.QueueRead(0x1000, 0x7F00 - 4 - 16, nullptr, result_));

    // A negative count is refused and writes nothing.
    link_.DiscardQueue();
    std::int32_t value = 0;
    EXPECT_FALSE(link_.QueueRead(0x0560, -1, &value, result_) || result_ != kResultBadData);
    EXPECT_FALSE(link_.QueueWrite(0x0560, INT_MIN, &value, result_) || result_ != kResultBadData);
    EXPECT_EQ(Used(), 0);
}

TEST_F(HostLinkTest, ProcessCopiesEachReadToItsOwnDestination) {
    Open();
    fake_.image().SetU64(0x0560, 0x1122334455667788);
    fake_.image().SetU32(0x02BC, 140 * 128);
    std::int64_t latitude = 0;
    std::int32_t airspeed = 0;
    const std::int32_t pitch = -42;
    EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultNothingQueued);
    EXPECT_EQ(fake_.sends(), 1);  // the handshake's only

    EXPECT_TRUE(link_.QueueRead(0x0560, 8, &latitude, result_));
    EXPECT_TRUE(link_.QueueRead(0x0578, 4, nullptr, result_));  // sent, never copied
    EXPECT_TRUE(link_.QueueWrite(0x0578, 4, &pitch, result_));
    EXPECT_TRUE(link_.QueueRead(0x02BC, 4, &airspeed, result_));
    EXPECT_TRUE(link_.ProcessQueue(result_));
    EXPECT_EQ(result_, kResultOkay);
    EXPECT_EQ(latitude, 0x1122334455667788);
    EXPECT_EQ(airspeed, 140 * 128);
    EXPECT_EQ(static_cast<std::int32_t>(fake_.image().GetU32(0x0578)), -42);
    EXPECT_EQ(Used(), 0);
    // The null destination went out with token 0, the others with their place.
    const std::byte* block = fake_.last_block().data();
    EXPECT_EQ(LoadU32(block + 12), 1u);
    EXPECT_EQ(LoadU32(block + 24 + 12), 0u);
    EXPECT_EQ(LoadU32(block + 24 + 20 + 16 + 12), 3u);

    // A discarded queue starts the destination table afresh.
    EXPECT_TRUE(link_.QueueRead(0x0560, 8, nullptr, result_));
    link_.DiscardQueue();
    EXPECT_TRUE(link_.QueueRead(0x02BC, 4, &airspeed, result_));
    EXPECT_TRUE(link_.ProcessQueue(result_));
}

TEST_F(HostLinkTest, ElevenSendsThenResultByLastErrorOrSuccessOnALaterOne) {
    Open();
    std::int32_t value = 0;
    const int sends = fake_.sends();
    const auto start_ms = fake_.elapsed_ms();
    fake_.default_reply = HostReply::TimeOut();
    ASSERT_TRUE(link_.QueueRead(0x02BC, 4, &value, result_));
    EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultTimedOut);
    EXPECT_EQ(fake_.sends() - sends, 11);
    EXPECT_EQ(fake_.Calls("Sleep"), std::vector<std::string>(10, "Sleep 100"));
    EXPECT_EQ(fake_.log().back(), "LastError");
    EXPECT_EQ(fake_.elapsed_ms() - start_ms, 11u * 2000 + 10 * 100);

    // The queue is spent: a second process has nothing to send.
    EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultNothingQueued);

    // A send that gets through on the last attempt carries on normally.
    fake_.default_reply = HostReply::Serve();
    fake_.image().SetU32(0x02BC, 99);
    fake_.ScriptReplies(std::vector<HostReply>(10, HostReply::Fail(kFakeConnectionReset)));
    ASSERT_TRUE(link_.QueueRead(0x02BC, 4, &value, result_));
    EXPECT_TRUE(link_.ProcessQueue(result_));
    EXPECT_EQ(value, 99);
    EXPECT_EQ(fake_.sends() - sends, 22);

    // A block that cannot be written never reaches the host.
    fake_.faults.flush_view = true;
    ASSERT_TRUE(link_.QueueRead(0x02BC, 4, &value, result_));
    EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultSendFailed);
    EXPECT_EQ(fake_.sends() - sends, 22);
    fake_.faults.flush_view = false;

    fake_.HostGoesAway();
    ASSERT_TRUE(link_.QueueRead(0x02BC, 4, &value, result_));
    EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultSendFailed);
}

// Host answers that must never copy anything past what the caller asked for,
// nor anything at all unless the whole reply is sound.
TEST_F(HostLinkTest, BadRepliesGiveThirteenAndCopyNothing) {
    Open();
    fake_.image().SetU32(0x02BC, 0x01020304);
    const auto damage = [](std::size_t at, std::uint32_t value) {
        return HostReply::ServeAndDamage([=](std::span<std::byte> b) { StoreU32(&b[at], value); });
    };
    const std::pair<const char*, HostReply> cases[] = {
        {"answer 0", HostReply::Answer(0)},          {"answer 2", HostReply::Answer(2)},
        {"unknown identifier", damage(0, 7)},        {"count enlarged", damage(8, 8)},
        {"count past the block", damage(8, 0x7FF0)}, {"token changed", damage(12, 2)},
        {"second read lost", damage(20, 0)},
    };
    for (const auto& [name, reply] : cases) {
        SCOPED_TRACE(name);
        std::array<std::int32_t, 3> guarded = {-1, -1, -1};
        fake_.ScriptReplies({reply});
        ASSERT_TRUE(link_.QueueRead(0x02BC, 4, &guarded[1], result_));
        ASSERT_TRUE(link_.QueueRead(0x02BC, 4, nullptr, result_));
        result_ = 0;
        EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultBadData);
        EXPECT_EQ(guarded, (std::array<std::int32_t, 3>{-1, -1, -1}));
        EXPECT_EQ(Used(), 0);
    }
    // A block the host shrank before it answered: nothing of it is taken.
    fake_.faults.refresh_view = true;
    std::int32_t value = -1;
    ASSERT_TRUE(link_.QueueRead(0x02BC, 4, &value, result_));
    EXPECT_FALSE(link_.ProcessQueue(result_) || result_ != kResultBadData);
    EXPECT_EQ(value, -1);
}

}  // namespace
}  // namespace kestrun
