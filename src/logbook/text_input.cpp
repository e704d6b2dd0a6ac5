#include "logbook/text_input.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

namespace kestrun {
namespace {

constexpr std::size_t kReadBytes = std::size_t{1} << 16;

}  // namespace

Status FileSource::Read(std::span<char> into, std::size_t& got) {
    Status status = file_.ReadAt(at_, std::as_writable_bytes(into), got);
    at_ += got;
    return status;
}

GzipSource::GzipSource(ByteSource& in, std::string name)
    : in_(in), name_(std::move(name)), input_(kReadBytes) {}

GzipSource::~GzipSource() {
    if (started_ && !plain_) inflateEnd(&z_);
}

Status GzipSource::Fill() {
    std::size_t got = 0;
    Status status = in_.Read(input_, got);
    if (!status.ok()) return status;
    z_.next_in = reinterpret_cast<Bytef*>(input_.data());
    z_.avail_in = static_cast<uInt>(got);
    input_end_ = got == 0;
    return Status::Ok();
}

Status GzipSource::Read(std::span<char> into, std::size_t& got) {
    got = 0;
    const auto damaged = [&](const char* why) {
        return Status::Error(fmt::format("cannot read {}: {}", name_, why));
    };
    if (!started_) {
        started_ = true;
        if (Status status = Fill(); !status.ok()) return status;
        plain_ = z_.avail_in < 2 || static_cast<unsigned char>(input_[0]) != 0x1f ||
                 static_cast<unsigned char>(input_[1]) != 0x8b;
        if (!plain_ && inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) {
            plain_ = true;  // nothing to end
            return damaged("out of memory");
        }
    }
    while (got == 0 && !done_) {
        if (z_.avail_in == 0 && !input_end_) {
            if (Status status = Fill(); !status.ok()) return status;
        }
        if (plain_) {
            got = std::min<std::size_t>(into.size(), z_.avail_in);
            std::memcpy(into.data(), z_.next_in, got);
            z_.next_in += got;
            z_.avail_in -= static_cast<uInt>(got);
            done_ = input_end_ && z_.avail_in == 0 && got == 0;
            continue;
        }
        if (input_end_ && z_.avail_in == 0) return damaged("unexpected end of file");
        z_.next_out = reinterpret_cast<Bytef*>(into.data());
        z_.avail_out = static_cast<uInt>(into.size());
        const int result = inflate(&z_, Z_NO_FLUSH);
        got = into.size() - z_.avail_out;
        if (result == Z_STREAM_END) {
            // Another member may follow; anything else after one is ignored,
            // as gzip itself does with trailing zeros.
            if (z_.avail_in == 0 && !input_end_) {
                if (Status status = Fill(); !status.ok()) return status;
            }
            if (z_.avail_in >= 2 && z_.next_in[0] == 0x1f && z_.next_in[1] == 0x8b) {
                inflateReset(&z_);
            } else {
                done_ = true;
            }
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return damaged(z_.msg != nullptr ? z_.msg : "damaged data");
        }
    }
    return Status::Ok();
}

LineReader::LineReader(ByteSource& source, std::string name, std::size_t max_line)
    : source_(source),
      name_(std::move(name)),
      max_line_(max_line),
      buffer_(max_line + 2 + kReadBytes) {}

bool LineReader::Next(std::string_view& line) {
    if (!status_.ok()) return false;
    for (;;) {
        const char* first = buffer_.data() + begin_;
        const auto* newline = static_cast<const char*>(std::memchr(first, '\n', end_ - begin_));
        const std::size_t length =
            newline != nullptr ? static_cast<std::size_t>(newline - first) : end_ - begin_;
        // Without its "\r" a line may hold max_line_ bytes; one not yet
        // ended may still turn out to end in "\r\n".
        const bool cr = newline != nullptr && length > 0 && first[length - 1] == '\r';
        if (length > max_line_ + (newline == nullptr || cr ? 1 : 0)) {
            status_ = Status::Error(fmt::format("{}:{}: the line is longer than {} bytes", name_,
                                                number_ + 1, max_line_));
            return false;
        }
        if (newline != nullptr || (at_end_ && length > 0)) {
            ++number_;
            line = std::string_view(first, length);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            begin_ += length + (newline != nullptr ? 1 : 0);
            return true;
        }
        if (at_end_) return false;
        std::memmove(buffer_.data(), first, length);
        begin_ = 0;
        end_ = length;
        std::size_t got = 0;
        status_ = source_.Read(std::span(buffer_).subspan(end_), got);
        if (!status_.ok()) return false;
        end_ += got;
        at_end_ = got == 0;
    }
}

}  // namespace kestrun
