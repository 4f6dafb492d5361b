// The fisheye publisher: the lens model of the synthetic footage, the site
// file's "gateways" section, key frames on the wire, and the footage reaching a
// producer through zmqsrc.
#include "app/startup.h"
#include "platform/simulators/fisheye/fisheyepublisher.h"
#include "platform/simulators/fisheye/fisheyescene.h"
#include "platform/simulators/fisheye/sitestreams.h"
#include "support/freeport.h"
#include "video/producer.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

namespace {

constexpr std::uint32_t kGridLine = (35u << 16) | (35u << 8) | 60u;
constexpr std::uint32_t kFloor = (225u << 16) | (225u << 8) | 215u;

PublisherSettings smallStream()
{
    PublisherSettings settings;
    settings.name = QStringLiteral("T1");
    settings.port = 0;
    settings.fps = 15;
    settings.lens.width = 320;
    settings.lens.height = 240;
    SiteStreams::completeLens(&settings.lens, false, false, false);
    return settings;
}

} // namespace

class TestFisheyePublisher : public QObject
{
    Q_OBJECT

private slots:
    void straightFloorLinesFollowTheLensModel_data();
    void straightFloorLinesFollowTheLensModel();
    void halfTheLensFieldLandsOnTheCircle();
    void outsideTheCircleIsBlackAndFramesMove();
    void siteGatewaysBecomeStreams();
    void badSiteFilesAreRejected_data();
    void badSiteFilesAreRejected();
    void keyFrameAtLeastEverySecond();
    void footageReachesAProducer();
    void programPublishesEverySiteStream();
    void programRejectsBadOptions();
};

void TestFisheyePublisher::straightFloorLinesFollowTheLensModel_data()
{
    QTest::addColumn<double>("fov");
    QTest::newRow("180") << 180.0;
    QTest::newRow("163") << 163.0;
    QTest::newRow("220") << 220.0;
}

void TestFisheyePublisher::straightFloorLinesFollowTheLensModel()
{
    QFETCH(double, fov);
    FisheyeLens lens;
    lens.width = 1280;
    lens.height = 960;
    lens.centerX = 640;
    lens.centerY = 480;
    lens.radius = 470;
    lens.fov = fov;
    const FisheyeScene scene(lens);
    // Points along the straight floor line x = 0.5 project onto grid-line
    // pixels; points in the middle of a floor cell onto floor pixels.
    int checked = 0;
    for (double z = -0.9; z <= 0.9; z += 0.05) {
        QPointF onLine, inCell;
        QVERIFY(scene.project(0.5, 1.0, z, &onLine));
        QCOMPARE(scene.colourAt(int(onLine.x()), int(onLine.y())), kGridLine);
        if (scene.project(0.625, 1.0, std::round(z * 4) / 4 + 0.125, &inCell)) {
            QCOMPARE(scene.colourAt(int(inCell.x()), int(inCell.y())), kFloor);
            ++checked;
        }
    }
    QVERIFY(checked > 10);
}

void TestFisheyePublisher::halfTheLensFieldLandsOnTheCircle()
{
    FisheyeLens lens;
    lens.fov = 160;
    const FisheyeScene scene(lens);
    const double half = 80 * M_PI / 180;
    QPointF pixel;
    QVERIFY(scene.project(std::sin(half), std::cos(half), 0, &pixel));
    QVERIFY(std::fabs(pixel.x() - (lens.centerX + lens.radius)) < 1e-6);
    // Up in the scene is up in the picture: rows count from the top.
    QVERIFY(scene.project(0, std::cos(half), std::sin(half), &pixel));
    QVERIFY(std::fabs(pixel.y() - (lens.height - 1 - lens.centerY - lens.radius)) < 1e-6);
    // Beyond the lens field the ray misses the circle.
    QVERIFY(!scene.project(std::sin(half + 0.05), std::cos(half + 0.05), 0, &pixel));
}

