#include "repo/localdatabase.h"

#include "defish/layoutcodec.h"

#include <QSet>

#include "app/apppaths.h"
#include "defish/fisheyeprojection.h"
#include "repo/object.h"
#include "repo/objectsschema.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repologging.h"
#include "repo/repoobjects.h"

#include <QDateTime>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QThreadPool>

#include <utility>
#include <QVariant>

namespace {

const char *const kDriver = "QSQLITE";
// SQLite result codes of a lock held by another connection.
const char *const kSqliteBusy = "5";
const char *const kSqliteLocked = "6";
const char *const kWhereOpen = "bool LocalDatabase::open()";
const char *const kWhereSave = "bool LocalDatabase::save()";

// One column of a table: the value a save binds from a row, and how a loaded
// value is kept in a row. A column missing from an older or foreign file loads
// as an invalid value. A secret column's values never reach the log.
template<typename Row> struct Column
{
    const char *name;
    QVariant (*value)(const Row &row);
    void (*load)(Row &row, const QVariant &stored);
    bool secret;
};

// One table: its name, the insert that takes one parameter per column in column
// order, the columns, and the line logged once all rows are written.
template<typename Row, int N> struct Table
{
    const char *name;
    const char *insert;
    Column<Row> columns[N];
    const char *saved;
};

const Table<GatewayInfo, 4> kGatewayTable = {
    ObjectsSchema::kGateways,
    ObjectsSchema::kInsertGateway,
    {
        {"serial", [](const GatewayInfo &r) -> QVariant { return r.serial; },
         [](GatewayInfo &r, const QVariant &v) { r.serial = v.toString(); }, false},
        {"host", [](const GatewayInfo &r) -> QVariant { return r.host; },
         [](GatewayInfo &r, const QVariant &v) { r.host = v.toString(); }, false},
        {"port", [](const GatewayInfo &r) -> QVariant { return r.port; },
         [](GatewayInfo &r, const QVariant &v) { r.port = v.toInt(); }, false},
        {"isActive", [](const GatewayInfo &r) -> QVariant { return r.isActive; },
         [](GatewayInfo &r, const QVariant &v) { r.isActive = v.toInt() != 0; }, false},
    },
    "Gateways saved",
};

// The lens values are stored as reals and kept as whole pixels (FisheyeLens::wholePixels). The
// source string may carry a camera's user name and password.
const Table<StreamInfo, 9> kStreamTable = {
    ObjectsSchema::kStreams,
    ObjectsSchema::kInsertStream,
    {
        {"serialGateway", [](const StreamInfo &r) -> QVariant { return r.serialGateway; },
         [](StreamInfo &r, const QVariant &v) { r.serialGateway = v.toString(); }, false},
        {"serial", [](const StreamInfo &r) -> QVariant { return r.serial; },
         [](StreamInfo &r, const QVariant &v) { r.serial = v.toString(); }, false},
        {"url", [](const StreamInfo &r) -> QVariant { return r.url; },
         [](StreamInfo &r, const QVariant &v) { r.url = v.toString(); }, true},
        {"isFisheye", [](const StreamInfo &r) -> QVariant { return r.isFisheye; },
         [](StreamInfo &r, const QVariant &v) { r.isFisheye = v.toBool(); }, false},
        {"centerX", [](const StreamInfo &r) -> QVariant { return r.centerX; },
         [](StreamInfo &r, const QVariant &v) { r.centerX = FisheyeLens::wholePixels(v.toDouble()); }, false},
        {"centerY", [](const StreamInfo &r) -> QVariant { return r.centerY; },
         [](StreamInfo &r, const QVariant &v) { r.centerY = FisheyeLens::wholePixels(v.toDouble()); }, false},
        {"radius", [](const StreamInfo &r) -> QVariant { return r.radius; },
         [](StreamInfo &r, const QVariant &v) { r.radius = FisheyeLens::wholePixels(v.toDouble()); }, false},
        {"fov", [](const StreamInfo &r) -> QVariant { return static_cast<double>(r.fov); },
         [](StreamInfo &r, const QVariant &v) { r.fov = v.toFloat(); }, false},
        {"isActive", [](const StreamInfo &r) -> QVariant { return r.isActive; },
         [](StreamInfo &r, const QVariant &v) { r.isActive = v.toBool(); }, false},
    },
    "Streams saved",
};

// What the streams table cannot hold, in a table of Quillon's own.
const Table<StreamInfo, 3> kStreamLensTable = {
    ObjectsSchema::kStreamLens,
    ObjectsSchema::kInsertStreamLens,
    {
        {"serial", [](const StreamInfo &r) -> QVariant { return r.serial; },
         [](StreamInfo &r, const QVariant &v) { r.serial = v.toString(); }, false},
        {"mount", [](const StreamInfo &r) -> QVariant { return r.mount; },
         [](StreamInfo &r, const QVariant &v) { r.mount = v.toString(); }, false},
        {"projection", [](const StreamInfo &r) -> QVariant { return r.projection; },
         [](StreamInfo &r, const QVariant &v) {
             r.projection = v.isNull() ? QStringLiteral("equidistant") : v.toString();
         },
         false},
    },
    "Stream lenses saved",
};

const Table<ViewInfo, 5> kViewLayoutTable = {
    ObjectsSchema::kViewLayouts,
    ObjectsSchema::kInsertViewLayout,
    {
        {"serialStream", [](const ViewInfo &r) -> QVariant { return r.serialStream; },
         [](ViewInfo &r, const QVariant &v) { r.serialStream = v.toString(); }, false},
        {"name", [](const ViewInfo &r) -> QVariant { return r.name; },
         [](ViewInfo &r, const QVariant &v) { r.name = v.toString(); }, false},
        {"mode", [](const ViewInfo &r) -> QVariant { return r.mode; },
         [](ViewInfo &r, const QVariant &v) { r.mode = v.toString(); }, false},
        {"layout", [](const ViewInfo &r) -> QVariant { return r.layout; },
         [](ViewInfo &r, const QVariant &v) { r.layout = v.toString(); }, false},
        {"isActive", [](const ViewInfo &r) -> QVariant { return r.isActive; },
         [](ViewInfo &r, const QVariant &v) { r.isActive = v.toBool(); }, false},
    },
    "View layouts saved",
};

const Table<ViewInfo, 7> kViewTable = {
    ObjectsSchema::kViews,
    ObjectsSchema::kInsertView,
    {
        {"serialStream", [](const ViewInfo &r) -> QVariant { return r.serialStream; },
         [](ViewInfo &r, const QVariant &v) { r.serialStream = v.toString(); }, false},
        {"name", [](const ViewInfo &r) -> QVariant { return r.name; },
         [](ViewInfo &r, const QVariant &v) { r.name = v.toString(); }, false},
        {"roll", [](const ViewInfo &r) -> QVariant { return static_cast<double>(r.roll); },
         [](ViewInfo &r, const QVariant &v) { r.roll = v.toFloat(); }, false},
        {"tilt", [](const ViewInfo &r) -> QVariant { return static_cast<double>(r.tilt); },
         [](ViewInfo &r, const QVariant &v) { r.tilt = v.toFloat(); }, false},
        {"pan", [](const ViewInfo &r) -> QVariant { return static_cast<double>(r.pan); },
         [](ViewInfo &r, const QVariant &v) { r.pan = v.toFloat(); }, false},
        {"zoom", [](const ViewInfo &r) -> QVariant { return static_cast<double>(r.zoom); },
         [](ViewInfo &r, const QVariant &v) { r.zoom = v.toFloat(); }, false},
        {"isActive", [](const ViewInfo &r) -> QVariant { return r.isActive; },
         [](ViewInfo &r, const QVariant &v) { r.isActive = v.toBool(); }, false},
    },
    "Views saved",
};

// The one report of everything that fails here: where, the statement (if any),
// the values bound to it with those of secret columns left out, and the
// driver's error or the reason.
void reportFailure(const char *where, const QString &statement, const QStringList &values, const QString &error)
{
    qCWarning(lcRepo, "At: %s", where);
    if (!statement.isEmpty())
        qCWarning(lcRepo, "  SQL: %s", qPrintable(statement));
    if (!values.isEmpty())
        qCWarning(lcRepo, "  Values: %s", qPrintable(values.join(QLatin1String(", "))));
    qCWarning(lcRepo, "  Error: %s", qPrintable(error));
}

void reportFailure(const char *where, const QString &error)
{
    reportFailure(where, QString(), {}, error);
}

bool execute(QSqlDatabase &db, const char *where, const QString &statement, QSqlError *failure)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    *failure = query.lastError();
    reportFailure(where, statement, {}, failure->text());
    return false;
}

