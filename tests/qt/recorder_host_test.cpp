// The whole window against a real simulated host process: connect, record,
// stop, disconnect and close, as a pilot clicks through them. The run has
// runtime and settings folders of its own, so no user's host or files are met.

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <string>
#include <thread>

#include "platform/posix/endpoint.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/qt/close_on_signals.h"
#include "platform/qt/recorder_window.h"
#include "platform/qt/window_events.h"
#include "window/form1.h"

using kestrun::qt::RecorderWindow;

namespace {

bool Listening(const std::string& endpoint) {
    const auto connected = kestrun::ConnectEndpoint(endpoint);
    if (connected.ok()) ::close(connected.value);
    return connected.ok();
}

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
    QTemporaryDir runtime_;
    QTemporaryDir work_;
    QProcess host_;
    QString output_;
    QString settings_;

    void StartHost() {
        if (host_.state() == QProcess::Running) return;
        host_.setProgram(QStringLiteral(KESTRUN_HOST_PATH));
        // A version of its own, so the digits shown can only come from it.
        host_.setArguments({QStringLiteral("--version-word"), QStringLiteral("0x51230000")});
        host_.setProcessChannelMode(QProcess::ForwardedChannels);
        host_.start();
        QVERIFY(host_.waitForStarted());
        // Up once it accepts a connection: the socket file alone says less.
        const std::string endpoint =
            runtime_.filePath(QStringLiteral("kestrun/HOSTMAIN")).toStdString();
        QTRY_VERIFY_WITH_TIMEOUT(Listening(endpoint), 5000);
    }

    // The count of records in the output file; -1 when it ends in a part.
    qint64 Records() {
        const qint64 size = QFileInfo(output_).size();
        return size % 80 == 0 ? size / 80 : -1;
    }

    bool LinkLeftNothingBehind() {
        const QDir atoms(runtime_.filePath(QStringLiteral("kestrun/atoms")));
        // This process's shared block, by the name the link gives it.
        const QString block =
            QStringLiteral("/dev/shm/HOSTLINK:IPC:%1:1")
                .arg(QString::number(QCoreApplication::applicationPid(), 16).toUpper());
        return atoms.isEmpty() && !QFileInfo::exists(block);
    }

  private slots:
    void initTestCase() {
        QVERIFY(runtime_.isValid() && work_.isValid());
        // The recorder and the host meet in this process's runtime folder.
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", work_.filePath(QStringLiteral("config")).toLocal8Bit());
        output_ = work_.filePath(QStringLiteral("flight.dat"));
        settings_ = work_.filePath(QStringLiteral("KestrunFlightRecorder.ini"));
        QFile settings(settings_);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[OutputFile]\r\n%1\r\n").arg(output_).toLocal8Bit());
    }

    void cleanupTestCase() {
        host_.terminate();
        host_.waitForFinished();
    }

    void ConnectsRecordsWholeRecordsStopsAndDisconnects() {
        Recorder recorder(settings_);
        recorder.Click("Connect");  // No host yet.
        QCOMPARE(recorder.Status(),
                 QStringLiteral("Error: Cannot link to the simulator host or network client"));
        QCOMPARE(recorder.Enabled(), QStringLiteral("Connect Disconnect chkOverwrite cmdSetPath"));

        StartHost();
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
    }

    void ClosingWhileRecordingKeepsWholeRecordsAndClosesTheLink() {
        StartHost();
        Recorder recorder(settings_);
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

    // A host that stops answering makes every tick overrun; SIGTERM must
    // still close the window once the exchange in progress gives up.
    void SigtermClosesTheWindowWhileTheHostNeverAnswers() {
        StartHost();
        const kestrun::qt::CloseOnSignals close_on_signals;
        Recorder recorder(settings_);
        recorder.Click("Connect");
        recorder.Click("cmdRecord");
        QTRY_COMPARE_WITH_TIMEOUT(Records(), 1, kTickTimeoutMs);
        const auto host = static_cast<pid_t>(host_.processId());
        ::kill(host, SIGSTOP);
        // The signal has to arrive while a tick blocks the window's thread.
        std::thread terminate([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ::kill(::getpid(), SIGTERM);
        });
        QElapsedTimer since;
        since.start();
        // One tick, one exchange with all its retries (about 23 s), and room
        // for a loaded machine.
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.window.isVisible(), 40000);
        terminate.join();
        ::kill(host, SIGCONT);
        QVERIFY(since.elapsed() < 30000);
        QCOMPARE(recorder.Status(), QStringLiteral("Not Connected to Flight Simulator"));
        QVERIFY(Records() >= 1);
        QVERIFY(LinkLeftNothingBehind());
    }
};

QTEST_MAIN(RecorderHostTest)
#include "recorder_host_test.moc"
