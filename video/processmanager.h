#pragma once

#include "video/childprocess.h"
#include "video/serverstatuschannel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Runs one external program (the streaming server) as a child process and reports what it does.
//
//   Stopped --start()--> Starting --alive kSettleMs--> Running
//      ^                    |  ^                          |
//      |                    |  +--- back-off wait <-------+ crash
//      |                    v                             |
//      +---- stop() ---- Failed <-- exit code != 0, cannot start, too many quick crashes
//
// A crash is restarted after a back-off (1, 2, 4 ... 30 s) that doubles with every crash that
// comes within kSettleMs of its start and falls back to 1 s after a run that lasted; after
// kMaxQuickCrashes such crashes in a row it gives up. A normal exit is not restarted: code 0 ends
// the run, any other code fails it with the child's last error line.
//
// A bare program name is looked for beside our executable, then on PATH. With statusChannel set
// (the streaming server), the child reports through a ServerStatusChannel: the addresses it serves
// and its last error come from its status, and a failure names what the server said went wrong.
// Otherwise, and when the server said nothing, the failure text is its last line on standard error.
// The child is killed if this process dies.
class ProcessManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning WRITE setIsRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QString program READ program WRITE setProgram NOTIFY programChanged)
    Q_PROPERTY(QStringList arguments READ arguments WRITE setArguments NOTIFY argumentsChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(int restartCount READ restartCount NOTIFY restartCountChanged)
    Q_PROPERTY(int restartDelay READ restartDelay NOTIFY restartDelayChanged)
    Q_PROPERTY(QStringList servedAddresses READ servedAddresses NOTIFY servedAddressesChanged)
    Q_PROPERTY(bool statusChannel READ usesStatusChannel WRITE setStatusChannel NOTIFY statusChannelChanged)

public:
    enum Status { Stopped = 0, Starting = 1, Running = 2, Failed = 3 };
    Q_ENUM(Status)

    explicit ProcessManager(QObject *parent = nullptr);
    // Ends a child that still runs (killed, and reaped before returning) without restarting it.
    ~ProcessManager() override;

    bool isRunning() const { return m_isRunning; }
    void setIsRunning(bool isRunning);
    QString program() const { return m_program; }
    void setProgram(const QString &program);
    QStringList arguments() const { return m_arguments; }
    // Stores and notifies on every write, even of an equal list.
    void setArguments(const QStringList &arguments);

    Status status() const { return m_status; }
    // Why the last run failed or was restarted; empty after a start and while none failed.
    QString lastError() const { return m_lastError; }
    // Restarts since the last start().
    int restartCount() const { return m_restartCount; }
    // Milliseconds of the back-off before the pending restart; 0 when none is pending.
    int restartDelay() const { return m_restartDelay; }
    // The address of every view the server serves, as clients reach it.
    QStringList servedAddresses() const { return m_servedAddresses; }
    bool usesStatusChannel() const { return m_usesStatusChannel; }
    void setStatusChannel(bool use);
    // What the running server last reported (with statusChannel); empty otherwise.
    const ServerStatusChannel &statusChannel() const { return m_channel; }

    // The executable that start() runs for `program`: a path as it is; a bare name beside this
    // program's executable, else on PATH. Empty when there is none.
    Q_INVOKABLE static QString findProgram(const QString &program);
    // A server listening on every address names itself by this machine's host name, which other
    // machines often cannot resolve: such an address gets reachableHost() instead. Any other
    // address is returned as it is.
    QString reachableAddress(const QString &address) const;
    // One of this machine's global addresses, IPv4 first (IPv6 in brackets); empty when none.
    static QString reachableHost();
    // Back-off in milliseconds before the restart that follows `quickCrashes` quick crashes in a row.
    static int backoffDelay(int quickCrashes);

    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();

    // A child that lives this long has started well: Running, and the back-off starts over.
    static constexpr int kSettleMs = 3000;
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kMaxDelayMs = 30000;
    static constexpr int kMaxQuickCrashes = 8;

signals:
    void isRunningChanged();
    void programChanged();
    void argumentsChanged();
    void started();
    void stopped();
    void statusChanged();
    void lastErrorChanged();
    void restartCountChanged();
    void restartDelayChanged();
    void servedAddressesChanged();
    void statusChannelChanged();
    // statusChannel().status() holds a new report of the running server.
    void serverStatusChanged();

private:
    void launch();
    void onStarted();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onStartFailed();
    void fail(const QString &why);
    void readOutput(QProcess::ProcessChannel channel);
    void takeLine(const QString &line, bool isError);
    void takeStatus();
    // What the server said went wrong, else its last line on standard error.
    QString failureCause() const;
    void setStatus(Status status);
    void setLastError(const QString &error);
    void setRestartCount(int count);
    void setRestartDelay(int delayMs);
    void setServedAddresses(const QStringList &addresses);

    friend class TestProcessManager;
    friend class TestServerStatus;

    ChildProcess m_process;
    ServerStatusChannel m_channel;
    bool m_usesStatusChannel = false;
    // This machine's host name and what replaces it in addresses; taken at each launch.
    QString m_localHostName;
    QString m_reachableHost;
    bool m_isRunning = false;
    QString m_program;
    QStringList m_arguments;
    Status m_status = Stopped;
    QString m_lastError;
    int m_restartCount = 0;
    int m_restartDelay = 0;
    QStringList m_servedAddresses;
    int m_quickCrashes = 0;
    QString m_lastErrorLine;
    QByteArray m_partial[2];
    QElapsedTimer m_sinceStart;
    QTimer m_settleTimer;
    QTimer m_restartTimer;
    // Shortened by the tests.
    int m_settleMs = kSettleMs;
    int m_delayDivisor = 1;
};
