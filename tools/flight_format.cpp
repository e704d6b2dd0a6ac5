#include "tools/flight_format.h"

namespace kestrun {

const char* DateSourceText(DateSource source) {
    return source == DateSource::kOption ? "given with --date"
                                         : "taken from the file's modification time";
}

}  // namespace kestrun
