#include "window/form1.h"

#include "recording/host_sample.h"
#include "settings/settings_file.h"
#include "window/status_texts.h"

namespace kestrun {

Form1::Form1(WindowOps& window, LinkPlatform& link_platform, FileSystem& files, Clock& clock,
             std::filesystem::path settings_path)
    : window_(window),
      link_platform_(link_platform),
      link_(link_platform),
      files_(files),
      settings_path_(std::move(settings_path)),
      run_(files, clock) {}

void Form1::Form_Load() {
    general_.FillResultMessages();
    link_.ResetLink();
    Active = false;
    status_ = kNotConnectedText;
    if (Status loaded = LoadOutputFileSetting(files_, settings_path_, FileName); !loaded.ok()) {
        ShowStatus(std::string(kSettingsErrorPrefix) + loaded.message() + " (using " + FileName +
                   ")");
    }
    RefreshTips();
}

void Form1::ShowStatus(std::string_view text) {
    window_.SetStatusText(text);
    status_ = text;
    RefreshTips();
}

void Form1::RefreshTips() {
    StatusTip tip;
    tip.status = status_;
    tip.output_file = files_.AbsolutePath(FileName).string();
    tip.recording = Recording;
    tip.records = run_.records_written();
    if (!run_.kept_as().empty()) tip.kept_as = files_.AbsolutePath(run_.kept_as()).string();
    tip.unlocked = run_.is_open() && !run_.locked();
    if (status_ == std::string(kConnectErrorPrefix) + general_.ResultMessage(kResultNoHost)) {
        tip.hosts_sought = link_platform_.WhereHostsListen();
    }
    window_.SetStatusNote(StatusTipText(tip));
    window_.SetOutputFileTip(OutputFileTipText(tip.output_file));
}

void Form1::Form_Unload() {
    cmdStop_Click();
    Disconnect_Click();
}

void Form1::Connect_Click() {
    // Every connect starts from a closed link, so "already open" never shows.
    link_.CloseLink();
    LinkResult result = kResultOkay;
    if (link_.OpenLink(0, result)) {
        ShowStatus(ConnectedStatusText(link_.HostVersion));
        Active = true;
        window_.SetEnabled(Control::kRecord, true);
        window_.SetEnabled(Control::kConnect, false);
    } else {
        ShowStatus(std::string(kConnectErrorPrefix) + general_.ResultMessage(result));
        Active = false;
    }
}

void Form1::Disconnect_Click() {
    cmdStop_Click();
    link_.CloseLink();
    ShowStatus(kNotConnectedText);
    Active = false;
    window_.SetEnabled(Control::kRecord, false);
    window_.SetEnabled(Control::kConnect, true);
}

void Form1::ShowRecordingControls(bool recording) {
    window_.SetEnabled(Control::kStop, recording);
    window_.SetEnabled(Control::kRecord, !recording);
    window_.SetEnabled(Control::kOverwrite, !recording);
    window_.SetEnabled(Control::kSetPath, !recording);
}

void Form1::cmdRecord_Click() {
    if (Recording) return;
    // The file is opened before anything changes, so a file that cannot be
    // opened leaves the window exactly as it was, apart from the reason.
    const bool overwrite = window_.OverwriteValue() != 0;
    if (Status opened = run_.Start(FileName, overwrite); !opened.ok()) {
        ShowStatus(std::string(kFileErrorPrefix) + opened.message());
        return;
    }
    Position = static_cast<double>(run_.next_offset()) + 1;
    lost_seconds_ = 0;
    ShowRecordingControls(true);
    Recording = true;
    ShowStatus(kRecordingDataText);
    window_.RepaintNow();
    window_.SetTimerInterval(kRecordTimerIntervalMs);
    window_.SetTimerEnabled(true);
}

void Form1::EndRun(std::string_view text) {
    Recording = false;
    window_.SetTimerEnabled(false);
    window_.SetTimerInterval(0);
    ShowRecordingControls(false);
    ShowStatus(text);
}

void Form1::cmdStop_Click() {
    if (!Recording) return;
    const Status saved = run_.Stop();
    EndRun(saved.ok() ? std::string(kRecordingStoppedText)
                      : std::string(kFileErrorPrefix) + saved.message());
}

void Form1::RecTimer_Timer() {
    if (!Recording) return;
    FlightRecord record = BlankFlightRecord();
    SampleFlightData(record);
    const Status written = run_.WriteRecord(record);
    Position = static_cast<double>(run_.next_offset()) + 1;
    if (!written.ok()) {
        EndRun(std::string(kFileErrorPrefix) + written.message());
        return;
    }
    RefreshTips();
}

void Form1::SampleFlightData(FlightRecord& record) {
    if (!Active) return;
    const std::optional<SampleFailure> failure = SampleHost(link_, record);
    if (!failure) return;
    ++lost_seconds_;
    const std::string_view prefix = failure->stage == SampleFailure::Stage::kQueueRead
                                        ? kReadErrorPrefix
                                        : kProcessingErrorPrefix;
    ShowStatus(std::string(prefix) + general_.ResultMessage(failure->result));
    window_.RepaintNow();
}

void Form1::cmdSetPath_Click() {
    if (Recording) return;
    // A cancelled dialog hands back the name it was given, so cancelling
    // changes nothing but the rewrite of the settings file.
    FileName = window_.ShowSaveDialog(FileName, kOutputFileFilter);
    if (Status saved = SaveOutputFileSetting(files_, settings_path_, FileName); !saved.ok()) {
        ShowStatus(std::string(kSettingsErrorPrefix) + saved.message());
    }
    RefreshTips();
}

}  // namespace kestrun