// The values of one row as the report shows them.
template<typename Row, int N> QStringList shownValues(const Table<Row, N> &table, const Row &row)
{
    QStringList values;
    for (const Column<Row> &column : table.columns) {
        const QString text = column.secret ? QStringLiteral("(not shown)")
                                           : column.value(row).toString().replace(QLatin1Char('\n'), QLatin1Char(' '));
        values << QStringLiteral("%1=%2").arg(QLatin1String(column.name), text);
    }
    return values;
}

// Prepares the table's insert and runs it for every row.
template<typename Row, int N>
bool insertRows(QSqlDatabase &db, const Table<Row, N> &table, const QVector<Row> &rows, QString *error)
{
    QSqlQuery query(db);
    const QString statement = QLatin1String(table.insert);
    if (!query.prepare(statement)) {
        *error = query.lastError().text();
        reportFailure(kWhereSave, statement, {}, *error);
        return false;
    }
    for (const Row &row : rows) {
        for (int i = 0; i < N; ++i)
            query.bindValue(i, table.columns[i].value(row));
        if (!query.exec()) {
            *error = query.lastError().text();
            reportFailure(kWhereSave, statement, shownValues(table, row), *error);
            return false;
        }
    }
    qCInfo(lcRepo, "%s", table.saved);
    return true;
}

