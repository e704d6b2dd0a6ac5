// The window as a user meets it, without a host: where each control is, what
// it says, whether it is enabled, where the Tab key goes; and the timer, the
// repaint and the signal close that the handlers rely on.

#include "gui/recorder_window.h"

#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QThread>
#include <csignal>
#include <thread>

#include "gui/close_on_signals.h"
#include "gui/rec_timer.h"
#include "gui/save_dialog.h"

using kestrun::Control;
using kestrun::qt::RecorderWindow;

namespace {

// Counts unloads; a click on cmdRecord runs `on_record_click`.
class CountedEvents final : public kestrun::qt::WindowEvents {
  public:
    int unloads = 0;
    std::function<void()> on_record_click;

    void Form_Unload() override { ++unloads; }
    void Connect_Click() override {}
    void Disconnect_Click() override {}
    void cmdRecord_Click() override { on_record_click(); }
    void cmdStop_Click() override {}
    void cmdSetPath_Click() override {}
    void RecTimer_Timer() override {}
};

QWidget* Find(const RecorderWindow& window, const char* name) {
    auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control named %s", name);
    return widget;
}

}  // namespace

class RecorderWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void ControlsSitWhereDrawnWithTheirCaptionsAndStates() {
        RecorderWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Kestrun Digital Flight Recorder (v1.0)"));
        QCOMPARE(window.minimumSize(), QSize(435, 231));
        QCOMPARE(window.maximumSize(), QSize(435, 231));
        QCOMPARE(window.windowIcon().availableSizes().value(0), QSize(48, 48));