void TestFisheyePublisher::outsideTheCircleIsBlackAndFramesMove()
{
    FisheyeLens lens;
    lens.width = 320;
    lens.height = 240;
    SiteStreams::completeLens(&lens, false, false, false);
    const FisheyeScene scene(lens);
    QCOMPARE(scene.colourAt(0, 0), FisheyeScene::kOutside);
    QCOMPARE(scene.colourAt(319, 239), FisheyeScene::kOutside);
    QVERIFY(scene.colourAt(160, 120) != FisheyeScene::kOutside);
    const QByteArray a = scene.frame(0), b = scene.frame(10);
    QCOMPARE(a.size(), 320 * 240 * 3 / 2);
    QCOMPARE(b.size(), a.size());
    QVERIFY(a != b);
    // Black in limited-range I420.
    QCOMPARE(quint8(a.at(0)), quint8(16));
}

void TestFisheyePublisher::siteGatewaysBecomeStreams()
{
    const QByteArray json = R"({
        "users": [], "objects": [],
        "gateways": [
            { "serial": "GW1", "host": "127.0.0.1", "port": 8081, "streams": [
                { "serial": "S1", "zmqPort": 5601 },
                { "serial": "S2", "zmqPort": 5602, "video": { "width": 640, "height": 480, "fps": 10,
                    "lens": { "centerX": 300, "centerY": 250, "radius": 200, "fov": 163 } } },
                { "serial": "S3" }
            ] },
            { "serial": "GW2", "host": "127.0.0.2", "streams": [
                { "serial": "S4", "zmqPort": 5604, "video": { "width": 800, "height": 600, "fov": 200 } }
            ] }
        ] })";
    QVector<PublisherSettings> streams;
    QString error;
    QVERIFY2(SiteStreams::parse(json, &streams, &error), qPrintable(error));
    QCOMPARE(streams.size(), 3);

    QCOMPARE(streams[0].name, QStringLiteral("S1"));
    QCOMPARE(streams[0].gateway, QStringLiteral("GW1"));
    QCOMPARE(streams[0].port, 5601);
    QCOMPARE(streams[0].fps, 15);
    QCOMPARE(streams[0].lens.width, 1280);
    QCOMPARE(streams[0].lens.height, 960);
    QCOMPARE(streams[0].lens.centerX, 640.0);
    QCOMPARE(streams[0].lens.centerY, 480.0);
    QCOMPARE(streams[0].lens.radius, 480.0);
    QCOMPARE(streams[0].lens.fov, 180.0);

    QCOMPARE(streams[1].lens.width, 640);
    QCOMPARE(streams[1].fps, 10);
    QCOMPARE(streams[1].lens.centerX, 300.0);
    QCOMPARE(streams[1].lens.centerY, 250.0);
    QCOMPARE(streams[1].lens.radius, 200.0);
    QCOMPARE(streams[1].lens.fov, 163.0);

    QCOMPARE(streams[2].host, QStringLiteral("127.0.0.2"));
    QCOMPARE(streams[2].gateway, QStringLiteral("GW2"));
    QCOMPARE(streams[2].lens.centerX, 400.0);
    QCOMPARE(streams[2].lens.radius, 300.0);
    QCOMPARE(streams[2].lens.fov, 200.0);
}

void TestFisheyePublisher::badSiteFilesAreRejected_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not json") << QByteArray("{ gateways: ");
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("no gateways") << QByteArray(R"({ "users": [] })");
    QTest::newRow("gateways not a list") << QByteArray(R"({ "gateways": {} })");
}

void TestFisheyePublisher::badSiteFilesAreRejected()
{
    QFETCH(QByteArray, json);
    QVector<PublisherSettings> streams;
    QString error;
    QVERIFY(!SiteStreams::parse(json, &streams, &error));
    QVERIFY(!error.isEmpty());
}