// Reads every row of the table; rows is left as it was when the table cannot be read.
template<typename Row, int N>
bool readRows(QSqlDatabase &db, const Table<Row, N> &table, QVector<Row> *rows, QSqlError *failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString statement = QStringLiteral("SELECT * FROM %1").arg(QLatin1String(table.name));
    if (!query.prepare(statement) || !query.exec()) {
        *failure = query.lastError();
        reportFailure(kWhereOpen, statement, {}, failure->text());
        return false;
    }
    const QSqlRecord record = query.record();
    int indexes[N];
    for (int i = 0; i < N; ++i)
        indexes[i] = record.indexOf(QLatin1String(table.columns[i].name));
    rows->clear();
    while (query.next()) {
        Row row;
        for (int i = 0; i < N; ++i)
            table.columns[i].load(row, indexes[i] < 0 ? QVariant() : query.value(indexes[i]));
        rows->append(row);
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

// Replaces every row in one transaction: nothing is committed unless every row
// was written, so on any failure the file keeps exactly the rows it had. Runs on
// the thread that opened db.
bool writeRows(QSqlDatabase &db, const LocalDatabase::Snapshot &rows, QString *error)
{
    if (!db.transaction()) {
        *error = db.lastError().text();
        reportFailure(kWhereSave, QStringLiteral("BEGIN"), {}, *error);
        return false;
    }
    QSqlError failure;
    // A file replaced by one of a newer Quillon since it was opened is not written over.
    const int version = fileVersion(db);
    if (version > ObjectsSchema::kVersion) {
        *error = newerFileText(version);
        reportFailure(kWhereSave, *error);
        db.rollback();
        return false;
    }
    // A file of an older format gains Quillon's own tables and the current version here, with its rows.
    // The first statement that fails ends the save: behind a lock each one would wait out the busy time.
    // Quillon's own tables are made anew, so that an older file's take the current columns.
    QStringList statements;
    for (const char *table : ObjectsSchema::kOwnTables)
        statements << QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(table));
    for (const char *statement : ObjectsSchema::kCreateOwnTables)
        statements << QLatin1String(statement);
    for (const char *table : {ObjectsSchema::kGateways, ObjectsSchema::kStreams, ObjectsSchema::kViews})
        statements << QStringLiteral("DELETE FROM %1").arg(QLatin1String(table));
    statements << QLatin1String(ObjectsSchema::kWriteVersion);
    bool deleted = true;
    for (const QString &statement : qAsConst(statements)) {
        if (!(deleted = execute(db, kWhereSave, statement, &failure)))
            break;
    }
    if (!deleted)
        *error = failure.text();

    // The views table holds the perspective views only: another reader would serve any other as one.
    QVector<ViewInfo> perspective;
    QVector<ViewInfo> layouts;
    for (const ViewInfo &view : rows.views)
        (view.mode == QLatin1String("perspective") ? perspective : layouts).append(view);
    const bool written = deleted && insertRows(db, kGatewayTable, rows.gateways, error) &&
                         insertRows(db, kStreamTable, rows.streams, error) &&
                         insertRows(db, kStreamLensTable, rows.streams, error) &&
                         insertRows(db, kViewTable, perspective, error) &&
                         insertRows(db, kViewLayoutTable, layouts, error);
    if (written && db.commit())
        return true;
    if (written) {
        *error = db.lastError().text();
        reportFailure(kWhereSave, QStringLiteral("COMMIT"), {}, *error);
    }
    if (!db.rollback())
        reportFailure(kWhereSave, QStringLiteral("ROLLBACK"), {}, db.lastError().text());
    return false;
}

// Creates the tables a file lacks; a new file also gets Quillon's own tables and the format version.
bool createTables(QSqlDatabase &db, QSqlError *failure)
{
    const bool created = db.tables().isEmpty();
    bool ok = true;
    for (const char *statement : ObjectsSchema::kCreateTables)
        ok = execute(db, kWhereOpen, QLatin1String(statement), failure) && ok;
    // A file of an older format opens as it is; its next save adds Quillon's own tables.
    if (created) {
        for (const char *statement : ObjectsSchema::kCreateOwnTables)
            ok = ok && execute(db, kWhereOpen, QLatin1String(statement), failure);
    }
    if (ok && created)
        ok = execute(db, kWhereOpen, QLatin1String(ObjectsSchema::kWriteVersion), failure);
    return ok;
}

} // namespace

