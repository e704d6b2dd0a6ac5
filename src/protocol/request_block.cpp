#include "protocol/request_block.h"

#include "protocol/little_endian.h"

namespace kestrun {

void EncodeReadHeader(std::byte* at, std::uint32_t offset, std::uint32_t count,
                      std::uint32_t destination) {
    StoreU32(at, kReadIdentifier);
    StoreU32(at + 4, offset);
    StoreU32(at + 8, count);
    StoreU32(at + 12, destination);
}

void EncodeWriteHeader(std::byte* at, std::uint32_t offset, std::uint32_t count) {
    StoreU32(at, kWriteIdentifier);
    StoreU32(at + 4, offset);
    StoreU32(at + 8, count);
}

void EncodeTerminator(std::byte* at) {
    StoreU32(at, 0);
}

RequestWalker::Step RequestWalker::Next(Request& out) {
    if (stopped_) return Step::kDamaged;
    const std::size_t size = block_.size();
    // Every bound is checked by subtraction from the remaining room, so no
    // count the block holds can overflow the arithmetic.
    auto fits = [&](std::size_t at, std::size_t length) {
        return at <= size && length <= size - at;
    };
    if (!fits(position_, kTerminatorSize)) {
        stopped_ = true;
        return Step::kDamaged;
    }
    const std::byte* p = block_.data() + position_;
    const auto identifier = static_cast<std::uint16_t>(LoadU32(p) & 0xFFFFu);
    if (identifier == kEndIdentifier) {
        stopped_ = true;
        return Step::kEnd;
    }
    std::size_t header_size = 0;
    if (identifier == kReadIdentifier) {
        header_size = kReadHeaderSize;
    } else if (identifier == kWriteIdentifier) {
        header_size = kWriteHeaderSize;
    } else {
        stopped_ = true;
        return Step::kDamaged;
    }
    if (!fits(position_, header_size)) {
        stopped_ = true;
        return Step::kDamaged;
    }
    Request request;
    request.identifier = identifier;
    request.offset = LoadU32(p + 4);
    request.count = LoadU32(p + 8);
    request.destination = identifier == kReadIdentifier ? LoadU32(p + 12) : 0;
    request.header_at = position_;
    request.data_at = position_ + header_size;
    if (!fits(request.data_at, request.count)) {
        stopped_ = true;
        return Step::kDamaged;
    }
    position_ = request.data_at + request.count;
    out = request;
    return Step::kRequest;
}

}  // namespace kestrun
