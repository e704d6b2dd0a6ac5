#include "window/bitwise_ops.h"

#include <cmath>
#include <limits>

namespace kestrun::BitwiseOps {
namespace {

// Converts to a 32-bit integer, rounding to nearest with ties to even. The
// range is checked on the rounded value, before any conversion.
std::int32_t ToInt32Rounded(double x) {
    const double rounded = std::nearbyint(x);  // default mode: to nearest, ties even
    if (!(rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::max()))) {
        throw ShiftError("Overflow");
    }
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

std::int32_t Shift(std::int32_t value, std::int32_t bits, bool to_left) {
    const double power = std::exp2(static_cast<double>(bits));
    if (to_left) return ToInt32Rounded(static_cast<double>(value) * power);
    const std::int32_t divisor = ToInt32Rounded(power);
    // A negative shift makes the power a fraction that rounds to zero.
    if (divisor == 0) throw ShiftError("Division by zero");
    return value / divisor;
}

}  // namespace kestrun::BitwiseOps
