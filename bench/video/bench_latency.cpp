// Latency from a frame leaving our publisher (pushed into its encoder) to the
// decoded sample reaching the producer's app sink, over ZeroMQ on loopback at
// 30 fps. Each frame carries its number in a row of black/white blocks.
//
//   bench_latency [seconds] [width] [height]
#include "app/startup.h"
#include "bench/video/benchsupport.h"
#include "platform/fisheye/fisheyescene.h"
#include "video/producer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHash>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <mutex>

namespace {
constexpr int kBits = 16;
constexpr int kBlock = 32;

void stamp(QByteArray &frame, int width, quint32 number)
{
    auto *y = reinterpret_cast<quint8 *>(frame.data());
    for (int bit = 0; bit < kBits; ++bit) {
        const quint8 level = (number >> bit) & 1 ? 235 : 16;
        for (int row = 0; row < kBlock; ++row)
            std::fill_n(y + row * width + bit * kBlock, kBlock, level);
    }
}

quint32 readStamp(const quint8 *y, int stride)
{
    quint32 number = 0;
    for (int bit = 0; bit < kBits; ++bit)
        if (y[(kBlock / 2) * stride + bit * kBlock + kBlock / 2] > 128)
            number |= 1u << bit;
    return number;
}
} // namespace

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 15;
    FisheyeLens lens;
    lens.width = argc > 2 ? atoi(argv[2]) : 1280;
    lens.height = argc > 3 ? atoi(argv[3]) : 960;
    lens.centerX = lens.width / 2.0;
    lens.centerY = lens.height / 2.0;
    lens.radius = std::min(lens.width, lens.height) / 2.0;
    const FisheyeScene scene(lens);
    const int fps = 30;

    GstElement *publisher = gst_parse_launch(
        "appsrc name=src is-live=true format=time do-timestamp=true ! x264enc tune=zerolatency "
        "speed-preset=ultrafast threads=2 key-int-max=30 ! h264parse config-interval=-1 ! mpegtsmux alignment=7 ! "
        "zmqsink name=sink endpoint=tcp://127.0.0.1:*",
        nullptr);
    GstElement *src = gst_bin_get_by_name(GST_BIN(publisher), "src");
    GstCaps *caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, lens.width, "height",
                            G_TYPE_INT, lens.height, "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
    g_object_set(src, "caps", caps, nullptr);
    gst_caps_unref(caps);
    gst_element_set_state(publisher, GST_STATE_PLAYING);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(publisher), "sink");
    gchar *endpoint = nullptr;
    g_object_get(sink, "bound-endpoint", &endpoint, nullptr);

    QElapsedTimer clock;
    clock.start();
    std::mutex mutex;
    QHash<quint32, qint64> sent; // frame number -> send time (ns)
    QVector<double> latencies;   // ms

    Producer producer;
    producer.setSource(QStringLiteral("zmq:") + QString::fromLatin1(endpoint));
    g_free(endpoint);
    producer.start();
    // Arrival is taken where decoded frames enter the producer's app sink.
    GstElement *appsink = gst_bin_get_by_name(GST_BIN(producer.pipeline()), "appsink");
    GstPad *pad = gst_element_get_static_pad(appsink, "sink");
    struct ProbeData
    {
        std::mutex *mutex;
        QHash<quint32, qint64> *sent;
        QVector<double> *latencies;
        QElapsedTimer *clock;
        int width;
    } probeData{&mutex, &sent, &latencies, &clock, lens.width};
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad *, GstPadProbeInfo *info, gpointer user) -> GstPadProbeReturn {
            auto *data = static_cast<ProbeData *>(user);
            const qint64 now = data->clock->nsecsElapsed();
            GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            GstMapInfo map;
            if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                const quint32 number = readStamp(map.data, data->width);
                gst_buffer_unmap(buffer, &map);
                std::lock_guard<std::mutex> lock(*data->mutex);
                auto it = data->sent->find(number);
                if (it != data->sent->end()) {
                    data->latencies->append((now - it.value()) / 1e6);
                    data->sent->erase(it);
                }
            }
            return GST_PAD_PROBE_OK;
        },
        &probeData, nullptr);
    gst_object_unref(pad);
    gst_object_unref(appsink);

    quint32 number = 1;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QByteArray frame = scene.frame(number);
        stamp(frame, lens.width, number);
        auto *bytes = new QByteArray(frame);
        GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, bytes->data(), gsize(bytes->size()),
                                                        0, gsize(bytes->size()), bytes,
                                                        [](gpointer p) { delete static_cast<QByteArray *>(p); });
        {
            std::lock_guard<std::mutex> lock(mutex);
            sent.insert(number, clock.nsecsElapsed());
        }
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
        ++number;
    });
    timer.start(1000 / fps);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QGuiApplication::exec();
    timer.stop();
    producer.stop();
    gst_element_set_state(publisher, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(src);
    gst_object_unref(publisher);

    std::sort(latencies.begin(), latencies.end());
    if (latencies.isEmpty()) {
        std::printf("no frame arrived\n");
        return 1;
    }
    // Frames before the first key frame never decode: they count as lost.
    std::printf("%dx%d at %d fps: %d of %u frames measured; latency median %.1f ms, p90 %.1f ms, max %.1f ms\n",
                lens.width, lens.height, fps, int(latencies.size()), number - 1, latencies[latencies.size() / 2],
                latencies[latencies.size() * 9 / 10], latencies.last());
    return 0;
}
