#include "repo/localdatabase.h"

#include "repo/object.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {

const char *const kCreateGateways = "CREATE TABLE IF NOT EXISTS gateways (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "serial TEXT,host TEXT,port INTEGER,isActive INTEGER)";
const char *const kCreateStreams =
    "CREATE TABLE IF NOT EXISTS streams (id INTEGER PRIMARY KEY AUTOINCREMENT, serialGateway TEXT,serial TEXT,url "
    "TEXT,isFisheye INTEGER,centerX REAL,centerY REAL,radius REAL,fov REAL,isActive INTEGER)";
const char *const kCreateViews = "CREATE TABLE IF NOT EXISTS views (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                 "serialStream TEXT, name TEXT, roll REAL, tilt REAL, pan REAL, zoom REAL, isActive "
                                 "INTEGER)";

const char *const kInsertGateway =
    "INSERT INTO gateways( serial,  host,  port,  isActive)              VALUES(:serial, :host, :port, :isActive)";
const char *const kInsertStream =
    "INSERT INTO streams( serialGateway,  serial,  url,  isFisheye,  centerX,  centerY,  radius,  fov,  isActive)  "
    "           VALUES(:serialGateway, :serial, :url, :isFisheye, :centerX, :centerY, :radius, :fov, :isActive)";
const char *const kInsertView = "INSERT INTO views( serialStream,  name,  roll,  tilt,  pan,  zoom,  isActive)         "
                                "  VALUES(:serialStream, :name, :roll, :tilt, :pan, :zoom, :isActive)";

const char *const kDriver = "QSQLITE";
const char *const kFileName = "/objects.data";
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
    qWarning("At: %s", where);
    qWarning("  ERROR: %s", qPrintable(error));
}

} // namespace

LocalDatabase::LocalDatabase(QObject *parent) : QObject(parent), Singleton<LocalDatabase>(this) {}

LocalDatabase::~LocalDatabase()
{
    closeDatabase();
}

QString LocalDatabase::dataPath() const
{
    if (!m_dataPath.isEmpty())
        return m_dataPath;
    return QCoreApplication::applicationDirPath() + QLatin1String(kFileName);
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
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(kDriver))) {
        qWarning("SQLite is not available");
        return false;
    }

    closeDatabase();
    m_database = QSqlDatabase::addDatabase(QLatin1String(kDriver), QLatin1String(QSqlDatabase::defaultConnection));

    const QString path = dataPath();
    qDebug() << "dataPath: " << path;
    m_database.setDatabaseName(path);
    m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    if (!m_database.open()) {
        qDebug("Can't open database");
        return false;
    }

    // SQLite opens any file lazily; a file that is not a database (or a schema
    // that cannot be created) shows only here. Such a file is left untouched and
    // the record sets keep what they hold.
    if (!createTables()) {
        qDebug("Can't open database");
        // A lock held by another process passes; anything else means the file
        // is no database of ours, and the connection is dropped.
        const QString code = m_lastError.nativeErrorCode();
        if (code != QLatin1String(kSqliteBusy) && code != QLatin1String(kSqliteLocked))
            closeDatabase();
        return false;
    }
    loadAll();
    return true;
}

bool LocalDatabase::executeNonReturn(const QString &statement)
{
    QSqlQuery query(m_database);
    if (!query.exec(statement)) {
        qWarning("At: %s", "bool LocalDatabase::executeNonReturn(const QString&)");
        qWarning("  SQL: %s", qPrintable(statement));
        qWarning("  Error: %s", qPrintable(query.lastError().text()));
        m_lastError = query.lastError();
        return false;
    }
    return true;
}

bool LocalDatabase::createTables()
{
    bool ok = executeNonReturn(QLatin1String(kCreateGateways));
    ok = executeNonReturn(QLatin1String(kCreateStreams)) && ok;
    ok = executeNonReturn(QLatin1String(kCreateViews)) && ok;
    return ok;
}

bool LocalDatabase::deleteAll()
{
    bool ok = executeNonReturn(QStringLiteral("DELETE FROM gateways"));
    ok = executeNonReturn(QStringLiteral("DELETE FROM streams")) && ok;
    ok = executeNonReturn(QStringLiteral("DELETE FROM views")) && ok;
    return ok;
}

void LocalDatabase::clearRecords()
{
    m_gatewayInfos.clear();
    m_streamInfos.clear();
    m_viewInfos.clear();
    m_viewOrder.clear();
}

bool LocalDatabase::save()
{
    if (!m_database.isOpen()) {
        logFailure("bool LocalDatabase::save()", QStringLiteral("the database is not open"));
        return false;
    }
    // The views table is replaced as a whole: written now, it would lose the
    // saved views that are not back in the model yet.
    if (const RepoObjViews *views = RepoObjViews::instance(); views && views->isRestoring()) {
        logFailure("bool LocalDatabase::save()",
                   QStringLiteral("the saved views are still being restored; nothing was written"));
        return false;
    }
    if (!m_database.transaction()) {
        logFailure("bool LocalDatabase::save()", m_database.lastError().text());
        return false;
    }

    // Nothing is committed unless every row was written; on any failure the
    // file keeps exactly the rows it had.
    const bool written = deleteAll() && saveGateways() && saveStreams() && saveViews();
    if (written && m_database.commit()) {
        clearRecords();
        return true;
    }
    if (written)
        logFailure("bool LocalDatabase::save()", m_database.lastError().text());
    if (!m_database.rollback())
        logFailure("bool LocalDatabase::save()", m_database.lastError().text());
    return false;
}

