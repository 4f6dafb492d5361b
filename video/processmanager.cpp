#include "video/processmanager.h"

#include "video/videologging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QStandardPaths>

namespace {
// How long the destructor waits for a killed child to be reaped.
constexpr int kReapTimeoutMs = 5000;
// A line longer than this is cut; the rest of it is dropped.
constexpr int kMaxLineBytes = 4096;

} // namespace

QString ProcessManager::reachableHost()
{
    QString fallback;
    for (const QHostAddress &candidate : QNetworkInterface::allAddresses()) {
        if (candidate.isLoopback() || candidate.isLinkLocal() || !candidate.isGlobal())
            continue;
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
            return candidate.toString();
        if (fallback.isEmpty())
            fallback = QLatin1Char('[') + candidate.toString() + QLatin1Char(']');
    }
    return fallback;
}

QString ProcessManager::reachableAddress(const QString &address) const
{
    if (m_reachableHost.isEmpty() || m_localHostName.isEmpty())
        return address;
    const int scheme = address.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return address;
    const int hostStart = scheme + 3;
    const int hostEnd = hostStart + m_localHostName.size();
    if (QStringView(address).mid(hostStart, m_localHostName.size()).compare(m_localHostName, Qt::CaseInsensitive) !=
            0 ||
        (hostEnd < address.size() && address.at(hostEnd) != QLatin1Char(':') &&
         address.at(hostEnd) != QLatin1Char('/')))
        return address;
    return address.left(hostStart) + m_reachableHost + address.mid(hostEnd);
}

ProcessManager::ProcessManager(QObject *parent) : QObject(parent)
{
    m_settleTimer.setSingleShot(true);
    m_restartTimer.setSingleShot(true);
    connect(&m_settleTimer, &QTimer::timeout, this, [this] {
        m_quickCrashes = 0;
        setStatus(Running);
    });
    connect(&m_restartTimer, &QTimer::timeout, this, [this] {
        setRestartDelay(0);
        if (!m_isRunning)
            return;
        qCDebug(lcProcess, "Restarting");
        setRestartCount(m_restartCount + 1);
        launch();
    });
    connect(&m_process, &QProcess::started, this, &ProcessManager::onStarted);
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &ProcessManager::onFinished);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] { readOutput(QProcess::StandardOutput); });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { readOutput(QProcess::StandardError); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onStartFailed();
    });
    connect(&m_channel, &ServerStatusChannel::statusReceived, this, &ProcessManager::takeStatus);
}

ProcessManager::~ProcessManager()
{
    // The process member dies after this body; were its finished signal still connected, the finish
    // handler could run while the members it reads are being destroyed and start a new child.
    m_isRunning = false;
    m_restartTimer.stop();
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

void ProcessManager::setStatusChannel(bool use)
{
    if (m_usesStatusChannel == use)
        return;
    m_usesStatusChannel = use;
    emit statusChannelChanged();
}

QString ProcessManager::findProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    const QFileInfo beside(QDir(QCoreApplication::applicationDirPath()), program);
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(program);
}

int ProcessManager::backoffDelay(int quickCrashes)
{
    int delay = kFirstDelayMs;
    for (int i = 0; i < quickCrashes && delay < kMaxDelayMs; ++i)
        delay *= 2;
    return qMin(delay, kMaxDelayMs);
}

void ProcessManager::start()
{
    m_restartTimer.stop();
    setRestartDelay(0);
    m_quickCrashes = 0;
    setRestartCount(0);
    setLastError(QString());
    launch();
}

void ProcessManager::launch()
{
    setServedAddresses({});
    m_lastErrorLine.clear();
    m_partial[0].clear();
    m_partial[1].clear();
    const QString path = findProgram(m_program);
    if (path.isEmpty()) {
        fail(m_program.contains(QLatin1Char('/'))
                 ? tr("The server program %1 does not exist or cannot be run.").arg(m_program)
                 : tr("The server program \"%1\" is neither beside %2 nor on PATH.")
                       .arg(m_program, QDir::toNativeSeparators(QCoreApplication::applicationDirPath())));
        return;
    }
    QStringList arguments = m_arguments;
    m_localHostName = QHostInfo::localHostName();
    m_reachableHost = reachableHost();
    m_channel.close();
    m_process.setInheritedFd(-1);
    if (m_usesStatusChannel) {
        QString error;
        if (!m_channel.open(&error)) {
            fail(tr("The server's status channel cannot be opened: %1").arg(error));
            return;
        }
        m_process.setInheritedFd(m_channel.childFd());
        arguments += m_channel.serverArguments();
    }
    m_process.setProgram(path);
    m_process.setArguments(arguments);
    setStatus(Starting);
    setIsRunning(true);
    m_process.start(QIODevice::ReadWrite);
    // The child has its copy by now (or never will): the pipe ends when it does.
    m_channel.releaseChildEnd();
}

void ProcessManager::onStarted()
{
    m_sinceStart.start();
    m_settleTimer.start(m_settleMs);
    emit started();
}

