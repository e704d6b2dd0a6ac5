#include "text/terminal_text.h"

#include <cstddef>

namespace kestrun {
namespace {

void AppendHex(std::string& out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xf];
}

// The length of the well-formed UTF-8 sequence at `at` (overlong forms,
// surrogates and values past U+10FFFF are not), or 0.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

bool IsPlainText(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7f) return false;
        if (c < 0x80) {
            ++at;
            continue;
        }
        const std::size_t length = Utf8Length(text, at);
        if (length == 0 || (c == 0xc2 && static_cast<unsigned char>(text[at + 1]) <= 0x9f)) {
            return false;
        }
        at += length;
    }
    return true;
}

std::string TerminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7f) {
            if (c == '\\') out += '\\';
            out += static_cast<char>(c);
            ++at;
            continue;
        }
        if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, at);
            // The C1 controls U+0080..U+009F are C2 80..C2 9F in UTF-8.
            const bool c1_control =
                length == 2 && c == 0xc2 && static_cast<unsigned char>(text[at + 1]) <= 0x9f;
            if (length > 0 && !c1_control) {
                out.append(text, at, length);
                at += length;
                continue;
            }
            const std::size_t escaped = c1_control ? 2 : 1;
            for (std::size_t i = 0; i < escaped; ++i) {
                AppendHex(out, static_cast<unsigned char>(text[at + i]));
            }
            at += escaped;
            continue;
        }
        switch (c) {
            case '\a':
                out += "\\a";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\v':
                out += "\\v";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            case 0x1b:
                out += "\\e";
                break;
            default:
                AppendHex(out, c);
                break;
        }
        ++at;
    }
    return out;
}

}  // namespace kestrun