bool LocalDatabase::saveGateways()
{
    RepoObjects *objects = RepoObjects::instance();
    QSqlQuery query(m_database);
    if (!query.prepare(QLatin1String(kInsertGateway))) {
        qDebug("At: %s", "bool LocalDatabase::saveGateways()");
        qDebug("  ERROR: %s", qPrintable(query.lastError().text()));
        return false;
    }
    if (objects) {
        for (const auto &object : objects->objectsBySerial()) {
            if (object->type() != Object::Device)
                continue;
            query.bindValue(QStringLiteral(":serial"), object->serial());
            query.bindValue(QStringLiteral(":host"), object->host());
            query.bindValue(QStringLiteral(":port"), object->port());
            query.bindValue(QStringLiteral(":isActive"), object->isActive());
            if (!query.exec()) {
                qDebug("At: %s", "bool LocalDatabase::saveGateways()");
                qDebug("  ERROR: %s", qPrintable(query.lastError().text()));
                return false;
            }
        }
    }
    qInfo("Gateways saved");
    return true;
}

bool LocalDatabase::saveStreams()
{
    RepoObjects *objects = RepoObjects::instance();
    QSqlQuery query(m_database);
    if (!query.prepare(QLatin1String(kInsertStream))) {
        qDebug("At: %s", "bool LocalDatabase::saveStreams()");
        qDebug("  ERROR: %s", qPrintable(query.lastError().text()));
        return false;
    }
    if (objects) {
        const RepoObjects::ObjectIndex &byId = objects->objectsById();
        for (const auto &object : objects->objectsBySerial()) {
            if (object->type() != Object::Stream || object->sourceUrl().isEmpty())
                continue;
            // A stream whose gateway is not in the model has no gateway serial.
            const auto parent = byId.value(object->idParent());
            query.bindValue(QStringLiteral(":serialGateway"), parent ? parent->serial() : QString(QLatin1String("")));
            query.bindValue(QStringLiteral(":serial"), object->serial());
            query.bindValue(QStringLiteral(":url"), object->sourceUrl());
            query.bindValue(QStringLiteral(":isFisheye"), object->isFisheye());
            query.bindValue(QStringLiteral(":centerX"), object->centerX());
            query.bindValue(QStringLiteral(":centerY"), object->centerY());
            query.bindValue(QStringLiteral(":radius"), object->radius());
            query.bindValue(QStringLiteral(":fov"), static_cast<double>(object->fov()));
            query.bindValue(QStringLiteral(":isActive"), object->isActive());
            if (!query.exec()) {
                qDebug("At: %s", "bool LocalDatabase::saveStreams()");
                qDebug("  ERROR: %s", qPrintable(query.lastError().text()));
                return false;
            }
        }
    }
    qInfo("Streams saved");
    return true;
}

bool LocalDatabase::saveViews()
{
    RepoObjViews *views = RepoObjViews::instance();
    QSqlQuery query(m_database);
    if (!query.prepare(QLatin1String(kInsertView))) {
        qDebug("At: %s", "bool LocalDatabase::saveViews()");
        qDebug("  ERROR: %s", qPrintable(query.lastError().text()));
        return false;
    }
    if (views) {
        for (const auto &view : views->views()) {
            query.bindValue(QStringLiteral(":serialStream"), view->objectSerial());
            query.bindValue(QStringLiteral(":name"), view->name());
            query.bindValue(QStringLiteral(":roll"), static_cast<double>(view->roll()));
            query.bindValue(QStringLiteral(":tilt"), static_cast<double>(view->tilt()));
            query.bindValue(QStringLiteral(":pan"), static_cast<double>(view->pan()));
            query.bindValue(QStringLiteral(":zoom"), static_cast<double>(view->zoom()));
            query.bindValue(QStringLiteral(":isActive"), view->isActive());
            if (!query.exec()) {
                qDebug("At: %s", "bool LocalDatabase::saveViews()");
                qDebug("  ERROR: %s", qPrintable(query.lastError().text()));
                return false;
            }
        }
    }
    qInfo("Views saved");
    return true;
}

void LocalDatabase::loadAll()
{
    loadGateways();
    qInfo("Loaded %d gateways", static_cast<int>(m_gatewayInfos.size()));
    loadStreams();
    qInfo("Loaded %d streams", static_cast<int>(m_streamInfos.size()));
    loadViews();
    qInfo("Loaded %d views", static_cast<int>(m_viewInfos.size()));
}

bool LocalDatabase::loadGateways()
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT * FROM gateways")) || !query.exec()) {
        qWarning() << "bool LocalDatabase::loadGateways()";
        qWarning() << "ERROR: " << query.lastError().text();
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
    if (!query.prepare(QStringLiteral("SELECT * FROM streams")) || !query.exec()) {
        qWarning() << "bool LocalDatabase::loadStreams()";
        qWarning() << "ERROR: " << query.lastError().text();
        return false;
    }
    m_streamInfos.clear();
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
    }
    return true;
}

bool LocalDatabase::loadViews()
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT * FROM views")) || !query.exec()) {
        qWarning() << "bool LocalDatabase::loadViews()";
        qWarning() << "ERROR: " << query.lastError().text();
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
