#pragma once

#include "video/childprocess.h"
#include <QJsonObject>

#include <QProcess>
#include <QString>

// The site simulator (scripts/site-sim.sh: event server, gateways, fisheye
// publisher) running a copy of a site file whose ports are replaced by free
// ephemeral ports on 127.0.0.1, so that several test runs can share the machine.
class SiteSim
{
public:
    SiteSim();
    ~SiteSim();

    // Copies templatePath into dir with fresh ports and starts the simulator;
    // returns once the event server and every gateway accept connections
    // (bounded), false with a reason in error() otherwise.
    // videoGateway, when given, limits the live video to that gateway's streams.
    bool start(const QString &templatePath, const QString &dir, const QString &videoGateway = QString());
    // Stops the simulator (all its programs) and waits for it, bounded.
    void stop();
    bool isRunning() const;

    QString error() const { return m_error; }
    QString sitePath() const { return m_sitePath; }
    const QJsonObject &site() const { return m_site; }

    QString esHost() const { return QStringLiteral("127.0.0.1"); }
    int esPort() const { return m_esPort; }
    QString username() const { return m_username; }
    QString password() const { return m_password; }

    // A port on 127.0.0.1 with nothing listening on it, at the time of the call.
    static int freePort();

private:
    bool rewritePorts();

    ChildProcess m_process;
    QJsonObject m_site;
    QString m_sitePath;
    QString m_error;
    int m_esPort = 0;
    QList<int> m_gatewayPorts;
    QString m_username;
    QString m_password;
};
