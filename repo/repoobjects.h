#pragma once

#include "app/singleton.h"
#include "repo/object.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaObject>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// The one list model of every imported gateway and stream.
//
// Rows are replaced as a whole by clear() + setObjects() on every import. Each row is
// also reachable through two indexes (by id and by serial, later rows winning), which
// the local database reads when it saves and stream discovery uses to apply ports.
// Stream rows follow their gateway's isActive and their own zmqPort through signal
// connections made in setObjects() and broken at the next reset.
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
    };

    using ObjectPtr = std::shared_ptr<Object>;
    using ObjectIndex = QHash<QString, ObjectPtr>;

    // Largest discovery reply body that is read; a longer one is aborted and logged.
    static constexpr qint64 kMaxReplySize = 4 * 1024 * 1024;
    // Default limit for one discovery request, so a gateway that never answers
    // does not keep its request open for the rest of the run.
    static constexpr int kDefaultDiscoveryTimeoutMs = 10000;

    explicit RepoObjects(QObject *parent = nullptr);
    ~RepoObjects() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QHash<int, QByteArray> roleNames() const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    void clear();
    void setObjects(const QList<ObjectPtr> &objects);

    const ObjectIndex &objectsById() const { return m_objectsById; }
    const ObjectIndex &objectsBySerial() const { return m_objectsBySerial; }
    const QList<ObjectPtr> &objects() const { return m_objects; }

    int discoveryTimeout() const { return m_discoveryTimeoutMs; }
    void setDiscoveryTimeout(int milliseconds);

    void requestStreams(const ObjectPtr &gateway);
    void parseStreams(const QByteArray &data, const std::weak_ptr<Object> &gateway);

private:
    void disconnectRows();
    void onReplyFinished(QNetworkReply *reply, const std::weak_ptr<Object> &gateway);
    void onReplyData(QNetworkReply *reply, const std::weak_ptr<Object> &gateway);

    QHash<int, QByteArray> m_roleNames;
    ObjectIndex m_objectsById;
    ObjectIndex m_objectsBySerial;
    QList<ObjectPtr> m_objects;
    QList<QMetaObject::Connection> m_connections;
    std::unique_ptr<QNetworkAccessManager> m_network;
    int m_discoveryTimeoutMs = kDefaultDiscoveryTimeoutMs;
};
