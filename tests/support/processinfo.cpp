#include "processinfo.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ProcessInfo {

namespace {
struct Stat
{
    QByteArray comm;
    char state = '?';
    qint64 parent = 0;
};

bool readStat(qint64 pid, Stat *stat)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // pid (comm) state ppid ...; comm may hold spaces, so split at the last ')'.
    const QByteArray text = file.readAll();
    const int open = text.indexOf('(');
    const int close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return false;
    const QList<QByteArray> rest = text.mid(close + 2).split(' ');
    if (rest.size() < 2)
        return false;
    stat->comm = text.mid(open + 1, close - open - 1);
    stat->state = rest.at(0).isEmpty() ? '?' : rest.at(0).at(0);
    stat->parent = rest.at(1).toLongLong();
    return true;
}

bool living(const Stat &stat)
{
    return stat.state != 'Z' && stat.state != 'X';
}
} // namespace

QList<qint64> children(const QString &name, qint64 parent)
{
    QList<qint64> found;
    if (parent < 0)
        parent = ::getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        Stat stat;
        if (!isPid || !readStat(pid, &stat) || !living(stat))
            continue;
        if (stat.parent == parent && QString::fromUtf8(stat.comm) == name.left(15))
            found.append(pid);
    }
    return found;
}

bool isAlive(qint64 pid)
{
    Stat stat;
    return readStat(pid, &stat) && living(stat);
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

qint64 heapInUseKiB()
{
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
#else
    return -1;
#endif
}

} // namespace ProcessInfo
