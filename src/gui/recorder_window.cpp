#include "gui/recorder_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <utility>

#include "gui/captioned_frame.h"
#include "gui/save_dialog.h"
#include "gui/window_layout.h"

namespace kestrun::qt {
namespace {

constexpr qreal kSmallestPointSize = 6.0;

QFont DesignFont(int point_size, bool bold) {
    QStringList families;
    for (const char* family : kFontFamilies) families.append(QString::fromLatin1(family));
    QFont font;
    font.setFamilies(families);
    font.setPointSize(point_size);
    font.setBold(bold);
    return font;
}

// Creates a control at its place, named after its role so that tests and
// accessibility tools find it.
template <typename Widget>
Widget* Place(QWidget* parent, const ControlLook& look, const char* object_name) {
    auto* widget = new Widget(parent);
    widget->setGeometry(ToPixels(look.place));
    widget->setObjectName(QString::fromLatin1(object_name));
    return widget;
}

template <typename Widget>
Widget* PlaceWithCaption(QWidget* parent, const ControlLook& look, const char* object_name) {
    auto* widget = Place<Widget>(parent, look, object_name);
    widget->setText(QString::fromLatin1(look.caption));
    return widget;
}

CaptionedFrame* PlaceFrame(QWidget* parent, const ControlLook& look, const char* object_name) {
    auto* frame = Place<CaptionedFrame>(parent, look, object_name);
    frame->setTitle(QString::fromLatin1(look.caption));
    return frame;
}

// Where the installed faces are wider than the designed one, the title would
// wrap onto a third line and lose words; shrink it until every word shows.
void ShrinkToFitWrapped(QLabel& label) {
    const QRect box = label.contentsRect();
    QFont font = label.font();
    const auto fits = [&](const QFont& candidate) {
        const QRect needed = QFontMetrics(candidate).boundingRect(
            box, static_cast<int>(label.alignment().toInt()) | Qt::TextWordWrap, label.text());
        return needed.width() <= box.width() && needed.height() <= box.height();
    };
    while (!fits(font) && font.pointSizeF() > kSmallestPointSize) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    label.setFont(font);
}

// The check box's designed rectangle runs under "Set Output File"; keep its
// caption clear of the button.
void ShrinkToFitWidth(QCheckBox& box, int available_width) {
    const auto caption_end = [&box] {
        QStyleOptionButton option;
        option.initFrom(&box);
        option.text = box.text();
        const QRect contents =
            box.style()->subElementRect(QStyle::SE_CheckBoxContents, &option, &box);
        return contents.x() + box.fontMetrics().horizontalAdvance(box.text());
    };
    QFont font = box.font();
    while (caption_end() > available_width && font.pointSizeF() > kSmallestPointSize) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        box.setFont(font);
    }
}

}  // namespace

