#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/posix_file_system.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    testing::ScratchDir dir_;
    PosixFileSystem files_;
    std::filesystem::path path_ = dir_ / "config" / "nested" / "KestrunFlightRecorder.ini";
    std::string file_name_ = "before";

    std::string Load(const std::string* contents) {
        if (contents != nullptr) {
            std::filesystem::create_directories(path_.parent_path());
            std::ofstream(path_, std::ios::binary) << *contents;
        }
        EXPECT_TRUE(LoadOutputFileSetting(files_, path_, file_name_).ok());
        return testing::ReadFile(path_);
    }
};

TEST_F(SettingsFileTest, MissingOrShortFileIsWrittenAsTwentyNineBytesAndFiveAreRead) {
    const std::string kDefault = "[OutputFile]\r\ncheckride.dat\r\n";
    const std::string four = "[Out", five = "[Outp";
    // A missing file (folders and all) and one of four bytes get the default.
    for (const std::string* contents : {static_cast<const std::string*>(nullptr), &four}) {
        file_name_ = "before";
        EXPECT_EQ(Load(contents), kDefault);
        EXPECT_EQ(file_name_, "checkride.dat");
    }
    file_name_ = "before";
    EXPECT_EQ(Load(&five), five);  // read, and without a section line nothing changes
    EXPECT_EQ(file_name_, "before");
}

TEST(ParseOutputFileTest, ReadsTheSectionLinesAsTheyMayBeWritten) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"[OutputFile]\r\n/data/a.dat\r\n", "/data/a.dat"},
        {"[OutputFile]\n/data/a.dat", "/data/a.dat"},                     // LF, no final end
        {"[OutputFile]\r\n\r\n", "checkride.dat"},                        // empty path line
        {"[OutputFile]\r\n  my flight.dat  \r\n", "my flight.dat"},       // spaces trimmed
        {"[OutputFile]\r\n\tx.dat\t\r\n", "\tx.dat\t"},                   // tabs kept
        {"[OutputFile]\r\n   \r\n", ""},                                  // only spaces
        {"junk\r\n[OutputFile] old\r\nb.dat\r\n", "b.dat"},               // 12 characters count
        {"[OutputFile]\r\na.dat\r\n[OutputFile]\r\nb.dat\r\n", "b.dat"},  // last wins
        {"[OutputFile]\r\na.dat\r\n[OutputFile]\r\n", "a.dat"},           // last line ignored
        {"[OutputFile]\r\n[OutputFile]\r\nc.dat\r\n", "[OutputFile]"},    // a path line is data
        {"[outputfile]\r\na.dat\r\n", std::nullopt},                      // case-sensitive
    };
    for (const auto& [contents, expected] : cases) {
        EXPECT_EQ(ParseOutputFile(contents), expected) << contents;
    }
}

TEST(SettingsPathTest, FollowsXdgConfigHomeWithHomeConfigAsFallback) {
    EXPECT_EQ(SettingsPathFor("/cfg", "/home/p"), "/cfg/KestrunFlightRecorder.ini");
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative"}) {
        EXPECT_EQ(SettingsPathFor(ignored, "/home/p"), "/home/p/.config/KestrunFlightRecorder.ini");
    }
}

}  // namespace
}  // namespace kestrun
