#include "platform/ostrevan/streamsource.h"

#include "platform/ostrevan/serverlogging.h"
#include "platform/ostrevan/serverpipeline.h"
#include "platform/ostrevan/viewchannel.h"
#include "repo/sourceaddress.h"

#include <QPointer>

#include <gst/app/gstappsink.h>
// GIO's headers use "signals" as a name, which Qt defines as a keyword.
#undef signals
#include <gst/gl/gl.h>
#define signals Q_SIGNALS

namespace {

// A source that delivered frames and then went quiet this long is built again: a publisher that
// restarted may need a fresh decoder.
constexpr qint64 kStallUs = 5 * 1000 * 1000;
constexpr int kMaxRetryMs = 5000;

GstFlowReturn onNewSample(GstAppSink *sink, gpointer data)
{
    auto *shared = static_cast<StreamSource::Shared *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    shared->decoded.fetch_add(1);
    const qint64 now = g_get_monotonic_time();
    shared->lastFrameUs.store(now);
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        for (const std::shared_ptr<ViewChannel> &view : shared->views)
            view->offer(sample, now);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

} // namespace

StreamSource::StreamSource(const QString &serial, const QString &url, bool gl, QObject *parent)
    : QObject(parent), m_serial(serial), m_url(url), m_shared(std::make_shared<Shared>())
{
    if (gl) {
        // The GL elements take the first context of their display; they would otherwise make
        // one each per view.
        m_glDisplay = gst_gl_display_new();
        GError *error = nullptr;
        if (gst_gl_display_create_context(m_glDisplay, nullptr, &m_glContext, &error)) {
            gst_gl_display_add_context(m_glDisplay, m_glContext);
        } else {
            qCWarning(lcSource, "Stream %s: no GL context for its views: %s", qUtf8Printable(serial),
                      error ? error->message : "unknown error");
            g_clear_error(&error);
        }
    }
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, &StreamSource::start);
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, &StreamSource::checkStalled);
}

StreamSource::~StreamSource()
{
    stopPipeline();
    if (m_glContext)
        gst_object_unref(m_glContext);
    if (m_glDisplay)
        gst_object_unref(m_glDisplay);
}

GstContext *StreamSource::glContext() const
{
    if (!m_glDisplay)
        return nullptr;
    GstContext *context = gst_context_new(GST_GL_DISPLAY_CONTEXT_TYPE, TRUE);
    gst_context_set_gl_display(context, m_glDisplay);
    return context;
}

GstElement *StreamSource::buildPipeline(const QString &url, bool *live, QString *error, GstContext *gl)
{
    const SourceAddress address = SourceAddress::parse(url.toStdString());
    if (!address.isValid()) {
        *error = QString::fromStdString(address.error());
        return nullptr;
    }
    *live = address.isLive();
    // Only fixed text goes into the launch line: the factory comes from the address's own table
    // and its values are set as properties, so no address can add or change elements.
    const QString launch = QString::fromStdString(address.element()) +
                           QStringLiteral(" name=source ! decodebin ! videoconvert ! video/x-raw,format=I420 ! %1"
                                          "appsink name=sink max-buffers=2 drop=true sync=%2")
                               .arg(gl ? QLatin1String("glupload ! ") : QLatin1String(""),
                                    *live ? QLatin1String("false") : QLatin1String("true"));
    GError *parseError = nullptr;
    GstElement *pipeline = gst_parse_launch(launch.toUtf8().constData(), &parseError);
    if (parseError || !pipeline) {
        *error = QStringLiteral("cannot build its pipeline: %1")
                     .arg(QString::fromUtf8(parseError ? parseError->message : "unknown error"));
        if (parseError)
            g_error_free(parseError);
        if (pipeline)
            gst_object_unref(pipeline);
        return nullptr;
    }
    GstElement *source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    // The test pattern and ZeroMQ stand in for cameras: they pace themselves.
    if (*live && g_object_class_find_property(G_OBJECT_GET_CLASS(source), "is-live"))
        g_object_set(source, "is-live", TRUE, nullptr);
    if (address.element() == "rtspsrc")
        g_object_set(source, "latency", 200u, nullptr);
    for (const SourceAddress::Property &property : address.properties())
        g_object_set(source, property.first.c_str(), property.second.c_str(), nullptr);
    gst_object_unref(source);
    if (gl)
        gst_element_set_context(pipeline, gl);
    qCDebug(lcSource, "Source %s: %s", qUtf8Printable(url), qUtf8Printable(launch));
    return pipeline;
}

