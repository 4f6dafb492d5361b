// One served view's media, as the RTSP server builds it from the view's launch line.
#include "platform/ostrevan/viewchannel.h"

#include <QtTest>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <mutex>
#include <vector>

namespace {

// A small served picture: 64x36 at 15 fps.
OutputOptions smallOutput()
{
    OutputOptions output;
    output.width = 64;
    output.height = 36;
    output.fps = 15;
    output.bitrateKbps = 500;
    return output;
}

// The view's media bin ("( ... )"), ending in an appsink named "out" instead of the RTSP stream; null,
// with *why, where it does not parse.
GstElement *mediaEndingInAppsink(const ViewChannel &view, QString *why)
{
    QString launch = view.mediaLaunch().trimmed();
    if (!launch.startsWith(QLatin1Char('(')) || !launch.endsWith(QLatin1Char(')'))) {
        *why = QStringLiteral("not a media bin: ") + launch;
        return nullptr;
    }
    launch = launch.mid(1, launch.size() - 2) + QStringLiteral(" ! appsink name=out sync=false");
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch.toUtf8().constData(), &error);
    if (error) {
        *why = QString::fromUtf8(error->message);
        g_clear_error(&error);
        gst_clear_object(&pipeline);
    }
    return pipeline;
}

// A lens circle filling a 64x48 frame and a straight view of 90 degrees: what the tests dewarp.
void aimStraight(ViewChannel &view)
{
    Lens lens;
    lens.centerX = 32;
    lens.centerY = 24;
    lens.radius = 24;
    lens.fov = 180.0f;
    ViewAim aim;
    aim.zoom = 90.0f;
    view.setGeometry(lens, aim);
}

} // namespace

class TstOstrevanView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }

    // The RTSP server builds a view's media and starts it while the view's worker may already push
    // frames into it. The first frame out must carry the media's own running time: stamped with the
    // clock's absolute time it would put every frame after it hours ahead, and clients would wait
    // for hours with the server busily serving.
    void framesPushedWhileTheMediaStartsCarryItsRunningTime()
    {
        ViewChannel view(QStringLiteral("CAM/view"), DewarpMode::Cpu, smallOutput());
        aimStraight(view);
        QString why;
        GstElement *pipeline = mediaEndingInAppsink(view, &why);
        QVERIFY2(pipeline, qPrintable(why));
        GstElement *appsrc = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        GstElement *out = gst_bin_get_by_name(GST_BIN(pipeline), "out");

        // A live media goes to PAUSED without data. On the way to PLAYING the pipeline gives its
        // elements the clock first and their base time later, one element after the other; the
        // frame is pushed in between.
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        GstClock *clock = gst_system_clock_obtain();
        gst_element_set_clock(pipeline, clock);
        gst_object_unref(clock);
        view.attach(appsrc, nullptr);
        std::vector<guint8> frame(64 * 48 * 3 / 2, 128);
        GstBuffer *buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GstCaps *caps = gst_caps_from_string("video/x-raw,format=I420,width=64,height=48,framerate=15/1");
        GstSample *sample = gst_sample_new(buffer, caps, nullptr, nullptr);
        view.offer(sample, g_get_monotonic_time());
        gst_sample_unref(sample);
        gst_caps_unref(caps);
        gst_buffer_unref(buffer);
        QTest::qWait(300);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);

        GstSample *first = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 10 * GST_SECOND);
        QVERIFY(first);
        const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(first));
        const GstClockTime runningTime =
            gst_segment_to_running_time(gst_sample_get_segment(first), GST_FORMAT_TIME, pts);
        gst_sample_unref(first);
        view.finish();
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(out);
        gst_object_unref(appsrc);
        gst_object_unref(pipeline);
        QVERIFY2(GST_CLOCK_TIME_IS_VALID(runningTime) && runningTime < 5 * GST_SECOND,
                 qPrintable(QStringLiteral("first frame at running time %1 s").arg(double(runningTime) / GST_SECOND)));
    }

    // Frames that come more than a frame period apart are stamped with the grid point at or before the
    // moment they leave appsrc, never a later one: a frame stamped ahead reaches the clients that much
    // later. The stamps still grow by a frame period at least.
    void framesAreNotStampedAheadOfTheirLeaving()
    {
        ViewChannel view(QStringLiteral("CAM/view"), DewarpMode::Cpu, smallOutput());
        aimStraight(view);
        QString why;
        GstElement *pipeline = mediaEndingInAppsink(view, &why);
        QVERIFY2(pipeline, qPrintable(why));
        GstElement *appsrc = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        view.attach(appsrc, nullptr);
        // After the view's own probe: each frame's stamp and the running time as it leaves.
        struct Left
        {
            std::mutex mutex;
            QVector<QPair<GstClockTime, GstClockTime>> frames; // stamp, running time
        } left;
        GstPad *pad = gst_element_get_static_pad(appsrc, "src");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *pad, GstPadProbeInfo *info, gpointer data) {
                GstElement *source = GST_PAD_PARENT(pad);
                GstClock *clock = gst_element_get_clock(source);
                if (!clock)
                    return GST_PAD_PROBE_OK;
                const GstClockTime now = gst_clock_get_time(clock) - gst_element_get_base_time(source);
                gst_object_unref(clock);
                auto *left = static_cast<Left *>(data);
                std::lock_guard<std::mutex> lock(left->mutex);
                left->frames.append({GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info)), now});
                return GST_PAD_PROBE_OK;
            },
            &left, nullptr);
        gst_object_unref(pad);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        // The new media's first frame, in the missing colour as there is no frame yet, leaves at once.
        QTest::qWait(110);

        std::vector<guint8> frame(64 * 48 * 3 / 2, 128);
        GstCaps *caps = gst_caps_from_string("video/x-raw,format=I420,width=64,height=48,framerate=15/1");
        for (int i = 0; i < 8; ++i) {
            GstBuffer *buffer = gst_buffer_new_memdup(frame.data(), frame.size());
            GstSample *sample = gst_sample_new(buffer, caps, nullptr, nullptr);
            view.offer(sample, g_get_monotonic_time());
            gst_sample_unref(sample);
            gst_buffer_unref(buffer);
            // More than a frame period (67 ms) apart, and sooner than a repeat of the last frame.
            QTest::qWait(110);
        }
        gst_caps_unref(caps);
        view.finish();
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(appsrc);
        gst_object_unref(pipeline);

        std::lock_guard<std::mutex> lock(left.mutex);
        // The missing-colour frame, the 8 frames, and a repeat of the last should a pause grow to half a
        // second: all stamped by the same rule.
        QVERIFY2(left.frames.size() >= 9, qPrintable(QString::number(left.frames.size())));
        const GstClockTime period = GST_SECOND / 15;
        for (int i = 0; i < left.frames.size(); ++i) {
            const GstClockTime stamp = left.frames[i].first;
            const GstClockTime leaving = left.frames[i].second;
            QVERIFY2(stamp <= leaving && leaving - stamp < period,
                     qPrintable(QStringLiteral("frame %1 stamped %2 ms, left at %3 ms")
                                    .arg(i)
                                    .arg(double(stamp) / GST_MSECOND)
                                    .arg(double(leaving) / GST_MSECOND)));
            if (i > 0)
                QVERIFY(stamp >= left.frames[i - 1].first + period - 1);
        }
    }
};

QTEST_GUILESS_MAIN(TstOstrevanView)
#include "tst_ostrevanview.moc"
