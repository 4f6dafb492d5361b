// The server process controller against a child program of ours that exits, crashes or runs until
// it is killed. Every child appends "<pid> <arguments>" to a log file when it starts, so the tests
// see how often, and with what, it was started.
#include "video/processmanager.h"

#include <QFile>
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

    void normalExitIsNotRestartedAndStaysRunning_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("exit code 0") << QStringLiteral("exit:0");
        QTest::newRow("exit code 3") << QStringLiteral("exit:3");
    }

    void normalExitIsNotRestartedAndStaysRunning()
    {
        QFETCH(QString, mode);
        ProcessManager manager;
        manager.setProgram(QStringLiteral(PROCESS_HELPER));
        manager.setArguments({m_log, mode});
        QSignalSpy running(&manager, &ProcessManager::isRunningChanged);
        QSignalSpy started(&manager, &ProcessManager::started);
        QSignalSpy stopped(&manager, &ProcessManager::stopped);
        manager.start();
        QCOMPARE(running.count(), 1);
        QVERIFY(manager.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, kWaitMs);
        QCOMPARE(started.count(), 1);
        // Give a wrongful restart time to show.
        QTest::qWait(300);
        QCOMPARE(startLines(m_log).size(), 1);
        QCOMPARE(started.count(), 1);
        QVERIFY(manager.isRunning());
        manager.stop();
        QCOMPARE(running.count(), 2);
        QVERIFY(!manager.isRunning());
        QTest::qWait(100);
        QCOMPARE(stopped.count(), 1);
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

    void programThatCannotStartGivesNoStartedSignal()
    {
        ProcessManager manager;
        manager.setProgram(m_dir.filePath(QStringLiteral("no-such-program")));
        QSignalSpy started(&manager, &ProcessManager::started);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^cannot start .*no-such-program")));
        manager.start();
        QTest::qWait(300);
        QCOMPARE(started.count(), 0);
        manager.stop();
        QVERIFY(!manager.isRunning());
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestProcessManager)
#include "tst_processmanager.moc"