void StreamSource::start()
{
    stopPipeline();
    bool live = true;
    QString error;
    const SourceAddress address = SourceAddress::parse(m_url.toStdString());
    if (!address.isValid()) {
        if (!m_configError)
            qCWarning(lcSource, "Stream %s cannot be received: %s", qUtf8Printable(m_serial), address.error().c_str());
        m_lastError = QString::fromStdString(address.error());
        m_configError = true;
        return;
    }
    GstContext *gl = m_glContext ? glContext() : nullptr;
    GstElement *pipeline = buildPipeline(m_url, &live, &error, gl);
    if (gl)
        gst_context_unref(gl);
    if (!pipeline) {
        scheduleRestart(error);
        return;
    }
    m_live = live;
    m_looping = false;
    m_pipeline = pipeline;
    ++m_generation;

    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = onNewSample;
    // The shared part outlives the pipeline: stopPipeline() sets it to NULL before dropping it.
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, m_shared.get(), nullptr);
    gst_object_unref(sink);

    // Bus messages come on streaming threads; the work is done on this object's thread.
    forwardBusMessages(pipeline, this, m_generation,
                       GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_WARNING |
                                      GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_SEGMENT_DONE),
                       &StreamSource::handleMessage);

    m_startedUs = g_get_monotonic_time();
    m_shared->lastFrameUs.store(0);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        scheduleRestart(QStringLiteral("cannot start"));
        return;
    }
    if (m_announce)
        qCInfo(lcSource, "Receiving stream %s from %s", qUtf8Printable(m_serial), qUtf8Printable(m_url));
    m_announce = false;
    m_watchdog.start();
}

void StreamSource::stopPipeline()
{
    m_watchdog.stop();
    // Nothing calls into the views afterwards.
    releasePipeline(m_pipeline);
}

void StreamSource::scheduleRestart(const QString &why)
{
    stopPipeline();
    ++m_restarts;
    m_announce = true;
    m_lastError = why;
    qCWarning(lcSource, "Stream %s: the source %s; trying again in %d ms", qUtf8Printable(m_serial),
              qUtf8Printable(why), m_retryMs);
    m_restartTimer.start(m_retryMs);
    m_retryMs = qMin(m_retryMs * 2, kMaxRetryMs);
}

void StreamSource::handleMessage(quint64 generation, GstMessage *message)
{
    if (generation != m_generation || !m_pipeline)
        return;
    if (m_shared->lastFrameUs.load() != 0)
        m_retryMs = 1000; // it worked for a while: start over with a short pause
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        // A file plays in a loop of segment seeks: at the end of each pass the next one is queued
        // behind the frames still on their way, so the stream goes on without a hole. A source that
        // cannot seek so (a still picture) ends and is played again instead.
        if (!m_live && !m_looping && GST_MESSAGE_SRC(message) == GST_OBJECT(m_pipeline)) {
            m_looping = gst_element_seek(m_pipeline, 1.0, GST_FORMAT_TIME,
                                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_SEGMENT), GST_SEEK_TYPE_SET,
                                         0, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
            qCDebug(lcSource, "Stream %s: %s", qUtf8Printable(m_serial),
                    m_looping ? "the file plays in a loop" : "the file cannot loop; it is played again when it ends");
        }
        break;
    case GST_MESSAGE_SEGMENT_DONE:
        if (!gst_element_seek(m_pipeline, 1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_SEGMENT, GST_SEEK_TYPE_SET, 0,
                              GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE))
            scheduleRestart(QStringLiteral("cannot play the file again"));
        break;
    case GST_MESSAGE_EOS:
        if (m_live) {
            scheduleRestart(QStringLiteral("ended"));
        } else {
            // A file plays again from the start; its views repeat the last frame meanwhile.
            qCDebug(lcSource, "Stream %s: the file ended, playing it again", qUtf8Printable(m_serial));
            stopPipeline();
            m_restartTimer.start(1000);
        }
        break;
    case GST_MESSAGE_ERROR: {
        GError *error = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        qCDebug(lcSource, "Stream %s: %s", qUtf8Printable(m_serial), debug ? debug : "");
        scheduleRestart(QStringLiteral("failed (%1)").arg(QString::fromUtf8(error ? error->message : "")));
        g_clear_error(&error);
        g_free(debug);
        break;
    }
    case GST_MESSAGE_WARNING: {
        GError *error = nullptr;
        gst_message_parse_warning(message, &error, nullptr);
        qCDebug(lcSource, "Stream %s: %s", qUtf8Printable(m_serial), error ? error->message : "");
        g_clear_error(&error);
        break;
    }
    default:
        break;
    }
}

QString StreamSource::state() const
{
    if (m_configError)
        return QStringLiteral("unusable");
    if (!m_pipeline)
        return QStringLiteral("reconnecting");
    const qint64 last = m_shared->lastFrameUs.load();
    return last != 0 && g_get_monotonic_time() - last < kStallUs ? QStringLiteral("receiving")
                                                                 : QStringLiteral("starting");
}

void StreamSource::checkStalled()
{
    const qint64 last = m_shared->lastFrameUs.load();
    if (last != 0 && g_get_monotonic_time() - last > kStallUs) {
        m_retryMs = 1000;
        scheduleRestart(QStringLiteral("stopped delivering frames"));
    }
}

void StreamSource::addView(const std::shared_ptr<ViewChannel> &view)
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->views.push_back(view);
}

void StreamSource::removeView(const std::shared_ptr<ViewChannel> &view)
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    auto &views = m_shared->views;
    views.erase(std::remove(views.begin(), views.end(), view), views.end());
}
