#pragma once
// A LinkPlatform for tests: every call can be made to fail, every call is
// logged, Sleep advances a virtual clock, and a scripted host answers the
// exchange message by serving the shared block against an OffsetImage.
//
// Defaults make a healthy host: a "HOSTMAIN" endpoint, a new-enough host
// version, the 0xFADE marker with simulator code 8, and every send served.
// A test changes only what it needs: a fault flag, the image, or the replies
// of the next sends. Single-threaded, like the link it serves.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/offset_image.h"
#include "platform/link_platform.h"

namespace kestrun {

// What the scripted host does with one send.
struct HostReply {
    enum class Kind {
        kServe,           // serve the block; answer 1, or 0 if the host refused it
        kAnswer,          // touch nothing and answer `answer`
        kTimeOut,         // no answer: the send fails with last error 0
        kFail,            // the send fails with last error `error`
        kServeAndDamage,  // serve, then let `damage` change the block
    };
    Kind kind = Kind::kServe;
    std::int32_t answer = 1;
    std::uint32_t error = 0;
    std::function<void(std::span<std::byte>)> damage;

    static HostReply Serve() { return {}; }
    static HostReply Answer(std::int32_t value) { return {Kind::kAnswer, value, 0, {}}; }
    static HostReply TimeOut() { return {Kind::kTimeOut, 0, 0, {}}; }
    static HostReply Fail(std::uint32_t error) { return {Kind::kFail, 0, error, {}}; }
    static HostReply ServeAndDamage(std::function<void(std::span<std::byte>)> damage) {
        return {Kind::kServeAndDamage, 1, 0, std::move(damage)};
    }
};

// errno values the fake reports.
inline constexpr std::uint32_t kFakeConnectionReset = 104;  // ECONNRESET: host gone
inline constexpr std::uint32_t kFakeBadHandle = 9;          // EBADF: send to no window
inline constexpr std::uint32_t kFakeNoMemory = 12;          // ENOMEM: mapping refused

class FakeLinkPlatform : public LinkPlatform {
  public:
    static constexpr std::uint32_t kDefaultHostVersion = 0x32800000;
    static constexpr std::uint32_t kDefaultSimulatorWord = 0xFADE0008;
    static constexpr std::uint32_t kDefaultProcessId = 0x1A2B;
    static constexpr std::uint16_t kFirstAtom = 0xC000;

    FakeLinkPlatform();

    // --- Faults. Each makes its call fail the way the real one reports it.
    struct Faults {
        bool register_message = false;  // RegisterMessage returns 0
        bool add_atom = false;          // AddAtom returns 0
        bool create_mapping = false;    // CreateMapping returns 0, last error ENOMEM
        bool mapping_exists = false;    // CreateMapping returns a handle, last error 183
        bool map_view = false;          // MapView returns nullptr
    };
    Faults faults;

    // --- The host's endpoints: which window classes can be found.
    void SetWindow(std::string_view window_class, bool present);
    // The host goes away: no endpoint can be found any more, and every send,
    // scripted or not, fails as a broken connection does.
    void HostGoesAway();

    // --- The scripted host.
    OffsetImage& image() { return image_; }
    void SetVersions(std::uint32_t host_version, std::uint32_t simulator_word);
    // Replies for the next sends, in order; once used up, `default_reply`.
    void ScriptReplies(std::vector<HostReply> replies);
    HostReply default_reply;
    // Before each send: lets a test change the image between exchanges (the
    // send's number, counting from 1).
    std::function<void(int send_number, OffsetImage& image)> before_send;

    std::uint32_t process_id = kDefaultProcessId;

    // --- What happened.
    // One line per call, e.g. "FindHostWindow HOSTMAIN", "Sleep 100",
    // "DeleteAtom C001". SendMessageTimeout and LastError are logged too.
    const std::vector<std::string>& log() const { return log_; }
    // The lines of the log that start with `call` (a call's name).
    std::vector<std::string> Calls(std::string_view call) const;
    int CountCalls(std::string_view call) const;
    void ClearLog() { log_.clear(); }

    // The virtual clock: Sleep and time-outs advance it; nothing really waits.
    std::uint64_t elapsed_ms() const { return elapsed_ms_; }
    int sends() const { return sends_; }
    std::int32_t last_wparam() const { return last_wparam_; }
    // The block as it arrived at the host on each of the last sends (at most
    // kKeptBlocks, oldest first).
    static constexpr std::size_t kKeptBlocks = 8;
    const std::deque<std::vector<std::byte>>& sent_blocks() const { return sent_blocks_; }

    // Everything acquired and not yet released: endpoints, atoms, views,
    // mappings. Zero after a clean close.
    std::size_t open_windows() const { return windows_.size(); }
    std::size_t live_atoms() const { return atoms_.size(); }
    std::size_t live_views() const { return views_.size(); }
    std::size_t live_mappings() const { return mappings_.size(); }
    bool AllReleased() const {
        return windows_.empty() && atoms_.empty() && views_.empty() && mappings_.empty();
    }
    // Releases of something not held (a double release, a stale handle).
    int bad_releases() const { return bad_releases_; }

    // LinkPlatform
    WindowHandle FindHostWindow(std::string_view window_class) override;
    void ReleaseWindow(WindowHandle window) override;
    std::uint32_t RegisterMessage(std::string_view name) override;
    std::uint32_t CurrentProcessId() override;
    std::uint16_t AddAtom(std::string_view name) override;
    void DeleteAtom(std::uint16_t atom) override;
    MappingHandleValue CreateMapping(std::string_view name, std::uint32_t size) override;
    std::byte* MapView(MappingHandleValue mapping) override;
    void UnmapView(std::byte* view) override;
    void CloseMapping(MappingHandleValue mapping) override;
    bool SendMessageTimeout(WindowHandle window, std::uint32_t message, std::int32_t wparam,
                            std::int32_t lparam, std::uint32_t timeout_ms,
                            std::int32_t& answer) override;
    std::uint32_t LastError() override;
    void Sleep(std::uint32_t milliseconds) override;

  private:
    struct Mapping {
        std::string name;
        std::uint32_t size = 0;
        // Exactly `size` bytes on the heap, so that a sanitizer catches any
        // access past the block's end.
        std::unique_ptr<std::byte[]> bytes;
    };

    // The block a send's atom names, or an empty span when the host would
    // not recognise it.
    std::span<std::byte> ResolveBlock(std::int32_t wparam);
    void Log(std::string line) { log_.push_back(std::move(line)); }

    OffsetImage image_;
    std::set<std::string, std::less<>> present_classes_;
    bool host_gone_ = false;
    std::deque<HostReply> script_;

    std::map<WindowHandle, std::string> windows_;
    WindowHandle next_window_ = 0x100;
    std::map<std::uint16_t, std::string> atoms_;
    std::map<MappingHandleValue, Mapping> mappings_;
    MappingHandleValue next_mapping_ = 0x200;
    std::map<std::byte*, MappingHandleValue> views_;

    std::uint32_t last_error_ = 0;
    std::uint64_t elapsed_ms_ = 0;
    int sends_ = 0;
    int bad_releases_ = 0;
    std::int32_t last_wparam_ = 0;
    std::vector<std::string> log_;
    std::deque<std::vector<std::byte>> sent_blocks_;
};

}  // namespace kestrun
