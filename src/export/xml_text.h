#pragma once
// Text from outside (file names) made safe for XML documents.

#include <string>
#include <string_view>

#include "export/output_buffer.h"

namespace kestrun {

// Appends `text` as XML character data or attribute content: markup
// characters become entities, and bytes that are not valid UTF-8 or are
// control characters XML forbids become '?'. File names on Linux are any
// bytes, but a document with them would not parse.
void AppendXmlText(OutputBuffer& out, std::string_view text);

// The last component of a path, for naming a flight.
std::string FileNameOf(std::string_view path);

}  // namespace kestrun
