#include "platform/simulators/fisheye/fisheyepublisher.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

namespace {

QString lastBusError(GstElement *pipeline)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (!msg)
        return QStringLiteral("the pipeline did not start");
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &error, &debug);
    QString text = QString::fromUtf8(error ? error->message : "error");
    if (debug)
        text += QStringLiteral(" (%1)").arg(QString::fromUtf8(debug));
    if (error)
        g_error_free(error);
    g_free(debug);
    gst_message_unref(msg);
    return text;
}

} // namespace

FisheyePublisher::FisheyePublisher(const PublisherSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    m_settings.fps = qBound(1, m_settings.fps, 120);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FisheyePublisher::pushFrame);
}

FisheyePublisher::~FisheyePublisher()
{
    stop();
}

bool FisheyePublisher::start()
{
    stop();
    m_scene = std::make_unique<FisheyeScene>(m_settings.lens);
    const FisheyeLens &lens = m_scene->lens();

    int bitrate = m_settings.bitrate;
    if (bitrate <= 0)
        bitrate = qBound(500, int(qint64(lens.width) * lens.height * m_settings.fps / 4000), 8000);

    // Prefer x264; openh264 is the fall-back when plugins-ugly is missing.
    const bool x264 = gst_registry_check_feature_version(gst_registry_get(), "x264enc", 1, 0, 0);
    const QString encoder =
        x264
            ? QStringLiteral("x264enc name=encoder tune=zerolatency speed-preset=ultrafast threads=1 "
                             "key-int-max=%1 bitrate=%2")
                  .arg(m_settings.fps)
                  .arg(bitrate)
            : QStringLiteral("openh264enc name=encoder gop-size=%1 bitrate=%2").arg(m_settings.fps).arg(bitrate * 1000);
    const QString line = QStringLiteral("appsrc name=src is-live=true format=time do-timestamp=true ! %1 ! "
                                        "h264parse config-interval=-1 ! mpegtsmux alignment=7 ! zmqsink name=sink")
                             .arg(encoder);

    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(line.toLatin1().constData(), &error);
    if (error) {
        m_error = QString::fromUtf8(error->message);
        g_error_free(error);
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    m_pipeline = GST_ELEMENT(gst_object_ref_sink(pipeline));

    GstElement *sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
    const QString endpoint =
        QStringLiteral("tcp://%1:%2")
            .arg(m_settings.host, m_settings.port > 0 ? QString::number(m_settings.port) : QStringLiteral("*"));
    g_object_set(sink, "endpoint", endpoint.toUtf8().constData(), nullptr);
    gst_object_unref(sink);

    m_appsrc = gst_bin_get_by_name(GST_BIN(m_pipeline), "src");
    GstCaps *caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, lens.width, "height",
                            G_TYPE_INT, lens.height, "framerate", GST_TYPE_FRACTION, m_settings.fps, 1, nullptr);
    g_object_set(m_appsrc, "caps", caps, "max-bytes", guint64(m_scene->frameSize()) * 4, nullptr);
    gst_caps_unref(caps);

    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        m_error = lastBusError(m_pipeline);
        stop();
        return false;
    }
    m_frame = 0;
    pushFrame();
    m_timer.start(1000 / m_settings.fps);
    return true;
}

void FisheyePublisher::stop()
{
    m_timer.stop();
    if (m_appsrc) {
        gst_object_unref(m_appsrc);
        m_appsrc = nullptr;
    }
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
    }
}

QString FisheyePublisher::boundEndpoint() const
{
    if (!m_pipeline)
        return QString();
    GstElement *sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
    gchar *bound = nullptr;
    g_object_get(sink, "bound-endpoint", &bound, nullptr);
    gst_object_unref(sink);
    QString result = QString::fromUtf8(bound);
    g_free(bound);
    return result;
}

void FisheyePublisher::pushFrame()
{
    if (!m_appsrc)
        return;
    // The frame's bytes move into the buffer without a copy.
    auto *bytes = new QByteArray(m_scene->frame(m_frame++));
    GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, bytes->data(), gsize(bytes->size()), 0,
                                                    gsize(bytes->size()), bytes,
                                                    [](gpointer data) { delete static_cast<QByteArray *>(data); });
    gst_app_src_push_buffer(GST_APP_SRC(m_appsrc), buffer);
}
