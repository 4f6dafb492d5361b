// A real program process (the start-up runner: the program's own start-up and
// shutdown) runs the streaming server, then is ended by a signal. SIGTERM, SIGINT
// and SIGHUP end it as closing its window does: the ordinary shutdown runs to its
// end. SIGKILL skips all of that, and the kernel ends the server with it. Either
// way no server remains and its port is free again.
#include "platform/ostrevan/objectsfilewriter.h"
#include "support/freeport.h"
#include "support/processinfo.h"

#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {
constexpr int kWaitMs = 30000;

bool portAnswers(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(500);
}

bool portIsFree(int port)
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, quint16(port));
}
} // namespace

class TestShutdownSignals : public QObject
{
    Q_OBJECT

private slots:
    void serverEndsWithTheProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("orderly");
        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGINT") << int(SIGINT) << true;
        QTest::newRow("SIGHUP") << int(SIGHUP) << true;
        QTest::newRow("SIGKILL") << int(SIGKILL) << false;
    }

    void serverEndsWithTheProgram()
    {
        QFETCH(int, signal);
        QFETCH(bool, orderly);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString database = dir.filePath(QStringLiteral("objects.data"));
        QVERIFY(ObjectsFileWriter::write(database, {}));
        const int port = freeLoopbackPort();
        QVERIFY(port > 0);

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), QStringLiteral(OSTREVAN_DIR ":") + env.value(QStringLiteral("PATH")));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(STARTUP_RUNNER),
                      {QUrl::fromLocalFile(QStringLiteral(STARTUP_QML_DIR "/server.qml")).toString(), database,
                       QStringLiteral("--port"), QString::number(port), QStringLiteral("--address"),
                       QStringLiteral("127.0.0.1")});
        QVERIFY(program.waitForStarted());
        const auto cleanup = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });

        QTRY_COMPARE_WITH_TIMEOUT(ProcessInfo::children(QStringLiteral("ostrevan"), program.processId()).size(), 1,
                                  kWaitMs);
        const qint64 server = ProcessInfo::children(QStringLiteral("ostrevan"), program.processId()).constFirst();
        // A server left behind by a failure here would keep its port.
        const auto killServer = qScopeGuard([server] {
            if (ProcessInfo::isAlive(server))
                ::kill(pid_t(server), SIGKILL);
        });
        QTRY_VERIFY_WITH_TIMEOUT(portAnswers(port), kWaitMs);

        QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(kWaitMs));
        const QString report = QString::fromLocal8Bit(program.readAllStandardOutput()).trimmed();
        if (orderly) {
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
            QCOMPARE(report, QStringLiteral("singletons-destroyed=1 application-destroyed=1 exit=0"));
        } else {
            QCOMPARE(program.exitStatus(), QProcess::CrashExit);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessInfo::isAlive(server), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(portIsFree(port), 10000);
    }

    // SIGTERM does not wait for the operator: the program ends at once and its log says what it leaves.
    void sigtermLogsTheChangesLeftUnsaved()
    {
        QProcess program;
        program.start(QStringLiteral(STARTUP_RUNNER),
                      {QUrl::fromLocalFile(QStringLiteral(STARTUP_QML_DIR "/unsaved.qml")).toString()});
        QVERIFY(program.waitForStarted());
        const auto cleanup = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT((log += QString::fromLocal8Bit(program.readAllStandardError())).contains("changed: 1"),
                                 kWaitMs);
        QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);
        QVERIFY(program.waitForFinished(kWaitMs));
        QCOMPARE(program.exitCode(), 0);
        log += QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(
            log.contains(QStringLiteral("Ending with 1 unsaved change: view \"Entrance\" of stream S-LOBBY added")),
            qPrintable(log));
    }
};

QTEST_GUILESS_MAIN(TestShutdownSignals)
#include "tst_shutdownsignals.moc"
