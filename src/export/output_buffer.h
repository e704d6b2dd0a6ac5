#pragma once
// OutputBuffer: a fixed buffer in front of an output stream, for writers that
// produce millions of small fields. Fields are formatted straight into the
// buffer; the buffer goes to the stream when it fills.
//
// Errors are sticky: after the first failed write (or Fail()), further output
// is dropped and ok() is false, so a writer can format a whole document and
// the caller checks once.
//
// WriteInBackground() lets a thread of its own write each full buffer while
// the next one fills: writing a gigabyte to a file or a pipe costs the kernel
// about as much as formatting it, and the two then overlap. A failed write is
// then seen at the next buffer handed over, and at Flush() at the latest.

#include <charconv>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace kestrun {

// Writes `value` with exactly `decimals` digits after the point (0 to 9),
// rounded half away from zero; never writes "-0". Returns the end. `out`
// needs 48 chars.
char* WriteFixed(char* out, double value, int decimals);

// The same with the number of decimals fixed at compile time, for writers of
// millions of numbers: dividing by a constant is much cheaper.
template <int Decimals>
char* WriteFixed(char* out, double value);

// Whether WriteFixed rounds `value` up to at least `limit` (a whole number),
// so that writers can wrap 360 degrees to 0 exactly where the text would.
inline bool RoundsUpTo(double value, double limit, int decimals) {
    constexpr double kScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    return value * kScales[decimals] >= limit * kScales[decimals] - 0.5;
}

// Values rounded to `decimals` places as they will be printed, wrapped so
// that rounding cannot produce 360 for a heading or 180 for a longitude.
inline double HeadingForPrint(double heading_deg, int decimals) {
    return RoundsUpTo(heading_deg, 360.0, decimals) ? heading_deg - 360.0 : heading_deg;
}
inline double LongitudeForPrint(double longitude_deg, int decimals) {
    return RoundsUpTo(longitude_deg, 180.0, decimals) ? longitude_deg - 360.0 : longitude_deg;
}

