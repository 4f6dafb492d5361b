#include "bench/video/stampedpublisher.h"

#include "platform/simulators/fisheye/fisheyescene.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>

namespace {
// Send times older than this are forgotten: no frame arriving later counts.
constexpr qint64 kForgetNs = 10LL * 1000 * 1000 * 1000;
// What a stamp holds of a frame's number.
constexpr quint32 kNumberMask = (1u << FrameStamp::kBits) - 1;
} // namespace

StampedPublisher::StampedPublisher(int width, int height, int fps, const FrameStamp &stamp)
    : m_width(width), m_height(height), m_fps(std::max(1, fps)), m_stamp(stamp)
{
    FisheyeLens lens;
    lens.width = width;
    lens.height = height;
    lens.centerX = width / 2.0;
    lens.centerY = height / 2.0;
    lens.radius = std::min(width, height) / 2.0;
    m_scene = std::make_unique<FisheyeScene>(lens);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { push(); });
    m_clock.start();
}

StampedPublisher::~StampedPublisher()
{
    stop();
}

QString StampedPublisher::start(QString *error)
{
    stop();
    const QString launch = QStringLiteral("appsrc name=src is-live=true format=time do-timestamp=true ! x264enc "
                                          "tune=zerolatency speed-preset=ultrafast threads=2 key-int-max=%1 ! "
                                          "h264parse config-interval=-1 ! mpegtsmux alignment=7 ! "
                                          "zmqsink name=sink endpoint=tcp://127.0.0.1:*")
                               .arg(m_fps);
    GError *parseError = nullptr;
    m_pipeline = gst_parse_launch(launch.toUtf8().constData(), &parseError);
    if (parseError || !m_pipeline) {
        *error = QString::fromUtf8(parseError ? parseError->message : "cannot build the pipeline");
        g_clear_error(&parseError);
        if (m_pipeline)
            gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
        return {};
    }
    m_source = gst_bin_get_by_name(GST_BIN(m_pipeline), "src");
    GstCaps *caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, m_width, "height",
                            G_TYPE_INT, m_height, "framerate", GST_TYPE_FRACTION, m_fps, 1, nullptr);
    g_object_set(m_source, "caps", caps, nullptr);
    gst_caps_unref(caps);
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        *error = QStringLiteral("the pipeline does not start");
        stop();
        return {};
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
    gchar *endpoint = nullptr;
    g_object_get(sink, "bound-endpoint", &endpoint, nullptr);
    gst_object_unref(sink);
    const QString bound = QString::fromUtf8(endpoint ? endpoint : "");
    g_free(endpoint);
    m_timer.start(1000 / m_fps);
    return bound;
}

void StampedPublisher::stop()
{
    m_timer.stop();
    if (m_source) {
        gst_object_unref(m_source);
        m_source = nullptr;
    }
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
    }
}

void StampedPublisher::push()
{
    quint32 number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        number = m_next++;
    }
    auto *frame = new QByteArray(m_scene->frame(number));
    m_stamp.draw(reinterpret_cast<uint8_t *>(frame->data()), m_width, number);
    GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, frame->data(), gsize(frame->size()), 0,
                                                    gsize(frame->size()), frame,
                                                    [](gpointer p) { delete static_cast<QByteArray *>(p); });
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qint64 now = m_clock.nsecsElapsed();
        m_sent.insert(number & kNumberMask, now);
        for (auto it = m_sent.begin(); it != m_sent.end();)
            it = now - it.value() > kForgetNs ? m_sent.erase(it) : std::next(it);
    }
    gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
}

double StampedPublisher::latencyMs(qint64 number, qint64 arrivalNs) const
{
    if (number < 0)
        return -1.0;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sent.constFind(quint32(number) & kNumberMask);
    return it == m_sent.constEnd() ? -1.0 : (arrivalNs - it.value()) / 1e6;
}

quint32 StampedPublisher::framesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_next - 1;
}
