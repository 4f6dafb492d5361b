#include "platform/ostrevan/statuspipe.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_fd = -1;

void writeLine(const QJsonObject &object)
{
    if (g_fd < 0)
        return;
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    // Longer lines could arrive interleaved or cut; a fatal text is cut instead.
    if (line.size() + 1 > PIPE_BUF)
        return;
    line += '\n';
    ssize_t written;
    do {
        written = ::write(g_fd, line.constData(), size_t(line.size()));
    } while (written < 0 && errno == EINTR);
}

} // namespace

bool StatusPipe::open(int fd, QString *error)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (fd < 0 || flags < 0) {
        *error = QStringLiteral("--status-fd %1 is not an open file descriptor").arg(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    g_fd = fd;
    return true;
}

bool StatusPipe::isOpen()
{
    return g_fd >= 0;
}

void StatusPipe::announce(int statusPort, int rtspPort)
{
    writeLine(QJsonObject{{QStringLiteral("statusPort"), statusPort}, {QStringLiteral("rtspPort"), rtspPort}});
}

void StatusPipe::fatal(const QString &text)
{
    // Room for the braces, the key and escaped characters.
    writeLine(QJsonObject{{QStringLiteral("fatal"), text.left(PIPE_BUF / 4)}});
}