// Copies `text` to `out` and returns the end. With a literal the length is
// known where this is inlined, and the copy is a few moves.
inline char* WriteText(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

class OutputBuffer {
  public:
    static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 18;

    // Does not take ownership of `stream`, whose messages name what failed.
    // A null stream fails every write: for an output that could not be made
    // (Fail() says why).
    explicit OutputBuffer(OutputStream* stream, std::size_t capacity = kDefaultCapacity);
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    ~OutputBuffer();

    // Before the first output. buffered(), DropBuffered() and flushed() are
    // for spools, which stay in the foreground.
    void WriteInBackground();

    void Append(std::string_view text);
    void Append(char c) {
        if (used_ == capacity_) Drain();
        buffer_[used_++] = c;
    }
    void AppendInt(std::int64_t value);
    void AppendFixed(double value, int decimals);

    // Room for at least `n` chars at the returned pointer; Commit(end) marks
    // them used. For formatters that write straight into the buffer.
    char* Reserve(std::size_t n) {
        if (capacity_ - used_ < n) Drain();
        return buffer_.get() + used_;
    }
    void Commit(char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }

    // What is buffered and not yet written, and dropping it: a spool that
    // never filled its buffer hands it on without a trip through its file.
    std::string_view buffered() const { return {buffer_.get(), used_}; }
    void DropBuffered() { used_ = 0; }
    // Bytes that reached the stream.
    std::uint64_t flushed() const { return flushed_; }

    // Writes out everything buffered. False (and ok() false) on failure.
    bool Flush();
    // Drops what is buffered and not yet written; a write already under way
    // in the background is waited for.
    void Discard();
    // Marks the output failed with `message` unless it already failed.
    void Fail(std::string message);

    bool ok() const { return error_.empty(); }
    // Empty while ok().
    const std::string& error() const { return error_; }
    // Bytes handed to Append and friends since construction.
    std::uint64_t written() const { return flushed_ + used_; }

  private:
    void Drain();
    // Writes `size` bytes of `data`; the failure's message, or empty.
    std::string WriteOut(const char* data, std::size_t size) const;
    // Background mode: hands the buffer to the writer and takes the spare
    // one, once the writer is done with it.
    void HandOver();
    // Background mode: waits until the writer is idle and takes its error.
    void WaitForWriter();
    void RunWriter();

    OutputStream* stream_;
    // Not zeroed: a large buffer costs memory only as far as it is used.
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
    std::string error_;

    // Background mode. The writer owns `spare_` from a hand-over until it
    // sets `pending_` back to 0.
    std::unique_ptr<char[]> spare_;
    std::size_t pending_ = 0;  // bytes of spare_ to write; 0 when idle
    std::string writer_error_;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread writer_;
};

namespace detail {
char* WriteFixedWide(char* out, double value, int decimals);

// "00" "01" ... "99".
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The whole part of a fixed-point number: mostly one to five digits, which
// this writes faster than the general integer conversion.
[[gnu::always_inline]] inline char* WriteWhole(char* out, std::uint64_t wide) {
    if (wide >= 100000) return std::to_chars(out, out + 24, wide).ptr;
    const auto value = static_cast<std::uint32_t>(wide);
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    if (value < 100) {
        std::memcpy(out, kDigitPairs + 2 * value, 2);
        return out + 2;
    }
    if (value < 1000) {
        *out = static_cast<char>('0' + value / 100);
        std::memcpy(out + 1, kDigitPairs + 2 * (value % 100), 2);
        return out + 3;
    }
    if (value < 10000) {
        std::memcpy(out, kDigitPairs + 2 * (value / 100), 2);
        std::memcpy(out + 2, kDigitPairs + 2 * (value % 100), 2);
        return out + 4;
    }
    *out = static_cast<char>('0' + value / 10000);
    std::memcpy(out + 1, kDigitPairs + 2 * (value / 100 % 100), 2);
    std::memcpy(out + 3, kDigitPairs + 2 * (value % 100), 2);
    return out + 5;
}

// Exactly `Digits` digits of `value` (below 10^Digits), two at a time,
// unrolled where it is inlined.
template <int Digits>
[[gnu::always_inline]] inline void WriteDigitsOf(char* out, std::uint32_t value) {
    if constexpr (Digits >= 2) {
        WriteDigitsOf<Digits - 2>(out, value / 100);
        std::memcpy(out + Digits - 2, kDigitPairs + 2 * (value % 100), 2);
    } else if constexpr (Digits == 1) {
        out[0] = static_cast<char>('0' + value);
    }
}
}  // namespace detail

template <int Decimals>
[[gnu::always_inline]] inline char* WriteFixed(char* out, double value) {
    static_assert(Decimals >= 0 && Decimals <= 9);
    constexpr std::uint64_t kScale = [] {
        std::uint64_t scale = 1;
        for (int i = 0; i < Decimals; ++i) scale *= 10;
        return scale;
    }();
    const double scaled = value * static_cast<double>(kScale);
    // Scaled integers are exact below 2^53 and far faster than formatting a
    // double; anything larger (or not finite) takes the general path.
    if (!(scaled < 9.0e15 && scaled > -9.0e15)) return detail::WriteFixedWide(out, value, Decimals);
    auto rounded = static_cast<std::int64_t>(scaled);  // toward zero, exact
    const double rest = scaled - static_cast<double>(rounded);
    if (rest >= 0.5) ++rounded;
    if (rest <= -0.5) --rounded;
    if (rounded < 0) {
        *out++ = '-';
        rounded = -rounded;
    }
    const auto magnitude = static_cast<std::uint64_t>(rounded);
    out = detail::WriteWhole(out, magnitude / kScale);
    if constexpr (Decimals > 0) {
        *out++ = '.';
        // Below 10^9, so 32-bit arithmetic does, which is cheaper.
        detail::WriteDigitsOf<Decimals>(out, static_cast<std::uint32_t>(magnitude % kScale));
        out += Decimals;
    }
    return out;
}

}  // namespace kestrun
