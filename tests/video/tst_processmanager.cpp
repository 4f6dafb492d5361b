// The server process controller against a child program of ours that exits, crashes or runs until
// it is killed; what it reports: state, last error line, restarts. Every child
// appends "<pid> <arguments>" to a log file when it starts, so the tests see how often, and with
// what, it was started.
#include "video/processmanager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/types.h>

namespace {

constexpr int kWaitMs = 10000;

QStringList startLines(const QString &logPath)
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty() && line != "spewed")
            lines << QString::fromUtf8(line);
    }
    return lines;
}

qint64 pidOf(const QString &line)
{
    return line.section(QLatin1Char(' '), 0, 0).toLongLong();
}

bool processExists(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

} // namespace

class TestProcessManager : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("starts-%1.log").arg(m_counter++));
    }

    void stopBeforeStartEmitsNothing()
    {
        ProcessManager manager;
        QSignalSpy running(&manager, &ProcessManager::isRunningChanged);
        QSignalSpy stopped(&manager, &ProcessManager::stopped);
        QSignalSpy started(&manager, &ProcessManager::started);
        manager.stop();
        QCOMPARE(running.count() + stopped.count() + started.count(), 0);
        QCOMPARE(manager.isRunning(), false);
    }

    void argumentsNotifyOnEveryWriteProgramOnlyOnChange()
    {
        ProcessManager manager;
        QSignalSpy args(&manager, &ProcessManager::argumentsChanged);
        QSignalSpy program(&manager, &ProcessManager::programChanged);
        QSignalSpy running(&manager, &ProcessManager::isRunningChanged);
        const QStringList list{QStringLiteral("a"), QStringLiteral("b")};
        manager.setArguments(list);
        manager.setArguments(list);
        QCOMPARE(args.count(), 2);
        QCOMPARE(manager.arguments(), list);
        manager.setProgram(QStringLiteral("/bin/true"));
        manager.setProgram(QStringLiteral("/bin/true"));
        QCOMPARE(program.count(), 1);
        QCOMPARE(manager.program(), QStringLiteral("/bin/true"));
        manager.setIsRunning(false);
        QCOMPARE(running.count(), 0);
        manager.setIsRunning(true);
        manager.setIsRunning(true);
        QCOMPARE(running.count(), 1);
        // Declared in this order.
        const QMetaObject *meta = manager.metaObject();
        QVERIFY(meta->indexOfSignal("isRunningChanged()") < meta->indexOfSignal("programChanged()"));
        QVERIFY(meta->indexOfSignal("programChanged()") < meta->indexOfSignal("argumentsChanged()"));
        QVERIFY(meta->indexOfSignal("argumentsChanged()") < meta->indexOfSignal("started()"));
        QVERIFY(meta->indexOfSignal("started()") < meta->indexOfSignal("stopped()"));
    }

    void endOfARunIsReportedAndNotRestarted_data()
    {
        QTest::addColumn<QStringList>("mode");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("errorParts");
        QTest::newRow("exit code 0") << QStringList{QStringLiteral("exit:0")} << int(ProcessManager::Stopped)
                                     << QStringList{};
        QTest::newRow("exit code 3, silent") << QStringList{QStringLiteral("exit:3")} << int(ProcessManager::Failed)
                                             << QStringList{QStringLiteral("exit code 3")};
        QTest::newRow("exit code 1, last error line")
            << QStringList{QStringLiteral("say-exit:1"), QStringLiteral("Dewarping on the CPU"),
                           QStringLiteral("ostrevan: cannot listen on 127.0.0.1:1: Address already in use")}
            << int(ProcessManager::Failed)
            << QStringList{QStringLiteral("exit code 1"),
                           QStringLiteral(": ostrevan: cannot listen on 127.0.0.1:1: Address already in use")};
    }

    // Nothing runs any more, so nothing claims to: "Start" is offered again.
    void endOfARunIsReportedAndNotRestarted()
    {
        QFETCH(QStringList, mode);
        QFETCH(int, status);
        QFETCH(QStringList, errorParts);
        ProcessManager manager;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments(QStringList{m_log} + mode);
        QSignalSpy running(&manager, &ProcessManager::isRunningChanged);
        QSignalSpy started(&manager, &ProcessManager::started);
        QSignalSpy stopped(&manager, &ProcessManager::stopped);
        if (status == ProcessManager::Failed)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^The server ended with exit code")));
        manager.start();
        QCOMPARE(running.count(), 1);
        QCOMPARE(manager.status(), ProcessManager::Starting);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, kWaitMs);
        QCOMPARE(started.count(), 1);
        QCOMPARE(int(manager.status()), status);
        QVERIFY(!manager.isRunning());
        QCOMPARE(running.count(), 2);
        for (const QString &part : errorParts)
            QVERIFY2(manager.lastError().contains(part), qPrintable(manager.lastError()));
        QCOMPARE(manager.lastError().isEmpty(), errorParts.isEmpty());
        // Give a wrongful restart time to show.
        QTest::qWait(300);
        QCOMPARE(startLines(m_log).size(), 1);
        QCOMPARE(manager.restartCount(), 0);
        manager.stop();
        QCOMPARE(running.count(), 2);
    }

    void startingThenRunningThenStopped()
    {
        ProcessManager manager;
        manager.m_settleMs = 300;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, QStringLiteral("run")});
        QList<int> seen;
        connect(&manager, &ProcessManager::statusChanged, this, [&] { seen << int(manager.status()); });
        QSignalSpy stopped(&manager, &ProcessManager::stopped);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.status(), ProcessManager::Running, kWaitMs);
        QCOMPARE(seen, (QList<int>{ProcessManager::Starting, ProcessManager::Running}));
        manager.stop();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, kWaitMs);
        QCOMPARE(seen, (QList<int>{ProcessManager::Starting, ProcessManager::Running, ProcessManager::Stopped}));
        QVERIFY(manager.lastError().isEmpty());
    }

    void backOffDoublesUpToThirtySeconds_data()
    {
        QTest::addColumn<int>("quickCrashes");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("first") << 0 << 1000;
        QTest::newRow("second") << 1 << 2000;
        QTest::newRow("third") << 2 << 4000;
        QTest::newRow("fifth") << 4 << 16000;
        QTest::newRow("sixth") << 5 << 30000;
        QTest::newRow("many") << 40 << 30000;
    }

    void backOffDoublesUpToThirtySeconds()
    {
        QFETCH(int, quickCrashes);
        QFETCH(int, delayMs);
        QCOMPARE(ProcessManager::backoffDelay(quickCrashes), delayMs);
    }

    // A server that dies at once is restarted ever more slowly, the operator sees
    // the count and the reason, and after some tries it is given up.
    void quickCrashesBackOffAndAreGivenUp()
    {
        ProcessManager manager;
        manager.m_delayDivisor = 20;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, QStringLiteral("say-abort"), QStringLiteral("boom")});
        QList<int> delays;
        connect(&manager, &ProcessManager::restartDelayChanged, this, [&] {
            if (manager.restartDelay() > 0)
                delays << manager.restartDelay();
        });
        QList<int> counts;
        connect(&manager, &ProcessManager::restartCountChanged, this, [&] { counts << manager.restartCount(); });
        QTest::ignoreMessage(QtDebugMsg, "Restarting");
        for (int i = 0; i < ProcessManager::kMaxQuickCrashes - 1; ++i)
            QTest::ignoreMessage(QtWarningMsg, "The server crashed: boom");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("crashed 8 times in a row")));
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.status(), ProcessManager::Failed, 3 * kWaitMs);
        QCOMPARE(delays, (QList<int>{50, 100, 200, 400, 800, 1500, 1500}));
        QCOMPARE(counts, (QList<int>{1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(startLines(m_log).size(), ProcessManager::kMaxQuickCrashes);
        QVERIFY(!manager.isRunning());
        QVERIFY2(manager.lastError().contains(QLatin1String("boom")), qPrintable(manager.lastError()));
        QCOMPARE(manager.restartDelay(), 0);
        QTest::qWait(300);
        QCOMPARE(startLines(m_log).size(), ProcessManager::kMaxQuickCrashes);
    }

    void stopDuringTheBackOffCancelsTheRestart()
    {
        ProcessManager manager;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, QStringLiteral("abort")});
        QTest::ignoreMessage(QtWarningMsg, "The server crashed.");
        manager.start();
        QTRY_VERIFY_WITH_TIMEOUT(manager.restartDelay() > 0, kWaitMs);
        QCOMPARE(manager.status(), ProcessManager::Starting);
        QVERIFY(manager.isRunning());
        manager.stop();
        QCOMPARE(manager.status(), ProcessManager::Stopped);
        QCOMPARE(manager.restartDelay(), 0);
        QTest::qWait(ProcessManager::kFirstDelayMs + 300);
        QCOMPARE(startLines(m_log).size(), 1);
    }

    void crashIsRestartedWithTheCurrentArguments()
    {
        ProcessManager manager;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, QStringLiteral("run"), QStringLiteral("first")});
        QSignalSpy started(&manager, &ProcessManager::started);
        QSignalSpy stopped(&manager, &ProcessManager::stopped);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(startLines(m_log).size(), 1, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWaitMs);

        // New arguments while it runs; then the child dies of a signal.
        manager.setArguments({m_log, QStringLiteral("run"), QStringLiteral("second")});
        QTest::ignoreMessage(QtDebugMsg, "Restarting");
        QCOMPARE(::kill(pid_t(pidOf(startLines(m_log).at(0))), SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(startLines(m_log).size(), 2, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 2, kWaitMs);
        QCOMPARE(stopped.count(), 1);
        QVERIFY(startLines(m_log).at(1).endsWith(QLatin1String(" run second")));
        QVERIFY(manager.isRunning());

        // stop() kills it for good.
        const qint64 pid = pidOf(startLines(m_log).at(1));
        manager.stop();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 2, kWaitMs);
        QVERIFY(!processExists(pid));
        QTest::qWait(300);
        QCOMPARE(startLines(m_log).size(), 2);
        QCOMPARE(started.count(), 2);
    }

    void abortingChildIsStartedAgain()
    {
        ProcessManager manager;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, QStringLiteral("crash-once:") + m_dir.filePath(QStringLiteral("marker-abort"))});
        QSignalSpy started(&manager, &ProcessManager::started);
        QSignalSpy stopped(&manager, &ProcessManager::stopped);
        QTest::ignoreMessage(QtDebugMsg, "Restarting");
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 2, kWaitMs);
        QCOMPARE(stopped.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(startLines(m_log).size(), 2, kWaitMs);
        manager.stop();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 2, kWaitMs);
    }

    void destroyingTheControllerEndsTheChild()
    {
        auto *manager = new ProcessManager;
        manager->setProgram(QStringLiteral(PROCESS_HELPER));
        manager->setArguments({m_log, QStringLiteral("run")});
        QSignalSpy started(manager, &ProcessManager::started);
        manager->start();
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(startLines(m_log).size(), 1, kWaitMs);
        const qint64 pid = pidOf(startLines(m_log).at(0));
        QVERIFY(processExists(pid));
        delete manager;
        // Killed and reaped by the time the destructor returns, and not started again.
        QVERIFY(!processExists(pid));
        QTest::qWait(300);
        QCOMPARE(startLines(m_log).size(), 1);
    }

    void childOutputIsDrainedAndDropped()
    {
        ProcessManager manager;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, QStringLiteral("spew")});
        manager.start();
        // The child writes 1 MiB to each stream; it only gets to "spewed" if the pipes are drained.
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile(m_log).exists() && QFile(m_log).size() > 0 &&
                [&] {
                    QFile file(m_log);
                    return file.open(QIODevice::ReadOnly) && file.readAll().contains("spewed");
                }(),
            kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(manager.m_process.bytesAvailable(), qint64(0), kWaitMs);
        manager.m_process.setReadChannel(QProcess::StandardError);
        QTRY_COMPARE_WITH_TIMEOUT(manager.m_process.bytesAvailable(), qint64(0), kWaitMs);
        manager.stop();
    }

    void programIsFoundBesideTheExecutableThenOnPath()
    {
        const QString besideName = QFileInfo(QStringLiteral(PROCESS_HELPER)).fileName();
        QCOMPARE(QFileInfo(QStringLiteral(PROCESS_HELPER)).absolutePath(), QCoreApplication::applicationDirPath());
        QCOMPARE(ProcessManager::findProgram(besideName), QFileInfo(QStringLiteral(PROCESS_HELPER)).absoluteFilePath());

        const QString onPath = m_dir.filePath(QStringLiteral("bin/quillon-test-server"));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("bin"))));
        QVERIFY(QFile::copy(QStringLiteral(PROCESS_HELPER), onPath));
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))) + ':' + oldPath);
        const auto restore = qScopeGuard([&] { qputenv("PATH", oldPath); });
        QCOMPARE(ProcessManager::findProgram(QStringLiteral("quillon-test-server")), onPath);
        // Beside the executable wins over PATH.
        QVERIFY(QFile::copy(QStringLiteral(PROCESS_HELPER), m_dir.filePath(QStringLiteral("bin/") + besideName)));
        QCOMPARE(ProcessManager::findProgram(besideName), QFileInfo(QStringLiteral(PROCESS_HELPER)).absoluteFilePath());

        ProcessManager manager;
        manager.setProgram(QStringLiteral("quillon-test-server"));
        manager.setArguments({m_log, QStringLiteral("run")});
        QSignalSpy started(&manager, &ProcessManager::started);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(startLines(m_log).size(), 1, kWaitMs);
        manager.stop();
    }

    void programThatCannotRunIsAFailureWithAMessage_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("message");
        QTest::newRow("bare name nowhere")
            << QStringLiteral("quillon-no-such-server")
            << QStringLiteral("\"quillon-no-such-server\" is neither beside .* nor on PATH");
        QTest::newRow("missing path") << QStringLiteral("%1/no-such-program")
                                      << QStringLiteral("/no-such-program does not exist or cannot be run");
        QTest::newRow("not executable") << QStringLiteral("%1/plain-file")
                                        << QStringLiteral("/plain-file does not exist or cannot be run");
        QTest::newRow("not a program") << QStringLiteral("%1/garbage")
                                       << QStringLiteral("/garbage cannot be started: ");
    }

    void programThatCannotRunIsAFailureWithAMessage()
    {
        QFETCH(QString, program);
        QFETCH(QString, message);
        QFile plain(m_dir.filePath(QStringLiteral("plain-file")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QFile garbage(m_dir.filePath(QStringLiteral("garbage")));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("\x01\x02\x03 not a program\n");
        garbage.close();
        QVERIFY(garbage.setPermissions(garbage.permissions() | QFileDevice::ExeOwner));

        ProcessManager manager;
        manager.setProgram(program.contains(QLatin1String("%1")) ? program.arg(m_dir.path()) : program);
        QSignalSpy started(&manager, &ProcessManager::started);
        QSignalSpy running(&manager, &ProcessManager::isRunningChanged);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(message));
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.status(), ProcessManager::Failed, kWaitMs);
        QVERIFY2(manager.lastError().contains(QRegularExpression(message)), qPrintable(manager.lastError()));
        QVERIFY(!manager.isRunning());
        QCOMPARE(running.count() % 2, 0);
        QTest::qWait(300);
        QCOMPARE(started.count(), 0);
    }

    // A server on every address names itself by the host name; the window shows an address other
    // machines reach. Only that host, whole and in any case, is replaced.
    void addressesNamingThisHostGetAReachableOne_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("shown");
        QTest::newRow("host name") << "rtsp://quillon-box:8554/S-1/Door" << "rtsp://192.0.2.7:8554/S-1/Door";
        QTest::newRow("other case") << "rtsps://QUILLON-BOX:8554/S-1/Door" << "rtsps://192.0.2.7:8554/S-1/Door";
        QTest::newRow("no port") << "rtsp://quillon-box/S-1/Door" << "rtsp://192.0.2.7/S-1/Door";
        QTest::newRow("longer name") << "rtsp://quillon-box2:8554/S-1/Door" << "rtsp://quillon-box2:8554/S-1/Door";
        QTest::newRow("an address") << "rtsp://10.1.2.3:8554/S-1/Door" << "rtsp://10.1.2.3:8554/S-1/Door";
        QTest::newRow("name in the path") << "rtsp://10.1.2.3:8554/quillon-box/Door"
                                          << "rtsp://10.1.2.3:8554/quillon-box/Door";
        QTest::newRow("not an address") << "quillon-box" << "quillon-box";
    }

    void addressesNamingThisHostGetAReachableOne()
    {
        QFETCH(QString, address);
        QFETCH(QString, shown);
        ProcessManager manager;
        manager.m_localHostName = QStringLiteral("quillon-box");
        manager.m_reachableHost = QStringLiteral("192.0.2.7");
        QCOMPARE(manager.reachableAddress(address), shown);
        // Without an address to offer, the server's own stays.
        manager.m_reachableHost.clear();
        QCOMPARE(manager.reachableAddress(address), address);
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestProcessManager)
#include "tst_processmanager.moc"
