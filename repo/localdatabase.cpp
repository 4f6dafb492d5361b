#include "repo/localdatabase.h"

#include "app/apppaths.h"
#include "repo/object.h"
#include "repo/objectsschema.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repologging.h"
#include "repo/repoobjects.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVariant>

namespace {

const char *const kDriver = "QSQLITE";
// SQLite result codes of a lock held by another connection.
const char *const kSqliteBusy = "5";
const char *const kSqliteLocked = "6";

// Reads result columns by name; a column missing from an older or foreign file
// reads as an invalid value instead of a warning per row.
class Columns
{
public:
    explicit Columns(const QSqlQuery &query) : m_record(query.record()) {}
    int operator()(const char *name) const { return m_record.indexOf(QLatin1String(name)); }

private:
    QSqlRecord m_record;
};

QVariant column(const QSqlQuery &query, int index)
{
    return index < 0 ? QVariant() : query.value(index);
}

void logFailure(const char *where, const QString &error)
{
    qCWarning(lcRepo, "At: %s", where);
    qCWarning(lcRepo, "  ERROR: %s", qPrintable(error));
}

bool execute(QSqlDatabase &db, const QString &statement, QSqlError *failure)
{
    QSqlQuery query(db);
    if (!query.exec(statement)) {
        qCWarning(lcRepo, "At: %s", "bool LocalDatabase::executeNonReturn(const QString&)");
        qCWarning(lcRepo, "  SQL: %s", qPrintable(statement));
        qCWarning(lcRepo, "  Error: %s", qPrintable(query.lastError().text()));
        *failure = query.lastError();
        return false;
    }
    return true;
}

// The file's format version; -1 when it cannot be read (no database, or locked).
int fileVersion(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QLatin1String(ObjectsSchema::kReadVersion)) || !query.next())
        return -1;
    return query.value(0).toInt();
}

QString newerFileText(int version)
{
    return LocalDatabase::tr("objects.data was written by a newer Quillon (file format %1; this version reads up to "
                             "%2); it is left as it is")
        .arg(version)
        .arg(ObjectsSchema::kVersion);
}

// Prepares one insert and runs it for every row; bind(query, i) binds row i.
template<typename Bind>
bool insertRows(QSqlDatabase &db, const char *where, const char *sql, int count, const char *done, Bind bind,
                QString *error)
{
    QSqlQuery query(db);
    bool ok = query.prepare(QLatin1String(sql));
    for (int i = 0; ok && i < count; ++i) {
        bind(query, i);
        ok = query.exec();
    }
    if (!ok) {
        *error = query.lastError().text();
        qCDebug(lcRepo, "At: %s", where);
        qCDebug(lcRepo, "  ERROR: %s", qPrintable(*error));
        return false;
    }
    qCInfo(lcRepo, "%s", done);
    return true;
}

// Replaces every row in one transaction: nothing is committed unless every row
// was written, so on any failure the file keeps exactly the rows it had. Runs on
// the thread that opened db.
bool writeRows(QSqlDatabase &db, const LocalDatabase::Snapshot &rows, QString *error)
{
    if (!db.transaction()) {
        *error = db.lastError().text();
        logFailure("bool LocalDatabase::save()", *error);
        return false;
    }
    QSqlError failure;
    // A file replaced by one of a newer Quillon since it was opened is not written over.
    const int version = fileVersion(db);
    if (version > ObjectsSchema::kVersion) {
        *error = newerFileText(version);
        logFailure("bool LocalDatabase::save()", *error);
        db.rollback();
        return false;
    }
    bool deleted = execute(db, QStringLiteral("DELETE FROM %1").arg(QLatin1String(ObjectsSchema::kGateways)), &failure);
    deleted =
        execute(db, QStringLiteral("DELETE FROM %1").arg(QLatin1String(ObjectsSchema::kStreams)), &failure) && deleted;
    deleted =
        execute(db, QStringLiteral("DELETE FROM %1").arg(QLatin1String(ObjectsSchema::kViews)), &failure) && deleted;
    // A file from before the format had a version gets one with its first save.
    deleted = execute(db, QLatin1String(ObjectsSchema::kWriteVersion), &failure) && deleted;
    if (!deleted)
        *error = failure.text();

    const auto &gateways = rows.gateways;
    const auto &streams = rows.streams;
    const auto &views = rows.views;
    const bool written =
        deleted &&
        insertRows(
            db, "bool LocalDatabase::saveGateways()", ObjectsSchema::kInsertGateway, gateways.size(), "Gateways saved",
            [&gateways](QSqlQuery &query, int i) {
                const GatewayInfo &row = gateways.at(i);
                query.bindValue(0, row.serial);
                query.bindValue(1, row.host);
                query.bindValue(2, row.port);
                query.bindValue(3, row.isActive);
            },
            error) &&
        insertRows(
            db, "bool LocalDatabase::saveStreams()", ObjectsSchema::kInsertStream, streams.size(), "Streams saved",
            [&streams](QSqlQuery &query, int i) {
                const StreamInfo &row = streams.at(i);
                query.bindValue(0, row.serialGateway);
                query.bindValue(1, row.serial);
                query.bindValue(2, row.url);
                query.bindValue(3, row.isFisheye);
                query.bindValue(4, row.centerX);
                query.bindValue(5, row.centerY);
                query.bindValue(6, row.radius);
                query.bindValue(7, static_cast<double>(row.fov));
                query.bindValue(8, row.isActive);
            },
            error) &&
        insertRows(
            db, "bool LocalDatabase::saveViews()", ObjectsSchema::kInsertView, views.size(), "Views saved",
            [&views](QSqlQuery &query, int i) {
                const ViewInfo &row = views.at(i);
                query.bindValue(0, row.serialStream);
                query.bindValue(1, row.name);
                query.bindValue(2, static_cast<double>(row.roll));
                query.bindValue(3, static_cast<double>(row.tilt));
                query.bindValue(4, static_cast<double>(row.pan));
                query.bindValue(5, static_cast<double>(row.zoom));
                query.bindValue(6, row.isActive);
            },
            error);
    if (written && db.commit())
        return true;
    if (written) {
        *error = db.lastError().text();
        logFailure("bool LocalDatabase::save()", *error);
    }
    if (!db.rollback())
        logFailure("bool LocalDatabase::save()", db.lastError().text());
    return false;
}

} // namespace

