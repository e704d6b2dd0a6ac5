#pragma once
// The host's endpoints and client connections on the event loop. Accepts any
// number of recorders at once; each connection gets its own ClientSession and
// its own buffers, so a slow or misbehaving client never holds up another.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/client_session.h"
#include "host/event_loop.h"
#include "host/offset_image.h"
#include "platform/posix/unique_fd.h"
#include "platform/status.h"

namespace kestrun {

// Faults a host can be told to commit, so that the recorder's error paths can
// be shown end to end.
enum class FaultMode {
    kNone,
    kNeverAnswer,     // reads every request, answers none
    kAnswerZero,      // answers every request with 0 and touches no block
    kDropConnection,  // closes a connection at its first request
};

class HostServer {
  public:
    // Receives what the host has to tell its user while it runs.
    using Reporter = std::function<void(std::string_view line)>;

    // `runtime_directory` must have been prepared already. Blocks are served
    // against `image`, or handed to `handler` (a relay's forwarding).
    HostServer(EventLoop& loop, OffsetImage& image, std::string runtime_directory, FaultMode fault,
               Reporter report);
    HostServer(EventLoop& loop, BlockHandler handler, std::string runtime_directory,
               Reporter report);
    HostServer(const HostServer&) = delete;
    HostServer& operator=(const HostServer&) = delete;
    // Closes every connection and removes the socket files it created.
    ~HostServer();

    // Listens on the endpoint of `window_class`; may be called for several.
    // Out of descriptors, the host stops accepting for a moment (and says so
    // once) while it keeps serving the clients it has.
    Status Listen(std::string_view window_class);

    // The socket files this host listens on.
    std::vector<std::string> endpoints() const;

  private:
    struct Listener {
        UniqueFd fd;
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
    };
    struct Client {
        UniqueFd fd;
        ClientSession session;
        std::vector<std::byte> incoming;
        std::vector<std::byte> outgoing;
    };

    void Accept(int listener_fd);
    void WatchListener(int listener_fd);
    // Stops watching the endpoints until descriptors come free: a listener
    // with connections waiting would wake the loop again at once, forever.
    void PauseAccepting(int error);
    // Watches the endpoints again and takes the connections that waited.
    void ResumeAccepting();
    void OnClient(int fd, short revents);
    // Reads at most one buffer of what there is; false when the client hung
    // up or the connection failed.
    bool Receive(Client& client);
    bool HandleFrames(Client& client);
    // Sends what is queued; false when the connection failed.
    bool Send(Client& client);
    void Drop(int fd);

    EventLoop& loop_;
    BlockHandler handler_;
    std::string runtime_directory_;
    FaultMode fault_;
    Reporter report_;
    std::vector<Listener> listeners_;
    bool paused_ = false;
    bool said_paused_ = false;
    bool resume_timer_ = false;
    std::map<int, Client> clients_;
};

}  // namespace kestrun
