#pragma once

// Writes objects.data files for the server tests with the application's own schema, through the
// sqlite3 library, one connection per write so that each call is a complete save.

#include "repo/objectsschema.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <sqlite3.h>

struct GatewayFileRow
{
    QString serial;
    bool isActive = true;
};

struct StreamFileRow
{
    QString serialGateway;
    QString serial;
    QString url;
    bool isFisheye = true;
    double centerX = 960;
    double centerY = 540;
    double radius = 540;
    double fov = 180;
    bool isActive = true;
};

struct ViewFileRow
{
    QString serialStream;
    QString name;
    double roll = 0;
    double tilt = 0;
    double pan = 0;
    double zoom = 90;
    bool isActive = true;
};

// Rows of Quillon's own tables (format 3).
struct StreamLensFileRow
{
    QString serial;
    QString mount;
    QString projection;
};

struct LayoutFileRow
{
    QString serialStream;
    QString name;
    QString mode;
    QString layout; // LayoutCodec's JSON
    bool isActive = true;
};

struct ObjectsFileRows
{
    QVector<GatewayFileRow> gateways;
    QVector<StreamFileRow> streams;
    QVector<ViewFileRow> views;
    QVector<StreamLensFileRow> lenses;
    QVector<LayoutFileRow> layouts;
    // 0: a file from before the format had a version.
    int userVersion = ObjectsSchema::kVersion;
};

class ObjectsFileWriter
{
public:
    static constexpr const char *kCreateGateways = ObjectsSchema::kCreateGateways;
    static constexpr const char *kCreateStreams = ObjectsSchema::kCreateStreams;
    static constexpr const char *kCreateViews = ObjectsSchema::kCreateViews;

    // Replaces the rows of the three tables (creating them when needed) the way the application
    // saves: delete everything, then insert row by row.
    static bool write(const QString &path, const ObjectsFileRows &rows)
    {
        sqlite3 *db = nullptr;
        if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        bool ok = true;
        for (const char *create : ObjectsSchema::kCreateTables)
            ok = ok && exec(db, create);
        const QByteArray version = QByteArray("PRAGMA user_version = ") + QByteArray::number(rows.userVersion);
        ok = ok && exec(db, version.constData()) && exec(db, "DELETE FROM gateways") &&
             exec(db, "DELETE FROM streams") && exec(db, "DELETE FROM views");
        for (const GatewayFileRow &g : rows.gateways)
            ok = ok && insert(db, ObjectsSchema::kInsertGateway,
                              {g.serial, QStringLiteral("127.0.0.1"), 80, int(g.isActive)});
        for (const StreamFileRow &s : rows.streams) {
            ok = ok && insert(db, ObjectsSchema::kInsertStream,
                              {s.serialGateway, s.serial, s.url, int(s.isFisheye), s.centerX, s.centerY, s.radius,
                               s.fov, int(s.isActive)});
        }
        for (const ViewFileRow &v : rows.views) {
            ok = ok && insert(db, ObjectsSchema::kInsertView,
                              {v.serialStream, v.name, v.roll, v.tilt, v.pan, v.zoom, int(v.isActive)});
        }
        if (!rows.lenses.isEmpty() || !rows.layouts.isEmpty()) {
            for (const char *create : ObjectsSchema::kCreateOwnTables)
                ok = ok && exec(db, create);
            ok = ok && exec(db, "DELETE FROM streamLens") && exec(db, "DELETE FROM viewLayouts");
        }
        for (const StreamLensFileRow &l : rows.lenses)
            ok = ok && insert(db, ObjectsSchema::kInsertStreamLens, {l.serial, l.mount, l.projection});
        for (const LayoutFileRow &l : rows.layouts)
            ok = ok && insert(db, ObjectsSchema::kInsertViewLayout,
                              {l.serialStream, l.name, l.mode, l.layout, int(l.isActive)});
        sqlite3_close(db);
        return ok;
    }

    static bool exec(sqlite3 *db, const char *sql)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    static bool execOn(const QString &path, const char *sql)
    {
        sqlite3 *db = nullptr;
        const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK && exec(db, sql);
        sqlite3_close(db);
        return ok;
    }

private:
    static bool insert(sqlite3 *db, const char *sql, const QVariantList &values)
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return false;
        for (int i = 0; i < values.size(); ++i) {
            const QVariant &value = values.at(i);
            if (value.type() == QVariant::String) {
                const QByteArray utf8 = value.toString().toUtf8();
                sqlite3_bind_text(stmt, i + 1, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
            } else if (value.type() == QVariant::Int) {
                sqlite3_bind_int(stmt, i + 1, value.toInt());
            } else {
                sqlite3_bind_double(stmt, i + 1, value.toDouble());
            }
        }
        const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
        return ok;
    }
};