LocalDatabase::LocalDatabase(QObject *parent) : QObject(parent), Singleton<LocalDatabase>(this) {}

LocalDatabase::~LocalDatabase()
{
    waitForSave();
    closeDatabase();
}

QString LocalDatabase::dataPath() const
{
    if (!m_dataPath.isEmpty())
        return m_dataPath;
    return AppPaths::databasePath();
}

void LocalDatabase::setDataPath(const QString &path)
{
    m_dataPath = path;
}

void LocalDatabase::setBusyTimeout(int milliseconds)
{
    m_busyTimeoutMs = milliseconds;
}

QList<std::shared_ptr<ViewInfo>> LocalDatabase::orderedViewInfos() const
{
    QList<std::shared_ptr<ViewInfo>> result;
    result.reserve(m_viewOrder.size());
    for (const ViewKey &key : m_viewOrder) {
        const auto info = m_viewInfos.value(key);
        if (info)
            result.append(info);
    }
    return result;
}

void LocalDatabase::closeDatabase()
{
    if (!m_database.isValid())
        return;
    const QString name = m_database.connectionName();
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

bool LocalDatabase::open()
{
    // A save still running on its worker finishes first: its rows are what is read.
    waitForSave();
    setLoaded(false);
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(kDriver))) {
        qCWarning(lcRepo, "SQLite is not available");
        setLastError(tr("SQLite is not available"));
        return false;
    }

    closeDatabase();
    m_database = QSqlDatabase::addDatabase(QLatin1String(kDriver), QLatin1String(QSqlDatabase::defaultConnection));

    const QString path = dataPath();
    qCDebug(lcRepo) << "dataPath: " << path;
    m_database.setDatabaseName(path);
    m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    if (!m_database.open()) {
        qCDebug(lcRepo, "Can't open database");
        setLastError(m_database.lastError().text());
        return false;
    }

    // SQLite opens any file lazily; a file that is not a database (or a schema
    // that cannot be created) shows only here. Such a file is left untouched and
    // the record sets keep what they hold.
    const int version = fileVersion(m_database);
    if (version > ObjectsSchema::kVersion) {
        const QString text = newerFileText(version);
        qCWarning(lcRepo, "%s", qUtf8Printable(text));
        setLastError(text);
        closeDatabase();
        return false;
    }
    if (!createTables()) {
        qCDebug(lcRepo, "Can't open database");
        setLastError(m_lastError.text());
        // A lock held by another process passes; anything else means the file
        // is no database of ours, and the connection is dropped.
        const QString code = m_lastError.nativeErrorCode();
        if (code != QLatin1String(kSqliteBusy) && code != QLatin1String(kSqliteLocked))
            closeDatabase();
        return false;
    }
    if (!loadAll()) {
        setLastError(m_lastError.text());
        return false;
    }
    setLastError(QString());
    setLoaded(true);
    return true;
}

