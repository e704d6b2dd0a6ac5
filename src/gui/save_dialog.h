#pragma once
// The platform's file-save dialog, as the window's Dialog uses it: a preset
// file name and a single filter pattern.

#include <optional>
#include <string>
#include <string_view>

class QFileDialog;
class QWidget;

namespace kestrun::qt {

// Sets `dialog` up as RunSaveDialog shows it. A name typed without an
// extension gets ".dat", the record files' own, so that the logbook's
// folder scan, which looks for *.dat, finds the recording.
void PrepareSaveDialog(QFileDialog& dialog, const std::string& file_name, std::string_view filter);

// Shows a modal save dialog over `parent` with `file_name` preset and
// `filter` (for example "*.DAT", matched without regard to case) as its only
// filter. Returns the chosen path in the local file-name encoding, or nullopt
// when the user cancels. Choosing an existing file asks no question: the
// recorder may append to it rather than replace it.
std::optional<std::string> RunSaveDialog(QWidget* parent, const std::string& file_name,
                                         std::string_view filter);

}  // namespace kestrun::qt
