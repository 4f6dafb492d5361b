#pragma once

// The packets that a libavformat RTSP client receives in its first seconds, as ffprobe lists them
// (time and key flag of each access unit), for the server tests.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

class FfprobePackets
{
public:
    struct Packet
    {
        bool timed = false; // libavformat leaves the first packet of an RTSP session without a time
        double seconds = 0.0;
        bool key = false;
    };

    FfprobePackets(const QString &url, double seconds)
    {
        m_process.start(QStringLiteral("ffprobe"),
                        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-rtsp_transport"),
                         QStringLiteral("tcp"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                         QStringLiteral("-show_entries"), QStringLiteral("packet=pts_time,flags"),
                         QStringLiteral("-of"), QStringLiteral("csv=p=0"), QStringLiteral("-read_intervals"),
                         QStringLiteral("%+") + QString::number(seconds), url});
    }
    ~FfprobePackets()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // The packets, once ffprobe ended within ms; empty when it failed.
    QVector<Packet> waitForPackets(int ms)
    {
        QVector<Packet> packets;
        // waitForFinished() is false for a process that has already ended.
        if ((m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(ms)) ||
            m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
            return packets;
        const QStringList lines = QString::fromUtf8(m_process.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const QStringList fields = line.trimmed().split(QLatin1Char(','));
            if (fields.size() < 2)
                continue;
            Packet packet;
            packet.seconds = fields[0].toDouble(&packet.timed);
            packet.key = fields[1].startsWith(QLatin1Char('K'));
            packets.append(packet);
        }
        return packets;
    }

    // What went wrong, for a failure message.
    QString errors()
    {
        return QStringLiteral("ffprobe %1 (exit status %2): %3")
            .arg(m_process.arguments().join(QLatin1Char(' ')))
            .arg(m_process.exitCode())
            .arg(QString::fromUtf8(m_process.readAllStandardError()));
    }

private:
    QProcess m_process;
};
