#pragma once

#include "platform/ostrevan/accesscontrol.h"
#include "platform/ostrevan/serverconfig.h"
#include "platform/ostrevan/serverstatus.h"
#include "platform/ostrevan/viewchannel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class ConfigWatcher;
class SlicePool;
class StatusServer;
class StreamSource;
class ViewPublisher;
typedef struct _GstRTSPServer GstRTSPServer;
typedef struct _GstRTSPMediaFactory GstRTSPMediaFactory;

// Settings from the command line.
struct ServerOptions
{
    QString databasePath;
    QString address = QStringLiteral("0.0.0.0");
    int port = 8554; // 0: any free port (logged)
    OutputOptions output;
    enum class Dewarp {
        Auto,
        Cpu,
        Gl,
    } dewarp = Dewarp::Auto;
    int statsSeconds = 0; // 0: no periodic statistics
    // A client's session ends when it has sent nothing (no request, no RTCP report) for this long.
    int sessionTimeoutSeconds = 60;
    // The users who may watch (see UserFile); empty: anyone who reaches the port.
    QString usersPath;
    // RTSPS: a PEM certificate and its key; both empty: plain RTSP.
    QString tlsCertificate;
    QString tlsKey;
    // The part of the file this server serves.
    ServerShare share;
    // The HTTP status endpoint (see StatusServer): -1 none, 0 any free port (logged).
    int statusPort = -1;
    QString statusAddress = QStringLiteral("127.0.0.1");
    // Another RTSP server every view is pushed to (see ViewPublisher); empty: none.
    QString publishBase;
};

// The streaming server: reads objects.data, serves every active view of every active fisheye
// stream of every active gateway as RTSP at rtsp://HOST:PORT/STREAM-SERIAL/VIEW-NAME (both parts
// percent-encoded), and follows the file's changes without disturbing the views that stay.
class OstrevanServer : public QObject
{
    Q_OBJECT

public:
    explicit OstrevanServer(const ServerOptions &options, QObject *parent = nullptr);
    ~OstrevanServer() override;

    // Loads the file, opens the RTSP port and starts serving. False, with the reason in *error,
    // when the file is missing or unusable or the port cannot be opened.
    bool start(QString *error);

    const ServerConfig &config() const { return m_config; }
    // Every view and every source as they are now.
    ServerStatus status() const;
    int port() const { return m_port; }
    // The status endpoint's port; -1 without one.
    int statusPort() const;
    DewarpMode dewarpMode() const { return m_mode; }

    // The mount path of a view: "/" + serial + "/" + name, each percent-encoded (RFC 3986
    // unreserved characters kept).
    static QString mountPath(const QString &streamSerial, const QString &viewName);

    // True when the dewarping element draws its test picture right here; *renderer gets GL_RENDERER
    // when given.
    static bool glWorks(QString *why, QString *renderer = nullptr);
    // True for renderer names of software rasterisers (Mesa llvmpipe, softpipe, swrast).
    static bool isSoftwareRenderer(const QString &renderer);

    // Reads the file again and applies what changed. A file that cannot be read any more leaves
    // everything as it is, with a warning.
    void reload();
    // Reads the users file again; a file that is refused leaves the users as they were, with a
    // warning. The sessions of users who may no longer watch their view end.
    void reloadUsers();

signals:
    void reloaded();

private:
    struct Served
    {
        QString streamSerial;
        QString name;
        QString path;
        std::shared_ptr<ViewChannel> channel;
        GstRTSPMediaFactory *factory = nullptr; // a reference of ours
        ViewPublisher *publisher = nullptr;     // with --publish
    };

    void apply(const ServerConfig &config);
    void logView(const ServedStream &stream, const ServedView &view, const char *what, const QString &path) const;
    // What clients open: rtsp://HOST:PORT/PATH, rtsps:// with TLS.
    QString address(const QString &path) const;
    void addView(const ServedStream &stream, const ServedView &view);
    void removeView(const QString &key);
    StreamSource *sourceFor(const ServedStream &stream);
    void closeSessions(const QString &path);
    void endRevokedSessions();
    void logStats() const;
    void sampleRates();
    // Times a few frames on each path; Gl or Cpu, whichever took less CPU time.
    DewarpMode measureFasterPath(const QString &renderer) const;
    static QString key(const QString &streamSerial, const QString &viewName);

    ServerOptions m_options;
    ServerConfig m_config;
    AccessControl m_access;
    ConfigWatcher *m_watcher = nullptr;
    DewarpMode m_mode = DewarpMode::Cpu;
    std::shared_ptr<SlicePool> m_slicePool;
    GstRTSPServer *m_rtsp = nullptr;
    unsigned m_rtspSource = 0;
    int m_port = 0;
    QString m_host;
    QHash<QString, StreamSource *> m_sources; // by stream serial
    QHash<QString, Served> m_views;           // by key(stream, name)
    QTimer m_stats;
    QTimer m_sessionSweep;
    QTimer m_requestGuard; // see RequestGuard
    // How the publishers sign in to this server (empty: they need not).
    QString m_publisherUser;
    QString m_publisherPassword;
    StatusServer *m_status = nullptr;
    QElapsedTimer m_uptime;
    // Frames served per view at the last sample, and the rate since the one before.
    struct Rate
    {
        quint64 frames = 0;
        qint64 atMs = 0;
        double fps = 0.0;
    };
    QHash<QString, Rate> m_rates; // by key(stream, name)
    QTimer m_rateSampler;
};
