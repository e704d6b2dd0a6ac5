#pragma once
// The settings file: the one setting the recorder keeps, the output path.
//
// Format, as written (bytes of the path kept as they are, lines ended by CR LF):
//   [OutputFile]
//   <output file path>
// Readers take any line whose first 12 characters are "[OutputFile]" as the
// section line and the line after it as the path; the last such pair wins.
// Lines may end in CR LF or LF.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/status.h"

namespace kestrun {

inline constexpr std::string_view kSettingsFileName = "KestrunFlightRecorder.ini";
inline constexpr std::string_view kOutputFileSection = "[OutputFile]";
inline constexpr std::string_view kDefaultOutputFile = "checkride.dat";

// $XDG_CONFIG_HOME/KestrunFlightRecorder.ini, with ~/.config when
// XDG_CONFIG_HOME is unset, empty or not absolute.
std::filesystem::path DefaultSettingsPath();
// The same rule over given values (either may be null), for tests.
std::filesystem::path SettingsPathFor(const char* xdg_config_home, const char* home);

// The file's bytes for `output_file`: section line, path, each ended by CR LF.
std::string FormatSettings(std::string_view output_file);

// The path after the last section line that has a line after it: an empty
// path line gives "checkride.dat"; otherwise the line with leading and
// trailing spaces removed (tabs kept), which may leave it empty. nullopt when
// no section line has a line after it.
std::optional<std::string> ParseOutputFile(std::string_view contents);

// Loads the output path into `file_name`, first removing the temporaries of
// saves that a crash cut short. A missing file or one shorter than
// 5 bytes is (re)written with the default path, creating its folder, and
// `file_name` becomes "checkride.dat". A file without a usable section line
// leaves `file_name` unchanged. When the file cannot be read or written,
// `file_name` is "checkride.dat" and the returned Status says why.
Status LoadOutputFileSetting(FileSystem& files, const std::filesystem::path& settings_path,
                             std::string& file_name);

// Rewrites the settings file with `file_name`, creating its folder if needed.
Status SaveOutputFileSetting(FileSystem& files, const std::filesystem::path& settings_path,
                             std::string_view file_name);

}  // namespace kestrun