// What one reading of the file found; made on any thread, with a connection of its own.
struct LocalDatabase::FileRead
{
    bool opened = false;   // the file could be opened at all
    bool ok = false;       // every table was read
    bool keepOpen = false; // the file is ours (or only locked): the session keeps a connection to it
    QString error;
    bool gatewaysRead = false, streamsRead = false, lensesRead = false, viewsRead = false;
    Snapshot rows;
    // The records made from the rows, on the reading thread: a large file never stalls the window.
    GatewayInfos gatewayInfos;
    StreamInfos streamInfos;
    ViewInfos viewInfos;
    QList<ViewKey> viewOrder;
    QHash<QString, QString> storedUrls;

    void makeRecords()
    {
        for (const GatewayInfo &row : qAsConst(rows.gateways))
            gatewayInfos.insert(row.serial, std::make_shared<GatewayInfo>(row));
        for (const StreamInfo &row : qAsConst(rows.streams)) {
            streamInfos.insert(row.serial, std::make_shared<StreamInfo>(row));
            storedUrls.insert(row.serial, row.url);
        }
        viewInfos.reserve(rows.views.size());
        for (const ViewInfo &row : qAsConst(rows.views)) {
            const ViewKey key(row.serialStream, row.name);
            if (!viewInfos.contains(key))
                viewOrder.append(key);
            viewInfos.insert(key, std::make_shared<ViewInfo>(row));
        }
        rows = Snapshot();
    }
};

