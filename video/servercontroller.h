#pragma once

#include "repo/localdatabase.h"
#include "video/servedviewsmodel.h"

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class ProcessManager;

// The main window's "Save", "Start" and "Stop": a start saves objects.data first and starts the
// streaming server (processManager) only once that save succeeded, so the server never runs on the
// previous file. After every save the stored views are listed in `views` with why each one cannot
// be served; while the server runs, its status marks the ones it serves, with their addresses.
//
// A save runs on LocalDatabase's worker; the list of views is made on a pool thread from the rows
// the save wrote and handed back through the future watcher. Refusals and failures are reported
// by failed(), for the window to show.
class ServerController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ProcessManager *processManager READ processManager WRITE setProcessManager NOTIFY processManagerChanged)
    Q_PROPERTY(ServedViewsModel *views READ views CONSTANT)
    // A save, or a start waiting for its save, is under way.
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)

public:
    explicit ServerController(QObject *parent = nullptr);
    ~ServerController() override;

    ProcessManager *processManager() const { return m_process; }
    void setProcessManager(ProcessManager *process);
    ServedViewsModel *views() { return &m_views; }
    bool isBusy() const;

    // The database saved to; LocalDatabase::instance() unless set (tests).
    void setDatabase(LocalDatabase *database);

    // Every view of rows, each with why it cannot be served (empty when nothing keeps it from it).
    static QVector<ServedViewsModel::Entry> viewsToServe(const LocalDatabase::Snapshot &rows);

    // False, with failed(), when the save is refused at once.
    Q_INVOKABLE bool save();
    // Saves, then starts the server; nothing while it runs or a save is under way.
    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();

signals:
    void processManagerChanged();
    void busyChanged();
    // A message for the operator: a save refused or failed.
    void failed(const QString &message);

private:
    LocalDatabase *database() const;
    void saveFinished(bool ok);
    void listViews(const LocalDatabase::Snapshot &rows);
    void viewsListed();
    void followServer();
    void setStartPending(bool pending);

    QPointer<LocalDatabase> m_database;
    QPointer<ProcessManager> m_process;
    QMetaObject::Connection m_saveConnection;
    QMetaObject::Connection m_savingConnection;
    ServedViewsModel m_views;
    QFutureWatcher<ServedViewsModel::Listing> m_listing;
    bool m_startPending = false;
};
