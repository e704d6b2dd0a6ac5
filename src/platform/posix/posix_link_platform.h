#pragma once
// The link platform on Linux and other POSIX systems, following the transport
// of docs/host-protocol.md:
//   host window      a connection to <runtime>/<window class> (the handle is
//                    the socket's descriptor)
//   message          a 16-byte request frame answered by an 8-byte reply
//                    frame carrying the same sequence number
//   atom             a file <runtime>/atoms/XXXX holding the string
//   mapping          a POSIX shared-memory object "/" + name, mode 0600
//
// Not thread-safe, like the link it serves. The last error is kept per
// platform object, so that nothing in between can disturb it. Whatever the
// link still holds when the object dies (connections, views, blocks, atoms)
// is released then, so a recorder that exits without closing its link leaves
// no block behind. A view is a private copy of the block, moved in and out
// with pread and pwrite: a host that shrinks the block cannot fault us.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/link_platform.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {

// Removes what links of processes that are gone left behind: their atoms in
// `runtime`'s atoms/ folder and their shared blocks. A host runs it when it
// starts; every process runs it once, when its first link finds the runtime
// directory. Returns how many went.
std::size_t RemoveLeftoverLinks(const std::string& runtime);

class PosixLinkPlatform final : public LinkPlatform {
  public:
    // Receives the few lines a pilot must see although the link reports only
    // result codes (a refused runtime directory, a block name someone else
    // holds). By default they go to standard error.
    using Reporter = std::function<void(std::string_view line)>;
    // `process_id` names the shared block in place of the process's own id,
    // for a process that holds several links at once (one per thread, say);
    // it must be a live process or thread id. 0 means the process's own.
    explicit PosixLinkPlatform(Reporter report = {}, std::uint32_t process_id = 0);
    ~PosixLinkPlatform() override;
    PosixLinkPlatform(const PosixLinkPlatform&) = delete;
    PosixLinkPlatform& operator=(const PosixLinkPlatform&) = delete;

    // Checks the runtime directory (creating it when missing), then connects
    // to the class's endpoint. 0 when nobody listens there, and 0 when the
    // directory is refused: RuntimeProblem() then says why, and the reason
    // is reported once.
    WindowHandle FindHostWindow(std::string_view window_class) override;
    void ReleaseWindow(WindowHandle window) override;

    std::uint32_t RegisterMessage(std::string_view name) override;
    std::uint32_t CurrentProcessId() override;

    // Names are read up to their first NUL, should one end in one.
    std::uint16_t AddAtom(std::string_view name) override;
    // Deletes only atoms this object added (EINVAL otherwise).
    void DeleteAtom(std::uint16_t atom) override;

    // A name left by a process of ours that is gone is removed and made
    // again. A name someone else holds gives kErrorAlreadyExists, and when
    // another user holds it, a report naming that user.
    MappingHandleValue CreateMapping(std::string_view name, std::uint32_t size) override;
    std::byte* MapView(MappingHandleValue mapping) override;
    void UnmapView(std::byte* view) override;
    bool FlushView(std::byte* view, std::size_t length) override;
    bool RefreshView(std::byte* view, std::size_t length) override;
    void CloseMapping(MappingHandleValue mapping) override;

    // Writes a request frame with a fresh sequence number and waits for the
    // reply carrying it, discarding late replies to earlier requests. Time-out:
    // false with LastError() 0. A closed or failed connection: false with the
    // errno (ECONNRESET when the host hung up). Never raises SIGPIPE. A reply
    // numbered ahead of the last request sent answers nothing that was asked:
    // the connection is cut and this and every later send on it fail with
    // EPROTO.
    bool SendMessageTimeout(WindowHandle window, std::uint32_t message, std::int32_t wparam,
                            std::int32_t lparam, std::uint32_t timeout_ms,
                            std::int32_t& answer) override;

    // The two endpoints in the runtime directory.
    std::string WhereHostsListen() override;
    std::uint32_t LastError() override { return last_error_; }
    void Sleep(std::uint32_t milliseconds) override;

    // Why the runtime directory was last refused; empty while it is fine.
    const std::string& RuntimeProblem() const { return runtime_problem_; }

  private:
    struct Connection {
        UniqueFd fd;
        std::uint32_t next_sequence = 1;
        std::uint32_t last_sent = 0;
        int broken = 0;  // the errno every send fails with once the stream is cut
        // Bytes of a reply frame that arrived in pieces, and bytes of a
        // request frame that a full socket did not take before a time-out;
        // both must survive to the next call or the stream loses its framing.
        std::vector<std::byte> incoming;
        std::vector<std::byte> outgoing;
    };
    struct Mapping {
        UniqueFd fd;
        std::string name;
        std::size_t size = 0;
    };
    struct View {
        MappingHandleValue mapping = 0;
        std::unique_ptr<std::byte[]> bytes;
    };

    bool PrepareRuntime(std::string& runtime);
    void Fail(int error) { last_error_ = static_cast<std::uint32_t>(error); }
    // The mapping behind `view`, or nullptr (with the last error set).
    Mapping* MappingOf(std::byte* view);
    // Takes back a name left by a gone process of ours; false when the name
    // is someone else's.
    bool ReclaimBlockName(const std::string& name);
    // True when a reply numbered ahead of the last request sent is waiting.
    static bool RepliesAhead(const Connection& connection);
    void Cut(Connection& connection);
    // Flushes `outgoing` until empty or the deadline; 0, -1 for a time-out,
    // or an errno.
    int Flush(Connection& connection, std::int64_t deadline_ns);

    std::map<WindowHandle, Connection> connections_;
    std::map<MappingHandleValue, Mapping> mappings_;
    std::map<std::byte*, View> views_;
    std::map<std::uint16_t, std::string> atoms_;  // atom -> its atoms/ folder
    std::uint32_t process_id_ = 0;
    std::uint32_t last_error_ = 0;
    std::string runtime_problem_;
    Reporter report_;
};

}  // namespace kestrun