LocalDatabase::FileRead LocalDatabase::readFile(const QString &path, const QString &options, bool readOnly)
{
    static QAtomicInt s_reads;
    const QString connection = QStringLiteral("quillon-read-%1").arg(s_reads.fetchAndAddRelaxed(1) + 1);
    FileRead read;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(kDriver), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(readOnly ? options + QStringLiteral(";QSQLITE_OPEN_READONLY") : options);
        read.opened = db.open();
        if (!read.opened) {
            qCDebug(lcRepo, "Can't open database");
            read.error = db.lastError().text();
        } else {
            read.keepOpen = true;
            QSqlError failure;
            // SQLite opens any file lazily; a file that is not a database (or a schema that cannot be
            // created) shows only here. Such a file is left untouched.
            const int version = fileVersion(db);
            if (version > ObjectsSchema::kVersion && !readOnly) {
                read.error = newerFileText(version);
                qCWarning(lcRepo, "%s", qUtf8Printable(read.error));
                read.keepOpen = false;
            } else if (!readOnly && !createTables(db, &failure)) {
                qCDebug(lcRepo, "Can't open database");
                read.error = failure.text();
                // A lock held by another process passes; anything else means the file is no
                // database of ours.
                const QString code = failure.nativeErrorCode();
                read.keepOpen = code == QLatin1String(kSqliteBusy) || code == QLatin1String(kSqliteLocked);
            } else {
                read.gatewaysRead = readRows(db, kGatewayTable, &read.rows.gateways, &failure);
                read.streamsRead = readRows(db, kStreamTable, &read.rows.streams, &failure);
                // A file of an older format has no mounts: its cameras hang on walls, as it was drawn.
                QVector<StreamInfo> lenses;
                const bool hasLenses = db.tables().contains(QLatin1String(ObjectsSchema::kStreamLens));
                read.lensesRead = !hasLenses || readRows(db, kStreamLensTable, &lenses, &failure);
                if (read.streamsRead && !lenses.isEmpty()) {
                    QHash<QString, const StreamInfo *> byStream;
                    for (const StreamInfo &row : qAsConst(lenses))
                        byStream.insert(row.serial, &row);
                    for (StreamInfo &row : read.rows.streams) {
                        if (const StreamInfo *lens = byStream.value(row.serial)) {
                            row.mount = lens->mount;
                            row.projection = lens->projection;
                        }
                    }
                }
                read.viewsRead = readRows(db, kViewTable, &read.rows.views, &failure);
                // Panoramas and quads, from format 3 on; a name the views table holds already keeps that view.
                if (read.viewsRead && db.tables().contains(QLatin1String(ObjectsSchema::kViewLayouts))) {
                    QVector<ViewInfo> layouts;
                    read.viewsRead = readRows(db, kViewLayoutTable, &layouts, &failure);
                    QSet<ViewKey> named;
                    for (const ViewInfo &row : qAsConst(read.rows.views))
                        named.insert(ViewKey(row.serialStream, row.name));
                    for (const ViewInfo &row : qAsConst(layouts)) {
                        if (!named.contains(ViewKey(row.serialStream, row.name)))
                            read.rows.views.append(row);
                    }
                }
                read.ok = read.gatewaysRead && read.streamsRead && read.lensesRead && read.viewsRead;
                if (!read.ok)
                    read.error = failure.text();
                read.makeRecords();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return read;
}

bool LocalDatabase::applyRead(const FileRead &read)
{
    if (read.gatewaysRead)
        releaseLater(std::exchange(m_gatewayInfos, read.gatewayInfos));
    if (read.opened)
        qCInfo(lcRepo, "Loaded %d gateways", static_cast<int>(m_gatewayInfos.size()));
    if (read.streamsRead) {
        releaseLater(std::exchange(m_streamInfos, read.streamInfos));
        m_storedUrls = read.storedUrls;
    }
    if (read.opened)
        qCInfo(lcRepo, "Loaded %d streams", static_cast<int>(m_streamInfos.size()));
    if (read.viewsRead) {
        releaseLater(std::exchange(m_viewInfos, read.viewInfos));
        m_viewOrder = read.viewOrder;
    }
    if (read.opened)
        qCInfo(lcRepo, "Loaded %d views", static_cast<int>(m_viewInfos.size()));

    // The session's own connection: opening an SQLite file takes no lock, so this never waits.
    if (read.keepOpen) {
        m_database = QSqlDatabase::addDatabase(QLatin1String(kDriver), QLatin1String(QSqlDatabase::defaultConnection));
        m_database.setDatabaseName(dataPath());
        m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
        if (!m_database.open())
            closeDatabase();
    }
    setOpenError(read.ok ? QString() : read.error);
    setLastError(read.ok ? QString() : read.error);
    setLoaded(read.ok);
    return read.ok;
}

bool LocalDatabase::prepareOpen()
{
    // A save still running on its worker finishes first: its rows are what is read.
    waitForSave();
    setLoaded(false);
    setReadOnly(false);
    closeDatabase();
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(kDriver))) {
        qCWarning(lcRepo, "SQLite is not available");
        setOpenError(tr("SQLite is not available"));
        setLastError(m_openError);
        return false;
    }
    qCDebug(lcRepo) << "dataPath: " << dataPath();
    return true;
}

