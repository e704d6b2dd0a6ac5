#include "host/block_server.h"

#include "protocol/request_block.h"

namespace kestrun {

bool IsServable(std::span<const std::byte> block, std::size_t& used) {
    RequestWalker walker(block);
    Request request;
    for (;;) {
        switch (walker.Next(request)) {
            case RequestWalker::Step::kEnd:
                used = walker.position() + kTerminatorSize;
                return true;
            case RequestWalker::Step::kDamaged:
                return false;
            case RequestWalker::Step::kRequest:
                if (!OffsetImage::Contains(request.offset, request.count)) return false;
                break;
        }
    }
}

int ServeBlock(std::span<std::byte> block, OffsetImage& image, std::size_t* used) {
    // Validate first so that a refused block is left exactly as it came.
    std::size_t end = 0;
    if (!IsServable(block, end)) return kAnswerRefused;
    RequestWalker walker(block);
    Request request;
    while (walker.Next(request) == RequestWalker::Step::kRequest) {
        auto data = block.subspan(request.data_at, request.count);
        if (request.identifier == kReadIdentifier) {
            image.Read(request.offset, data);
        } else {
            image.Write(request.offset, data);
        }
    }
    if (used != nullptr) *used = end;
    return kAnswerProcessed;
}

}  // namespace kestrun
