// The whole window against a real simulated host process: connect, record,
// stop, disconnect and close, as a pilot clicks through them. The run has
// runtime and settings folders of its own, so no user's host or files are met.

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <optional>
#include <string>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "gui/recorder_window.h"
#include "gui/window_events.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "window/form1.h"

using kestrun::qt::RecorderWindow;

namespace {

constexpr int kTickTimeoutMs = 5000;

// One recorder as kestrun-recorder builds it, with a save dialog that
// answers like a cancel.
struct Recorder {
    RecorderWindow window;
    kestrun::PosixLinkPlatform link_platform;
    kestrun::PosixFileSystem files;
    kestrun::PosixClock clock;
    kestrun::Form1 form;
    kestrun::qt::ForwardEvents<kestrun::Form1> events{form};

    explicit Recorder(const QString& settings_path)
        : form(window, link_platform, files, clock, settings_path.toStdString()) {
        window.SetEvents(&events);
        window.SetSaveDialogRunner([](QWidget*, const std::string&, std::string_view) {
            return std::optional<std::string>();
        });
        form.Form_Load();
        window.show();
    }
    ~Recorder() { window.SetEvents(nullptr); }

    QString Status() { return window.findChild<QLabel*>(QStringLiteral("lblStatus"))->text(); }
    void Click(const char* name) {
        QTest::mouseClick(window.findChild<QPushButton*>(QString::fromLatin1(name)),
                          Qt::LeftButton);
    }
    // The controls a user can click now, in tab order.
    QString Enabled() {
        QStringList enabled;
        for (const char* name :
             {"Connect", "cmdRecord", "cmdStop", "Disconnect", "chkOverwrite", "cmdSetPath"}) {
            if (window.findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) enabled << name;
        }
        return enabled.join(' ');
    }
};

}  // namespace

class RecorderHostTest : public QObject {
    Q_OBJECT

  private:
    // The recorder and the host meet in this process's own runtime folder.
    kestrun::testing::RuntimeSandbox sandbox_;
    kestrun::testing::HostProcess host_;
    QString output_ = QString::fromStdString(sandbox_.root() + "/flight.dat");
    QString settings_ = QString::fromStdString(sandbox_.Write(
        "KestrunFlightRecorder.ini", "[OutputFile]\r\n" + output_.toStdString() + "\r\n"));

    // The count of records in the output file; -1 when it ends in a part.
    qint64 Records() {
        const qint64 size = QFileInfo(output_).size();
        return size % 80 == 0 ? size / 80 : -1;
    }

    bool LinkLeftNothingBehind() {
        const QDir atoms(QString::fromStdString(sandbox_.runtime() + "/atoms"));
        // This process's shared block, by the name the link gives it.
        const QString block =
            QStringLiteral("/dev/shm/HOSTLINK:IPC:%1:1")
                .arg(QString::number(QCoreApplication::applicationPid(), 16).toUpper());
        return atoms.isEmpty() && !QFileInfo::exists(block);
    }

  private slots:
    void ConnectsRecordsStopsDisconnectsAndClosesWhileRecording() {
        Recorder recorder(settings_);
        recorder.Click("Connect");  // No host yet.
        QCOMPARE(recorder.Status(),
                 QStringLiteral("Error: Cannot link to the simulator host or network client"));
        QCOMPARE(recorder.Enabled(), QStringLiteral("Connect Disconnect chkOverwrite cmdSetPath"));

        // A version of its own, so the digits shown can only come from it.
        QVERIFY(host_.Start({"--version-word", "0x51230000"}));
        recorder.Click("Connect");
        QCOMPARE(recorder.Status(),
                 QStringLiteral("Connected to Flight Simulator (host ver5.123)"));
        QCOMPARE(recorder.Enabled(),
                 QStringLiteral("cmdRecord Disconnect chkOverwrite cmdSetPath"));
        QVERIFY(recorder.window.grab().save(QStringLiteral(KESTRUN_WINDOW_GRAB_PATH)));

        recorder.Click("cmdRecord");
        QCOMPARE(recorder.Status(), QStringLiteral("Recording Data ..."));
        QCOMPARE(recorder.Enabled(), QStringLiteral("cmdStop Disconnect"));
        QCOMPARE(Records(), 0);  // Overwrite is ticked; the first record waits a second.
        QTRY_COMPARE_WITH_TIMEOUT(Records(), 1, kTickTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(Records(), 2, kTickTimeoutMs);

        recorder.Click("cmdStop");
        QCOMPARE(recorder.Status(), QStringLiteral("Recording stopped. File Saved."));
        QCOMPARE(recorder.Enabled(),
                 QStringLiteral("cmdRecord Disconnect chkOverwrite cmdSetPath"));
        QVERIFY(Records() >= 2);
        recorder.Click("cmdSetPath");  // Cancelled: the path stays.
        QCOMPARE(QString::fromStdString(recorder.form.FileName), output_);

        recorder.Click("Disconnect");
        QCOMPARE(recorder.Status(), QStringLiteral("Not Connected to Flight Simulator"));
        QCOMPARE(recorder.Enabled(), QStringLiteral("Connect Disconnect chkOverwrite cmdSetPath"));
        QVERIFY(LinkLeftNothingBehind());

        // Closed while recording: whole records, and the link closed.
        recorder.Click("Connect");
        recorder.Click("cmdRecord");
        QTRY_COMPARE_WITH_TIMEOUT(Records(), 1, kTickTimeoutMs);
        recorder.window.close();
        const qint64 closed_at = Records();
        QVERIFY(closed_at >= 1);
        QTest::qWait(1500);  // The run has stopped: no more records.
        QCOMPARE(Records(), closed_at);
        QVERIFY(LinkLeftNothingBehind());
    }
};

QTEST_MAIN(RecorderHostTest)
#include "recorder_host_test.moc"
