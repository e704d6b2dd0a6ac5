#include "cli/exit_status.h"

#include <fmt/core.h>

namespace kestrun {
namespace {

constexpr std::size_t kWidth = 80;
// "  N  " before the meaning; wrapped lines line up under its first word.
constexpr std::string_view kHangingIndent = "     ";

}  // namespace

std::string ExitStatusHelp(std::span<const ExitStatusMeaning> meanings) {
    std::string text = "Exit status:\n";
    for (const ExitStatusMeaning& m : meanings) {
        std::string line = fmt::format("  {}  ", m.status);
        std::string_view rest = m.meaning;
        bool first_word = true;
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            const std::string_view word = rest.substr(0, space);
            rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
            if (!first_word && line.size() + 1 + word.size() > kWidth) {
                text += line + "\n";
                line = std::string(kHangingIndent);
                first_word = true;
            }
            if (!first_word) line += ' ';
            line += word;
            first_word = false;
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace kestrun
