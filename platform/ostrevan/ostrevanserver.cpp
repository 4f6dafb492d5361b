#include "platform/ostrevan/ostrevanserver.h"

#include "platform/ostrevan/configwatcher.h"

OstrevanServer::OstrevanServer(const ServerOptions &options, QObject *parent) : QObject(parent), m_options(options) {}

OstrevanServer::~OstrevanServer() = default;

bool OstrevanServer::start(QString *error)
{
    ServerConfig config;
    if (!config.load(m_options.databasePath, error))
        return false;
    qInfo("Read %s: %d gateways, %d streams, %d views", qUtf8Printable(m_options.databasePath), config.gatewayRows(),
          config.streamRows(), config.viewRows());
    apply(config);

    m_watcher = new ConfigWatcher(m_options.databasePath, this);
    connect(m_watcher, &ConfigWatcher::changed, this, &OstrevanServer::reload);
    return true;
}

void OstrevanServer::reload()
{
    ServerConfig config;
    QString error;
    if (!config.load(m_options.databasePath, &error)) {
        qWarning("Cannot use %s, keeping the current views: %s", qUtf8Printable(m_options.databasePath),
                 qUtf8Printable(error));
        return;
    }
    qInfo("Re-read %s: %d gateways, %d streams, %d views", qUtf8Printable(m_options.databasePath), config.gatewayRows(),
          config.streamRows(), config.viewRows());
    apply(config);
    emit reloaded();
}

void OstrevanServer::logView(const ServedStream &stream, const ServedView &view, const char *what) const
{
    qInfo("%s view \"%s\" of stream %s (gateway %s, source %s): roll %g, tilt %g, pan %g, zoom %g", what,
          qUtf8Printable(view.name), qUtf8Printable(stream.serial), qUtf8Printable(stream.gatewaySerial),
          qUtf8Printable(stream.url), double(view.roll), double(view.tilt), double(view.pan), double(view.zoom));
}

void OstrevanServer::apply(const ServerConfig &config)
{
    // Views that go away, then views that are new or changed; unchanged views are left alone.
    for (const ServedStream &old : m_config.streams()) {
        const ServedStream *now = config.stream(old.serial);
        for (const ServedView &view : old.views) {
            if (!now || !now->view(view.name))
                logView(old, view, "Removed");
        }
    }
    for (const ServedStream &stream : config.streams()) {
        const ServedStream *old = m_config.stream(stream.serial);
        const bool streamChanged = old && (!old->sameSource(stream) || !old->sameLens(stream));
        for (const ServedView &view : stream.views) {
            const ServedView *before = old ? old->view(view.name) : nullptr;
            if (!before)
                logView(stream, view, "Serving");
            else if (*before != view || streamChanged)
                logView(stream, view, "Updated");
        }
    }
    if (config.viewCount() == 0)
        qInfo("No active views to serve");
    m_config = config;
}
