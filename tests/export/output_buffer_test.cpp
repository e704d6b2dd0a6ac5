// The exporter's output path: the cached UTC stamps must read as the
// calendar's.

#include "export/output_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "export/utc_stamp.h"

namespace kestrun {
namespace {

TEST(UtcStampTest, ReadsAsTheCalendarAcrossDaysAndBefore1970) {
    UtcStamp stamp;
    for (const std::int64_t t : {0L, 86399L, 86400L, 86401L, -1L, -86400L, -86401L, 951782399L,
                                 951782400L, 951868800L, 253402300799L, 86400L}) {
        char cached[32];
        char direct[32];
        EXPECT_EQ(std::string(cached, stamp.Write(cached, t)),
                  std::string(direct, WriteUtcTimestamp(direct, t)))
            << t;
    }
}

}  // namespace
}  // namespace kestrun