        struct Expected {
            const char* name;
            QRect on_window;  // Pixels, group box children moved by their box.
            const char* text;
            bool enabled;
        };
        const Expected expected[] = {
            {"Picture1", {8, 8, 193, 81}, "", true},
            {"Label1", {216, 8, 209, 81}, "Digital Flight Recorder", true},
            {"Frame3", {8, 96, 417, 81}, "Recorder Controls", true},
            {"Connect", {24, 112, 89, 25}, "Connect to FS", true},
            {"Disconnect", {120, 112, 89, 25}, "Disconnect", true},
            {"cmdRecord", {224, 112, 89, 25}, "Start Recording", false},
            {"cmdStop", {320, 112, 89, 25}, "Stop Recording", false},
            {"chkOverwrite",
             {24, 148, 313, 17},
             "Overwrite Previous Output File When Recording Started",
             true},
            {"cmdSetPath", {320, 144, 89, 25}, "Set Output File", true},
            {"Frame1", {8, 184, 417, 41}, "Status", true},
            {"lblStatus", {16, 200, 393, 17}, "Not Connected to Flight Simulator", true},
        };
        for (const Expected& control : expected) {
            const QWidget* widget = Find(window, control.name);
            QCOMPARE(QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()),
                     control.on_window);
            QString text;
            if (auto* button = qobject_cast<const QAbstractButton*>(widget)) text = button->text();
            if (auto* label = qobject_cast<const QLabel*>(widget)) text = label->text();
            if (auto* box = qobject_cast<const QGroupBox*>(widget)) text = box->title();
            QCOMPARE(text, QString::fromLatin1(control.text));
            QCOMPARE(widget->isEnabled(), control.enabled);
        }
        QCOMPARE(static_cast<QLabel*>(Find(window, "Picture1"))->pixmap().size(), QSize(191, 80));
        QCOMPARE(window.OverwriteValue(), 1);
        static_cast<QCheckBox*>(Find(window, "chkOverwrite"))->click();
        QCOMPARE(window.OverwriteValue(), 0);

        // Every word of the bold title shows inside its box, and the check
        // box's caption stays clear of the button drawn over its rectangle,
        // whatever faces this machine has.
        auto* title = static_cast<QLabel*>(Find(window, "Label1"));
        QVERIFY(title->font().bold());
        QVERIFY(title->contentsRect().contains(title->fontMetrics().boundingRect(
            title->contentsRect(), Qt::AlignCenter | Qt::TextWordWrap, title->text())));
        auto* overwrite = static_cast<QCheckBox*>(Find(window, "chkOverwrite"));
        QVERIFY(overwrite->x() + overwrite->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                    overwrite->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                    overwrite->fontMetrics().horizontalAdvance(overwrite->text()) <=
                Find(window, "cmdSetPath")->x());
    }

    // Tooltips keep their lines and show a path's '<' as it stands; a name
    // typed without an extension in the save dialog becomes a .dat file.
    void TooltipsKeepTheirLinesAndTheDialogAddsDat() {
        RecorderWindow window;
        window.SetStatusNote("File error: cannot open /a<b.dat\nOutput file: /a<b.dat");
        QCOMPARE(Find(window, "lblStatus")->toolTip(),
                 QStringLiteral("<qt>File error: cannot open /a&lt;b.dat<br>Output file: "
                                "/a&lt;b.dat</qt>"));
        window.SetOutputFileTip("Records go to /flights/x.dat");
        QCOMPARE(Find(window, "cmdSetPath")->toolTip(),
                 QStringLiteral("<qt>Records go to /flights/x.dat</qt>"));
        QFileDialog dialog;
        kestrun::qt::PrepareSaveDialog(dialog, "window-flight", "*.DAT");
        QCOMPARE(dialog.defaultSuffix(), QStringLiteral("dat"));
    }

    void TabVisitsTheControlsInTheirOrder() {
        RecorderWindow window;
        for (Control control : {Control::kRecord, Control::kStop}) window.SetEnabled(control, true);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.focusWidget(), Find(window, "Connect"));
        QStringList visited;
        for (int step = 0; step < 6; ++step) {
            QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
            visited.append(window.focusWidget()->objectName());
        }
        QCOMPARE(visited, QStringList({"cmdRecord", "cmdStop", "Disconnect", "chkOverwrite",
                                       "cmdSetPath", "Connect"}));
    }

    void RepaintNowPaintsBeforeTheHandlerGoesOn() {
        RecorderWindow window;
        CountedEvents events;
        window.SetEvents(&events);
        window.SetEnabled(Control::kRecord, true);
        auto* status = static_cast<QLabel*>(Find(window, "lblStatus"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Nothing returns to the event loop inside the click, as in a
        // blocking exchange; the paint must happen all the same.
        struct PaintWatcher : QObject {
            QString painted;  // The label's text at its last paint.
            bool eventFilter(QObject* label, QEvent* event) override {
                if (event->type() == QEvent::Paint) painted = static_cast<QLabel*>(label)->text();
                return false;
            }
        } watcher;
        status->installEventFilter(&watcher);
        QString painted_during_click;
        events.on_record_click = [&] {
            window.SetStatusText("Recording Data ...");
            window.RepaintNow();
            painted_during_click = watcher.painted;
        };
        QTest::mouseClick(static_cast<QPushButton*>(Find(window, "cmdRecord")), Qt::LeftButton);
        QCOMPARE(painted_during_click, QStringLiteral("Recording Data ..."));
    }

    void TickThatBlocksDelaysTheNextInsteadOfPilingUp() {
        constexpr int kIntervalMs = 50;
        constexpr int kBlockMs = 400;
        int ticks = 0;
        kestrun::qt::RecTimer timer([&] {
            if (++ticks == 1) QThread::msleep(kBlockMs);
        });
        QElapsedTimer clock;
        clock.start();
        timer.SetInterval(kIntervalMs);
        timer.SetEnabled(true);
        QTest::qWait(kBlockMs + 4 * kIntervalMs);
        timer.SetEnabled(false);
        // Piled-up ticks would number about elapsed / interval; without them
        // there is one before the block, one late one after it, and the rest
        // at the usual pace.
        const auto unblocked_intervals = (clock.elapsed() - kBlockMs) / kIntervalMs;
        QVERIFY2(ticks >= 2 && ticks <= unblocked_intervals + 2,
                 qPrintable(QString::number(ticks)));
    }

    void TerminationSignalClosesTheWindowThroughTheUnload() {
        RecorderWindow window;
        CountedEvents events;
        window.SetEvents(&events);
        const kestrun::qt::CloseOnSignals close_on_signals;
        window.show();
        // From another thread, as a signal sent to the process may arrive.
        std::thread([] { ::kill(::getpid(), SIGTERM); }).join();
        QTRY_VERIFY(!window.isVisible());
        window.Unload();  // Already delivered by the close: not again.
        QCOMPARE(events.unloads, 1);
    }
};

QTEST_MAIN(RecorderWindowTest)
#include "recorder_window_test.moc"
