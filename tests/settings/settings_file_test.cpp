#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The save replaces a regular file of the user's by rename, keeping its
// permissions and leaving nothing beside it; anything else is refused and left
// exactly as it was, and nothing it points to is written.
TEST_F(SettingsFileTest, SaveReplacesOnlyARegularFileOfTheUsers) {
    std::filesystem::create_directories(path_.parent_path());
    const std::string victim = dir_.Write("victim", "precious\n");
    const auto refused = [&](const std::string& why) {
        const Status saved = SaveOutputFileSetting(files_, path_, "x.dat");
        EXPECT_EQ(saved.message(), "cannot replace " + path_.string() + ": " + why);
        EXPECT_EQ(testing::ReadFile(victim), "precious\n");
        std::filesystem::remove_all(path_);
    };
    std::filesystem::create_symlink(victim, path_);
    refused("it is a symbolic link");
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    refused("it is not a regular file");
    std::filesystem::create_directory(path_);
    refused("it is not a regular file");
    if (::geteuid() == 0) {  // only root can give a file away
        std::filesystem::copy_file(victim, path_);
        ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
        const Status saved = SaveOutputFileSetting(files_, path_, "x.dat");
        EXPECT_EQ(saved.message(),
                  "cannot replace " + path_.string() + ": it belongs to another user");
        EXPECT_EQ(testing::ReadFile(path_), "precious\n");
        std::filesystem::remove(path_);
    }

    dir_.Write("config/nested/KestrunFlightRecorder.ini", "old");
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(SaveOutputFileSetting(files_, path_, "x.dat").ok());
    EXPECT_EQ(testing::ReadFile(path_), "[OutputFile]\r\nx.dat\r\n");
    EXPECT_EQ(std::filesystem::status(path_).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path_.parent_path()), {}), 1);
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
