// Latency from a frame leaving our publisher (pushed into its encoder) to the
// decoded sample reaching the producer's app sink, over ZeroMQ on loopback at
// 30 fps. Each frame carries its number in a row of black/white blocks (FrameStamp).
//
//   bench_latency [seconds] [width] [height]
#include "app/startup.h"
#include "bench/video/framestamp.h"
#include "bench/video/latencyrecord.h"
#include "bench/video/stampedpublisher.h"
#include "video/producer.h"

#include <QGuiApplication>
#include <QTimer>
#include <cstdio>
#include <gst/gst.h>

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 15;
    const int width = argc > 2 ? atoi(argv[2]) : 1280;
    const int height = argc > 3 ? atoi(argv[3]) : 960;
    const int fps = 30;
    const FrameStamp stamp = FrameStamp::topRow();
    StampedPublisher publisher(width, height, fps, stamp);
    QString error;
    const QString endpoint = publisher.start(&error);
    if (endpoint.isEmpty()) {
        std::printf("the publisher does not start: %s\n", qUtf8Printable(error));
        return 1;
    }

    LatencyRecord record(publisher);

    Producer producer;
    producer.setSource(QStringLiteral("zmq:") + endpoint);
    producer.start();
    // Arrival is taken where decoded frames enter the producer's app sink.
    GstElement *appsink = gst_bin_get_by_name(GST_BIN(producer.pipeline()), "appsink");
    GstPad *pad = gst_element_get_static_pad(appsink, "sink");
    struct ProbeData
    {
        LatencyRecord *record;
        const StampedPublisher *publisher;
        QVector<QPointF> centres;
        int width;
        int height;
    } probeData{&record, &publisher, stamp.centres(), width, height};
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad *, GstPadProbeInfo *info, gpointer user) -> GstPadProbeReturn {
            auto *data = static_cast<ProbeData *>(user);
            const qint64 now = data->publisher->elapsedNs();
            GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            GstMapInfo map;
            if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                const qint64 number = FrameStamp::read(map.data, data->width, data->width, data->height, data->centres);
                gst_buffer_unmap(buffer, &map);
                data->record->add(number, now);
            }
            return GST_PAD_PROBE_OK;
        },
        &probeData, nullptr);
    gst_object_unref(pad);
    gst_object_unref(appsink);

    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QGuiApplication::exec();
    const quint32 sent = publisher.framesSent();
    publisher.stop();
    producer.stop();

    // Frames before the first key frame never decode: they count as lost.
    std::printf("%dx%d at %d fps, %u frames sent: %s\n", width, height, fps, sent, qUtf8Printable(record.summary()));
    return record.count() > 0 ? 0 : 1;
}
