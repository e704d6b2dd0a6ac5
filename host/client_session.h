#pragma once
// What a host does with one client's requests, apart from the socket: checks
// the message number, resolves the atom to the block's name, maps the block
// and serves it against the offset image. The mapping is kept for later
// messages on the same connection that name the same atom: a link holds its
// atom and block for as long as its connection lives, so the atom file need
// not be read again for every sample.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/offset_image.h"
#include "platform/posix/shared_block.h"
#include "protocol/frame.h"

namespace kestrun {

class ClientSession {
  public:
    // `atom_directory` is the runtime directory's atoms/ folder.
    ClientSession(std::string atom_directory, OffsetImage& image);

    // The answer to one request: 1 after serving a well-formed block, 0 for
    // an unknown message number, an unknown atom, a block that cannot be
    // mapped or is smaller than 0x8000 bytes, or a damaged block (which is
    // then left as it came).
    std::int32_t Answer(const RequestFrame& request);

  private:
    struct KnownBlock {
        std::uint16_t atom = 0;
        MappedBlock block;
    };
    // Finds or maps the block that `atom` names; nullptr when it cannot.
    MappedBlock* Block(std::uint16_t atom);

    std::string atom_directory_;
    OffsetImage& image_;
    std::uint32_t message_number_;
    // The blocks this connection has named, most recent first. A link names
    // one block per connection, so a handful is plenty; the oldest goes when
    // a client names more.
    std::vector<KnownBlock> blocks_;
};

}  // namespace kestrun