bool LocalDatabase::executeNonReturn(const QString &statement)
{
    return execute(m_database, statement, &m_lastError);
}

bool LocalDatabase::createTables()
{
    // A new file gets its format version with its tables.
    const bool created = m_database.tables().isEmpty();
    bool ok = true;
    for (const char *statement : ObjectsSchema::kCreateTables)
        ok = executeNonReturn(QLatin1String(statement)) && ok;
    if (ok && created)
        ok = executeNonReturn(QLatin1String(ObjectsSchema::kWriteVersion));
    return ok;
}

void LocalDatabase::clearRecords()
{
    m_gatewayInfos.clear();
    m_streamInfos.clear();
    m_viewInfos.clear();
    m_viewOrder.clear();
}

bool LocalDatabase::mayBeSaved()
{
    QString reason;
    const RepoObjects *objects = RepoObjects::instance();
    const RepoObjViews *views = RepoObjViews::instance();
    if (isSaving())
        reason = tr("a save is already running");
    else if (!m_database.isOpen())
        reason = tr("objects.data is not open");
    else if (!m_loaded)
        reason = tr("the stored gateways, streams and views could not be read from objects.data, and a save would "
                    "replace them");
    else if (!objects || !objects->isImported())
        reason = tr("the objects were not fetched from the event server");
    // The views table is replaced as a whole: written now, it would lose the saved views that are not
    // back in the model yet.
    else if (views && views->isRestoring())
        reason = tr("the saved views are still being restored");
    if (reason.isEmpty())
        return true;
    logFailure("bool LocalDatabase::save()", reason);
    setLastError(reason);
    return false;
}

LocalDatabase::Snapshot LocalDatabase::snapshot() const
{
    Snapshot rows;
    if (const RepoObjects *objects = RepoObjects::instance()) {
        const RepoObjects::ObjectIndex &byId = objects->objectsById();
        for (const auto &object : objects->objectsBySerial()) {
            if (object->type() == Object::Device) {
                rows.gateways.append({object->serial(), object->host(), object->port(), object->isActive()});
                continue;
            }
            if (object->type() != Object::Stream)
                continue;
            // A stream whose gateway has not answered yet keeps the source it had.
            const QString url =
                object->sourceUrl().isEmpty() ? m_storedUrls.value(object->serial()) : object->sourceUrl();
            if (url.isEmpty())
                continue;
            // A stream whose gateway is not in the model has no gateway serial.
            const auto parent = byId.value(object->idParent());
            rows.streams.append({parent ? parent->serial() : QString(QLatin1String("")), object->serial(), url,
                                 object->isFisheye(), object->centerX(), object->centerY(), object->radius(),
                                 object->fov(), object->isActive()});
        }
    }
    if (const RepoObjViews *views = RepoObjViews::instance()) {
        for (const auto &view : views->views())
            rows.views.append({view->objectSerial(), view->name(), view->roll(), view->tilt(), view->pan(),
                               view->zoom(), view->isActive()});
    }
    return rows;
}

bool LocalDatabase::save()
{
    if (!mayBeSaved())
        return false;
    const Snapshot rows = snapshot();
    QString error;
    const bool ok = writeRows(m_database, rows, &error);
    saveDone(ok, error, rows);
    return ok;
}

bool LocalDatabase::saveInBackground()
{
    if (!mayBeSaved())
        return false;
    const Snapshot rows = snapshot();
    const QString path = m_database.databaseName();
    const QString options = m_database.connectOptions();
    static int s_saves = 0;
    const QString connection = QStringLiteral("quillon-save-%1").arg(++s_saves);
    m_saveThread = QThread::create([this, rows, path, options, connection] {
        QString error;
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(kDriver), connection);
            db.setDatabaseName(path);
            db.setConnectOptions(options);
            if (db.open()) {
                ok = writeRows(db, rows, &error);
            } else {
                error = db.lastError().text();
                logFailure("bool LocalDatabase::save()", error);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        // The destructor waits for this thread, so the object is alive here; a call
        // still queued when it is destroyed is dropped with it.
        QMetaObject::invokeMethod(
            this,
            [this, ok, error, rows] {
                waitForSave();
                saveDone(ok, error, rows);
                emit saveFinished(ok);
            },
            Qt::QueuedConnection);
    });
    m_saveThread->start();
    emit savingChanged();
    return true;
}

void LocalDatabase::waitForSave()
{
    if (!m_saveThread)
        return;
    m_saveThread->wait();
    delete m_saveThread;
    m_saveThread = nullptr;
    emit savingChanged();
}

