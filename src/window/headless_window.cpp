#include "window/headless_window.h"

#include "window/status_texts.h"

namespace kestrun {

HeadlessWindow::HeadlessWindow(bool keep_status_history)
    : status_text_(kNotConnectedText), keep_status_history_(keep_status_history) {
    static_assert(static_cast<std::size_t>(Control::kOverwrite) + 1 == 6);
    enabled_[Index(Control::kConnect)] = true;
    enabled_[Index(Control::kDisconnect)] = true;
    enabled_[Index(Control::kRecord)] = false;
    enabled_[Index(Control::kStop)] = false;
    enabled_[Index(Control::kSetPath)] = true;
    enabled_[Index(Control::kOverwrite)] = true;
}

void HeadlessWindow::SetStatusText(std::string_view text) {
    status_text_ = text;
    if (keep_status_history_) status_history_.push_back(status_text_);
    if (status_listener_) status_listener_(status_text_);
}

void HeadlessWindow::SetEnabled(Control control, bool enabled) {
    enabled_[Index(control)] = enabled;
}

std::string HeadlessWindow::ShowSaveDialog(const std::string& file_name, std::string_view filter) {
    dialogs_shown_.push_back({file_name, std::string(filter)});
    if (dialog_answers_.empty()) return file_name;
    std::string answer = std::move(dialog_answers_.front());
    dialog_answers_.pop_front();
    return answer;
}

}  // namespace kestrun
