#include "tools/output_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace kestrun {
namespace {

constexpr std::uint64_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};

// Reserve() must always be able to give this much, whatever the capacity.
constexpr std::size_t kMinCapacity = 4096;

}  // namespace

char* WriteFixed(char* out, double value, int decimals) {
    const std::uint64_t scale = kPowersOfTen[decimals];
    const double scaled = value * static_cast<double>(scale);
    // Scaled integers are exact below 2^53 and far faster than formatting a
    // double; anything larger (or not finite) takes the general path.
    if (!(std::fabs(scaled) < 9.0e15)) {
        return std::to_chars(out, out + 48, value, std::chars_format::fixed, decimals).ptr;
    }
    std::int64_t rounded = std::llround(scaled);
    if (rounded < 0) {
        *out++ = '-';
        rounded = -rounded;
    }
    const auto magnitude = static_cast<std::uint64_t>(rounded);
    out = std::to_chars(out, out + 24, magnitude / scale).ptr;
    if (decimals > 0) {
        *out++ = '.';
        std::uint64_t fraction = magnitude % scale;
        for (int i = decimals - 1; i >= 0; --i) {
            out[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        out += decimals;
    }
    return out;
}

OutputBuffer::OutputBuffer(int fd, std::string name, std::size_t capacity)
    : fd_(fd), name_(std::move(name)), buffer_(capacity < kMinCapacity ? kMinCapacity : capacity) {}

void OutputBuffer::Append(std::string_view text) {
    while (!text.empty()) {
        if (used_ == buffer_.size()) Drain();
        const std::size_t n = std::min(text.size(), buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, text.data(), n);
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
        const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
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