void TestFisheyePublisher::keyFrameAtLeastEverySecond()
{
    FisheyePublisher publisher(smallStream());
    QVERIFY2(publisher.start(), qPrintable(publisher.errorString()));
    const QString endpoint = publisher.boundEndpoint();
    QVERIFY(!endpoint.isEmpty());

    GstElement *pipeline = gst_parse_launch("zmqsrc name=src is-live=true ! tsdemux ! h264parse ! "
                                            "video/x-h264,alignment=au ! appsink name=sink sync=false",
                                            nullptr);
    QVERIFY(pipeline);
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "endpoint", endpoint.toUtf8().constData(), nullptr);
    gst_object_unref(src);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    // Frames are made on this thread: pull while the event loop runs.
    QVector<int> keyFrames;
    int frames = 0;
    QElapsedTimer timer;
    timer.start();
    while (frames < 60 && timer.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_MSECOND);
        if (!sample)
            continue;
        if (!GST_BUFFER_FLAG_IS_SET(gst_sample_get_buffer(sample), GST_BUFFER_FLAG_DELTA_UNIT))
            keyFrames << frames;
        ++frames;
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);

    QCOMPARE(frames, 60);
    QVERIFY2(keyFrames.size() >= 3, qPrintable(QString::number(keyFrames.size())));
    for (int i = 1; i < keyFrames.size(); ++i)
        QVERIFY(keyFrames[i] - keyFrames[i - 1] <= 15);
    QVERIFY(keyFrames.first() <= 15);
}

void TestFisheyePublisher::footageReachesAProducer()
{
    FisheyePublisher publisher(smallStream());
    QVERIFY2(publisher.start(), qPrintable(publisher.errorString()));
    Producer producer;
    producer.setSource(QStringLiteral("zmq:") + publisher.boundEndpoint());
    producer.start();
    QTRY_COMPARE_WITH_TIMEOUT(producer.state(), Producer::Playing, 20000);
    QCOMPARE(producer.videoInfo()->width(), 320);
    QCOMPARE(producer.videoInfo()->height(), 240);
    QCOMPARE(producer.videoInfo()->format(), QStringLiteral("I420"));
    producer.stop();
}

void TestFisheyePublisher::programPublishesEverySiteStream()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const int p1 = freeLoopbackPort(), p2 = freeLoopbackPort();
    QFile site(dir.filePath(QStringLiteral("site.json")));
    QVERIFY(site.open(QIODevice::WriteOnly));
    site.write(QStringLiteral(R"({ "gateways": [ { "serial": "GW1", "host": "127.0.0.1", "streams": [
        { "serial": "S1", "zmqPort": %1, "video": { "width": 320, "height": 240, "fps": 10 } },
        { "serial": "S2", "zmqPort": %2, "video": { "width": 320, "height": 240, "fps": 10 } } ] } ] })")
                   .arg(p1)
                   .arg(p2)
                   .toUtf8());
    site.close();

    QProcess program;
    // The site file as the plain argument, as the simulator launcher passes it.
    program.start(QStringLiteral(QUILLON_FISHEYE_PUB), {site.fileName(), "--duration", "20"});
    QVERIFY(program.waitForStarted(10000));
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(program.readAllStandardOutput())).count("Publishing") == 2,
                             20000);
    QVERIFY2(out.contains(QStringLiteral("Publishing S1 on tcp://127.0.0.1:%1 (320x240 at 10 fps").arg(p1)),
             qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("Publishing S2 on tcp://127.0.0.1:%1").arg(p2)));

    Producer producer;
    producer.setSource(QStringLiteral("zmq:tcp://127.0.0.1:%1").arg(p2));
    producer.start();
    QTRY_COMPARE_WITH_TIMEOUT(producer.state(), Producer::Playing, 20000);
    QCOMPARE(producer.videoInfo()->width(), 320);
    producer.stop();
    program.kill();
    program.waitForFinished(10000);
}

void TestFisheyePublisher::programRejectsBadOptions()
{
    const QList<QStringList> cases{{"--port", "abc"},
                                   {"--port", "5000", "--fps", "0"},
                                   {"--site", "/nonexistent/site.json"},
                                   {"--port", "5000", "--host", "not a host", "--duration", "1"}};
    for (const QStringList &arguments : cases) {
        QProcess program;
        program.start(QStringLiteral(QUILLON_FISHEYE_PUB), arguments);
        QVERIFY(program.waitForFinished(20000));
        QVERIFY2(program.exitCode() != 0, qPrintable(arguments.join(' ')));
        QVERIFY(program.readAllStandardError().contains("quillon-fisheye-pub:"));
    }
}

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    TestFisheyePublisher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fisheyepub.moc"
