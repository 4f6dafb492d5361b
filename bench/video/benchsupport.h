#pragma once

// Helpers shared by the video benchmarks.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <sys/resource.h>

namespace bench {

// A 1080p30 H.264 clip (kept in the temporary folder between runs).
inline QString clip1080p(int seconds = 20)
{
    const QString path = QDir::temp().filePath(QStringLiteral("quillon-bench-1080p30-%1s.mp4").arg(seconds));
    if (QFile::exists(path))
        return path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                            "testsrc2=size=1920x1080:rate=30", "-t", QString::number(seconds), "-c:v",
                                            "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt", "yuv420p", path});
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

} // namespace bench
