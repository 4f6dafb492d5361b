#pragma once

// Helpers shared by the video benchmarks.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

// A 1080p H.264 clip, 30 frames per second unless given (kept in the temporary folder between runs).
inline QString clip1080p(int seconds = 20, int rate = 30)
{
    const QString path = QDir::temp().filePath(QStringLiteral("quillon-bench-1080p%1-%2s.mp4").arg(rate).arg(seconds));
    if (QFile::exists(path))
        return path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  QStringLiteral("testsrc2=size=1920x1080:rate=%1").arg(rate), "-t", QString::number(seconds), "-c:v",
                  "libx264", "-preset", "veryfast", "-g", QString::number(rate), "-pix_fmt", "yuv420p", path});
    ffmpeg.waitForFinished(-1);
    return ffmpeg.exitCode() == 0 ? path : QString();
}

// CPU seconds (user + system) used by this process so far.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds (user + system) used so far by another process of this machine; -1 when it cannot be read.
inline double processCpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command's closing bracket, from the state (field 3) on: utime and stime are
    // fields 14 and 15.
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The load average of the last 1, 5 and 15 minutes, as /proc/loadavg gives it.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

} // namespace bench
