#pragma once

#include <QProcess>

// A QProcess whose child is killed by the kernel when this process dies, however it dies (SIGKILL
// included), so a server we started never outlives us and keeps its port. The child gets SIGKILL, or
// the signal set here (SIGTERM for a script that stops its own children).
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    explicit ChildProcess(QObject *parent = nullptr);

    // A descriptor of ours (close-on-exec here) that the next child keeps open under the same
    // number; -1 for none.
    void setInheritedFd(int fd) { m_inheritedFd = fd; }
    void setDeathSignal(int signal) { m_deathSignal = signal; }

protected:
    // Runs in the forked child, before exec.
    void setupChildProcess() override;

private:
    qint64 m_parentPid;
    int m_inheritedFd = -1;
    int m_deathSignal;
};
