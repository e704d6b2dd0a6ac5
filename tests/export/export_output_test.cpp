// Where an export goes: a failed export leaves nothing behind and spares the
// file it was to replace; a sound one leaves exactly its target.
#include "export/export_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/posix/posix_file_system.h"
#include "tests/support/recorder_fakes.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ExportOutputTest : public ::testing::Test {
  protected:
    // Exports `bytes` to `target`: the outcome of Close.
    Status Export(const std::string& target, const std::string& bytes) {
        ExportOutput output(files_);
        if (Status opened = output.Open(target); !opened.ok()) return opened;
        output.buffer().Append(bytes);
        return output.Close();
    }

    PosixFileSystem posix_;
    testing::FaultFileSystem files_{posix_};
    testing::ScratchDir dir_;
};

TEST_F(ExportOutputTest, AFullDiskLeavesNothingAndSparesTheOldFile) {
    const std::string big(std::size_t{3} << 20, 'x');  // several buffers
    const std::string target = (dir_ / "out.csv").string();
    for (const int writes_before : {0, 2}) {
        SCOPED_TRACE(writes_before);
        files_.stream_writes = 0;
        files_.stream_writes_before_failure = writes_before;
        const Status status = Export(target, big);
        EXPECT_EQ(status.message(), "cannot write: No space left on device");
        EXPECT_TRUE(Names(dir_.path()).empty());
    }
    dir_.Write("out.csv", "the last export\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    EXPECT_FALSE(Export(target, big).ok());
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"out.csv"});
    EXPECT_EQ(testing::ReadFile(target), "the last export\n");

    files_.stream_writes_before_failure.reset();
    files_.fail_rename = "cannot replace " + target + ": Input/output error";
    EXPECT_EQ(Export(target, "new\n").message(), *files_.fail_rename);
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"out.csv"});

    // Discarded (nothing was exported), or never closed: nothing is left.
    {
        ExportOutput output(files_);
        ASSERT_TRUE(output.Open((dir_ / "new.csv").string()).ok());
        output.buffer().Append("half");
    }
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"out.csv"});

    files_.fail_rename.reset();
    ASSERT_TRUE(Export(target, "new\n").ok());
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"out.csv"});
    EXPECT_EQ(testing::ReadFile(target), "new\n");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // a replaced file keeps its permissions
}

TEST_F(ExportOutputTest, TargetsARenameCannotReplaceAreWrittenInPlace) {
    const std::string real = dir_.Write("real.csv", "old\n");
    const std::filesystem::path link = dir_ / "link.csv";
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(Export(link.string(), "through the link\n").ok());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(testing::ReadFile(real), "through the link\n");

    EXPECT_EQ(
        Export((dir_ / "none" / "out.csv").string(), "x").message(),
        "cannot create " + (dir_ / "none" / "out.csv").string() + ": No such file or directory");
}

}  // namespace
}  // namespace kestrun
