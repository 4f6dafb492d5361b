#pragma once

// A bounded RTSP client for the server tests: rtspsrc on a loopback URL, decoded to RGB, keeping
// the newest frame, the frame count and whether the stream ended or failed.

#include <QDeadlineTimer>
#include <QImage>
#include <QString>
#include <QtTest>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <mutex>

class RtspClient
{
public:
    explicit RtspClient(const QString &url)
    {
        m_pipeline = gst_parse_launch("rtspsrc name=src protocols=tcp latency=100 ! rtph264depay ! avdec_h264 ! "
                                      "videoconvert ! video/x-raw,format=RGB ! appsink name=sink sync=false "
                                      "max-buffers=2 drop=true",
                                      nullptr);
        GstElement *src = gst_bin_get_by_name(GST_BIN(m_pipeline), "src");
        g_object_set(src, "location", url.toUtf8().constData(), "timeout", guint64(20 * G_USEC_PER_SEC), nullptr);
        gst_object_unref(src);
        GstElement *sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = [](GstAppSink *appsink, gpointer data) -> GstFlowReturn {
            auto *self = static_cast<RtspClient *>(data);
            GstSample *sample = gst_app_sink_pull_sample(appsink);
            if (!sample)
                return GST_FLOW_EOS;
            GstVideoInfoLite info;
            if (info.read(gst_sample_get_caps(sample))) {
                GstMapInfo map;
                GstBuffer *buffer = gst_sample_get_buffer(sample);
                if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                    const int stride = (info.width * 3 + 3) & ~3;
                    QImage image(map.data, info.width, info.height, stride, QImage::Format_RGB888);
                    std::lock_guard<std::mutex> lock(self->m_mutex);
                    self->m_last = image.copy();
                    ++self->m_frames;
                    gst_buffer_unmap(buffer, &map);
                }
            }
            gst_sample_unref(sample);
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_object_unref(sink);
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    }

    ~RtspClient()
    {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }

    int frames()
    {
        poll();
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }

    QImage lastFrame()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }

    bool failed()
    {
        poll();
        return m_failed;
    }
    bool ended()
    {
        poll();
        return m_ended;
    }
    QString error() const { return m_error; }

    // Waits until at least count frames arrived, or the stream failed, up to ms.
    bool waitForFrames(int count, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (frames() < count) {
            if (deadline.hasExpired() || m_failed)
                return false;
            QTest::qWait(50);
        }
        return true;
    }

    bool waitForFailureOrEnd(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!failed() && !ended()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(50);
        }
        return true;
    }

private:
    struct GstVideoInfoLite
    {
        int width = 0;
        int height = 0;
        bool read(GstCaps *caps)
        {
            if (!caps || gst_caps_get_size(caps) == 0)
                return false;
            const GstStructure *s = gst_caps_get_structure(caps, 0);
            return gst_structure_get_int(s, "width", &width) && gst_structure_get_int(s, "height", &height);
        }
    };

    void poll()
    {
        GstBus *bus = gst_element_get_bus(m_pipeline);
        while (GstMessage *message = gst_bus_pop(bus)) {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                GError *error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                m_failed = true;
                m_error = QString::fromUtf8(error ? error->message : "");
                g_clear_error(&error);
            } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
                m_ended = true;
            }
            gst_message_unref(message);
        }
        gst_object_unref(bus);
    }

    GstElement *m_pipeline = nullptr;
    std::mutex m_mutex;
    QImage m_last;
    int m_frames = 0;
    bool m_failed = false;
    bool m_ended = false;
    QString m_error;
};
