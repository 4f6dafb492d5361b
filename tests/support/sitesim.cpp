#include "sitesim.h"

#include "freeport.h"

#include <csignal>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QTcpSocket>
#include <QtTest>

#ifndef QUILLON_SOURCE_DIR
#error "QUILLON_SOURCE_DIR must name the source tree"
#endif
#ifndef QUILLON_BUILD_DIR
#error "QUILLON_BUILD_DIR must name the build tree"
#endif

namespace {

bool isPortKey(const QString &key)
{
    return key.contains(QLatin1String("port"), Qt::CaseInsensitive);
}

// Replaces, under every key that names a port, the old port numbers by new ones,
// whether held as a number, as digits in a string, or as the "value" of a typed
// setting.
QJsonValue remap(const QJsonValue &value, const QMap<int, int> &ports, bool underPortKey)
{
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = remap(it.value(), ports, underPortKey || isPortKey(it.key()));
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i)
            array[i] = remap(array.at(i), ports, underPortKey);
        return array;
    }
    if (!underPortKey)
        return value;
    if (value.isDouble() && ports.contains(value.toInt()))
        return ports.value(value.toInt());
    if (value.isString()) {
        bool ok = false;
        const int port = value.toString().toInt(&ok);
        if (ok && ports.contains(port))
            return QString::number(ports.value(port));
    }
    return value;
}

void collectPorts(const QJsonValue &value, bool underPortKey, QSet<int> &out)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            collectPorts(it.value(), underPortKey || isPortKey(it.key()), out);
    } else if (value.isArray()) {
        for (const QJsonValue &v : value.toArray())
            collectPorts(v, underPortKey, out);
    } else if (underPortKey && value.isDouble() && value.toInt() > 0) {
        out.insert(value.toInt());
    } else if (underPortKey && value.isString()) {
        bool ok = false;
        const int port = value.toString().toInt(&ok);
        if (ok && port > 0)
            out.insert(port);
    }
}

bool accepts(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    const bool ok = socket.waitForConnected(200);
    socket.abort();
    return ok;
}

} // namespace

SiteSim::SiteSim() = default;

SiteSim::~SiteSim()
{
    stop();
}

int SiteSim::freePort()
{
    return freeLoopbackPort();
}

bool SiteSim::rewritePorts()
{
    QSet<int> old;
    collectPorts(m_site, false, old);
    QMap<int, int> ports;
    QSet<int> taken;
    for (int port : qAsConst(old)) {
        int fresh = 0;
        for (int tries = 0; tries < 20 && (fresh == 0 || taken.contains(fresh)); ++tries)
            fresh = freePort();
        if (fresh == 0) {
            m_error = QStringLiteral("no free port");
            return false;
        }
        taken.insert(fresh);
        ports.insert(port, fresh);
    }
    m_site = remap(m_site, ports, false).toObject();
    return true;
}

bool SiteSim::start(const QString &templatePath, const QString &dir, const QString &videoGateway)
{
    stop();
    QFile file(templatePath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1").arg(templatePath);
        return false;
    }
    m_site = QJsonDocument::fromJson(file.readAll()).object();
    if (m_site.isEmpty()) {
        m_error = QStringLiteral("%1 is not a site file").arg(templatePath);
        return false;
    }
    if (!rewritePorts())
        return false;

    m_esPort = freePort();
    const QJsonObject user = m_site.value(QStringLiteral("users")).toArray().at(0).toObject();
    m_username = user.value(QStringLiteral("name")).toString();
    m_password = user.value(QStringLiteral("password")).toString();
    m_gatewayPorts.clear();
    for (const QJsonValue &gateway : m_site.value(QStringLiteral("gateways")).toArray())
        m_gatewayPorts.append(gateway.toObject().value(QStringLiteral("port")).toInt());
    if (m_esPort == 0 || m_username.isEmpty()) {
        m_error = QStringLiteral("%1 names no event-server port or user").arg(templatePath);
        return false;
    }

    QDir().mkpath(dir);
    m_sitePath = QDir(dir).filePath(QStringLiteral("site.json"));
    QFile out(m_sitePath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write %1").arg(m_sitePath);
        return false;
    }
    out.write(QJsonDocument(m_site).toJson());
    out.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLON_BUILD_DIR"), QStringLiteral(QUILLON_BUILD_DIR));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    // The script stops the simulators it started when it is asked to: so it is, should the test die.
    m_process.setDeathSignal(SIGTERM);
    QStringList arguments{QStringLiteral(QUILLON_SOURCE_DIR "/scripts/site-sim.sh"), QStringLiteral("--es-port"),
                          QString::number(m_esPort)};
    if (!videoGateway.isEmpty())
        arguments << QStringLiteral("--video-gateway") << videoGateway;
    arguments << m_sitePath;
    m_process.start(QStringLiteral("bash"), arguments);
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("site-sim.sh did not start");
        return false;
    }
    QList<int> ports = m_gatewayPorts;
    ports.prepend(m_esPort);
    const bool up = QTest::qWaitFor(
        [this, &ports] {
            if (m_process.state() != QProcess::Running)
                return true;
            for (int port : qAsConst(ports)) {
                if (port > 0 && !accepts(port))
                    return false;
            }
            return true;
        },
        15000);
    if (!up || m_process.state() != QProcess::Running) {
        m_error = QStringLiteral("the site simulator did not come up (see its output above)");
        stop();
        return false;
    }
    return true;
}

void SiteSim::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // The launcher stops its programs on SIGTERM.
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SiteSim::isRunning() const
{
    return m_process.state() == QProcess::Running;
}
