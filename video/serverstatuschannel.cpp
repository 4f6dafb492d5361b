#include "video/serverstatuschannel.h"

#include "video/videologging.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSocketNotifier>
#include <QtConcurrent>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// A pipe line longer than this is not one of the server's: it is dropped.
constexpr int kMaxLineBytes = 8192;
// A poll that has not been answered in this time is abandoned.
constexpr int kReplyTimeoutMs = 5000;
} // namespace

ServerStatusChannel::ServerStatusChannel(QObject *parent) : QObject(parent)
{
    m_pollTimer.setInterval(kPollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &ServerStatusChannel::poll);
    connect(&m_parse, &QFutureWatcher<Parsed>::finished, this, &ServerStatusChannel::parsed);
    connect(&m_network, &QNetworkAccessManager::finished, this, &ServerStatusChannel::replied);
}

ServerStatusChannel::~ServerStatusChannel()
{
    close();
    // The pool thread reads nothing of ours, but the watcher must not outlive its future's result.
    m_parse.waitForFinished();
}

bool ServerStatusChannel::open(QString *error)
{
    close();
    ++m_generation;
    m_statusPort = -1;
    m_rtspPort = -1;
    m_status = ServerStatus();
    m_hasStatus = false;
    m_fatal.clear();
    m_partial.clear();
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        m_fds[0] = m_fds[1] = -1;
        return false;
    }
    // The server's end blocks like any pipe until it sets it otherwise; ours never does.
    ::fcntl(m_fds[1], F_SETFL, ::fcntl(m_fds[1], F_GETFL) & ~O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ServerStatusChannel::readPipe);
    return true;
}

QStringList ServerStatusChannel::serverArguments() const
{
    if (m_fds[1] < 0)
        return {};
    return {QStringLiteral("--status-fd"), QString::number(m_fds[1]), QStringLiteral("--status-address"),
            QStringLiteral("127.0.0.1")};
}

void ServerStatusChannel::releaseChildEnd()
{
    closeFd(1);
}

void ServerStatusChannel::close()
{
    // What the server wrote before it ended still counts.
    if (m_fds[0] >= 0 && m_fds[1] < 0)
        readPipe();
    ++m_generation;
    m_pollTimer.stop();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->abort();
    }
    delete m_notifier;
    m_notifier = nullptr;
    closeFd(0);
    closeFd(1);
}

void ServerStatusChannel::closeFd(int index)
{
    if (m_fds[index] >= 0)
        ::close(m_fds[index]);
    m_fds[index] = -1;
}

QString ServerStatusChannel::lastReportedError() const
{
    for (const ServerStatus::Source &source : m_status.sources) {
        if (!source.lastError.isEmpty())
            return tr("stream %1: %2").arg(source.streamSerial, source.lastError);
    }
    for (const ServerStatus::View &view : m_status.views) {
        if (!view.lastError.isEmpty())
            return tr("view “%1” of stream %2: %3").arg(view.name, view.streamSerial, view.lastError);
    }
    return {};
}

void ServerStatusChannel::readPipe()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fds[0], buffer, sizeof buffer);
        if (n > 0) {
            m_partial.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            // Every writer is gone: the child ended. What it said is kept.
            delete m_notifier;
            m_notifier = nullptr;
            closeFd(0);
        }
        break;
    }
    int start = 0;
    for (int end = m_partial.indexOf('\n'); end >= 0; end = m_partial.indexOf('\n', start)) {
        takeLine(m_partial.mid(start, end - start));
        start = end + 1;
    }
    m_partial.remove(0, start);
    if (m_partial.size() > kMaxLineBytes) {
        qCWarning(lcProcess, "The server's status pipe sent a line of over %d bytes; dropped", kMaxLineBytes);
        m_partial.clear();
    }
}

void ServerStatusChannel::takeLine(const QByteArray &line)
{
    if (line.trimmed().isEmpty())
        return;
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (object.contains(QLatin1String("fatal"))) {
        m_fatal = object.value(QLatin1String("fatal")).toString();
        emit fatalReceived(m_fatal);
        return;
    }
    const int statusPort = object.value(QLatin1String("statusPort")).toInt(-1);
    if (statusPort <= 0 || statusPort > 65535) {
        qCWarning(lcProcess, "The server's status pipe sent a line that is none of its own: %s",
                  qUtf8Printable(QString::fromUtf8(line.left(200))));
        return;
    }
    m_statusPort = statusPort;
    m_rtspPort = object.value(QLatin1String("rtspPort")).toInt(-1);
    qCDebug(lcProcess, "The server's status is at port %d, RTSP at port %d", m_statusPort, m_rtspPort);
    emit announced();
    poll();
    m_pollTimer.start();
}

void ServerStatusChannel::poll()
{
    // One request and one parse at a time: a slow answer is not piled on.
    if (m_reply || m_parse.isRunning() || m_statusPort <= 0)
        return;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/status").arg(m_statusPort)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(kReplyTimeoutMs);
    m_reply = m_network.get(request);
    m_reply->setProperty("generation", m_generation);
}

void ServerStatusChannel::replied(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply || reply->property("generation").toInt() != m_generation)
        return;
    m_reply = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        // A server that is ending or restarting; the next poll tries again.
        qCDebug(lcProcess, "Status request failed: %s", qUtf8Printable(reply->errorString()));
        return;
    }
    if (reply->size() > kMaxDocumentBytes) {
        qCWarning(lcProcess, "The server's status is %lld bytes; not read", qint64(reply->size()));
        return;
    }
    const QByteArray body = reply->readAll();
    m_parseGeneration = m_generation;
    m_parse.setFuture(QtConcurrent::run([body] {
        Parsed result;
        result.ok = ServerStatus::fromJson(body, &result.status, &result.error);
        return result;
    }));
}

void ServerStatusChannel::parsed()
{
    if (m_parseGeneration != m_generation)
        return;
    const Parsed result = m_parse.result();
    if (!result.ok) {
        qCWarning(lcProcess, "The server's status cannot be read: %s", qUtf8Printable(result.error));
        return;
    }
    m_status = result.status;
    m_hasStatus = true;
    emit statusReceived();
}
