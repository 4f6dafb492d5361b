#pragma once

// The SQLite file objects.data, as the program writes it and the streaming server and the tests
// read and write it. Free of Qt, so that every one of them takes the schema from here.
//
// PRAGMA user_version holds the file's format version. Files written before it was set read 0 and
// are format 1; a file with a higher version than kVersion comes from a newer Quillon and is refused,
// never written over.
//
// Other programs read the three tables gateways, streams and views: their text and meaning never
// change. What they cannot hold lives in tables of Quillon's own: format 2 added streamLens (how each
// stream's camera hangs), format 3 its lens projection and viewLayouts (the views that are not one
// perspective picture: panoramas and quads, which other readers must not serve as one). An older file
// opens as it is; its next save writes Quillon's own tables anew, with every row, in the same
// transaction as the rest.
namespace ObjectsSchema {

constexpr int kVersion = 3;

constexpr const char *kGateways = "gateways";
constexpr const char *kStreams = "streams";
constexpr const char *kViews = "views";

constexpr const char *kCreateGateways = "CREATE TABLE IF NOT EXISTS gateways (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                        "serial TEXT,host TEXT,port INTEGER,isActive INTEGER)";
constexpr const char *kCreateStreams =
    "CREATE TABLE IF NOT EXISTS streams (id INTEGER PRIMARY KEY AUTOINCREMENT, serialGateway TEXT,serial TEXT,url "
    "TEXT,isFisheye INTEGER,centerX REAL,centerY REAL,radius REAL,fov REAL,isActive INTEGER)";
constexpr const char *kCreateViews = "CREATE TABLE IF NOT EXISTS views (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                     "serialStream TEXT, name TEXT, roll REAL, tilt REAL, pan REAL, zoom REAL, "
                                     "isActive INTEGER)";
constexpr const char *kCreateTables[] = {kCreateGateways, kCreateStreams, kCreateViews};

// Quillon's own tables. streamLens is keyed by the stream's serial; mount is
// FisheyeProjection::mountName(), projection FisheyeProjection::projectionName(). viewLayouts holds a
// stream's views of the other modes (mode: FisheyeProjection::modeName(), layout: LayoutCodec's JSON);
// a view's name is unique per stream across views and viewLayouts.
constexpr const char *kStreamLens = "streamLens";
constexpr const char *kCreateStreamLens =
    "CREATE TABLE IF NOT EXISTS streamLens (serial TEXT PRIMARY KEY NOT NULL, mount TEXT NOT NULL DEFAULT 'wall', "
    "projection TEXT NOT NULL DEFAULT 'equidistant')";
constexpr const char *kViewLayouts = "viewLayouts";
constexpr const char *kCreateViewLayouts =
    "CREATE TABLE IF NOT EXISTS viewLayouts (serialStream TEXT NOT NULL, name TEXT NOT NULL, mode TEXT NOT NULL, "
    "layout TEXT NOT NULL, isActive INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (serialStream, name))";
constexpr const char *kCreateOwnTables[] = {kCreateStreamLens, kCreateViewLayouts};
constexpr const char *kOwnTables[] = {kStreamLens, kViewLayouts};

constexpr const char *kReadVersion = "PRAGMA user_version";
// A pragma takes no parameter: the version is spelt out, and checked against kVersion here.
constexpr char kWriteVersion[] = "PRAGMA user_version = 3";
static_assert(kVersion < 10 && kWriteVersion[sizeof(kWriteVersion) - 2] == '0' + kVersion,
              "kWriteVersion must write kVersion");

// Rows in the column order of the tables, one positional parameter per column.
constexpr const char *kInsertGateway = "INSERT INTO gateways(serial, host, port, isActive) VALUES(?, ?, ?, ?)";
constexpr const char *kInsertStream = "INSERT INTO streams(serialGateway, serial, url, isFisheye, centerX, centerY, "
                                      "radius, fov, isActive) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char *kInsertView =
    "INSERT INTO views(serialStream, name, roll, tilt, pan, zoom, isActive) VALUES(?, ?, ?, ?, ?, ?, ?)";
constexpr const char *kInsertStreamLens = "INSERT INTO streamLens(serial, mount, projection) VALUES(?, ?, ?)";
constexpr const char *kInsertViewLayout =
    "INSERT INTO viewLayouts(serialStream, name, mode, layout, isActive) VALUES(?, ?, ?, ?, ?)";

// What the server reads, oldest row first.
constexpr const char *kSelectGateways = "SELECT serial, isActive FROM gateways ORDER BY id";
constexpr const char *kSelectStreams =
    "SELECT serialGateway, serial, url, isFisheye, centerX, centerY, radius, fov, isActive FROM streams ORDER BY id";
constexpr const char *kSelectViews =
    "SELECT serialStream, name, roll, tilt, pan, zoom, isActive FROM views ORDER BY id";
// Files before format 3 lack the projection and viewLayouts; the server reads them where they exist.
constexpr const char *kSelectStreamLens = "SELECT serial, mount, projection FROM streamLens";
constexpr const char *kSelectViewLayouts =
    "SELECT serialStream, name, mode, layout, isActive FROM viewLayouts ORDER BY rowid";

} // namespace ObjectsSchema
