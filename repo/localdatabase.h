#pragma once

#include "app/singleton.h"
#include "repo/gatewayinfo.h"
#include "repo/streaminfo.h"
#include "repo/viewinfo.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <memory>

// The SQLite file objects.data: written from the two list models, read back into
// three sets of records that carry the operator's settings over to the next import.
// The streaming server reads the same file, so its schema is fixed.
//
// A save replaces every row in one transaction: the file holds either the previous
// rows or the new ones, also when the process dies in the middle.
class LocalDatabase : public QObject, public Singleton<LocalDatabase>
{
    Q_OBJECT

public:
    // Views are told apart by their stream and their name together.
    using ViewKey = QPair<QString, QString>; // (serialStream, name)
    using GatewayInfos = QHash<QString, std::shared_ptr<GatewayInfo>>;
    using StreamInfos = QHash<QString, std::shared_ptr<StreamInfo>>;
    using ViewInfos = QHash<ViewKey, std::shared_ptr<ViewInfo>>;

    static constexpr int kDefaultBusyTimeoutMs = 5000;

    explicit LocalDatabase(QObject *parent = nullptr);
    ~LocalDatabase() override;

    const GatewayInfos &gatewayInfos() const { return m_gatewayInfos; }
    const StreamInfos &streamInfos() const { return m_streamInfos; }
    const ViewInfos &viewInfos() const { return m_viewInfos; }
    // The view records in the order of their rows in the file.
    QList<std::shared_ptr<ViewInfo>> orderedViewInfos() const;

    // The file opened by open(): objects.data beside the executable unless set.
    QString dataPath() const;
    void setDataPath(const QString &path);
    // How long a statement waits for a lock held by another process (the
    // streaming server reading the file) before it fails.
    int busyTimeout() const { return m_busyTimeoutMs; }
    void setBusyTimeout(int milliseconds);

public slots:
    bool open();
    bool save();

private:
    bool executeNonReturn(const QString &statement);
    bool createTables();
    bool deleteAll();
    void clearRecords();
    bool saveGateways();
    bool saveStreams();
    bool saveViews();
    void loadAll();
    bool loadGateways();
    bool loadStreams();
    bool loadViews();
    void closeDatabase();

    QSqlDatabase m_database;
    QSqlError m_lastError; // of the last failed statement
    GatewayInfos m_gatewayInfos;
    StreamInfos m_streamInfos;
    ViewInfos m_viewInfos;
    QList<ViewKey> m_viewOrder;
    QString m_dataPath;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
};
