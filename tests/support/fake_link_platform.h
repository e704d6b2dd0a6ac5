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
        kServe,    // serve the block (then let `damage` change it); answer 1, or 0 if refused
        kAnswer,   // touch nothing and answer `answer`
        kTimeOut,  // no answer: the send fails with last error 0
        kFail,     // the send fails with last error `value`
    };
    Kind kind = Kind::kServe;
    std::int32_t value = 0;
    std::function<void(std::span<std::byte>)> damage;

    static HostReply Serve() { return {}; }
    static HostReply Answer(std::int32_t answer) { return {Kind::kAnswer, answer, {}}; }
    static HostReply TimeOut() { return {Kind::kTimeOut, 0, {}}; }
    static HostReply Fail(std::int32_t error) { return {Kind::kFail, error, {}}; }
    static HostReply ServeAndDamage(std::function<void(std::span<std::byte>)> damage) {
        return {Kind::kServe, 0, std::move(damage)};
    }
};

inline constexpr std::int32_t kFakeConnectionReset = 104;  // ECONNRESET: the host is gone

class FakeLinkPlatform : public LinkPlatform {
  public:
    static constexpr std::uint32_t kDefaultHostVersion = 0x32800000;
    static constexpr std::uint32_t kDefaultSimulatorWord = 0xFADE0008;

    FakeLinkPlatform();

    // --- Faults. Each makes its call fail the way the real one reports it.
    struct Faults {
        bool register_message = false;  // RegisterMessage returns 0
        bool add_atom = false;          // AddAtom returns 0
        bool create_mapping = false;    // CreateMapping returns 0, last error ENOMEM
        bool mapping_exists = false;    // CreateMapping returns a handle, last error 183
        bool map_view = false;          // MapView returns nullptr
        bool flush_view = false;        // FlushView fails, last error ENOSPC
        bool refresh_view = false;      // RefreshView fails, last error EIO (a shrunk block)
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

    // --- What happened.
    // One line per call, e.g. "FindHostWindow HOSTMAIN", "Sleep 100",
    // "DeleteAtom C001". SendMessageTimeout and LastError are logged too.
    const std::vector<std::string>& log() const { return log_; }
    // The lines of the log for the call named `call`.
    std::vector<std::string> Calls(std::string_view call) const;
    void ClearLog() { log_.clear(); }

    // The virtual clock: Sleep and time-outs advance it; nothing really waits.
    std::uint64_t elapsed_ms() const { return elapsed_ms_; }
    int sends() const { return sends_; }
    // The block as it arrived at the host on the last send that reached it.
    const std::vector<std::byte>& last_block() const { return last_block_; }

    // Endpoints, atoms, views and mappings acquired and not yet released.
    std::size_t open_windows() const { return windows_.size(); }
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
    bool FlushView(std::byte* view, std::size_t length) override;
    bool RefreshView(std::byte* view, std::size_t length) override;
    void CloseMapping(MappingHandleValue mapping) override;
    bool SendMessageTimeout(WindowHandle window, std::uint32_t message, std::int32_t wparam,
                            std::int32_t lparam, std::uint32_t timeout_ms,
                            std::int32_t& answer) override;
    std::uint32_t LastError() override;
    void Sleep(std::uint32_t milliseconds) override;
    std::string WhereHostsListen() override {
        return "/run/kestrun/HOSTMAIN or /run/kestrun/SIMMAIN";
    }

  private:
    struct Mapping {
        std::string name;
        std::vector<std::byte> bytes;  // the block as the host sees it, as large as created
    };
    struct View {
        MappingHandleValue mapping = 0;
        // Exactly the block's size on the heap, so that a sanitizer catches
        // any access past its end.
        std::vector<std::byte> bytes;
    };
    Mapping* MappingOf(std::byte* view);
    // Forgets `key`; a release of something not held counts as a bad one.
    template <typename Container, typename Key>
    void Release(Container& held, const Key& key) {
        if (held.erase(key) == 0) ++bad_releases_;
    }

    OffsetImage image_;
    std::set<std::string, std::less<>> present_classes_;
    bool host_gone_ = false;
    std::deque<HostReply> script_;

    std::set<WindowHandle> windows_;
    WindowHandle next_window_ = 0x100;
    std::map<std::uint16_t, std::string> atoms_;
    std::uint16_t next_atom_ = 0xC000;
    std::map<MappingHandleValue, Mapping> mappings_;
    MappingHandleValue next_mapping_ = 0x200;
    std::map<std::byte*, View> views_;

    std::uint32_t last_error_ = 0;
    std::uint64_t elapsed_ms_ = 0;
    int sends_ = 0;
    int bad_releases_ = 0;
    std::vector<std::string> log_;
    std::vector<std::byte> last_block_;
};

}  // namespace kestrun
