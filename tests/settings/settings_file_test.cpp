#include "settings/settings_file.h"

#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <limits>

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

std::size_t Entries(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// The save replaces a regular file of the user's by rename, keeping its
// permissions and leaving nothing beside it; through links (here a relative
// chain of two, as dotfile managers make) it does so to the last link's
// target in that target's folder. A dangling link into the user's folder has
// its target created by the load.
TEST_F(SettingsFileTest, SaveReplacesARegularFileOfTheUsersAtTheEndOfAnyLink) {
    std::filesystem::create_directories(path_.parent_path());
    std::filesystem::create_directory(dir_ / "dotfiles");
    const std::filesystem::path target = dir_.Write("dotfiles/recorder.ini", "old");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    std::filesystem::create_symlink("recorder.ini", dir_ / "dotfiles" / "current");
    std::filesystem::create_symlink("../../dotfiles/current", path_);
    EXPECT_TRUE(SaveOutputFileSetting(files_, path_, "x.dat").ok());
    EXPECT_EQ(testing::ReadFile(target), "[OutputFile]\r\nx.dat\r\n");
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0600));
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(Entries(path_.parent_path()) + Entries(dir_ / "dotfiles"), 3u);
    std::filesystem::remove(target);
    EXPECT_EQ(Load(nullptr), "[OutputFile]\r\ncheckride.dat\r\n");
}

// Anything else at the end of a link is refused, and nothing there is
// written or created. (Named directly, the same checks apply.)
TEST_F(SettingsFileTest, SaveRefusesAnythingElseLinkedOrNot) {
    std::filesystem::create_directories(path_.parent_path());
    // Another user's file and folder: given away when this user may, else root's.
    std::filesystem::path foreign_file = "/etc/passwd", foreign_folder = "/";
    if (::geteuid() == 0) {
        foreign_file = dir_.Write("foreign.ini", "precious\n");
        foreign_folder = dir_ / "foreign";
        std::filesystem::create_directory(foreign_folder);
        ASSERT_EQ(::chown(foreign_file.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(foreign_folder.c_str(), 65534, 65534), 0);
    }
    const std::string foreign_before = testing::ReadFile(foreign_file);
    const std::filesystem::path fifo = dir_ / "fifo", missing = foreign_folder / "missing.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::filesystem::path, std::string> links[] = {
        {fifo, "is not a regular file"},
        {"/dev/null", "is not a regular file"},
        {dir_.path(), "is not a regular file"},
        {foreign_file, "belongs to another user"},
        {missing, "is missing, in a folder of another user"},
    };
    for (const auto& [target, why] : links) {
        std::filesystem::create_symlink(target, path_);
        EXPECT_EQ(SaveOutputFileSetting(files_, path_, "x.dat").message(),
                  "cannot replace " + path_.string() + ": it is a symbolic link to " +
                      target.string() + ", which " + why);
        std::filesystem::remove(path_);
    }
    EXPECT_EQ(testing::ReadFile(foreign_file), foreign_before);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

// A save cut short by a crash leaves "<name>.<pid>-<n>.new"; the next load
// removes the user's own of processes that are gone, and of this one's own
// id (its saves tidy up before they return), and nothing else.
TEST_F(SettingsFileTest, LoadRemovesOnlyTheUsersOwnLeftoversOfGoneProcesses) {
    const pid_t gone = std::numeric_limits<pid_t>::max();  // above any kernel's pid_max
    const auto leftover = [&](pid_t pid, std::string_view end,
                              std::string_view name = kSettingsFileName) {
        return dir_.Write(fmt::format("config/nested/{}.{}-{}", name, pid, end), "");
    };
    Load(nullptr);
    const std::string removed[] = {leftover(gone, "1.new"), leftover(::getpid(), "7.new")};
    std::vector<std::string> kept = {leftover(::getppid(), "1.new"),
                                     leftover(gone, "1.new", "other.ini")};
    if (::geteuid() == 0) {
        kept.push_back(leftover(gone, "2.new"));
        ASSERT_EQ(::chown(kept.back().c_str(), 65534, 65534), 0);
    }
    EXPECT_TRUE(LoadOutputFileSetting(files_, path_, file_name_).ok());
    for (const std::string& path : removed) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    for (const std::string& path : kept) EXPECT_TRUE(std::filesystem::exists(path)) << path;
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
