#pragma once

// ffmpeg as an RTSP client for the server tests: libavcodec, which most viewers and recorders
// decode with, is stricter than GStreamer about how access units are cut and stamped. It decodes a
// loopback URL over TCP for a bounded time, logs every frame (showinfo) and keeps the last one.

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

class FfmpegClient
{
public:
    FfmpegClient(const QString &url, int seconds, const QString &lastFramePng) : m_png(lastFramePng)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        const QString duration = QString::number(seconds);
        m_process.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"),
                                                   QStringLiteral("-hide_banner"),
                                                   QStringLiteral("-nostats"),
                                                   QStringLiteral("-rtsp_transport"),
                                                   QStringLiteral("tcp"),
                                                   QStringLiteral("-i"),
                                                   url,
                                                   QStringLiteral("-map"),
                                                   QStringLiteral("0:v"),
                                                   QStringLiteral("-t"),
                                                   duration,
                                                   QStringLiteral("-vf"),
                                                   QStringLiteral("showinfo"),
                                                   QStringLiteral("-f"),
                                                   QStringLiteral("null"),
                                                   QStringLiteral("-"),
                                                   QStringLiteral("-map"),
                                                   QStringLiteral("0:v"),
                                                   QStringLiteral("-t"),
                                                   duration,
                                                   QStringLiteral("-update"),
                                                   QStringLiteral("1"),
                                                   QStringLiteral("-y"),
                                                   m_png});
    }
    ~FfmpegClient()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // True when ffmpeg ran to its end and exited with status 0 within ms.
    bool waitForSuccess(int ms)
    {
        // waitForFinished() is false for a process that has already ended.
        const bool finished = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
        m_log += QString::fromUtf8(m_process.readAll());
        return finished && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    // True when ffmpeg ended within ms, whatever its status.
    bool waitForEnd(int ms)
    {
        const bool finished = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
        m_log += QString::fromUtf8(m_process.readAll());
        return finished;
    }

    QString log() const { return m_log; }

    // The lines in which libavcodec or ffmpeg reports a damaged picture or a time going backwards,
    // from the first picture shown on. A client joining a shared view while a frame is on its way
    // gets that frame without its first slices; libavcodec conceals them, but shows nothing until
    // the key frame the server sends each new client.
    QStringList complaints() const
    {
        static const QRegularExpression bad(QStringLiteral("corrupt|concealing|non monotonically"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QStringList lines = m_log.split(QLatin1Char('\n'));
        const int firstShown = lines.indexOf(QRegularExpression(QStringLiteral(".*iskey:.*")));
        // Only a key frame shown first proves that nothing concealed before it reached the screen.
        const bool keyFirst = firstShown >= 0 && lines.at(firstShown).contains(QStringLiteral("iskey:1"));
        return (keyFirst ? QStringList(lines.mid(firstShown)) : lines).filter(bad);
    }

    int frames() const { return m_log.count(QStringLiteral("iskey:")); }

    QImage lastFrame() const { return QImage(m_png); }

private:
    QProcess m_process;
    QString m_png;
    QString m_log;
};
