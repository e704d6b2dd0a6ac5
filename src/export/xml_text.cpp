#include "export/xml_text.h"

namespace kestrun {
namespace {

// Length of the valid UTF-8 sequence at the start of `text` that XML allows,
// or 0 if there is none.
std::size_t XmlCharLength(std::string_view text) {
    const auto b0 = static_cast<unsigned char>(text[0]);
    if (b0 < 0x80) return (b0 >= 0x20 || b0 == '\t' || b0 == '\n' || b0 == '\r') ? 1 : 0;
    std::size_t length = 0;
    char32_t code = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        code = b0 & 0x1Fu;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        code = b0 & 0x0Fu;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        code = b0 & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80) return 0;
        code = (code << 6) | (b & 0x3Fu);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool overlong = code < kSmallest[length];
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool non_character = code == 0xFFFE || code == 0xFFFF;
    return (overlong || surrogate || non_character || code > 0x10FFFF) ? 0 : length;
}

}  // namespace

void AppendXmlText(OutputBuffer& out, std::string_view text) {
    while (!text.empty()) {
        switch (text[0]) {
            case '&':
                out.Append("&amp;");
                break;
            case '<':
                out.Append("&lt;");
                break;
            case '>':
                out.Append("&gt;");
                break;
            case '"':
                out.Append("&quot;");
                break;
            case '\'':
                out.Append("&apos;");
                break;
            default: {
                const std::size_t length = XmlCharLength(text);
                if (length == 0) {
                    out.Append('?');
                    text.remove_prefix(1);
                } else {
                    out.Append(text.substr(0, length));
                    text.remove_prefix(length);
                }
                continue;
            }
        }
        text.remove_prefix(1);
    }
}

std::string FileNameOf(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() == 1) return std::string(path);
    return std::string(path.substr(slash + 1));
}

}  // namespace kestrun
