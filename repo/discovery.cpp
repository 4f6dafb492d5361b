#include "repo/discovery.h"

#include "repo/object.h"
#include "repo/repologging.h"
#include "repo/sourceaddress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVector>

namespace {

const char *const kStreamsUrl = "http://%1:%2/streams";
// Set on a reply that was aborted for being too large, so its handler does not
// mistake the truncated body for an answer.
const char *const kOversizeProperty = "quillonOversize";

} // namespace

Discovery::Discovery(Lookup streamBySerial, QObject *parent)
    : QObject(parent), m_streamBySerial(std::move(streamBySerial)), m_network(std::make_unique<QNetworkAccessManager>())
{
}

Discovery::~Discovery()
{
    // Pending replies die with the manager; make sure none of them reaches a
    // handler of this half-destroyed object on the way out.
    const auto replies = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        QObject::disconnect(reply, nullptr, this, nullptr);
    m_network.reset();
}

void Discovery::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
}

void Discovery::reset()
{
    ++m_generation;
}

void Discovery::request(const ObjectPtr &gateway)
{
    if (!gateway)
        return;
    if (gateway->host().isEmpty()) {
        qCWarning(lcRepo, "Gateway '%s' doesn't have host info", qPrintable(gateway->name()));
        return;
    }
    if (gateway->port() == 0) {
        qCWarning(lcRepo, "Gateway '%s' doesn't have port info", qPrintable(gateway->name()));
        return;
    }

    const QUrl url(QString::fromLatin1(kStreamsUrl).arg(gateway->host()).arg(gateway->port()), QUrl::TolerantMode);
    QNetworkReply *reply = m_network->get(QNetworkRequest(url));
    const std::weak_ptr<Object> weakGateway = gateway;
    m_untimedRequests.append({reply, weakGateway});
    if (m_untimedRequests.size() == 1)
        QMetaObject::invokeMethod(this, &Discovery::limitRequests, Qt::QueuedConnection);
    const quint64 generation = m_generation;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, weakGateway] { onReplyData(reply, weakGateway); });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, weakGateway, generation] { onReplyFinished(reply, weakGateway, generation); });
}

void Discovery::limitRequests()
{
    QVector<Request> requests;
    requests.swap(m_untimedRequests);
    if (m_timeoutMs <= 0)
        return;
    // The limit covers the whole request: a transfer time-out only counts silence,
    // and a gateway that trickles a byte now and then would keep its request open
    // for ever. One timer serves all the requests of an event-loop turn: Qt looks
    // through every timer of the thread when it sets up a request, so a timer per
    // request would make a site of many gateways slow to import.
    const int limit = m_timeoutMs;
    QTimer::singleShot(limit, this, [requests, limit] {
        for (const Request &request : requests) {
            if (!request.reply || request.reply->isFinished())
                continue;
            const ObjectPtr object = request.gateway.lock();
            qCWarning(lcRepo, "Gateway '%s' did not answer its stream list within %d ms; request aborted",
                      object ? qPrintable(object->name()) : "", limit);
            request.reply->abort();
        }
    });
}

void Discovery::onReplyData(QNetworkReply *reply, const std::weak_ptr<Object> &gateway)
{
    if (reply->bytesAvailable() <= kMaxReplySize || reply->property(kOversizeProperty).toBool())
        return;
    const ObjectPtr object = gateway.lock();
    qCWarning(lcRepo, "Stream list of gateway '%s' is larger than %lld bytes; discarded",
              object ? qPrintable(object->name()) : "", static_cast<long long>(kMaxReplySize));
    reply->setProperty(kOversizeProperty, true);
    reply->abort();
}

void Discovery::onReplyFinished(QNetworkReply *reply, const std::weak_ptr<Object> &gateway, quint64 generation)
{
    reply->deleteLater();
    const ObjectPtr object = gateway.lock();
    // The rows that asked have been replaced; the answer belongs to no row.
    if (!object || generation != m_generation)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcRepo, "Error: %s when fetching data of %s", qPrintable(QString::number(reply->error())),
                qPrintable(object->name()));
        return;
    }
    const QByteArray body = reply->readAll();
    qCDebug(lcRepo, "Got results");
    qCDebug(lcRepo, "  Received %d bytes of data", static_cast<int>(body.size()));
    parseStreams(body, gateway);
}

void Discovery::parseStreams(const QByteArray &data, const std::weak_ptr<Object> &gateway)
{
    const ObjectPtr answering = gateway.lock();
    if (!answering)
        return;

    const QJsonArray gateways = QJsonDocument::fromJson(data).array();
    qCDebug(lcRepo, "Num of gateways: %d", static_cast<int>(gateways.size()));
    for (const QJsonValue &gatewayValue : gateways) {
        const QJsonObject gatewayObject = gatewayValue.toObject();
        qCDebug(lcRepo, "  Gw: %s", qPrintable(gatewayObject.value(QLatin1String("name")).toString()));

        const QJsonArray streams = gatewayObject.value(QLatin1String("streams")).toArray();
        for (const QJsonValue &streamValue : streams) {
            const QJsonObject stream = streamValue.toObject();
            const int port = stream.value(QLatin1String("zmq_port")).toInt(0);
            if (port == 0)
                continue;
            const QString serial = stream.value(QLatin1String("serial")).toString();
            const ObjectPtr object = m_streamBySerial ? m_streamBySerial(serial) : ObjectPtr();
            if (!object) {
                qCWarning(lcRepo, "no stream serial in registry");
                continue;
            }
            // A gateway speaks for its own streams only: a wrong or hostile answer
            // must not redirect another gateway's stream.
            if (object->type() != Object::Stream || object->idParent() != answering->id()) {
                qCWarning(lcRepo, "Gateway '%s' named '%s', which is not one of its streams; skipped",
                          qPrintable(answering->name()), qPrintable(serial));
                continue;
            }
            if (port < 0 || port > 65535) {
                qCWarning(lcRepo, "Stream '%s': zmq_port %d is not a TCP port; skipped", qPrintable(serial), port);
                continue;
            }
            qCInfo(lcRepo, "New zmqPort: %d", port);
            object->setZmqPort(port);
            object->setSourceUrl(QString::fromStdString(SourceAddress::forZmq(object->host().toStdString(), port)));
        }
    }
    qCInfo(lcRepo, "Parsing streams done");
}
