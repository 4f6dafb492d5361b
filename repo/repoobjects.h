#pragma once

#include "app/singleton.h"
#include "repo/object.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QVector>

#include <memory>

class Discovery;

// The one list model of every imported gateway and stream.
//
// Rows are replaced as a whole by clear() + setObjects() on every import. Each row is
// also reachable through two indexes (by id and by serial, later rows winning), which
// the local database reads when it saves and stream discovery uses to apply ports.
// setObjects() has every gateway asked for its streams by the model's Discovery,
// whose answers for replaced rows are dropped.
// Stream rows follow their gateway's isActive and their own zmqPort through signal
// connections made in setObjects(), which go quiet at the next reset; so do the
// announcements of a stream's lens or mount set after the import. Replaced rows
// are released after the reset, a slice per event-loop turn.
class RepoObjects : public QAbstractListModel, public Singleton<RepoObjects>
{
    Q_OBJECT

public:
    enum Roles {
        ObjIsActiveRole = Qt::UserRole + 1,
        ObjIsParentActiveRole,
        ObjIdRole,
        ObjIdParentRole,
        ObjNameRole,
        ObjSerialRole,
        ObjUrlRole,
        ObjIsFisheyeRole,
        ObjTypeRole,
        ObjHostRole,
        ObjPortRole,
        ObjZmqPortRole,
        ObjInstanceRole,
        // The name of the row's gateway; empty for a row without one in the model.
        ObjParentNameRole,
    };

    using ObjectPtr = std::shared_ptr<Object>;
    using ObjectIndex = QHash<QString, ObjectPtr>;
    using ObjectList = QVector<ObjectPtr>;

    // Rows (or index entries) of an earlier import released per event-loop turn.
    static constexpr int kReleaseSlice = 4096;

    explicit RepoObjects(QObject *parent = nullptr);
    ~RepoObjects() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QHash<int, QByteArray> roleNames() const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    void clear();
    void setObjects(const ObjectList &objects);

    const ObjectIndex &objectsById() const { return m_objectsById; }
    const ObjectIndex &objectsBySerial() const { return m_objectsBySerial; }
    const ObjectList &objects() const { return m_objects; }
    // Whether the rows are those of a finished import: set by setObjects(), unset by
    // clear(). An empty model after a failed fetch must never be saved over the file.
    bool isImported() const { return m_imported; }
    // Whether rows replaced by a reset are still waiting to be released.
    bool hasRetiredRows() const { return !m_retiredIndexes.isEmpty() || !m_retiredRows.isEmpty(); }

    // Forwarded to the model's Discovery.
    int discoveryTimeout() const;
    void setDiscoveryTimeout(int milliseconds);
    void requestStreams(const ObjectPtr &gateway);
    void parseStreams(const QByteArray &data, const std::weak_ptr<Object> &gateway);

signals:
    // The operator switched a gateway or stream, or set a stream's lens or mount (after the import
    // that made the row); what says which, for the log.
    void edited(const QString &what);

private:
    void retireRows();
    void releaseRetired();

    QHash<int, QByteArray> m_roleNames;
    ObjectIndex m_objectsById;
    ObjectIndex m_objectsBySerial;
    ObjectList m_objects;
    // Rows replaced by a reset, released a slice per event-loop turn afterwards:
    // dropping a site of 100,000 rows at once would stall the GUI thread.
    QVector<ObjectIndex> m_retiredIndexes;
    QVector<ObjectList> m_retiredRows;
    bool m_releaseQueued = false;
    bool m_imported = false;
    quint64 m_generation = 0;
    std::unique_ptr<Discovery> m_discovery;
};
