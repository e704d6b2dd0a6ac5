#pragma once
// kestrun-record's exit status from what its run reports, rather than from
// the status texts it printed on the way.

namespace kestrun {

struct RecordOutcome {
    bool connected = false;
    bool started = false;  // the output file was opened and the run began
    bool saved = false;    // every record whole, the file synced and closed
    int lost_seconds = 0;  // seconds the host did not answer; their records hold zeros
};

// 0 recorded and saved; 3 could not connect; 4 output file error (not
// opened, a write failed, or not saved); 5 saved, but seconds were lost.
int RecordExitStatus(const RecordOutcome& outcome);

}  // namespace kestrun
