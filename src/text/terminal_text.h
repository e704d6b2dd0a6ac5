#pragma once
// Text from outside (file names, airport idents, paths, what a peer sent)
// printed to a terminal could move the cursor, clear the screen, retitle the
// window or split a table's row. TerminalSafe shows such bytes as escapes
// instead, in the style of C string literals:
//   \a \b \t \n \v \f \r and \e for the usual controls, \\ for a backslash,
//   \xHH for any other control byte (C0, DEL), for the C1 controls
//   U+0080..U+009F (as their two UTF-8 bytes) and for bytes that are not
//   UTF-8.
// Everything else, including any other UTF-8 character, is kept as it is.

#include <string>
#include <string_view>

namespace kestrun {

std::string TerminalSafe(std::string_view text);

// True when `text` is well-formed UTF-8 without a single control character
// (C0, DEL, C1): one line that is safe as it is anywhere it goes.
bool IsPlainText(std::string_view text);

}  // namespace kestrun
