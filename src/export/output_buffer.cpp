#include "export/output_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

namespace kestrun {
namespace {

// Reserve() must always be able to give this much, whatever the capacity.
constexpr std::size_t kMinCapacity = 4096;

}  // namespace

char* detail::WriteFixedWide(char* out, double value, int decimals) {
    return std::to_chars(out, out + 48, value, std::chars_format::fixed, decimals).ptr;
}

char* WriteFixed(char* out, double value, int decimals) {
    switch (decimals) {
        case 0:
            return WriteFixed<0>(out, value);
        case 1:
            return WriteFixed<1>(out, value);
        case 2:
            return WriteFixed<2>(out, value);
        case 3:
            return WriteFixed<3>(out, value);
        case 4:
            return WriteFixed<4>(out, value);
        case 5:
            return WriteFixed<5>(out, value);
        case 6:
            return WriteFixed<6>(out, value);
        case 7:
            return WriteFixed<7>(out, value);
        case 8:
            return WriteFixed<8>(out, value);
        default:
            return WriteFixed<9>(out, value);
    }
}

OutputBuffer::OutputBuffer(int fd, std::string name, std::size_t capacity)
    : fd_(fd), name_(std::move(name)), capacity_(std::max(capacity, kMinCapacity)) {
    buffer_.reset(new char[capacity_]);
}

void OutputBuffer::Append(std::string_view text) {
    while (!text.empty()) {
        if (used_ == capacity_) Drain();
        const std::size_t n = std::min(text.size(), capacity_ - used_);
        std::memcpy(buffer_.get() + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
}

void OutputBuffer::AppendInt(std::int64_t value) {
    char* p = Reserve(24);
    Commit(std::to_chars(p, p + 24, value).ptr);
}

void OutputBuffer::AppendFixed(double value, int decimals) {
    char* p = Reserve(48);
    Commit(WriteFixed(p, value, decimals));
}

void OutputBuffer::Drain() {
    if (!Flush()) used_ = 0;  // dropped: the error is already recorded
}

bool OutputBuffer::Flush() {
    if (!ok()) {
        used_ = 0;
        return false;
    }
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n = ::write(fd_, buffer_.get() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("cannot write " + name_ + ": " + std::strerror(errno));
            used_ = 0;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    flushed_ += used_;
    used_ = 0;
    return true;
}

void OutputBuffer::Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
}

}  // namespace kestrun
