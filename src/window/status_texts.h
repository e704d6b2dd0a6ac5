#pragma once
// Every text the status line shows, and the window's fixed captions. The Qt
// window and the headless window both start from these.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun {

inline constexpr std::string_view kWindowCaption = "Kestrun Digital Flight Recorder (v1.0)";
inline constexpr std::string_view kTitleCaption = "Digital Flight Recorder";
inline constexpr std::string_view kControlsFrameCaption = "Recorder Controls";
inline constexpr std::string_view kConnectCaption = "Connect to FS";
inline constexpr std::string_view kDisconnectCaption = "Disconnect";
inline constexpr std::string_view kRecordCaption = "Start Recording";
inline constexpr std::string_view kStopCaption = "Stop Recording";
inline constexpr std::string_view kStatusFrameCaption = "Status";
inline constexpr std::string_view kOverwriteCaption =
    "Overwrite Previous Output File When Recording Started";
inline constexpr std::string_view kSetPathCaption = "Set Output File";

inline constexpr std::string_view kNotConnectedText = "Not Connected to Flight Simulator";
inline constexpr std::string_view kConnectErrorPrefix = "Error: ";
inline constexpr std::string_view kRecordingDataText = "Recording Data ...";
inline constexpr std::string_view kRecordingStoppedText = "Recording stopped. File Saved.";
inline constexpr std::string_view kReadErrorPrefix = "Read error: ";
inline constexpr std::string_view kProcessingErrorPrefix = "Processing error: ";
// Output and settings files: the reason and the path follow.
inline constexpr std::string_view kFileErrorPrefix = "File error: ";
inline constexpr std::string_view kSettingsErrorPrefix = "Settings file error: ";

// The status line's note while recording to a file that could not be
// locked, because its file system has no such locks.
std::string UnlockedFileNote(std::string_view path);

// How a pilot starts a host, for the hints after a connect that found none.
inline constexpr std::string_view kHowToStartAHost =
    "kestrun-host (a simulated aircraft) or kestrun-host --flightgear (following FlightGear)";

// The status line's tooltip beneath its whole text: lines saying where the
// window records, and for how long it has. `recording` adds the time and the
// records of the run so far; `kept_as` (when not empty) where the file's
// previous flight went; `hosts_sought` (when not empty) where a connect
// looked for a host in vain, with how to start one.
struct StatusTip {
    std::string status;
    std::string output_file;  // absolute
    bool recording = false;
    std::uint64_t records = 0;  // one a second
    std::string kept_as;
    bool unlocked = false;
    std::string hosts_sought;
};
std::string StatusTipText(const StatusTip& tip);

// Set Output File's tooltip: the output file's absolute path.
std::string OutputFileTipText(std::string_view absolute_path);

// "Connected to Flight Simulator (host ver" + d.ddd + ")": the top four
// nibbles of the host version word, each shown as the character that many
// places after "0" (so 10 shows as ':').
std::string ConnectedStatusText(std::int32_t host_version);

}  // namespace kestrun