QString LocalDatabase::connectOptions() const
{
    return QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs);
}

bool LocalDatabase::open()
{
    if (isOpening()) {
        setLastError(tr("objects.data is being read already"));
        return false;
    }
    if (!prepareOpen())
        return false;
    return applyRead(readFile(dataPath(), connectOptions(), false));
}

bool LocalDatabase::openInBackground()
{
    if (isOpening())
        return true;
    if (!prepareOpen())
        return false;
    const QString path = dataPath();
    const QString options = connectOptions();
    m_openThread = QThread::create([this, path, options] {
        const FileRead read = readFile(path, options, false);
        // The destructor waits for this thread, so the object is alive here.
        QMetaObject::invokeMethod(
            this,
            [this, read] {
                waitForOpen();
                const bool ok = applyRead(read);
                emit openFinished(ok);
            },
            Qt::QueuedConnection);
    });
    m_openThread->start();
    emit openingChanged();
    return true;
}

void LocalDatabase::waitForOpen()
{
    if (!m_openThread)
        return;
    m_openThread->wait();
    delete m_openThread;
    m_openThread = nullptr;
    emit openingChanged();
}

bool LocalDatabase::openReadOnly()
{
    const QString why = m_openError;
    if (isOpening() || !prepareOpen())
        return false;
    // Whatever can be read at once: a lock still held leaves the records as they are.
    FileRead read = readFile(dataPath(), QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"), true);
    read.keepOpen = false;
    const bool ok = read.ok;
    applyRead(read);
    // Never saved in this session, whatever was read.
    setLoaded(false);
    setOpenError(why.isEmpty() ? read.error : why);
    setLastError(m_openError);
    setReadOnly(true);
    qCInfo(lcRepo, "Read-only session: %s", ok ? "the stored settings were read" : "the stored settings could not be read");
    return ok;
}

LocalDatabase::LocalDatabase(QObject *parent) : QObject(parent), Singleton<LocalDatabase>(this) {}

LocalDatabase::~LocalDatabase()
{
    waitForOpen();
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

void LocalDatabase::applyStoredSettings(const QVector<std::shared_ptr<Object>> &objects) const
{
    for (const auto &object : objects) {
        if (!object)
            continue;
        if (object->type() == Object::Device) {
            if (const auto info = m_gatewayInfos.value(object->serial()))
                object->setIsActive(info->isActive);
        } else if (object->type() == Object::Stream) {
            if (const auto info = m_streamInfos.value(object->serial())) {
                object->setIsActive(info->isActive);
                object->setLens(info->lens());
            }
        }
    }
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

void LocalDatabase::clearRecords()
{
    releaseLater(std::exchange(m_gatewayInfos, {}));
    releaseLater(std::exchange(m_streamInfos, {}));
    releaseLater(std::exchange(m_viewInfos, {}));
    m_viewOrder.clear();
}

template<typename Records> void LocalDatabase::releaseLater(Records &&records)
{
    // Hundreds of thousands of records take a while to free: a pool thread does it. Each record is
    // shared with its reference count only, which is thread-safe.
    if (records.size() < kReleaseOnThisThread)
        return;
    QThreadPool::globalInstance()->start([dropped = std::move(records)]() mutable { dropped.clear(); });
}

bool LocalDatabase::mayBeSaved(const RepoObjects *objects, const RepoObjViews *views)
{
    QString reason;
    if (isSaving())
        reason = tr("a save is already running");
    else if (m_readOnly)
        reason = tr("this session is read-only: %1").arg(m_openError);
    else if (!m_database.isOpen())
        reason = m_openError.isEmpty() ? tr("objects.data is not open")
                                       : tr("objects.data is not open: %1").arg(m_openError);
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
    reportFailure(kWhereSave, reason);
    setLastError(reason);
    return false;
}

LocalDatabase::Snapshot LocalDatabase::snapshot(const RepoObjects *objects, const RepoObjViews *views) const
{
    Snapshot rows;
    if (objects) {
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
                                 object->fov(), object->isActive(), object->mount(), object->projection()});
        }
    }
    if (views) {
        for (const auto &view : views->views())
            rows.views.append({view->objectSerial(), view->name(), view->roll(), view->tilt(), view->pan(),
                               view->zoom(), view->isActive(), view->mode(),
                               view->mode() == QLatin1String("perspective") ? QString()
                                                                            : LayoutCodec::toJson(view->layout())});
    }
    return rows;
}

