#include "export/output_buffer.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
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

OutputBuffer::OutputBuffer(OutputStream* stream, std::size_t capacity)
    : stream_(stream), capacity_(std::max(capacity, kMinCapacity)) {
    buffer_.reset(new char[capacity_]);
}

OutputBuffer::~OutputBuffer() {
    if (!writer_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void OutputBuffer::WriteInBackground() {
    if (writer_.joinable()) return;
    spare_.reset(new char[capacity_]);
    writer_ = std::thread([this] { RunWriter(); });
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
    if (writer_.joinable() && ok()) {
        HandOver();
        return;
    }
    if (!Flush()) used_ = 0;  // dropped: the error is already recorded
}

std::string OutputBuffer::WriteOut(const char* data, std::size_t size) const {
    if (size == 0) return {};
    if (stream_ == nullptr) return "cannot write: there is no output";
    const Status written = stream_->Write(std::as_bytes(std::span(data, size)));
    return written.ok() ? std::string() : written.message();
}

void OutputBuffer::HandOver() {
    WaitForWriter();
    if (!ok()) {
        used_ = 0;
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        std::swap(buffer_, spare_);
        pending_ = used_;
    }
    changed_.notify_all();
    flushed_ += used_;
    used_ = 0;
}

void OutputBuffer::WaitForWriter() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == 0; });
    if (!writer_error_.empty()) {
        Fail(std::move(writer_error_));
        writer_error_.clear();
    }
}

void OutputBuffer::RunWriter() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || pending_ != 0; });
        if (pending_ == 0) return;  // stopped with nothing left to write
        const char* data = spare_.get();
        const std::size_t size = pending_;
        lock.unlock();
        std::string failure = WriteOut(data, size);
        lock.lock();
        if (writer_error_.empty()) writer_error_ = std::move(failure);
        pending_ = 0;
        changed_.notify_all();
    }
}

bool OutputBuffer::Flush() {
    if (writer_.joinable()) {
        if (ok() && used_ > 0) HandOver();
        WaitForWriter();
    }
    if (!ok()) {
        used_ = 0;
        return false;
    }
    if (std::string failure = WriteOut(buffer_.get(), used_); !failure.empty()) {
        Fail(std::move(failure));
        used_ = 0;
        return false;
    }
    flushed_ += used_;
    used_ = 0;
    return true;
}

void OutputBuffer::Discard() {
    if (writer_.joinable()) WaitForWriter();
    used_ = 0;
}

void OutputBuffer::Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
}

}  // namespace kestrun
