// The exporter's output path: a buffer written by a thread of its own must
// deliver every byte in order (a failed write is checked end to end with
// /dev/full), and cached UTC stamps must read as the calendar's.

#include "export/output_buffer.h"

#include <gtest/gtest.h>

#include "export/utc_stamp.h"
#include "platform/posix/posix_file_system.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

TEST(OutputBufferTest, WritingInTheBackgroundKeepsEveryByteInOrder) {
    testing::ScratchDir dir;
    const std::string path = (dir / "out.txt").string();
    PosixFileSystem files;
    std::unique_ptr<OutputStream> stream;
    ASSERT_TRUE(files.OpenOutputStream(path, stream).ok());
    std::string expected;
    {
        OutputBuffer out(stream.get(), 4096);  // the smallest buffer: many hand-overs
        out.WriteInBackground();
        for (int i = 0; i < 20000; ++i) {
            expected += std::to_string(i) + (i % 7 == 0 ? std::string(5000, 'x') : ",");
            out.Append(std::string_view(expected).substr(out.written()));
        }
        EXPECT_TRUE(out.Flush()) << out.error();
    }
    ASSERT_TRUE(stream->Close().ok());
    EXPECT_EQ(testing::ReadFile(path), expected);
}

TEST(UtcStampTest, ReadsAsTheCalendarAcrossDaysAndBefore1970) {
    UtcStamp stamp;
    for (const std::int64_t t : {0L, 86399L, 86400L, -1L, -86400L, -86401L, 951868800L, 86400L}) {
        char cached[32];
        char direct[32];
        EXPECT_EQ(std::string(cached, stamp.Write(cached, t)),
                  std::string(direct, WriteUtcTimestamp(direct, t)));
    }
}

}  // namespace
}  // namespace kestrun
