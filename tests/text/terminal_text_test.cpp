#include "text/terminal_text.h"

#include <gtest/gtest.h>

namespace kestrun {
namespace {

TEST(TerminalSafeTest, EscapesWhatATerminalWouldObeyAndKeepsTheRest) {
    const struct {
        std::string_view given, shown;
    } cases[] = {
        {"x\x1b[2Jy\nz.dat", "x\\e[2Jy\\nz.dat"},
        {"\x1b]0;TITLE\a", "\\e]0;TITLE\\a"},
        {"a\tb\x7f\x01 C:\\x", "a\\tb\\x7f\\x01 C:\\\\x"},
        {"Z\xc3\xbcrich \xe2\x9c\x88", "Z\xc3\xbcrich \xe2\x9c\x88"},
        {"\xc2\x9b"
         "2J \xc2\xa0",
         "\\xc2\\x9b2J \xc2\xa0"},  // C1 CSI escaped; NBSP kept
        {"\x9b\xc3(\xc0\xaf\xed\xa0\x80", "\\x9b\\xc3(\\xc0\\xaf\\xed\\xa0\\x80"},  // not UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(TerminalSafe(c.given), c.shown) << c.shown;
}

}  // namespace
}  // namespace kestrun
