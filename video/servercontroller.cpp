#include "video/servercontroller.h"

#include "defish/servable.h"

#include "video/processmanager.h"
#include "video/videologging.h"

#include <QHash>
#include <QtConcurrent>

#include <cmath>

ServerController::ServerController(QObject *parent) : QObject(parent)
{
    connect(&m_listing, &QFutureWatcher<ServedViewsModel::Listing>::finished, this,
            &ServerController::viewsListed);
    setDatabase(LocalDatabase::instance());
    followServer();
}

ServerController::~ServerController()
{
    // The listing reads only its own copy of the rows.
    m_listing.waitForFinished();
}

void ServerController::setDatabase(LocalDatabase *database)
{
    disconnect(m_saveConnection);
    disconnect(m_savingConnection);
    m_database = database;
    if (!database)
        return;
    m_saveConnection = connect(database, &LocalDatabase::saveFinished, this, &ServerController::saveFinished);
    m_savingConnection = connect(database, &LocalDatabase::savingChanged, this, &ServerController::busyChanged);
}

LocalDatabase *ServerController::database() const
{
    return m_database;
}

void ServerController::setProcessManager(ProcessManager *process)
{
    if (m_process == process)
        return;
    if (m_process)
        m_process->disconnect(this);
    m_process = process;
    if (process) {
        connect(process, &ProcessManager::statusChanged, this, &ServerController::followServer);
        connect(process, &ProcessManager::serverStatusChanged, this, &ServerController::followServer);
    }
    followServer();
    emit processManagerChanged();
}

bool ServerController::isBusy() const
{
    return m_startPending || (m_database && m_database->isSaving());
}

bool ServerController::save()
{
    LocalDatabase *db = database();
    if (!db) {
        emit failed(tr("Not saved: there is no database"));
        return false;
    }
    if (!db->saveInBackground()) {
        emit failed(tr("Not saved: %1").arg(db->lastError()));
        return false;
    }
    return true;
}

void ServerController::start()
{
    if (!m_process || m_process->isRunning() || isBusy())
        return;
    setStartPending(true);
    if (!save())
        setStartPending(false);
}

void ServerController::stop()
{
    setStartPending(false);
    if (m_process)
        m_process->stop();
}

void ServerController::saveFinished(bool ok)
{
    const bool start = m_startPending;
    setStartPending(false);
    if (!ok) {
        emit failed(tr("Saving failed: %1").arg(database() ? database()->lastError() : QString()));
        return;
    }
    if (database())
        listViews(database()->savedRows());
    if (start && m_process && !m_process->isRunning())
        m_process->start();
}

void ServerController::listViews(const LocalDatabase::Snapshot &rows)
{
    // A listing still running for an earlier save is superseded; the watcher reports the last.
    m_listing.setFuture(QtConcurrent::run([rows] { return ServedViewsModel::listing(viewsToServe(rows)); }));
}

void ServerController::viewsListed()
{
    m_views.setListing(m_listing.result());
    followServer();
}

void ServerController::followServer()
{
    const ProcessManager::Status status = m_process ? m_process->status() : ProcessManager::Stopped;
    switch (status) {
    case ProcessManager::Starting:
        m_views.setPendingReason(tr("waiting for the server"));
        break;
    case ProcessManager::Running:
        m_views.setPendingReason(tr("the server does not serve it; see its log"));
        break;
    case ProcessManager::Stopped:
    case ProcessManager::Failed:
        m_views.setPendingReason(tr("the server is not running"));
        break;
    }
    if (m_process && m_process->isRunning() && m_process->statusChannel().hasStatus()) {
        const ProcessManager *process = m_process;
        m_views.applyStatus(process->statusChannel().status(),
                            [process](const QString &address) { return process->reachableAddress(address); });
    } else {
        m_views.clearServed();
    }
}

void ServerController::setStartPending(bool pending)
{
    if (m_startPending == pending)
        return;
    m_startPending = pending;
    emit busyChanged();
}

QVector<ServedViewsModel::Entry> ServerController::viewsToServe(const LocalDatabase::Snapshot &rows)
{
    QHash<QString, const GatewayInfo *> gateways;
    gateways.reserve(rows.gateways.size());
    for (const GatewayInfo &gateway : rows.gateways)
        gateways.insert(gateway.serial, &gateway);
    QHash<QString, const StreamInfo *> streams;
    streams.reserve(rows.streams.size());
    for (const StreamInfo &stream : rows.streams)
        streams.insert(stream.serial, &stream);

    QVector<ServedViewsModel::Entry> entries;
    entries.reserve(rows.views.size());
    for (const ViewInfo &view : rows.views) {
        ServedViewsModel::Entry entry;
        entry.streamSerial = view.serialStream;
        entry.viewName = view.name;
        const StreamInfo *stream = streams.value(view.serialStream);
        const GatewayInfo *gateway = stream ? gateways.value(stream->serialGateway) : nullptr;
        if (!view.isActive)
            entry.reason = tr("view not ticked");
        else if (!stream)
            entry.reason = tr("its stream has no address yet");
        else if (!stream->isActive)
            entry.reason = tr("its stream is switched off");
        else if (!gateway)
            entry.reason = tr("its stream's gateway is unknown");
        else if (!gateway->isActive)
            entry.reason = tr("its gateway is switched off");
        else if (!stream->isFisheye)
            entry.reason = tr("its stream is not a fisheye stream");
        else if (!Servable::lensIsSet(stream->radius, stream->fov))
            entry.reason = tr("the lens of its stream is not set");
        else if (view.mode == QLatin1String("perspective") &&
                 !Servable::aimIsServable(view.roll, view.tilt, view.pan, view.zoom))
            entry.reason = tr("its zoom is not between 0 and 180 degrees");
        entries.append(entry);
    }
    return entries;
}