void LocalDatabase::saveDone(bool ok, const QString &error, const Snapshot &rows)
{
    if (!ok) {
        setLastError(error);
        return;
    }
    m_storedUrls.clear();
    for (const StreamInfo &stream : rows.streams)
        m_storedUrls.insert(stream.serial, stream.url);
    clearRecords();
    setLastError(QString());
}

void LocalDatabase::setLoaded(bool loaded)
{
    if (m_loaded == loaded)
        return;
    m_loaded = loaded;
    emit loadedChanged();
}

void LocalDatabase::setLastError(const QString &text)
{
    if (m_lastErrorText == text)
        return;
    m_lastErrorText = text;
    emit lastErrorChanged();
}

bool LocalDatabase::loadAll()
{
    bool ok = loadGateways();
    qCInfo(lcRepo, "Loaded %d gateways", static_cast<int>(m_gatewayInfos.size()));
    ok = loadStreams() && ok;
    qCInfo(lcRepo, "Loaded %d streams", static_cast<int>(m_streamInfos.size()));
    ok = loadViews() && ok;
    qCInfo(lcRepo, "Loaded %d views", static_cast<int>(m_viewInfos.size()));
    return ok;
}

bool LocalDatabase::loadGateways()
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(ObjectsSchema::kGateways))) ||
        !query.exec()) {
        qCWarning(lcRepo) << "bool LocalDatabase::loadGateways()";
        qCWarning(lcRepo) << "ERROR: " << query.lastError().text();
        m_lastError = query.lastError();
        return false;
    }
    m_gatewayInfos.clear();
    const Columns columns(query);
    const int serial = columns("serial"), host = columns("host"), port = columns("port"),
              isActive = columns("isActive");
    while (query.next()) {
        auto info = std::make_shared<GatewayInfo>();
        info->serial = column(query, serial).toString();
        info->host = column(query, host).toString();
        info->port = column(query, port).toInt();
        info->isActive = column(query, isActive).toInt() != 0;
        m_gatewayInfos.insert(info->serial, info);
    }
    return true;
}

bool LocalDatabase::loadStreams()
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(ObjectsSchema::kStreams))) ||
        !query.exec()) {
        qCWarning(lcRepo) << "bool LocalDatabase::loadStreams()";
        qCWarning(lcRepo) << "ERROR: " << query.lastError().text();
        m_lastError = query.lastError();
        return false;
    }
    m_streamInfos.clear();
    m_storedUrls.clear();
    const Columns columns(query);
    const int serialGateway = columns("serialGateway"), serial = columns("serial"), url = columns("url"),
              isFisheye = columns("isFisheye"), centerX = columns("centerX"), centerY = columns("centerY"),
              radius = columns("radius"), fov = columns("fov"), isActive = columns("isActive");
    while (query.next()) {
        auto info = std::make_shared<StreamInfo>();
        info->serialGateway = column(query, serialGateway).toString();
        info->serial = column(query, serial).toString();
        info->url = column(query, url).toString();
        info->isFisheye = column(query, isFisheye).toBool();
        // Stored as reals; the lens values are whole pixels, truncated toward zero.
        info->centerX = static_cast<int>(column(query, centerX).toFloat());
        info->centerY = static_cast<int>(column(query, centerY).toFloat());
        info->radius = static_cast<int>(column(query, radius).toFloat());
        info->fov = column(query, fov).toFloat();
        info->isActive = column(query, isActive).toBool();
        m_streamInfos.insert(info->serial, info);
        m_storedUrls.insert(info->serial, info->url);
    }
    return true;
}

bool LocalDatabase::loadViews()
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(ObjectsSchema::kViews))) || !query.exec()) {
        qCWarning(lcRepo) << "bool LocalDatabase::loadViews()";
        qCWarning(lcRepo) << "ERROR: " << query.lastError().text();
        m_lastError = query.lastError();
        return false;
    }
    m_viewInfos.clear();
    m_viewOrder.clear();
    const Columns columns(query);
    const int serialStream = columns("serialStream"), name = columns("name"), roll = columns("roll"),
              tilt = columns("tilt"), pan = columns("pan"), zoom = columns("zoom"), isActive = columns("isActive");
    while (query.next()) {
        auto info = std::make_shared<ViewInfo>();
        info->serialStream = column(query, serialStream).toString();
        info->name = column(query, name).toString();
        info->roll = column(query, roll).toFloat();
        info->tilt = column(query, tilt).toFloat();
        info->pan = column(query, pan).toFloat();
        info->zoom = column(query, zoom).toFloat();
        info->isActive = column(query, isActive).toBool();
        const ViewKey key(info->serialStream, info->name);
        if (!m_viewInfos.contains(key))
            m_viewOrder.append(key);
        m_viewInfos.insert(key, info);
    }
    return true;
}
