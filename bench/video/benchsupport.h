#pragma once

// Helpers shared by the video benchmarks.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <sys/resource.h>

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

// The load average of the last 1, 5 and 15 minutes, as /proc/loadavg gives it.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

} // namespace bench
