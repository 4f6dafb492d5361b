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
#include <QVariantMap>
#include <QVector>

#include <memory>

class Object;
class QThread;
class RepoObjects;
class RepoObjViews;

// The SQLite file objects.data: written from the two list models, read back into
// three sets of records that carry the operator's settings over to the next import.
// The streaming server reads the same file, so its schema is fixed.
//
// A save replaces every row in one transaction: the file holds either the previous
// rows or the new ones, also when the process dies in the middle. A save is refused
// while the rows it would replace were never read (the last open() failed) or the
// object model holds no finished import: either would wipe the stored settings.
//
// Each table is read and written through one table of its columns. Whatever
// fails is logged by one reporter: the statement, the values bound to it (never
// a stream's source string, which may hold a camera's password) and the
// driver's error.
//
// The rows loaded by open() are handed back as plain records; an import applies
// the stored settings to its new objects with applyStoredSettings() before they
// reach the object model.
//
// saveInBackground() takes its rows from the models on the GUI thread and writes
// them on a worker thread with a connection of its own, so a lock held by another
// process never freezes the window; the outcome comes back as a queued call.
class LocalDatabase : public QObject, public Singleton<LocalDatabase>
{
    Q_OBJECT
    Q_PROPERTY(bool loaded READ isLoaded NOTIFY loadedChanged)
    Q_PROPERTY(bool saving READ isSaving NOTIFY savingChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // Why the last open failed; empty after one that read the file.
    Q_PROPERTY(QString openError READ openError NOTIFY openErrorChanged)
    // openInBackground() is reading the file.
    Q_PROPERTY(bool opening READ isOpening NOTIFY openingChanged)
    // The operator went on without a readable file (openReadOnly()): nothing is saved.
    Q_PROPERTY(bool readOnly READ isReadOnly NOTIFY readOnlyChanged)
    // What the last successful save wrote: {"gateways", "streams", "views" (row counts), "time"
    // (QDateTime)}; empty before the first.
    Q_PROPERTY(QVariantMap lastSave READ lastSave NOTIFY lastSaveChanged)

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
    // Gives freshly imported gateways and streams the switch and lens settings
    // stored for their serials.
    void applyStoredSettings(const QVector<std::shared_ptr<Object>> &objects) const;

    // The file opened by open(): AppPaths::databasePath() unless set.
    QString dataPath() const;
    void setDataPath(const QString &path);
    // How long a statement waits for a lock held by another process (the
    // streaming server reading the file) before it fails.
    int busyTimeout() const { return m_busyTimeoutMs; }
    void setBusyTimeout(int milliseconds);

    // Whether the last open() read all three tables; saves are refused otherwise.
    bool isLoaded() const { return m_loaded; }
    bool isSaving() const { return m_saveThread != nullptr; }
    bool isOpening() const { return m_openThread != nullptr; }
    bool isReadOnly() const { return m_readOnly; }
    QString openError() const { return m_openError; }
    // Why the last open() or save failed or was refused, for the operator.
    QString lastError() const { return m_lastErrorText; }
    QVariantMap lastSave() const { return m_lastSave; }

    // One save's rows, taken from the models on the GUI thread.
    struct Snapshot
    {
        QVector<GatewayInfo> gateways;
        QVector<StreamInfo> streams;
        QVector<ViewInfo> views;
    };

    // The rows the last successful save wrote; empty before the first.
    const Snapshot &savedRows() const { return m_savedRows; }

    // save() and saveInBackground() with the rows of these models.
    bool save(const RepoObjects *objects, const RepoObjViews *views);
    bool saveInBackground(const RepoObjects *objects, const RepoObjViews *views);

signals:
    void loadedChanged();
    void savingChanged();
    void lastErrorChanged();
    void lastSaveChanged();
    void openErrorChanged();
    void openingChanged();
    void readOnlyChanged();
    // The outcome of openInBackground(); openError says why it failed.
    void openFinished(bool ok);
    // A save took its rows from the models (both save() and saveInBackground()); what changes
    // after this is not in the file it writes.
    void saveStarted();
    // The outcome of that save; lastError says why it failed.
    void saveFinished(bool ok);

public slots:
    // Reads the file on this thread; a lock held by another process makes it wait up to busyTimeout().
    bool open();
    // The same on a worker thread: false only when refused at once; openFinished() follows.
    bool openInBackground();
    // Goes on without saving: reads what can be read at once (without waiting for a lock), so the
    // stored switches and lenses still show, and marks the session read-only. True when every
    // table was read.
    bool openReadOnly();
    // Both save the rows of the application's object and view models.
    bool save();
    // False when the save is refused at once (lastError says why); otherwise the
    // rows are written on a worker thread and saveFinished() follows.
    bool saveInBackground();

private:
    struct FileRead;
    static FileRead readFile(const QString &path, const QString &options, bool readOnly);
    bool applyRead(const FileRead &read);
    bool prepareOpen();
    QString connectOptions() const;
    void waitForOpen();
    void setReadOnly(bool readOnly);
    void setOpenError(const QString &text);
    bool mayBeSaved(const RepoObjects *objects, const RepoObjViews *views);
    Snapshot snapshot(const RepoObjects *objects, const RepoObjViews *views) const;
    void saveDone(bool ok, const QString &error, const Snapshot &rows);
    void clearRecords();
    // Frees records on a pool thread when there are many; fewer go here and now.
    static constexpr int kReleaseOnThisThread = 4096;
    template<typename Records> static void releaseLater(Records &&records);
    void closeDatabase();
    void waitForSave();
    void setLoaded(bool loaded);
    void setLastError(const QString &text);

    QSqlDatabase m_database;
    GatewayInfos m_gatewayInfos;
    StreamInfos m_streamInfos;
    ViewInfos m_viewInfos;
    QList<ViewKey> m_viewOrder;
    // The source string last stored for each stream: kept for a stream whose own
    // is not known yet (its gateway has not answered).
    QHash<QString, QString> m_storedUrls;
    bool m_loaded = false;
    QString m_lastErrorText;
    QVariantMap m_lastSave;
    Snapshot m_savedRows;
    QThread *m_saveThread = nullptr;
    QThread *m_openThread = nullptr;
    bool m_readOnly = false;
    QString m_openError;
    QString m_dataPath;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
};
