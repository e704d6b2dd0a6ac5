#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/posix/posix_file_system.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/scratch_dir.h"

namespace kestrun {
namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    testing::ScratchDir dir_;
    PosixFileSystem disk_;
    testing::FaultFileSystem files_{disk_};
    std::filesystem::path path_ = dir_ / "config" / "nested" / "KestrunFlightRecorder.ini";

    void Put(const std::string& contents) {
        std::filesystem::create_directories(path_.parent_path());
        std::ofstream(path_, std::ios::binary) << contents;
    }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(SettingsFileTest, MissingFileIsCreatedWithItsFolderAsTwentyNineBytes) {
    std::string file_name;
    ASSERT_TRUE(LoadOutputFileSetting(files_, path_, file_name).ok());
    EXPECT_EQ(file_name, "checkride.dat");
    EXPECT_EQ(Contents(), "[OutputFile]\r\ncheckride.dat\r\n");
    EXPECT_EQ(std::filesystem::file_size(path_), 29u);
}

TEST_F(SettingsFileTest, FileShorterThanFiveBytesIsRewrittenAndFiveBytesAreRead) {
    Put("[Out");
    std::string file_name = "before";
    ASSERT_TRUE(LoadOutputFileSetting(files_, path_, file_name).ok());
    EXPECT_EQ(file_name, "checkride.dat");
    EXPECT_EQ(Contents().size(), 29u);

    Put("[Outp");
    file_name = "before";
    ASSERT_TRUE(LoadOutputFileSetting(files_, path_, file_name).ok());
    EXPECT_EQ(file_name, "before");  // read, no section line: unchanged
    EXPECT_EQ(Contents(), "[Outp");
}

TEST(ParseOutputFileTest, ReadsTheSectionLinesAsTheyMayBeWritten) {
    struct Case {
        const char* contents;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"[OutputFile]\r\n/data/a.dat\r\n", "/data/a.dat"},
        {"[OutputFile]\n/data/a.dat\n", "/data/a.dat"},                   // LF only
        {"[OutputFile]\r\n/data/a.dat", "/data/a.dat"},                   // no final line end
        {"[OutputFile]\r\n\r\n", "checkride.dat"},                        // empty path line
        {"[OutputFile]\r\n  my flight.dat  \r\n", "my flight.dat"},       // spaces trimmed
        {"[OutputFile]\r\n\tx.dat\t\r\n", "\tx.dat\t"},                   // tabs kept
        {"[OutputFile]\r\n   \r\n", ""},                                  // only spaces
        {"junk\r\n[OutputFile] old\r\nb.dat\r\n", "b.dat"},               // prefix counts
        {"[OutputFile]\r\na.dat\r\n[OutputFile]\r\nb.dat\r\n", "b.dat"},  // last wins
        {"[OutputFile]\r\na.dat\r\n[OutputFile]\r\n", "a.dat"},           // last line ignored
        {"[OutputFile]\r\n[OutputFile]\r\nc.dat\r\n", "[OutputFile]"},    // path line is data
        {"[outputfile]\r\na.dat\r\n", std::nullopt},                      // case-sensitive
        {"[OutputFil]\r\na.dat\r\n", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseOutputFile(c.contents), c.expected) << c.contents;
}

TEST_F(SettingsFileTest, EmptyPathIsSavedAsAnEmptyLineAndLoadsAsTheDefault) {
    ASSERT_TRUE(SaveOutputFileSetting(files_, path_, "").ok());
    EXPECT_EQ(Contents(), "[OutputFile]\r\n\r\n");
    std::string file_name;
    ASSERT_TRUE(LoadOutputFileSetting(files_, path_, file_name).ok());
    EXPECT_EQ(file_name, "checkride.dat");
}

TEST_F(SettingsFileTest, UnreadableOrUnwritableFileFallsBackToTheDefaultAndSaysWhy) {
    Put("[OutputFile]\r\n/data/a.dat\r\n");
    files_.fail_read_text = "cannot open: Permission denied: " + path_.string();
    std::string file_name;
    Status loaded = LoadOutputFileSetting(files_, path_, file_name);
    EXPECT_FALSE(loaded.ok());
    EXPECT_EQ(file_name, "checkride.dat");
    EXPECT_EQ(files_.text_writes, 0);  // an unreadable file is never overwritten

    // A folder that cannot be created (a file stands in its way).
    std::ofstream(dir_ / "blocker") << "x";
    file_name.clear();
    loaded =
        LoadOutputFileSetting(disk_, dir_ / "blocker" / "KestrunFlightRecorder.ini", file_name);
    EXPECT_FALSE(loaded.ok());
    EXPECT_NE(loaded.message().find("blocker"), std::string::npos);
    EXPECT_EQ(file_name, "checkride.dat");
}

TEST(SettingsPathTest, FollowsXdgConfigHomeWithHomeConfigAsFallback) {
    EXPECT_EQ(SettingsPathFor("/cfg", "/home/p"), "/cfg/KestrunFlightRecorder.ini");
    EXPECT_EQ(SettingsPathFor(nullptr, "/home/p"), "/home/p/.config/KestrunFlightRecorder.ini");
    EXPECT_EQ(SettingsPathFor("", "/home/p"), "/home/p/.config/KestrunFlightRecorder.ini");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    EXPECT_EQ(SettingsPathFor("cfg", "/home/p"), "/home/p/.config/KestrunFlightRecorder.ini");
}

}  // namespace
}  // namespace kestrun
