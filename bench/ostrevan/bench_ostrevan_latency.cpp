// What the streaming server adds to the latency: the site's fisheye scene is published live on
// ZeroMQ (1280x960 at 30 fps), every frame stamped with its number (StampedPublisher, as bench_latency
// measures the program's producer); the server serves one view of it, looking along the lens axis at
// 1280x720 and 15 fps on the CPU path. Two clients of the same make, each a decoder into an app sink
// that does not sync,
//
//   SOURCE ! decodebin ! videoconvert ! video/x-raw,format=I420 ! appsink sync=false
//
// read the source directly (zmqsrc, live, as the server reads it) and the view (rtspsrc over TCP with
// no jitter buffer latency) side by side; each picture's stamp is read where the view shows the stamp's
// blocks, and the time from the frame leaving the publisher to its picture reaching the app sink is its
// latency. The server adds the difference of the two medians.
//
// New clients of the view, one after another, each alone: the time from starting one (its RTSP
// requests included) to its first picture, and that picture's own latency. The first comes before the
// run, to a view nobody watched yet (its remap table is built for it); the others after the run.
//
//   bench_ostrevan_latency [SECONDS] [JOINS]     (20 s, 5 new clients after the run)

#include "bench/video/benchsupport.h"
#include "bench/video/framestamp.h"
#include "bench/video/latencyrecord.h"
#include "bench/video/stampedpublisher.h"
#include "defish/fisheyeprojection.h"
#include "platform/zmq/zmqelements.h"
#include "tests/platform/ostrevan/objectsfilewriter.h"
#include "tests/platform/ostrevan/serverrun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr int kFps = 30;
constexpr int kViewWidth = 1280;
constexpr int kViewHeight = 720;
constexpr float kZoom = 90.0f;

// One client: a pipeline whose pictures are read for their stamps.
struct Client
{
    GstElement *pipeline = nullptr;
    const StampedPublisher *publisher = nullptr;
    LatencyRecord *record = nullptr;
    QVector<QPointF> centres;       // where the stamp's blocks lie in this client's pictures
    std::atomic<qint64> firstNs{0}; // when the first picture with a readable stamp came
    std::atomic<qint64> firstLatencyUs{-1};
};

