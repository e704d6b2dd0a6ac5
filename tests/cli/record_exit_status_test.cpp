#include "cli/record_exit_status.h"

#include <gtest/gtest.h>

namespace kestrun {
namespace {

// The worst of what happened decides: no link, then the file, then lost
// seconds, which matter only in a file that was saved.
TEST(RecordExitStatusTest, TheWorstOutcomeDecides) {
    const struct {
        RecordOutcome outcome;
        int status;
    } cases[] = {
        {{.connected = false}, 3},
        {{.connected = true, .started = false}, 4},
        {{.connected = true, .started = true, .saved = false, .lost_seconds = 2}, 4},
        {{.connected = true, .started = true, .saved = true, .lost_seconds = 1}, 5},
        {{.connected = true, .started = true, .saved = true}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecordExitStatus(c.outcome), c.status)
            << c.outcome.connected << c.outcome.started << c.outcome.saved
            << c.outcome.lost_seconds;
    }
}

}  // namespace
}  // namespace kestrun
