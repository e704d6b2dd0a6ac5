#include "host/client_session.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "host/block_server.h"
#include "platform/posix/atom_table.h"
#include "platform/posix/shared_block.h"
#include "protocol/request_block.h"

namespace kestrun {
namespace {

constexpr std::size_t kMaxKnownBlocks = 4;
// Room for the recorder's batches several times over.
constexpr std::size_t kFirstRead = 1024;

// True when the requests and their terminator all lie inside `part`: serving
// it then does exactly what serving the whole block would.
bool EndsWithin(std::span<const std::byte> part) {
    RequestWalker walker(part);
    Request request;
    RequestWalker::Step step;
    while ((step = walker.Next(request)) == RequestWalker::Step::kRequest) {
    }
    return step == RequestWalker::Step::kEnd;
}

}  // namespace

ClientSession::ClientSession(std::string atom_directory, OffsetImage& image, uid_t peer)
    : ClientSession(
          std::move(atom_directory),
          [&image](std::span<std::byte> block, std::size_t& used) {
              return std::optional<std::int32_t>(ServeBlock(block, image, &used));
          },
          peer) {}

ClientSession::ClientSession(std::string atom_directory, BlockHandler handler, uid_t peer)
    : atom_directory_(std::move(atom_directory)),
      handler_(std::move(handler)),
      peer_(peer),
      message_number_(RegisteredMessageNumber(kExchangeMessageName)) {}

std::optional<std::int32_t> ClientSession::Answer(const RequestFrame& request) {
    if (request.message != message_number_) return kAnswerRefused;
    // The atom travels sign-extended; only its low 16 bits name it.
    const auto atom = static_cast<std::uint16_t>(static_cast<std::uint32_t>(request.wparam));
    const int fd = Block(atom);
    if (fd < 0) return kAnswerRefused;
    // The host's own copy; only what serving can change goes back. Batches
    // are small, so the start of the block is read first, and the rest only
    // when the requests run on past it.
    std::array<std::byte, kBlockSize> copy;
    std::span<std::byte> block(copy.data(), kFirstRead);
    if (ReadBlock(fd, block) != 0) return kAnswerRefused;
    if (!EndsWithin(block)) {
        block = copy;
        if (ReadBlock(fd, block) != 0) return kAnswerRefused;
    }
    std::size_t used = 0;
    const auto answer = handler_(block, used);
    if (answer != kAnswerProcessed) return answer;
    if (WriteBlock(fd, block.first(used)) != 0) return kAnswerRefused;
    return kAnswerProcessed;
}

int ClientSession::Block(std::uint16_t atom) {
    const auto known = std::find_if(blocks_.begin(), blocks_.end(),
                                    [atom](const KnownBlock& b) { return b.atom == atom; });
    if (known != blocks_.end()) {
        std::rotate(blocks_.begin(), known, known + 1);
        return blocks_.front().fd.get();
    }
    const auto name = FindAtom(atom_directory_, atom);
    if (!name.ok()) return -1;
    const auto opened = OpenClientBlock(name.value, peer_);
    if (!opened.ok()) return -1;
    if (blocks_.size() >= kMaxKnownBlocks) blocks_.pop_back();
    blocks_.insert(blocks_.begin(), KnownBlock{atom, UniqueFd(opened.value)});
    return blocks_.front().fd.get();
}

}  // namespace kestrun