bool LocalDatabase::save()
{
    return save(RepoObjects::instance(), RepoObjViews::instance());
}

bool LocalDatabase::save(const RepoObjects *objects, const RepoObjViews *views)
{
    if (!mayBeSaved(objects, views))
        return false;
    const Snapshot rows = snapshot(objects, views);
    emit saveStarted();
    QString error;
    const bool ok = writeRows(m_database, rows, &error);
    saveDone(ok, error, rows);
    emit saveFinished(ok);
    return ok;
}

bool LocalDatabase::saveInBackground()
{
    return saveInBackground(RepoObjects::instance(), RepoObjViews::instance());
}

bool LocalDatabase::saveInBackground(const RepoObjects *objects, const RepoObjViews *views)
{
    if (!mayBeSaved(objects, views))
        return false;
    const Snapshot rows = snapshot(objects, views);
    emit saveStarted();
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
                reportFailure(kWhereSave, error);
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
    m_savedRows = rows;
    m_lastSave = {{QStringLiteral("gateways"), rows.gateways.size()},
                  {QStringLiteral("streams"), rows.streams.size()},
                  {QStringLiteral("views"), rows.views.size()},
                  {QStringLiteral("time"), QDateTime::currentDateTime()}};
    qCDebug(lcRepo, "Saved %d gateways, %d streams, %d views", int(rows.gateways.size()), int(rows.streams.size()),
            int(rows.views.size()));
    emit lastSaveChanged();
}

void LocalDatabase::setReadOnly(bool readOnly)
{
    if (m_readOnly == readOnly)
        return;
    m_readOnly = readOnly;
    emit readOnlyChanged();
}

void LocalDatabase::setOpenError(const QString &text)
{
    if (m_openError == text)
        return;
    m_openError = text;
    emit openErrorChanged();
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