GstFlowReturn onSample(GstAppSink *sink, gpointer data)
{
    auto *client = static_cast<Client *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    const qint64 now = client->publisher->elapsedNs();
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        const qint64 number = FrameStamp::read(static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                                               GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), GST_VIDEO_FRAME_WIDTH(&frame),
                                               GST_VIDEO_FRAME_HEIGHT(&frame), client->centres);
        gst_video_frame_unmap(&frame);
        const double latency = client->record->add(number, now);
        qint64 none = 0;
        if (latency >= 0 && client->firstNs.compare_exchange_strong(none, now))
            client->firstLatencyUs.store(qint64(latency * 1000.0));
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// The same decoding client behind either source; null when it cannot be built.
bool startClient(Client *client, const QString &source)
{
    const QString launch = source + QStringLiteral(" ! decodebin ! videoconvert ! video/x-raw,format=I420 ! "
                                                   "appsink name=sink sync=false max-buffers=4 drop=true");
    GError *error = nullptr;
    client->pipeline = gst_parse_launch(launch.toUtf8().constData(), &error);
    if (error || !client->pipeline) {
        std::fprintf(stderr, "cannot build the client %s: %s\n", qUtf8Printable(launch),
                     error ? error->message : "unknown error");
        g_clear_error(&error);
        return false;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(client->pipeline), "sink");
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, client, nullptr);
    gst_object_unref(sink);
    return gst_element_set_state(client->pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

void stopClient(Client *client)
{
    if (!client->pipeline)
        return;
    gst_element_set_state(client->pipeline, GST_STATE_NULL);
    gst_object_unref(client->pipeline);
    client->pipeline = nullptr;
}

// Runs the event loop (the publisher's timer, the server's output) for ms, or until done() holds.
void runFor(int ms, const std::function<bool()> &done = {})
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done && done())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    // The publisher's zmqsink and the direct client's zmqsrc, built in as the server has them.
    if (!quillon_zmq_register_static()) {
        std::fprintf(stderr, "cannot register the ZeroMQ elements\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int joins = argc > 2 ? std::atoi(argv[2]) : 5;

    const FrameStamp stamp = FrameStamp::middle(kWidth, kHeight, 32);
    StampedPublisher publisher(kWidth, kHeight, kFps, stamp);
    QString error;
    const QString endpoint = publisher.start(&error);
    if (endpoint.isEmpty()) {
        std::fprintf(stderr, "the publisher does not start: %s\n", qUtf8Printable(error));
        return 1;
    }

    QTemporaryDir dir;
    ObjectsFileRows rows;
    rows.gateways.append({QStringLiteral("GW"), true});
    StreamFileRow stream;
    stream.serialGateway = QStringLiteral("GW");
    stream.serial = QStringLiteral("CAM");
    stream.url = QStringLiteral("zmq:") + endpoint;
    stream.centerX = kWidth / 2;
    stream.centerY = kHeight / 2;
    stream.radius = qMin(kWidth, kHeight) / 2;
    stream.fov = 180;
    rows.streams.append(stream);
    ViewFileRow view;
    view.serialStream = stream.serial;
    view.name = QStringLiteral("axis");
    view.zoom = kZoom;
    rows.views.append(view);
    const QString database = dir.filePath(QStringLiteral("objects.data"));
    if (!ObjectsFileWriter::write(database, rows)) {
        std::fprintf(stderr, "cannot write %s\n", qUtf8Printable(database));
        return 1;
    }
    ServerRun server({database, QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--address"),
                      QStringLiteral("127.0.0.1"), QStringLiteral("--dewarp"), QStringLiteral("cpu"),
                      QStringLiteral("--width"), QString::number(kViewWidth), QStringLiteral("--height"),
                      QString::number(kViewHeight)});
    const int port = server.waitForPort();
    if (port == 0) {
        std::fprintf(stderr, "the server does not start:\n%s\n", qUtf8Printable(server.output()));
        return 1;
    }
    const QString url = QStringLiteral("rtsp://127.0.0.1:%1/CAM/axis").arg(port);
    const QString served = QStringLiteral("rtspsrc location=%1 protocols=tcp latency=0").arg(url);

    // Where the view shows each block's centre: the view point whose ray the lens images there.
    const FisheyeLens lens{float(kWidth),         float(kHeight),       float(stream.centerX),
                           float(stream.centerY), float(stream.radius), float(stream.fov)};
    const FisheyeProjection projection(lens, FisheyeView{0.0f, 0.0f, 0.0f, kZoom, float(kViewWidth) / kViewHeight});
    QVector<QPointF> viewCentres;
    for (const QPointF &centre : stamp.centres()) {
        float u = -1.0f;
        float v = -1.0f;
        projection.fisheyeToView(float(centre.x() / kWidth), float(centre.y() / kHeight), &u, &v);
        viewCentres.append(QPointF(u * kViewWidth, v * kViewHeight));
    }

    std::printf("machine: %d cores; load average %s\n", QThread::idealThreadCount(),
                qUtf8Printable(bench::loadAverage()));
    std::printf("source %dx%d at %d fps on ZeroMQ; the server's view %dx%d at 15 fps (CPU path), %s\n", kWidth, kHeight,
                kFps, kViewWidth, kViewHeight, qUtf8Printable(url));
    // A new client alone: milliseconds from its start to its first picture, -1 for none within 5 s.
    const auto join = [&](const QString &label) {
        LatencyRecord record(publisher);
        Client client;
        client.publisher = &publisher;
        client.record = &record;
        client.centres = viewCentres;
        const qint64 start = publisher.elapsedNs();
        if (!startClient(&client, served))
            return -1.0;
        runFor(5000, [&client] { return client.firstNs.load() != 0; });
        const qint64 first = client.firstNs.load();
        stopClient(&client);
        runFor(1000);
        if (first == 0) {
            std::printf("%s: no picture within 5 s\n", qUtf8Printable(label));
            return -1.0;
        }
        const double ms = (first - start) / 1e6;
        std::printf("%s: first picture %.0f ms after it started, %.1f ms after its frame left the publisher\n",
                    qUtf8Printable(label), ms, client.firstLatencyUs.load() / 1000.0);
        return ms;
    };
    // The server receives the source (a key frame comes every second) before the view's first client.
    runFor(2000);
    join(QStringLiteral("first client of the view"));

    LatencyRecord direct(publisher);
    LatencyRecord viaServer(publisher);
    Client directClient;
    directClient.publisher = &publisher;
    directClient.record = &direct;
    directClient.centres = stamp.centres();
    Client servedClient;
    servedClient.publisher = &publisher;
    servedClient.record = &viaServer;
    servedClient.centres = viewCentres;
    if (!startClient(&directClient, QStringLiteral("zmqsrc endpoint=%1 is-live=true").arg(endpoint)) ||
        !startClient(&servedClient, served))
        return 1;
    // Both clients connected, a key frame in; then the run.
    runFor(3000);
    direct.clear();
    viaServer.clear();
    const qint64 serverPid = server.process().processId();
    const double cpu0 = bench::processCpuSeconds(serverPid);
    const QString load0 = bench::loadAverage();
    runFor(seconds * 1000);
    const double cpu = (bench::processCpuSeconds(serverPid) - cpu0) / seconds * 100.0;
    stopClient(&servedClient);
    stopClient(&directClient);
    std::printf("direct from the source: %s\n", qUtf8Printable(direct.summary()));
    std::printf("through the server:     %s\n", qUtf8Printable(viaServer.summary()));
    std::printf("the server adds %.1f ms (median against median); pictures with no readable stamp: %d direct, %d "
                "served; server CPU %.0f%% of one core over %d s; load average %s -> %s\n",
                viaServer.median() - direct.median(), direct.unreadable(), viaServer.unreadable(), cpu, seconds,
                qUtf8Printable(load0), qUtf8Printable(bench::loadAverage()));

    // New clients after the run, one at a time.
    QVector<double> firsts;
    for (int i = 0; i < joins; ++i) {
        const double ms = join(QStringLiteral("new client %1").arg(i + 1));
        if (ms >= 0)
            firsts.append(ms);
    }
    std::sort(firsts.begin(), firsts.end());
    if (!firsts.isEmpty())
        std::printf("new clients: first picture median %.0f ms, max %.0f ms (%d of %d)\n", firsts[firsts.size() / 2],
                    firsts.last(), int(firsts.size()), joins);
    publisher.stop();
    return 0;
}
