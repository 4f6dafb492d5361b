#include "platform/ostrevan/serverconfig.h"

#include "defish/layoutcodec.h"
#include "defish/servable.h"
#include "platform/ostrevan/serverlogging.h"
#include "repo/objectsschema.h"

#include <QFileInfo>
#include <QHash>

#include <sqlite3.h>

#include <cmath>
#include <memory>

namespace {

bool sameLayout(const FisheyeLayout &a, const FisheyeLayout &b)
{
    if (a.mode != b.mode || a.mount != b.mount || a.azimuth != b.azimuth || a.upper != b.upper || a.lower != b.lower)
        return false;
    for (int i = 0; i < 4; ++i) {
        const FisheyeView &p = a.quad[i];
        const FisheyeView &q = b.quad[i];
        if (p.roll != q.roll || p.tilt != q.tilt || p.pan != q.pan || p.fov != q.fov)
            return false;
    }
    return true;
}

} // namespace

ViewAim ServedView::aim() const
{
    ViewAim aim;
    aim.roll = roll;
    aim.tilt = tilt;
    aim.pan = pan;
    aim.zoom = zoom;
    aim.mode = QLatin1String(FisheyeProjection::modeName(layout.mode));
    return aim;
}

Lens ServedStream::lens() const
{
    Lens lens;
    lens.centerX = centerX;
    lens.centerY = centerY;
    lens.radius = radius;
    lens.fov = fov;
    lens.projection = QLatin1String(FisheyeProjection::projectionName(projection));
    return lens;
}

bool ServedView::operator==(const ServedView &other) const
{
    return name == other.name && roll == other.roll && tilt == other.tilt && pan == other.pan && zoom == other.zoom &&
           sameLayout(layout, other.layout);
}

bool ServedStream::sameLens(const ServedStream &other) const
{
    return centerX == other.centerX && centerY == other.centerY && radius == other.radius && fov == other.fov &&
           projection == other.projection;
}

const ServedView *ServedStream::view(const QString &name) const
{
    for (const ServedView &v : views) {
        if (v.name == name)
            return &v;
    }
    return nullptr;
}

bool operator==(const ServedStream &a, const ServedStream &b)
{
    return a.gatewaySerial == b.gatewaySerial && a.serial == b.serial && a.url == b.url && a.sameLens(b) &&
           a.views == b.views;
}

namespace {

struct DbCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
};
struct StmtFinalizer
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

QString columnText(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

// The application writes the flags as 1 or 0 and the geometry as reals; anything numeric is read.
bool columnFlag(sqlite3_stmt *stmt, int column)
{
    return sqlite3_column_int64(stmt, column) != 0;
}

float columnFloat(sqlite3_stmt *stmt, int column)
{
    return static_cast<float>(sqlite3_column_double(stmt, column));
}

// Integers stored as reals are truncated toward zero, as the application loads them.
int columnTruncated(sqlite3_stmt *stmt, int column)
{
    const double value = sqlite3_column_double(stmt, column);
    if (!std::isfinite(value) || value > 2147483647.0 || value < -2147483648.0)
        return 0;
    return static_cast<int>(value);
}

QString sqliteError(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// Prepares a statement; on failure *error names what it reads and the reason.
Stmt prepare(sqlite3 *db, const char *sql, const char *table, QString *error)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        *error = QStringLiteral("table \"%1\" cannot be read: %2").arg(QLatin1String(table), sqliteError(db));
        return nullptr;
    }
    return Stmt(stmt);
}

struct GatewayRow
{
    bool isActive = false;
};

bool hasTable(sqlite3 *db, const char *name)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", -1, &raw, nullptr) !=
        SQLITE_OK)
        return false;
    const Stmt stmt(raw);
    sqlite3_bind_text(stmt.get(), 1, name, -1, SQLITE_STATIC);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

struct StreamRow
{
    ServedStream stream;
    bool isFisheye = false;
    bool isActive = false;
    FisheyeMount mount = FisheyeMount::Wall;
    // A projection name this server does not know: none of the stream's views would come out right.
    QString unknownProjection;
};

} // namespace

const ServedStream *ServerConfig::stream(const QString &serial) const
{
    for (const ServedStream &s : m_streams) {
        if (s.serial == serial)
            return &s;
    }
    return nullptr;
}

int ServerConfig::viewCount() const
{
    int count = 0;
    for (const ServedStream &s : m_streams)
        count += s.views.size();
    return count;
}

quint32 ServerShare::hash(const QString &streamSerial)
{
    quint32 h = 2166136261u;
    for (const char c : streamSerial.toUtf8()) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    return h;
}

bool ServerShare::includes(const QString &gatewaySerial, const QString &streamSerial) const
{
    if (!gateways.isEmpty() && !gateways.contains(gatewaySerial))
        return false;
    return hash(streamSerial) % quint32(count) == quint32(index - 1);
}

bool ServerShare::parse(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    bool okIndex = false;
    bool okCount = false;
    const int i = parts.size() == 2 ? parts.at(0).toInt(&okIndex) : 0;
    const int n = parts.size() == 2 ? parts.at(1).toInt(&okCount) : 0;
    if (!okIndex || !okCount || i < 1 || n < i || n > 1000)
        return false;
    index = i;
    count = n;
    return true;
}

