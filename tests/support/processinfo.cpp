#include "processinfo.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

namespace ProcessInfo {

QList<qint64> children(const QString &name)
{
    QList<qint64> found;
    const qint64 self = ::getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...; comm may hold spaces, so split at the last ')'.
        const QByteArray text = stat.readAll();
        const int open = text.indexOf('(');
        const int close = text.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QByteArray comm = text.mid(open + 1, close - open - 1);
        const QList<QByteArray> rest = text.mid(close + 2).split(' ');
        if (rest.size() < 2)
            continue;
        const char state = rest.at(0).isEmpty() ? '?' : rest.at(0).at(0);
        if (state == 'Z' || state == 'X')
            continue;
        if (rest.at(1).toLongLong() == self && QString::fromUtf8(comm) == name.left(15))
            found.append(pid);
    }
    return found;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace ProcessInfo
