#include "cli/output_pattern.h"

#include <vector>

namespace kestrun {

std::string ExpandOutputPattern(std::string_view pattern, const std::tm& now,
                                std::string_view home) {
    std::string format(pattern);
    if (!home.empty() && (format == "~" || format.starts_with("~/"))) {
        format.replace(0, 1, home);
    }
    if (format.find('%') == std::string::npos) return format;
    // strftime says 0 both for "too small" and for an empty result; a path
    // longer than PATH_MAX many times over is neither wanted nor possible.
    constexpr std::size_t kLimit = 1 << 16;
    for (std::size_t size = format.size() * 2 + 64; size <= kLimit; size *= 2) {
        std::vector<char> out(size);
        const std::size_t n = std::strftime(out.data(), out.size(), format.c_str(), &now);
        if (n > 0) return std::string(out.data(), n);
    }
    return {};
}

}  // namespace kestrun
