#pragma once

#include <QProcess>

// A QProcess whose child is killed by the kernel when this process dies, however it dies (SIGKILL
// included), so a server we started never outlives us and keeps its port.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    explicit ChildProcess(QObject *parent = nullptr);

protected:
    // Runs in the forked child, before exec.
    void setupChildProcess() override;

private:
    qint64 m_parentPid;
};
