#include "platform/ostrevan/viewpublisher.h"

#include "app/applogging.h"
#include "platform/ostrevan/serverlogging.h"
#include "platform/ostrevan/serverpipeline.h"

#include <QPointer>
#include <QUrl>

// GIO's headers use "signals" as a name, which Qt defines as a keyword.
#undef signals
#include <gio/gio.h>
#define signals Q_SIGNALS

namespace {

constexpr int kMaxRetryMs = 30000;
// A publisher whose frames stopped for this long is built again.
constexpr qint64 kStallUs = 10 * 1000 * 1000;

GstPadProbeReturn countFrame(GstPad *, GstPadProbeInfo *, gpointer data)
{
    (*static_cast<std::shared_ptr<std::atomic<quint64>> *>(data))->fetch_add(1);
    return GST_PAD_PROBE_OK;
}

} // namespace

ViewPublisher::ViewPublisher(const QString &label, const Source &source, const QString &target, QObject *parent)
    : QObject(parent), m_label(label), m_source(source), m_target(target),
      m_sent(std::make_shared<std::atomic<quint64>>(0))
{
    m_restart.setSingleShot(true);
    connect(&m_restart, &QTimer::timeout, this, &ViewPublisher::start);
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, &ViewPublisher::checkProgress);
}

ViewPublisher::~ViewPublisher()
{
    stopPipeline();
}

QString ViewPublisher::target() const
{
    return AppLogging::withoutPasswords(m_target);
}

QString ViewPublisher::targetFor(const QString &base, const QString &streamSerial, const QString &viewName)
{
    QString address = base;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(streamSerial)) + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(viewName));
}

bool ViewPublisher::validBase(const QString &base, QString *why)
{
    const QUrl url(base, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("rtsp") && url.scheme() != QLatin1String("rtsps")) ||
        url.host().isEmpty() || url.hasQuery() || url.hasFragment()) {
        *why = QStringLiteral("--publish must be an rtsp:// or rtsps:// address with a host, such as "
                              "rtsp://media.example:8554/site, not \"%1\"")
                   .arg(AppLogging::withoutPasswords(base));
        return false;
    }
    return true;
}

void ViewPublisher::start()
{
    stopPipeline();
    GError *error = nullptr;
    // Only fixed text goes into the launch line; the addresses are set as properties.
    GstElement *pipeline = gst_parse_launch("rtspsrc name=src protocols=tcp latency=0 ! rtph264depay ! "
                                            "h264parse name=parse ! rtspclientsink name=sink protocols=tcp latency=0",
                                            &error);
    if (!pipeline || error) {
        const QString why = QString::fromUtf8(error ? error->message : "unknown error");
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(pipeline);
        fail(QStringLiteral("cannot build its pipeline (%1)").arg(why));
        return;
    }
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", m_source.url.toUtf8().constData(), nullptr);
    if (!m_source.user.isEmpty()) {
        g_object_set(src, "user-id", m_source.user.toUtf8().constData(), "user-pw",
                     m_source.password.toUtf8().constData(), nullptr);
    }
    // This server's own certificate names the server, not the loopback address.
    if (m_source.url.startsWith(QLatin1String("rtsps:")))
        g_object_set(src, "tls-validation-flags", GTlsCertificateFlags(0), nullptr);
    gst_object_unref(src);
    QUrl target(m_target);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    if (!target.userName().isEmpty()) {
        g_object_set(sink, "user-id", target.userName().toUtf8().constData(), "user-pw",
                     target.password().toUtf8().constData(), nullptr);
        target.setUserInfo(QString());
    }
    g_object_set(sink, "location", target.toString(QUrl::FullyEncoded).toUtf8().constData(), nullptr);
    gst_object_unref(sink);
    GstElement *parse = gst_bin_get_by_name(GST_BIN(pipeline), "parse");
    GstPad *pad = gst_element_get_static_pad(parse, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, countFrame, new std::shared_ptr<std::atomic<quint64>>(m_sent),
                      [](gpointer data) { delete static_cast<std::shared_ptr<std::atomic<quint64>> *>(data); });
    gst_object_unref(pad);
    gst_object_unref(parse);

    m_pipeline = pipeline;
    ++m_generation;
    // Bus messages come on streaming threads; they are handled on this object's thread.
    forwardBusMessages(pipeline, this, m_generation, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS),
                       &ViewPublisher::handleMessage);
    m_sentAtCheck = m_sent->load();
    m_progressUs = g_get_monotonic_time();
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        fail(QStringLiteral("cannot start"));
        return;
    }
    m_watchdog.start();
}

void ViewPublisher::stopPipeline()
{
    m_watchdog.stop();
    releasePipeline(m_pipeline);
}

void ViewPublisher::fail(const QString &why)
{
    stopPipeline();
    ++m_failures;
    m_announce = true;
    qCWarning(lcServer, "Publishing view %s to %s failed: %s; trying again in %d s", qUtf8Printable(m_label),
              qUtf8Printable(target()), qUtf8Printable(AppLogging::withoutPasswords(why)), m_retryMs / 1000);
    m_restart.start(m_retryMs);
    m_retryMs = qMin(m_retryMs * 2, kMaxRetryMs);
}

void ViewPublisher::handleMessage(quint64 generation, GstMessage *message)
{
    if (generation != m_generation || !m_pipeline)
        return;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        fail(QStringLiteral("the view's stream ended"));
        return;
    }
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    qCDebug(lcServer, "Publishing view %s: %s", qUtf8Printable(m_label),
            qUtf8Printable(AppLogging::withoutPasswords(QString::fromUtf8(debug ? debug : ""))));
    const QString why = QString::fromUtf8(error ? error->message : "error");
    g_clear_error(&error);
    g_free(debug);
    fail(why);
}

void ViewPublisher::checkProgress()
{
    const quint64 sent = m_sent->load();
    const qint64 now = g_get_monotonic_time();
    if (sent != m_sentAtCheck) {
        m_sentAtCheck = sent;
        m_progressUs = now;
        m_retryMs = 1000;
        if (m_announce)
            qCInfo(lcServer, "Publishing view %s at %s", qUtf8Printable(m_label), qUtf8Printable(target()));
        m_announce = false;
    } else if (now - m_progressUs > kStallUs) {
        fail(QStringLiteral("no frame went out for %1 s").arg(kStallUs / 1000000));
    }
}
