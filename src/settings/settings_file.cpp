#include "settings/settings_file.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrun {
namespace {

// Files shorter than this cannot hold a section line and a path; they are
// treated as missing and rewritten.
constexpr std::size_t kShortestReadableSettings = 5;

std::filesystem::path HomeDirectory(const char* home) {
    if (home != nullptr && *home != '\0') return home;
    // Without HOME (some service managers), fall back to the password entry.
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
        return entry->pw_dir;
    }
    return ".";
}

// Removes leading and trailing space characters only; tabs are part of a path.
std::string_view TrimSpaces(std::string_view line) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = line.find_last_not_of(' ');
    return line.substr(first, last - first + 1);
}

Status WriteSettings(FileSystem& files, const std::filesystem::path& settings_path,
                     std::string_view file_name) {
    if (settings_path.has_parent_path()) {
        if (Status made = files.CreateDirectories(settings_path.parent_path()); !made.ok()) {
            return made;
        }
    }
    return files.WriteTextFile(settings_path, FormatSettings(file_name));
}

}  // namespace

std::filesystem::path SettingsPathFor(const char* xdg_config_home, const char* home) {
    std::filesystem::path folder;
    if (xdg_config_home != nullptr && std::filesystem::path(xdg_config_home).is_absolute()) {
        folder = xdg_config_home;
    } else {
        folder = HomeDirectory(home) / ".config";
    }
    return folder / kSettingsFileName;
}

std::filesystem::path DefaultSettingsPath() {
    return SettingsPathFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

std::string FormatSettings(std::string_view output_file) {
    std::string text;
    text.append(kOutputFileSection).append("\r\n");
    text.append(output_file).append("\r\n");
    return text;
}

std::optional<std::string> ParseOutputFile(std::string_view contents) {
    std::optional<std::string> found;
    bool path_line_next = false;
    while (!contents.empty()) {
        // A line ends at LF; a final line without one still counts.
        const auto end = contents.find('\n');
        std::string_view line = contents.substr(0, end);
        contents = end == std::string_view::npos ? std::string_view{} : contents.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (path_line_next) {
            found = line.empty() ? std::string(kDefaultOutputFile) : std::string(TrimSpaces(line));
            path_line_next = false;
            // The path line itself may look like a section line; it is not one.
            continue;
        }
        path_line_next = line.substr(0, kOutputFileSection.size()) == kOutputFileSection;
    }
    return found;
}

Status LoadOutputFileSetting(FileSystem& files, const std::filesystem::path& settings_path,
                             std::string& file_name) {
    // What a replace cut short by a crash left beside the file; a failure to
    // tidy up is told only when the load itself went well.
    const Status tidied = files.RemoveReplaceLeftovers(settings_path);
    std::string contents;
    bool found = false;
    if (Status read = files.ReadTextFile(settings_path, contents, found); !read.ok()) {
        file_name = kDefaultOutputFile;
        return read;
    }
    if (!found || contents.size() < kShortestReadableSettings) {
        file_name = kDefaultOutputFile;
        Status written = WriteSettings(files, settings_path, file_name);
        return written.ok() ? tidied : written;
    }
    if (std::optional<std::string> path = ParseOutputFile(contents)) file_name = std::move(*path);
    return tidied;
}

Status SaveOutputFileSetting(FileSystem& files, const std::filesystem::path& settings_path,
                             std::string_view file_name) {
    return WriteSettings(files, settings_path, file_name);
}

}  // namespace kestrun
