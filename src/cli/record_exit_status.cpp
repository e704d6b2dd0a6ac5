#include "cli/record_exit_status.h"

#include "cli/exit_status.h"

namespace kestrun {

int RecordExitStatus(const RecordOutcome& outcome) {
    if (!outcome.connected) return kExitNotConnected;
    // A file that was not saved is the worse news: lost seconds in it are
    // beside the point.
    if (!outcome.started || !outcome.saved) return kExitFileError;
    return outcome.lost_seconds > 0 ? kExitSecondsLost : kExitOk;
}

}  // namespace kestrun
