#pragma once

// Runs the streaming server program with its output collected, for the server tests.

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// One server process with its output collected line by line.
class ServerRun
{
public:
    explicit ServerRun(const QStringList &arguments, const QString &program = QStringLiteral(OSTREVAN_PROGRAM),
                       QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillon.*.debug=true"));
        m_process.setProcessEnvironment(env);
        m_process.start(program, arguments);
    }
    ~ServerRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }

    // Loopback only, a free port, CPU dewarping and small pictures: what every test run uses.
    static QStringList testOptions()
    {
        return {QStringLiteral("--port"),    QStringLiteral("0"),         QStringLiteral("--address"),
                QStringLiteral("127.0.0.1"), QStringLiteral("--dewarp"),  QStringLiteral("cpu"),
                QStringLiteral("--width"),   QStringLiteral("320"),       QStringLiteral("--height"),
                QStringLiteral("180"),       QStringLiteral("--bitrate"), QStringLiteral("4000")};
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAll());
        return m_output;
    }

    // Waits until the output holds text (after position from), up to ms.
    bool waitFor(const QString &text, int ms = 10000, int from = 0)
    {
        QDeadlineTimer deadline(ms);
        while (output().indexOf(text, from) < 0) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return output().indexOf(text, from) >= 0;
            m_process.waitForReadyRead(100);
        }
        return true;
    }

    int outputSize() { return output().size(); }

    // The RTSP port from the server's "RTSP server listening on ADDRESS:PORT" line; 0 until then.
    int waitForPort(int ms = 20000)
    {
        if (!waitFor(QStringLiteral("RTSP server listening on"), ms))
            return 0;
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("RTSP server listening on [^ ]*:(\\d+)")).match(output());
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    }

private:
    QProcess m_process;
    QString m_output;
};
