// The window as a user meets it, without a host: where each control is, what
// it says, whether it is enabled, where the Tab key goes, and that clicks,
// ticks, paints and the dialog reach the handlers the right way.

#include "platform/qt/recorder_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QThread>
#include <csignal>
#include <string>
#include <vector>

#include "platform/qt/close_on_signals.h"
#include "platform/qt/rec_timer.h"

using kestrun::Control;
using kestrun::qt::RecorderWindow;
using kestrun::qt::WindowEvents;

namespace {

// Records which handler each event reached; a click on cmdRecord may also
// run `on_record_click`.
class RecordedEvents final : public WindowEvents {
  public:
    std::vector<std::string> calls;
    std::function<void()> on_record_click;

    void Form_Unload() override { calls.push_back("Form_Unload"); }
    void Connect_Click() override { calls.push_back("Connect_Click"); }
    void Disconnect_Click() override { calls.push_back("Disconnect_Click"); }
    void cmdRecord_Click() override {
        calls.push_back("cmdRecord_Click");
        if (on_record_click) on_record_click();
    }
    void cmdStop_Click() override { calls.push_back("cmdStop_Click"); }
    void cmdSetPath_Click() override { calls.push_back("cmdSetPath_Click"); }
    void RecTimer_Timer() override { calls.push_back("RecTimer_Timer"); }
};

// Notes the label's text each time it is painted.
class PaintWatcher final : public QObject {
  public:
    QStringList painted;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted.append(static_cast<QLabel*>(watched)->text());
        return false;
    }
};

}  // namespace

class RecorderWindowTest : public QObject {
    Q_OBJECT

