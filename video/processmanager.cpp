#include "video/processmanager.h"

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(lcProcess, "quillon.video.process")

// How long the destructor waits for a killed child to be reaped.
constexpr int kReapTimeoutMs = 5000;
} // namespace

ProcessManager::ProcessManager(QObject *parent) : QObject(parent)
{
    connect(&m_process, &QProcess::started, this, [this] { emit started(); });
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &ProcessManager::onFinished);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] { m_process.readAllStandardOutput(); });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { m_process.readAllStandardError(); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            qCWarning(lcProcess, "cannot start \"%s\": %s", qUtf8Printable(m_process.program()),
                      qUtf8Printable(m_process.errorString()));
    });
}

ProcessManager::~ProcessManager()
{
    // The process member dies after this body; were its finished signal still connected, the finish
    // handler could run while the members it reads are being destroyed and start a new child.
    m_isRunning = false;
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        if (!m_process.waitForFinished(kReapTimeoutMs))
            qCWarning(lcProcess, "child %lld did not end after being killed", qint64(m_process.processId()));
    }
}

void ProcessManager::setIsRunning(bool isRunning)
{
    if (m_isRunning == isRunning)
        return;
    m_isRunning = isRunning;
    emit isRunningChanged();
}

void ProcessManager::setProgram(const QString &program)
{
    if (m_program == program)
        return;
    m_program = program;
    emit programChanged();
}

void ProcessManager::setArguments(const QStringList &arguments)
{
    m_arguments = arguments;
    emit argumentsChanged();
}

void ProcessManager::start()
{
    m_process.setProgram(m_program);
    m_process.setArguments(m_arguments);
    m_process.start(QIODevice::ReadWrite);
    if (!m_isRunning) {
        m_isRunning = true;
        emit isRunningChanged();
    }
}

void ProcessManager::stop()
{
    if (!m_isRunning)
        return;
    m_isRunning = false;
    emit isRunningChanged();
    m_process.kill();
}

void ProcessManager::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode)
    if (exitStatus == QProcess::CrashExit && m_isRunning) {
        qDebug("Restarting");
        start();
    }
    emit stopped();
}
