#include "repo/repoobjects.h"

#include "repo/discovery.h"
#include "repo/repologging.h"

RepoObjects::RepoObjects(QObject *parent)
    : QAbstractListModel(parent), Singleton<RepoObjects>(this),
      m_discovery(
          std::make_unique<Discovery>([this](const QString &serial) { return m_objectsBySerial.value(serial); }))
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
        {ObjParentNameRole, "objParentName"},
    };
}

// The discovery goes first: an answer still on its way must not look up rows
// that are being released.
RepoObjects::~RepoObjects()
{
    m_discovery.reset();
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
    case ObjParentNameRole: {
        const ObjectPtr parent = m_objectsById.value(object->idParent());
        return parent ? parent->name() : QString();
    }
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
    const bool changed = object->isActive() != active;
    object->setIsActive(active);
    if (changed)
        emit edited(QStringLiteral("%1 \"%2\" switched %3")
                        .arg(QLatin1String(object->type() == Object::Device ? "gateway" : "stream"), object->name(),
                             QLatin1String(active ? "on" : "off")));
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
            m_discovery->request(object);
        } else if (object->type() == Object::Stream) {
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
            // Stored settings were applied before the rows came here: what changes now is the operator's.
            Object *stream = object.get();
            connect(stream, &Object::lensChanged, this, [this, stream, generation] {
                if (generation == m_generation)
                    emit edited(QStringLiteral("lens or mount of stream \"%1\" set").arg(stream->name()));
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
    m_discovery->reset();
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

int RepoObjects::discoveryTimeout() const
{
    return m_discovery->timeout();
}

void RepoObjects::setDiscoveryTimeout(int milliseconds)
{
    m_discovery->setTimeout(milliseconds);
}

void RepoObjects::requestStreams(const ObjectPtr &gateway)
{
    m_discovery->request(gateway);
}

void RepoObjects::parseStreams(const QByteArray &data, const std::weak_ptr<Object> &gateway)
{
    m_discovery->parseStreams(data, gateway);
}
