#pragma once
// Module BitwiseOps: shifting by multiplying or dividing by powers of two.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrun {

// The error Shift raises; source() is always "Shift".
class ShiftError : public std::runtime_error {
  public:
    explicit ShiftError(const std::string& what) : std::runtime_error(what) {}
    const char* source() const noexcept { return "Shift"; }
};

namespace BitwiseOps {

// to_left false: value divided by 2^bits (the power first rounded to a 32-bit
// integer), truncating toward zero. to_left true: value times 2^bits in
// floating point, rounded to nearest with ties to even.
// Throws ShiftError when the power (shifting right) or the product (shifting
// left) does not fit 32 bits, or when a negative right shift makes the
// divisor zero.
std::int32_t Shift(std::int32_t value, std::int32_t bits, bool to_left);

}  // namespace BitwiseOps
}  // namespace kestrun