RecorderWindow::RecorderWindow()
    : run_save_dialog_(RunSaveDialog),
      rec_timer_([this] { Deliver(&WindowEvents::RecTimer_Timer); }) {
    setWindowTitle(
        QString::fromLatin1(kWindowCaption.data(), static_cast<qsizetype>(kWindowCaption.size())));
    setWindowIcon(QIcon(QStringLiteral(":/kestrun/kestrun-recorder.png")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientSizePixels());
    setFont(DesignFont(kControlPointSize, false));

    // Creation order is stacking order: the buttons come after Frame3 so that
    // they are drawn over it.
    auto* picture1 = Place<QLabel>(this, kPicture1, "Picture1");
    picture1->setAlignment(Qt::AlignCenter);
    picture1->setPixmap(QPixmap(QStringLiteral(":/kestrun/logo.png")));

    auto* label1 = PlaceWithCaption<QLabel>(this, kLabel1, "Label1");
    label1->setFont(DesignFont(kTitlePointSize, true));
    label1->setWordWrap(true);
    label1->setAlignment(Qt::AlignCenter);

    auto* frame3 = PlaceFrame(this, kFrame3, "Frame3");
    connect_ = PlaceWithCaption<QPushButton>(this, kConnect, "Connect");
    disconnect_ = PlaceWithCaption<QPushButton>(this, kDisconnect, "Disconnect");
    cmd_record_ = PlaceWithCaption<QPushButton>(this, kCmdRecord, "cmdRecord");
    cmd_stop_ = PlaceWithCaption<QPushButton>(this, kCmdStop, "cmdStop");
    chk_overwrite_ = PlaceWithCaption<QCheckBox>(frame3, kChkOverwrite, "chkOverwrite");
    cmd_set_path_ = PlaceWithCaption<QPushButton>(frame3, kCmdSetPath, "cmdSetPath");

    auto* frame1 = PlaceFrame(this, kFrame1, "Frame1");
    lbl_status_ = PlaceWithCaption<QLabel>(frame1, kLblStatus, "lblStatus");
    // Status texts carry result messages; never let one be read as markup.
    lbl_status_->setTextFormat(Qt::PlainText);

    ShrinkToFitWrapped(*label1);
    ShrinkToFitWidth(*chk_overwrite_, cmd_set_path_->x() - chk_overwrite_->x());

    cmd_record_->setEnabled(false);
    cmd_stop_->setEnabled(false);
    chk_overwrite_->setChecked(true);

    setTabOrder(connect_, cmd_record_);
    setTabOrder(cmd_record_, cmd_stop_);
    setTabOrder(cmd_stop_, disconnect_);
    setTabOrder(disconnect_, chk_overwrite_);
    setTabOrder(chk_overwrite_, cmd_set_path_);
    connect_->setFocus();

    const auto forward = [this](QPushButton* button, void (WindowEvents::*handler)()) {
        QObject::connect(button, &QPushButton::clicked, this,
                         [this, handler] { Deliver(handler); });
    };
    forward(connect_, &WindowEvents::Connect_Click);
    forward(disconnect_, &WindowEvents::Disconnect_Click);
    forward(cmd_record_, &WindowEvents::cmdRecord_Click);
    forward(cmd_stop_, &WindowEvents::cmdStop_Click);
    forward(cmd_set_path_, &WindowEvents::cmdSetPath_Click);
}

RecorderWindow::~RecorderWindow() = default;

void RecorderWindow::Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Deliver(&WindowEvents::Form_Unload);
}

void RecorderWindow::closeEvent(QCloseEvent* event) {
    // The unload stops any run and closes the link; it is never cancelled.
    Unload();
    event->accept();
}

void RecorderWindow::Deliver(void (WindowEvents::*handler)()) {
    if (events_ != nullptr) (events_->*handler)();
}

void RecorderWindow::SetStatusText(std::string_view text) {
    lbl_status_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

namespace {

// Paths may hold '<': escaped, and marked as rich text so that the escapes
// are not shown as they stand (rich text also wraps a long line); each line
// of `text` stays a line of its own.
QString TipText(std::string_view text) {
    const QString plain = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (plain.isEmpty()) return {};
    return QStringLiteral("<qt>%1</qt>")
        .arg(plain.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")));
}

}  // namespace

void RecorderWindow::SetStatusNote(std::string_view text) {
    lbl_status_->setToolTip(TipText(text));
}

void RecorderWindow::SetOutputFileTip(std::string_view text) {
    cmd_set_path_->setToolTip(TipText(text));
}

void RecorderWindow::RepaintNow() {
    // A synchronous paint of the whole window: the handler that asked for it
    // may block in an exchange before the event loop runs again.
    repaint();
}

QWidget* RecorderWindow::ControlWidget(Control control) const {
    switch (control) {
        case Control::kConnect:
            return connect_;
        case Control::kDisconnect:
            return disconnect_;
        case Control::kRecord:
            return cmd_record_;
        case Control::kStop:
            return cmd_stop_;
        case Control::kSetPath:
            return cmd_set_path_;
        case Control::kOverwrite:
            return chk_overwrite_;
    }
    return nullptr;
}

void RecorderWindow::SetEnabled(Control control, bool enabled) {
    if (QWidget* widget = ControlWidget(control)) widget->setEnabled(enabled);
}

int RecorderWindow::OverwriteValue() {
    return chk_overwrite_->checkState() == Qt::Unchecked ? 0 : 1;
}

void RecorderWindow::SetTimerInterval(int milliseconds) {
    rec_timer_.SetInterval(milliseconds);
}

void RecorderWindow::SetTimerEnabled(bool enabled) {
    rec_timer_.SetEnabled(enabled);
}

std::string RecorderWindow::ShowSaveDialog(const std::string& file_name, std::string_view filter) {
    // A cancelled dialog still holds the name it was given.
    return run_save_dialog_(this, file_name, filter).value_or(file_name);
}

}  // namespace kestrun::qt
