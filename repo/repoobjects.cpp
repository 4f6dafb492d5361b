#include "repo/repoobjects.h"

#include "repo/gatewayinfo.h"
#include "repo/localdatabase.h"
#include "repo/repologging.h"
#include "repo/streaminfo.h"
#include "video/sourceaddress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QVector>

namespace {

const char *const kStreamsUrl = "http://%1:%2/streams";
// Set on a reply that was aborted for being too large, so its handler does not
// mistake the truncated body for an answer.
const char *const kOversizeProperty = "quillonOversize";

} // namespace

RepoObjects::RepoObjects(QObject *parent)
    : QAbstractListModel(parent), Singleton<RepoObjects>(this), m_network(std::make_unique<QNetworkAccessManager>())
{
    m_roleNames = {
        {ObjIsActiveRole, "objIsActive"},
        {ObjIsParentActiveRole, "objIsParentActive"},
        {ObjIdRole, "objId"},
        {ObjIdParentRole, "objIdParent"},
        {ObjNameRole, "objName"},
        {ObjSerialRole, "objSerial"},
        {ObjUrlRole, "objUrl"},
        {ObjIsFisheyeRole, "objIsFisheye"},
        {ObjTypeRole, "objType"},
        {ObjHostRole, "objHost"},
        {ObjPortRole, "objPort"},
        {ObjZmqPortRole, "objZmqPort"},
        {ObjInstanceRole, "objInstance"},
    };
}

RepoObjects::~RepoObjects()
{
    // Pending replies die with the manager; make sure none of them reaches a
    // handler of this half-destroyed model on the way out.
    const auto replies = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        QObject::disconnect(reply, nullptr, this, nullptr);
    m_network.reset();
}

int RepoObjects::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children of their own.
    return parent.isValid() ? 0 : m_objects.size();
}

QHash<int, QByteArray> RepoObjects::roleNames() const
{
    return m_roleNames;
}

QVariant RepoObjects::data(const QModelIndex &index, int role) const
{
    if (index.row() < 0 || index.row() >= m_objects.size())
        return {};
    const ObjectPtr &object = m_objects.at(index.row());

    switch (role) {
    case ObjIsActiveRole:
        return object->isActive();
    case ObjIsParentActiveRole: {
        // A row whose parent is not in the model (a stream directly under the
        // root) has no switched-on gateway, so it reads as hidden.
        const ObjectPtr parent = m_objectsById.value(object->idParent());
        return parent ? parent->isActive() : false;
    }
    case ObjIdRole:
        return object->id();
    case ObjIdParentRole:
        return object->idParent();
    case ObjNameRole:
        return object->name();
    case ObjSerialRole:
        return object->serial();
    case ObjUrlRole:
        return object->url();
    case ObjIsFisheyeRole:
        return object->isFisheye();
    case ObjTypeRole:
        return static_cast<int>(object->type());
    case ObjHostRole:
        return object->host();
    case ObjPortRole:
        return object->port();
    case ObjZmqPortRole:
        return object->zmqPort();
    case ObjInstanceRole:
        return QVariant::fromValue(object.get());
    default:
        return {};
    }
}

bool RepoObjects::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != ObjIsActiveRole)
        return false;
    if (index.row() < 0 || index.row() >= m_objects.size())
        return false;
    const ObjectPtr &object = m_objects.at(index.row());
    const bool active = value.toBool();
    qCDebug(lcRepo, "Set %s isActive to %d", qPrintable(object->name()), active);
    object->setIsActive(active);
    const QModelIndex rowIndex = this->index(index.row(), 0);
    emit dataChanged(rowIndex, rowIndex, {ObjIsActiveRole});
    return true;
}

void RepoObjects::clear()
{
    beginResetModel();
    retireRows();
    m_imported = false;
    endResetModel();
}

void RepoObjects::setObjects(const ObjectList &objects)
{
    LocalDatabase *database = LocalDatabase::instance();
    const LocalDatabase::GatewayInfos gatewayInfos =
        database ? database->gatewayInfos() : LocalDatabase::GatewayInfos();
    const LocalDatabase::StreamInfos streamInfos = database ? database->streamInfos() : LocalDatabase::StreamInfos();

    beginResetModel();
    retireRows();
    m_imported = true;
    m_objects.reserve(objects.size());
    m_objectsById.reserve(objects.size());
    m_objectsBySerial.reserve(objects.size());
    QHash<Object *, QVector<int>> streamRows;
    // The connections below outlive this reset when a row's object is kept alive
    // elsewhere; they check the generation so that only the current rows announce.
    const quint64 generation = m_generation;

    for (const ObjectPtr &object : objects) {
        if (!object)
            continue;
        const int row = m_objects.size();
        m_objects.append(object);
        m_objectsById.insert(object->id(), object);
        m_objectsBySerial.insert(object->serial(), object);

        if (object->type() == Object::Device) {
            const auto info = gatewayInfos.value(object->serial());
            if (info)
                object->setIsActive(info->isActive);
            requestStreams(object);
        } else if (object->type() == Object::Stream) {
            const auto info = streamInfos.value(object->serial());
            if (info) {
                object->setIsActive(info->isActive);
                object->setCenterX(info->centerX);
                object->setCenterY(info->centerY);
                object->setRadius(info->radius);
                object->setFov(info->fov);
            }
            // The gateway normally precedes its streams in the list (gateways sort
            // first), so the id index already holds it here.
            const ObjectPtr parent = m_objectsById.value(object->idParent());
            if (parent)
                streamRows[parent.get()].append(row);
            connect(object.get(), &Object::zmqPortChanged, this, [this, row, generation] {
                if (generation != m_generation)
                    return;
                const QModelIndex rowIndex = index(row, 0);
                emit dataChanged(rowIndex, rowIndex, {ObjZmqPortRole});
            });
        }
    }

    // One connection per gateway announces objIsParentActive for each of its
    // stream rows, row by row, in list order.
    for (auto it = streamRows.cbegin(); it != streamRows.cend(); ++it) {
        const QVector<int> rows = it.value();
        connect(it.key(), &Object::isActiveChanged, this, [this, rows, generation] {
            if (generation != m_generation)
                return;
            for (const int row : rows) {
                const QModelIndex rowIndex = index(row, 0);
                emit dataChanged(rowIndex, rowIndex, {ObjIsParentActiveRole});
            }
        });
    }
    endResetModel();
}

