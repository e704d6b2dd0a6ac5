#include "host/block_server.h"

#include "protocol/request_block.h"

namespace kestrun {
namespace {

// True when every request is well formed and names a range of the image.
bool IsServable(std::span<const std::byte> block) {
    RequestWalker walker(block);
    Request request;
    for (;;) {
        switch (walker.Next(request)) {
            case RequestWalker::Step::kEnd:
                return true;
            case RequestWalker::Step::kDamaged:
                return false;
            case RequestWalker::Step::kRequest:
                if (!OffsetImage::Contains(request.offset, request.count)) return false;
                break;
        }
    }
}

}  // namespace

int ServeBlock(std::span<std::byte> block, OffsetImage& image) {
    // Validate first so that a refused block is left exactly as it came.
    if (!IsServable(block)) return kAnswerRefused;
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
    return kAnswerProcessed;
}

}  // namespace kestrun
