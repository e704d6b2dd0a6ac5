#pragma once
// What a host does with one client's requests, apart from the socket: checks
// the message number, resolves the atom to the block's name, opens the block
// and serves it against the offset image. The block is read into the host's
// own memory, served there and the changed bytes written back, so a client
// that shrinks its block meanwhile only gets a refusal. The block stays open
// for later messages on the same connection that name the same atom: a link
// holds its atom and block for as long as its connection lives, so the atom
// file need not be read again for every sample.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/offset_image.h"
#include "platform/posix/unique_fd.h"
#include "protocol/frame.h"

namespace kestrun {

// What is done with the host's copy of a client's block once its message and
// atom have checked out: the answer for the client, or nullopt to leave the
// request unanswered, as a host that does not answer in time (a relay whose
// far side failed mid-flight). After answer 1, `used` holds how many bytes
// from the start may have changed: they are written back.
using BlockHandler =
    std::function<std::optional<std::int32_t>(std::span<std::byte> block, std::size_t& used)>;

class ClientSession {
  public:
    // `atom_directory` is the runtime directory's atoms/ folder; `peer` the
    // user of the connected process, the only user whose blocks it serves.
    // Blocks are served against `image`, or handed to `handler`.
    ClientSession(std::string atom_directory, OffsetImage& image, uid_t peer);
    ClientSession(std::string atom_directory, BlockHandler handler, uid_t peer);

    // The answer to one request: 1 after serving a well-formed block, 0 for
    // an unknown message number, an unknown atom, a block that cannot be
    // opened, is not a regular file of the peer's with mode 0600, or is
    // shorter than 0x8000 bytes, or a damaged block (which is then left as it
    // came); nullopt when the handler leaves it unanswered.
    std::optional<std::int32_t> Answer(const RequestFrame& request);

  private:
    struct KnownBlock {
        std::uint16_t atom = 0;
        UniqueFd fd;
    };
    // The descriptor of the block that `atom` names; -1 when it cannot.
    int Block(std::uint16_t atom);

    std::string atom_directory_;
    BlockHandler handler_;
    uid_t peer_;
    std::uint32_t message_number_;
    // The blocks this connection has named, most recent first. A link names
    // one block per connection, so a handful is plenty; the oldest goes when
    // a client names more.
    std::vector<KnownBlock> blocks_;
};

}  // namespace kestrun