bool ServerConfig::load(const QString &path, QString *error, const ServerShare &share)
{
    QString ignored;
    if (!error)
        error = &ignored;
    m_streams.clear();
    m_gatewayRows = m_streamRows = m_viewRows = 0;

    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("the file does not exist");
        return false;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("it is not a file");
        return false;
    }

    // Read-write without create: a writer killed mid-save leaves a hot journal that
    // only a connection allowed to write can roll back, and the last committed state
    // is what we must read. query_only keeps this connection from writing anything
    // else; a file we may not write still opens (read-only) as long as no journal
    // needs rolling back.
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) {
        *error =
            QStringLiteral("it cannot be opened: %1").arg(raw ? sqliteError(raw) : QStringLiteral("out of memory"));
        return false;
    }
    sqlite3_exec(raw, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    // The application may be writing the file while we read it: wait for its lock a little.
    sqlite3_busy_timeout(raw, 2000);

    // One read transaction, so the three tables come from the same state of the file.
    if (sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = QStringLiteral("it cannot be read: %1").arg(sqliteError(raw));
        return false;
    }

    // A newer Quillon may have changed what the rows mean: nothing is served from its file.
    int version = 0;
    {
        sqlite3_stmt *rawStmt = nullptr;
        const int prepared = sqlite3_prepare_v2(raw, ObjectsSchema::kReadVersion, -1, &rawStmt, nullptr);
        const Stmt stmt(rawStmt);
        if (prepared != SQLITE_OK || sqlite3_step(stmt.get()) != SQLITE_ROW) {
            *error = QStringLiteral("it cannot be read: %1").arg(sqliteError(raw));
            return false;
        }
        version = sqlite3_column_int(stmt.get(), 0);
        if (version > ObjectsSchema::kVersion) {
            *error = QStringLiteral("it was written by a newer Quillon (file format %1; this server reads up to %2)")
                         .arg(version)
                         .arg(ObjectsSchema::kVersion);
            return false;
        }
    }

    // Gateways, keyed by serial; a later row with the same serial replaces an earlier one.
    QHash<QString, GatewayRow> gateways;
    {
        Stmt stmt = prepare(raw, ObjectsSchema::kSelectGateways, ObjectsSchema::kGateways, error);
        if (!stmt)
            return false;
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            ++m_gatewayRows;
            gateways[columnText(stmt.get(), 0)].isActive = columnFlag(stmt.get(), 1);
        }
        if (step != SQLITE_DONE) {
            *error = QStringLiteral("table \"%1\" cannot be read: %2")
                         .arg(QLatin1String(ObjectsSchema::kGateways), sqliteError(raw));
            return false;
        }
    }

    QHash<QString, StreamRow> streams;
    QStringList streamOrder;
    {
        Stmt stmt = prepare(raw, ObjectsSchema::kSelectStreams, ObjectsSchema::kStreams, error);
        if (!stmt)
            return false;
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            ++m_streamRows;
            StreamRow row;
            row.stream.gatewaySerial = columnText(stmt.get(), 0);
            row.stream.serial = columnText(stmt.get(), 1);
            row.stream.url = columnText(stmt.get(), 2);
            row.isFisheye = columnFlag(stmt.get(), 3);
            row.stream.centerX = columnTruncated(stmt.get(), 4);
            row.stream.centerY = columnTruncated(stmt.get(), 5);
            row.stream.radius = columnTruncated(stmt.get(), 6);
            row.stream.fov = columnFloat(stmt.get(), 7);
            row.isActive = columnFlag(stmt.get(), 8);
            if (!streams.contains(row.stream.serial))
                streamOrder.append(row.stream.serial);
            streams.insert(row.stream.serial, row);
        }
        if (step != SQLITE_DONE) {
            *error = QStringLiteral("table \"%1\" cannot be read: %2")
                         .arg(QLatin1String(ObjectsSchema::kStreams), sqliteError(raw));
            return false;
        }
    }

    // Quillon's own tables, from format 3 on, where the writer made them: each stream's mount and lens
    // projection.
    const bool ownTables = version >= 3 && hasTable(raw, ObjectsSchema::kStreamLens) &&
                           hasTable(raw, ObjectsSchema::kViewLayouts);
    if (ownTables) {
        Stmt stmt = prepare(raw, ObjectsSchema::kSelectStreamLens, ObjectsSchema::kStreamLens, error);
        if (!stmt)
            return false;
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
            const auto it = streams.find(columnText(stmt.get(), 0));
            if (it == streams.end())
                continue;
            const QByteArray mount = columnText(stmt.get(), 1).toUtf8();
            const QString projection = columnText(stmt.get(), 2);
            if (!FisheyeProjection::mountFromName(mount.constData(), &it->mount))
                qCWarning(lcConfig, "Stream %s hangs in an unknown way (\"%s\"): taken as on a wall",
                          qUtf8Printable(it.key()), mount.constData());
            if (!FisheyeProjection::projectionFromName(projection.toUtf8().constData(), &it->stream.projection))
                it->unknownProjection = projection;
        }
    }

    // Views: keyed by stream and name, so that two streams may each have a view of the same name.
    QHash<QString, QVector<ServedView>> views;
    int inactive = 0;
    {
        Stmt stmt = prepare(raw, ObjectsSchema::kSelectViews, ObjectsSchema::kViews, error);
        if (!stmt)
            return false;
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            ++m_viewRows;
            const QString streamSerial = columnText(stmt.get(), 0);
            ServedView view;
            view.name = columnText(stmt.get(), 1);
            view.roll = columnFloat(stmt.get(), 2);
            view.tilt = columnFloat(stmt.get(), 3);
            view.pan = columnFloat(stmt.get(), 4);
            view.zoom = columnFloat(stmt.get(), 5);
            const bool isActive = columnFlag(stmt.get(), 6);

            QVector<ServedView> &list = views[streamSerial];
            for (int i = 0; i < list.size(); ++i) {
                if (list.at(i).name == view.name) {
                    qCInfo(lcConfig, "View \"%s\" of stream %s appears twice; the later row is used",
                           qUtf8Printable(view.name), qUtf8Printable(streamSerial));
                    list.remove(i);
                    break;
                }
            }
            if (!isActive) {
                ++inactive;
                continue;
            }
            if (!Servable::aimIsServable(view.roll, view.tilt, view.pan, view.zoom)) {
                qCWarning(lcConfig,
                          "View \"%s\" of stream %s is not served: its zoom %g is not between 0 and 180 degrees",
                          qUtf8Printable(view.name), qUtf8Printable(streamSerial), double(view.zoom));
                continue;
            }
            list.append(view);
        }
        if (step != SQLITE_DONE) {
            *error = QStringLiteral("table \"%1\" cannot be read: %2")
                         .arg(QLatin1String(ObjectsSchema::kViews), sqliteError(raw));
            return false;
        }
    }
    // Panoramas and quads. A name the views table holds keeps that view, as in Quillon.
    if (ownTables) {
        Stmt stmt = prepare(raw, ObjectsSchema::kSelectViewLayouts, ObjectsSchema::kViewLayouts, error);
        if (!stmt)
            return false;
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
            ++m_viewRows;
            const QString streamSerial = columnText(stmt.get(), 0);
            ServedView view;
            view.name = columnText(stmt.get(), 1);
            if (!columnFlag(stmt.get(), 4)) {
                ++inactive;
                continue;
            }
            QVector<ServedView> &list = views[streamSerial];
            if (std::any_of(list.cbegin(), list.cend(), [&](const ServedView &v) { return v.name == view.name; }))
                continue;
            QString why;
            const FisheyeMount mount = streams.value(streamSerial).mount;
            if (!LayoutCodec::fromJson(columnText(stmt.get(), 2), columnText(stmt.get(), 3), mount, &view.layout,
                                       &why)) {
                qCWarning(lcConfig, "View \"%s\" of stream %s is not served: %s", qUtf8Printable(view.name),
                          qUtf8Printable(streamSerial), qUtf8Printable(why));
                continue;
            }
            list.append(view);
        }
    }
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    // A site may store hundreds of thousands of views and serve a few: one line for them all.
    if (inactive > 0)
        qCInfo(lcConfig, "%d views are not active", inactive);

    int elsewhere = 0;
    for (const QString &serial : qAsConst(streamOrder)) {
        StreamRow row = streams.value(serial);
        const QVector<ServedView> streamViews = views.take(serial);
        if (!share.includes(row.stream.gatewaySerial, serial)) {
            ++elsewhere;
            continue;
        }
        const char *skipped = nullptr;
        if (!row.isActive)
            skipped = "the stream is not active";
        else if (!row.isFisheye)
            skipped = "the stream is not a fisheye stream";
        else if (!gateways.contains(row.stream.gatewaySerial))
            skipped = "its gateway is not in the file";
        else if (!gateways.value(row.stream.gatewaySerial).isActive)
            skipped = "its gateway is not active";
        else if (row.stream.url.isEmpty())
            skipped = "it has no source";
        else if (!Servable::lensIsSet(row.stream.radius, row.stream.fov))
            skipped = "its lens radius or field of view is not positive";
        else if (!row.unknownProjection.isEmpty())
            skipped = "its lens projection is not one this server knows";
        if (skipped) {
            if (!streamViews.isEmpty())
                qCInfo(lcConfig, "Stream %s is not served (%d views): %s", qUtf8Printable(serial), streamViews.size(),
                       skipped);
            continue;
        }
        if (streamViews.isEmpty())
            continue;
        row.stream.views = streamViews;
        m_streams.append(row.stream);
    }
    if (elsewhere > 0)
        qCInfo(lcConfig, "%d streams are outside this server's share", elsewhere);
    for (auto it = views.cbegin(); it != views.cend(); ++it) {
        if (!it.value().isEmpty())
            qCInfo(lcConfig, "%d views name stream %s, which is not in the file", it.value().size(),
                   qUtf8Printable(it.key()));
    }
    return true;
}
