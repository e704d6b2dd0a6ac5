#include "window/status_texts.h"

#include <fmt/core.h>

#include "window/bitwise_ops.h"

namespace kestrun {

std::string UnlockedFileNote(std::string_view path) {
    return "Recording without a lock: the file system of " + std::string(path) +
           " has no file locks, so a second recorder on the same file cannot be detected there";
}

std::string StatusTipText(const StatusTip& tip) {
    std::string text = tip.status;
    text += "\nOutput file: " + tip.output_file;
    if (tip.recording) {
        const std::uint64_t s = tip.records;
        text += fmt::format("\nRecorded {}:{:02}:{:02}, {} record{}", s / 3600, s / 60 % 60, s % 60,
                            s, s == 1 ? "" : "s");
    }
    if (!tip.kept_as.empty()) text += "\nThe file's previous flight is kept as " + tip.kept_as;
    if (tip.unlocked) text += "\n" + UnlockedFileNote(tip.output_file);
    if (!tip.hosts_sought.empty()) {
        text += fmt::format("\nNo host listens at {}. Start one with {}, then connect again.",
                            tip.hosts_sought, kHowToStartAHost);
    }
    return text;
}

std::string OutputFileTipText(std::string_view absolute_path) {
    return "Records go to " + std::string(absolute_path);
}

std::string ConnectedStatusText(std::int32_t host_version) {
    const auto digit = [host_version](std::int32_t bits) {
        // Shift divides and truncates toward zero, which picks out the nibble
        // only for a non-negative word: 0xA1000000 would show ';' for its A.
        // A word with its top bit set is therefore read as unsigned.
        const std::int32_t nibble =
            host_version >= 0
                ? (BitwiseOps::Shift(host_version, bits, false) & 0xF)
                : static_cast<std::int32_t>((static_cast<std::uint32_t>(host_version) >>
                                             static_cast<std::uint32_t>(bits)) &
                                            0xFu);
        return static_cast<char>('0' + nibble);
    };
    std::string text = "Connected to Flight Simulator (host ver";
    text += digit(28);
    text += '.';
    text += digit(24);
    text += digit(20);
    text += digit(16);
    text += ')';
    return text;
}

}  // namespace kestrun
