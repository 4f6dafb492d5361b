#pragma once

#include "defish/fisheyeprojection.h"
#include "defish/lens.h"
#include "defish/viewaim.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One view the server serves: a perspective picture cut out of its stream, or a panorama or a quad
// (layout, with the mount of its stream).
struct ServedView
{
    QString name;
    float roll = 0.0f;
    float tilt = 0.0f;
    float pan = 0.0f;
    float zoom = 0.0f; // horizontal field of view of the virtual camera, degrees
    FisheyeLayout layout;

    // The aim as the value the program passes around: the mode by name; the layout stays in `layout`,
    // read once with the file.
    ViewAim aim() const;

    bool operator==(const ServedView &other) const;
    bool operator!=(const ServedView &other) const { return !(*this == other); }
};

// One fisheye stream with its lens geometry and the views served from it.
struct ServedStream
{
    QString gatewaySerial;
    QString serial;
    QString url; // the producer's source string ("zmq:tcp://host:port", "file:/path", ...)
    int centerX = 0;
    int centerY = 0;
    int radius = 0;
    float fov = 0.0f; // lens field of view across the circle, degrees
    FisheyeLensProjection projection = FisheyeLensProjection::Equidistant;
    QVector<ServedView> views;

    bool sameSource(const ServedStream &other) const { return url == other.url; }
    // The lens as the value the program passes around (the mount, which the views' layouts carry, read
    // as a wall).
    Lens lens() const;
    bool sameLens(const ServedStream &other) const;
    const ServedView *view(const QString &name) const;
};

// The part of objects.data one server serves, where a site splits its streams over several: the
// streams of the gateways listed (none listed: of every gateway), and of those, with a share i of n,
// the streams whose serial hashes to it (hash(serial) % n == i - 1). The hash is stable across
// machines, versions and the order of the file, so that n servers with the shares 1/n .. n/n serve
// every stream exactly once.
struct ServerShare
{
    QStringList gateways;
    int index = 1; // 1 .. count
    int count = 1;

    bool isWhole() const { return gateways.isEmpty() && count == 1; }
    bool includes(const QString &gatewaySerial, const QString &streamSerial) const;
    // "i/n"; false when it is not one with 1 <= i <= n <= 1000.
    bool parse(const QString &text);
    // 32-bit FNV-1a of the serial's UTF-8 bytes.
    static quint32 hash(const QString &streamSerial);
};

// What objects.data asks the server to serve: every active view of every active fisheye stream
// of every active gateway. Everything else in the file is left out (and said so in the log).
class ServerConfig
{
public:
    // Reads the file. False, with a readable reason in *error, when the file is missing, is not an
    // SQLite database, or lacks one of the three tables or one of their columns. The file is never
    // created, and nothing is written to it but SQLite's own roll-back of a save whose writer died:
    // what is read is the last committed state.
    // With a share, the streams outside it are left out.
    bool load(const QString &path, QString *error, const ServerShare &share = ServerShare());

    const QVector<ServedStream> &streams() const { return m_streams; }
    const ServedStream *stream(const QString &serial) const;
    int viewCount() const;

    // Counts of the rows read, before filtering (for the log).
    int gatewayRows() const { return m_gatewayRows; }
    int streamRows() const { return m_streamRows; }
    int viewRows() const { return m_viewRows; }

    bool operator==(const ServerConfig &other) const { return m_streams == other.m_streams; }
    bool operator!=(const ServerConfig &other) const { return !(*this == other); }

private:
    QVector<ServedStream> m_streams;
    int m_gatewayRows = 0;
    int m_streamRows = 0;
    int m_viewRows = 0;
};

bool operator==(const ServedStream &a, const ServedStream &b);
