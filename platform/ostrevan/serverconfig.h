#pragma once

#include <QString>
#include <QVector>

// One view the server serves: a perspective picture cut out of its stream.
struct ServedView
{
    QString name;
    float roll = 0.0f;
    float tilt = 0.0f;
    float pan = 0.0f;
    float zoom = 0.0f; // horizontal field of view of the virtual camera, degrees

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
    QVector<ServedView> views;

    bool sameSource(const ServedStream &other) const { return url == other.url; }
    bool sameLens(const ServedStream &other) const;
    const ServedView *view(const QString &name) const;
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
    bool load(const QString &path, QString *error);

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