void ProcessManager::onStartFailed()
{
    m_settleTimer.stop();
    fail(tr("The server program %1 cannot be started: %2").arg(m_process.program(), m_process.errorString()));
}

void ProcessManager::fail(const QString &why)
{
    qCWarning(lcProcess, "%s", qUtf8Printable(why));
    m_restartTimer.stop();
    setRestartDelay(0);
    setLastError(why);
    setServedAddresses({});
    setStatus(Failed);
    setIsRunning(false);
}

void ProcessManager::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_settleTimer.stop();
    // What is left of an unterminated last line.
    for (int channel = 0; channel < 2; ++channel) {
        if (!m_partial[channel].isEmpty())
            takeLine(QString::fromLocal8Bit(m_partial[channel]), channel == QProcess::StandardError);
        m_partial[channel].clear();
    }
    // What the server wrote before it ended is read first.
    m_channel.close();
    const QString lastLine = failureCause();
    if (!m_isRunning) {
        setServedAddresses({});
        setStatus(Stopped);
    } else if (exitStatus == QProcess::CrashExit) {
        const bool quick = !m_sinceStart.isValid() || m_sinceStart.elapsed() < m_settleMs;
        m_quickCrashes = quick ? m_quickCrashes + 1 : 1;
        const QString why = lastLine.isEmpty() ? tr("The server crashed.") : tr("The server crashed: %1").arg(lastLine);
        if (m_quickCrashes >= kMaxQuickCrashes) {
            fail(tr("%1 It crashed %2 times in a row soon after starting; not restarted again.")
                     .arg(why, QString::number(m_quickCrashes)));
        } else {
            qCWarning(lcProcess, "%s", qUtf8Printable(why));
            setLastError(why);
            setServedAddresses({});
            setStatus(Starting);
            const int delay = backoffDelay(m_quickCrashes - 1) / m_delayDivisor;
            setRestartDelay(delay);
            m_restartTimer.start(delay);
        }
    } else if (exitCode != 0) {
        fail(lastLine.isEmpty()
                 ? tr("The server ended with exit code %1.").arg(exitCode)
                 : tr("The server ended with exit code %1: %2").arg(QString::number(exitCode), lastLine));
    } else {
        qCInfo(lcProcess, "the server ended");
        setServedAddresses({});
        setStatus(Stopped);
        setIsRunning(false);
    }
    m_sinceStart.invalidate();
    emit stopped();
}

void ProcessManager::stop()
{
    if (!m_isRunning)
        return;
    m_isRunning = false;
    emit isRunningChanged();
    m_restartTimer.stop();
    setRestartDelay(0);
    if (m_process.state() == QProcess::NotRunning) {
        // Waiting for a restart: nothing to kill.
        m_channel.close();
        setServedAddresses({});
        setStatus(Stopped);
        return;
    }
    m_process.kill();
}

void ProcessManager::readOutput(QProcess::ProcessChannel channel)
{
    m_process.setReadChannel(channel);
    QByteArray &partial = m_partial[channel];
    partial += m_process.readAll();
    int start = 0;
    for (int end = partial.indexOf('\n'); end >= 0; end = partial.indexOf('\n', start)) {
        takeLine(QString::fromLocal8Bit(partial.constData() + start, qMin(end - start, kMaxLineBytes)),
                 channel == QProcess::StandardError);
        start = end + 1;
    }
    partial.remove(0, start);
    // A line without end is cut rather than kept growing.
    if (partial.size() > kMaxLineBytes)
        partial.truncate(kMaxLineBytes);
}

void ProcessManager::takeLine(const QString &text, bool isError)
{
    const QString line = text.trimmed();
    if (isError && !line.isEmpty())
        m_lastErrorLine = line;
}

QString ProcessManager::failureCause() const
{
    if (!m_channel.fatal().isEmpty())
        return m_channel.fatal();
    const QString reported = m_channel.lastReportedError();
    return reported.isEmpty() ? m_lastErrorLine : reported;
}

void ProcessManager::takeStatus()
{
    if (!m_isRunning)
        return;
    QStringList addresses;
    addresses.reserve(m_channel.status().views.size());
    for (const ServerStatus::View &view : m_channel.status().views)
        addresses.append(reachableAddress(view.address));
    setServedAddresses(addresses);
    emit serverStatusChanged();
}

void ProcessManager::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void ProcessManager::setLastError(const QString &error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

void ProcessManager::setRestartCount(int count)
{
    if (m_restartCount == count)
        return;
    m_restartCount = count;
    emit restartCountChanged();
}

void ProcessManager::setRestartDelay(int delayMs)
{
    if (m_restartDelay == delayMs)
        return;
    m_restartDelay = delayMs;
    emit restartDelayChanged();
}

void ProcessManager::setServedAddresses(const QStringList &addresses)
{
    if (m_servedAddresses == addresses)
        return;
    m_servedAddresses = addresses;
    emit servedAddressesChanged();
}