  private:
    template <typename Widget>
    Widget* Find(RecorderWindow& window, const char* name) {
        auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr) qFatal("no control named %s", name);
        return widget;
    }

    static QRect OnWindow(const QWidget* widget) {
        return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
    }

  private slots:
    void ControlsSitWhereDrawnWithTheirCaptions() {
        RecorderWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Kestrun Digital Flight Recorder (v1.0)"));
        QCOMPARE(window.minimumSize(), QSize(435, 231));
        QCOMPARE(window.maximumSize(), QSize(435, 231));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.windowIcon().availableSizes().value(0), QSize(48, 48));

        struct Expected {
            const char* name;
            QRect on_window;
            QString text;
        };
        // Pixels on the window, with the group boxes' children moved by
        // their box's own offset.
        const std::vector<Expected> expected = {
            {"Picture1", {8, 8, 193, 81}, {}},
            {"Label1", {216, 8, 209, 81}, "Digital Flight Recorder"},
            {"Frame3", {8, 96, 417, 81}, "Recorder Controls"},
            {"Connect", {24, 112, 89, 25}, "Connect to FS"},
            {"Disconnect", {120, 112, 89, 25}, "Disconnect"},
            {"cmdRecord", {224, 112, 89, 25}, "Start Recording"},
            {"cmdStop", {320, 112, 89, 25}, "Stop Recording"},
            {"chkOverwrite",
             {24, 148, 313, 17},
             "Overwrite Previous Output File When Recording Started"},
            {"cmdSetPath", {320, 144, 89, 25}, "Set Output File"},
            {"Frame1", {8, 184, 417, 41}, "Status"},
            {"lblStatus", {16, 200, 393, 17}, "Not Connected to Flight Simulator"},
        };
        for (const Expected& control : expected) {
            QWidget* widget = Find<QWidget>(window, control.name);
            QCOMPARE(OnWindow(widget), control.on_window);
            QString text;
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
            if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
            if (auto* box = qobject_cast<QGroupBox*>(widget)) text = box->title();
            QCOMPARE(text, control.text);
        }

        const QPixmap logo = Find<QLabel>(window, "Picture1")->pixmap();
        QCOMPARE(logo.size(), QSize(191, 80));

        // The title is bold and large, and every word of it shows inside
        // its box, whatever faces this machine has.
        auto* title = Find<QLabel>(window, "Label1");
        QVERIFY(title->font().bold());
        QVERIFY(title->font().pointSizeF() >= 16.0);
        const QRect needed = QFontMetrics(title->font())
                                 .boundingRect(title->contentsRect(),
                                               Qt::AlignCenter | Qt::TextWordWrap, title->text());
        QVERIFY(title->contentsRect().contains(needed));

        // The check box's caption stays clear of the button drawn over its
        // rectangle, and the button captions fit their buttons.
        auto* overwrite = Find<QCheckBox>(window, "chkOverwrite");
        const int indicator = overwrite->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                              overwrite->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        QVERIFY(overwrite->x() + indicator +
                    overwrite->fontMetrics().horizontalAdvance(overwrite->text()) <=
                Find<QPushButton>(window, "cmdSetPath")->x());
        for (const char* name : {"Connect", "Disconnect", "cmdRecord", "cmdStop", "cmdSetPath"}) {
            auto* button = Find<QPushButton>(window, name);
            QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) < button->width());
        }
    }

    void StartsNotConnectedWithOnlyTheRightButtonsEnabled() {
        RecorderWindow window;
        QVERIFY(Find<QPushButton>(window, "Connect")->isEnabled());
        QVERIFY(Find<QPushButton>(window, "Disconnect")->isEnabled());
        QVERIFY(!Find<QPushButton>(window, "cmdRecord")->isEnabled());
        QVERIFY(!Find<QPushButton>(window, "cmdStop")->isEnabled());
        QVERIFY(Find<QPushButton>(window, "cmdSetPath")->isEnabled());
        QVERIFY(Find<QCheckBox>(window, "chkOverwrite")->isEnabled());
        QVERIFY(Find<QCheckBox>(window, "chkOverwrite")->isChecked());
        QCOMPARE(window.OverwriteValue(), 1);
        Find<QCheckBox>(window, "chkOverwrite")->click();
        QCOMPARE(window.OverwriteValue(), 0);

        // Each operation reaches its own control and no other.
        const std::vector<std::pair<Control, QString>> controls = {
            {Control::kConnect, "Connect"},    {Control::kDisconnect, "Disconnect"},
            {Control::kRecord, "cmdRecord"},   {Control::kStop, "cmdStop"},
            {Control::kSetPath, "cmdSetPath"}, {Control::kOverwrite, "chkOverwrite"}};
        const auto states = [&] {
            QMap<QString, bool> enabled;
            for (const auto& [control, name] : controls) {
                enabled[name] = window.findChild<QWidget*>(name)->isEnabled();
            }
            return enabled;
        };
        for (const auto& [control, name] : controls) {
            QMap<QString, bool> expected = states();
            expected[name] = !expected[name];
            window.SetEnabled(control, expected[name]);
            QCOMPARE(states(), expected);
            window.SetEnabled(control, !expected[name]);
        }
    }

    void TabVisitsTheControlsInTheirOrder() {
        RecorderWindow window;
        for (Control control : {Control::kRecord, Control::kStop}) window.SetEnabled(control, true);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.focusWidget(), Find<QWidget>(window, "Connect"));

        QStringList visited;
        for (int step = 0; step < 6; ++step) {
            QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
            visited.append(window.focusWidget()->objectName());
        }
        QCOMPARE(visited, QStringList({"cmdRecord", "cmdStop", "Disconnect", "chkOverwrite",
                                       "cmdSetPath", "Connect"}));
    }

    void ClicksAndCloseReachTheirHandlersOnce() {
        RecorderWindow window;
        RecordedEvents events;
        window.SetEvents(&events);
        for (Control control : {Control::kRecord, Control::kStop}) window.SetEnabled(control, true);
        window.show();
        for (const char* name : {"Connect", "cmdRecord", "cmdStop", "cmdSetPath", "Disconnect"}) {
            QTest::mouseClick(Find<QPushButton>(window, name), Qt::LeftButton);
        }
        window.close();
        window.Unload();
        QCOMPARE(events.calls,
                 std::vector<std::string>({"Connect_Click", "cmdRecord_Click", "cmdStop_Click",
                                           "cmdSetPath_Click", "Disconnect_Click", "Form_Unload"}));
    }

    void TerminationSignalClosesTheWindowThroughTheUnload() {
        RecorderWindow window;
        RecordedEvents events;
        window.SetEvents(&events);
        const kestrun::qt::CloseOnSignals close_on_signals;
        window.show();
        std::raise(SIGTERM);
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(events.calls, std::vector<std::string>({"Form_Unload"}));
    }

    void RepaintNowPaintsBeforeTheHandlerGoesOn() {
        RecorderWindow window;
        RecordedEvents events;
        PaintWatcher watcher;
        auto* status = Find<QLabel>(window, "lblStatus");
        status->installEventFilter(&watcher);
        window.SetEvents(&events);
        window.SetEnabled(Control::kRecord, true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QStringList painted_during_handler;
        events.on_record_click = [&] {
            window.SetStatusText("Recording Data ...");
            window.RepaintNow();
            // Nothing returns to the event loop here, as in a blocking exchange.
            painted_during_handler = watcher.painted;
        };
        QTest::mouseClick(Find<QPushButton>(window, "cmdRecord"), Qt::LeftButton);
        QVERIFY(painted_during_handler.contains(QStringLiteral("Recording Data ...")));

        // Texts that look like markup are shown as they are.
        window.SetStatusText("Error: <b>x</b>");
        QCOMPARE(status->textFormat(), Qt::PlainText);
    }

    void CancelledDialogGivesBackTheNameItWasGiven() {
        RecorderWindow window;
        QString seen_name;
        QString seen_filter;
        std::optional<std::string> answer;
        window.SetSaveDialogRunner([&](QWidget*, const std::string& name, std::string_view filter) {
            seen_name = QString::fromStdString(name);
            seen_filter = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()));
            return answer;
        });
        QCOMPARE(window.ShowSaveDialog("checkride.dat", "*.DAT"), std::string("checkride.dat"));
        QCOMPARE(seen_name, QStringLiteral("checkride.dat"));
        QCOMPARE(seen_filter, QStringLiteral("*.DAT"));
        answer = "/flights/leg 2.dat";
        QCOMPARE(window.ShowSaveDialog("checkride.dat", "*.DAT"),
                 std::string("/flights/leg 2.dat"));
    }

    void TimerTicksOnlyWhenEnabledWithAnInterval() {
        RecorderWindow window;
        RecordedEvents events;
        window.SetEvents(&events);
        window.SetTimerEnabled(true);  // Interval still 0: no ticks.
        QTest::qWait(80);
        window.SetTimerEnabled(false);
        window.SetTimerInterval(20);  // Disabled: no ticks either.
        QTest::qWait(80);
        QVERIFY(events.calls.empty());
        window.SetTimerEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(events.calls.size() >= 2, 2000);
        window.SetTimerEnabled(false);
        window.SetTimerInterval(0);
        const size_t ticks = events.calls.size();
        QTest::qWait(80);
        QCOMPARE(events.calls.size(), ticks);
    }

    void TickThatBlocksDelaysTheNextInsteadOfPilingUp() {
        constexpr int kIntervalMs = 50;
        constexpr int kBlockMs = 400;  // Eight intervals.
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
        // Piled-up ticks would number about elapsed / interval (twelve or
        // more); without them, one tick before the block, one late tick after
        // it, and the rest at the usual pace.
        const auto elapsed = static_cast<int>(clock.elapsed());
        const int unblocked_intervals = (elapsed - kBlockMs) / kIntervalMs;
        QVERIFY2(ticks <= unblocked_intervals + 2, qPrintable(QString::number(ticks)));
        QVERIFY(ticks >= 2);
    }
};

QTEST_MAIN(RecorderWindowTest)
#include "recorder_window_test.moc"
