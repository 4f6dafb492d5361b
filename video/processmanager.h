#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs one external program (the streaming server) as a child process and starts it again when it
// crashes while it is meant to run. A normal exit, whatever its code, is not restarted.
//
// The child's standard streams are pipes; what it writes is read and dropped so that neither the
// pipe nor our buffer fills up while a long-running server logs.
class ProcessManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning WRITE setIsRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QString program READ program WRITE setProgram NOTIFY programChanged)
    Q_PROPERTY(QStringList arguments READ arguments WRITE setArguments NOTIFY argumentsChanged)

public:
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

    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();

signals:
    void isRunningChanged();
    void programChanged();
    void argumentsChanged();
    void started();
    void stopped();

private:
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);

    friend class TestProcessManager;

    QProcess m_process;
    bool m_isRunning = false;
    QString m_program;
    QStringList m_arguments;
};
