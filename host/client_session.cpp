#include "host/client_session.h"

#include <algorithm>
#include <span>
#include <utility>

#include "host/block_server.h"
#include "platform/posix/atom_table.h"
#include "protocol/request_block.h"

namespace kestrun {
namespace {

constexpr std::size_t kMaxKnownBlocks = 4;

}  // namespace

ClientSession::ClientSession(std::string atom_directory, OffsetImage& image)
    : atom_directory_(std::move(atom_directory)),
      image_(image),
      message_number_(RegisteredMessageNumber(kExchangeMessageName)) {}

std::int32_t ClientSession::Answer(const RequestFrame& request) {
    if (request.message != message_number_) return kAnswerRefused;
    // The atom travels sign-extended; only its low 16 bits name it.
    const auto atom = static_cast<std::uint16_t>(static_cast<std::uint32_t>(request.wparam));
    MappedBlock* block = Block(atom);
    if (block == nullptr) return kAnswerRefused;
    return ServeBlock(std::span<std::byte>(block->data(), kBlockSize), image_);
}

MappedBlock* ClientSession::Block(std::uint16_t atom) {
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        if (blocks_[i].atom != atom) continue;
        if (!blocks_[i].block.StillWhole()) {
            blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
            return nullptr;
        }
        const auto at = blocks_.begin() + static_cast<std::ptrdiff_t>(i);
        std::rotate(blocks_.begin(), at, at + 1);
        return &blocks_[0].block;
    }
    const auto name = FindAtom(atom_directory_, atom);
    if (!name.ok()) return nullptr;
    auto opened = MappedBlock::Open(name.value, kBlockSize);
    if (!opened.ok()) return nullptr;
    if (blocks_.size() >= kMaxKnownBlocks) blocks_.pop_back();
    blocks_.push_back(KnownBlock{atom, std::move(opened.value)});
    std::rotate(blocks_.begin(), blocks_.end() - 1, blocks_.end());
    return &blocks_[0].block;
}

}  // namespace kestrun