void RepoObjects::retireRows()
{
    ++m_generation;
    if (m_objects.isEmpty() && m_objectsById.isEmpty() && m_objectsBySerial.isEmpty())
        return;
    m_retiredIndexes.append(std::move(m_objectsById));
    m_retiredIndexes.append(std::move(m_objectsBySerial));
    m_retiredRows.append(std::move(m_objects));
    m_objectsById = ObjectIndex();
    m_objectsBySerial = ObjectIndex();
    m_objects = ObjectList();
    if (!m_releaseQueued) {
        m_releaseQueued = true;
        QMetaObject::invokeMethod(this, &RepoObjects::releaseRetired, Qt::QueuedConnection);
    }
}

void RepoObjects::releaseRetired()
{
    m_releaseQueued = false;
    int budget = kReleaseSlice;
    while (budget > 0 && !m_retiredIndexes.isEmpty()) {
        ObjectIndex &index = m_retiredIndexes.first();
        if (!index.isDetached()) {
            // Someone else still holds this index; dropping our copy costs nothing.
            m_retiredIndexes.removeFirst();
            continue;
        }
        auto it = index.begin();
        for (; budget > 0 && it != index.end(); --budget)
            it = index.erase(it);
        if (index.isEmpty())
            m_retiredIndexes.removeFirst();
    }
    while (budget > 0 && !m_retiredRows.isEmpty()) {
        ObjectList &rows = m_retiredRows.first();
        if (!rows.isDetached()) {
            m_retiredRows.removeFirst();
            continue;
        }
        const int count = qMin(budget, rows.size());
        rows.erase(rows.end() - count, rows.end());
        budget -= count;
        if (rows.isEmpty())
            m_retiredRows.removeFirst();
    }
    if (!m_retiredIndexes.isEmpty() || !m_retiredRows.isEmpty()) {
        m_releaseQueued = true;
        QMetaObject::invokeMethod(this, &RepoObjects::releaseRetired, Qt::QueuedConnection);
    }
}

void RepoObjects::setDiscoveryTimeout(int milliseconds)
{
    m_discoveryTimeoutMs = milliseconds;
}

void RepoObjects::requestStreams(const ObjectPtr &gateway)
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
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, weakGateway] { onReplyData(reply, weakGateway); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, weakGateway] { onReplyFinished(reply, weakGateway); });
    m_untimedRequests.append({reply, weakGateway});
    if (m_untimedRequests.size() == 1)
        QMetaObject::invokeMethod(this, &RepoObjects::limitRequests, Qt::QueuedConnection);
}

void RepoObjects::limitRequests()
{
    QVector<Request> requests;
    requests.swap(m_untimedRequests);
    if (m_discoveryTimeoutMs <= 0)
        return;
    // The limit covers the whole request: a transfer time-out only counts silence,
    // and a gateway that trickles a byte now and then would keep its request open
    // for ever. One timer serves all the requests of an event-loop turn: Qt looks
    // through every timer of the thread when it sets up a request, so a timer per
    // request would make a site of many gateways slow to import.
    const int limit = m_discoveryTimeoutMs;
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

void RepoObjects::onReplyData(QNetworkReply *reply, const std::weak_ptr<Object> &gateway)
{
    if (reply->bytesAvailable() <= kMaxReplySize || reply->property(kOversizeProperty).toBool())
        return;
    const ObjectPtr object = gateway.lock();
    qCWarning(lcRepo, "Stream list of gateway '%s' is larger than %lld bytes; discarded",
              object ? qPrintable(object->name()) : "", static_cast<long long>(kMaxReplySize));
    reply->setProperty(kOversizeProperty, true);
    reply->abort();
}

void RepoObjects::onReplyFinished(QNetworkReply *reply, const std::weak_ptr<Object> &gateway)
{
    const ObjectPtr object = gateway.lock();
    if (!object || m_objectsById.value(object->id()) != object) {
        // The import that asked has been replaced; the answer belongs to no row.
        reply->deleteLater();
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcRepo, "Error: %s when fetching data of %s", qPrintable(QString::number(reply->error())),
                qPrintable(object->name()));
        reply->deleteLater();
        return;
    }
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    qCDebug(lcRepo, "Got results");
    qCDebug(lcRepo, "  Received %d bytes of data", static_cast<int>(body.size()));
    parseStreams(body, gateway);
}

void RepoObjects::parseStreams(const QByteArray &data, const std::weak_ptr<Object> &gateway)
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
            const ObjectPtr object = m_objectsBySerial.value(serial);
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
