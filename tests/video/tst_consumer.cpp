// Consumer on real display pipelines: two GstGLVideoItems in a window under
// Xvfb with Mesa's software OpenGL, fed by one testvideo producer.
#include "app/startup.h"
#include "app/utils.h"
#include "support/appsrcprobe.h"
#include "support/logcapture.h"
#include "support/videowindow.h"
#include "video/consumer.h"
#include "video/producer.h"

#include <QGuiApplication>
#include <QPair>
#include <QProcess>
#include <QQuickItem>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <gst/gst.h>
#include <memory>

namespace {

GstState pipelineState(Consumer &consumer)
{
    if (!consumer.pipeline())
        return GST_STATE_VOID_PENDING;
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(consumer.pipeline(), &state, nullptr, 5 * GST_SECOND);
    return state;
}

// A float field of a structure; false when missing or of another type.
bool floatField(const GstStructure *structure, const char *name, float *value)
{
    const GValue *field = gst_structure_get_value(structure, name);
    if (!field || G_VALUE_TYPE(field) != G_TYPE_FLOAT)
        return false;
    *value = g_value_get_float(field);
    return true;
}

bool near(QRgb pixel, int r, int g, int b, int tolerance = 40)
{
    return qAbs(qRed(pixel) - r) <= tolerance && qAbs(qGreen(pixel) - g) <= tolerance &&
           qAbs(qBlue(pixel) - b) <= tolerance;
}

// How many buffers the app source of a consumer holds, not yet handed downstream.
guint64 queuedBuffers(Consumer &consumer)
{
    guint64 level = 0;
    GstElement *appsrc = consumer.pipeline() ? gst_bin_get_by_name(GST_BIN(consumer.pipeline()), "appsrc") : nullptr;
    if (appsrc) {
        g_object_get(appsrc, "current-level-buffers", &level, nullptr);
        gst_object_unref(appsrc);
    }
    return level;
}

} // namespace

class TestConsumer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void uniformsKeepOnlyNumbersAsFloats();
    void uniformsWithoutShaderChangeNothing();
    void startBeforeFrameSizeIsDeferredThenPlays();
    void startAfterFrameSizeGoesStraightToPlaying();
    void changingProducerReRegistersOnce();
    void stopTwiceCleansUpOnce();
    void startWithoutProducerFails();
    void fanOutGivesEveryConsumerTheSameBuffer();
    void consumerNotWaitingForDataIsSkipped();
    void framesAreDrawnIntoTheVideoItems_data();
    void framesAreDrawnIntoTheVideoItems();

private:
    VideoWindow m_video;
    // Log lines, so a test can check both presence and absence.
    std::unique_ptr<LogCapture> m_capture;
    QQuickItem *m_left = nullptr;
    QQuickItem *m_right = nullptr;
};

void TestConsumer::initTestCase()
{
    QVERIFY2(m_video.open(320, 240), qPrintable(m_video.error()));
    m_left = m_video.left();
    m_right = m_video.right();
    m_capture = std::make_unique<LogCapture>(LogCapture::Echo::QuietDebug);
}

void TestConsumer::cleanupTestCase()
{
    m_capture.reset();
    m_video.close();
}

void TestConsumer::init()
{
    m_capture->take();
}

void TestConsumer::cleanup()
{
    // Let queued deliveries of the finished case run before the next one.
    QTest::qWait(50);
}

void TestConsumer::uniformsKeepOnlyNumbersAsFloats()
{
    Producer producer; // never started: the start is deferred, the pipeline exists
    Consumer consumer;
    consumer.setName(QStringLiteral("Defished"));
    consumer.setProducer(&producer);
    consumer.setUseShader(true);
    consumer.setShader(Utils::instance()->defishShader());
    consumer.setWidget(m_right);
    // Calls before start() are accepted and change nothing.
    consumer.setUniforms({{QStringLiteral("iCamWidth"), 1}});
    QVERIFY(consumer.start());
    GstElement *shader = gst_bin_get_by_name(GST_BIN(consumer.pipeline()), "defish");
    QVERIFY(shader);

    QVariantMap uniforms;
    uniforms.insert(QStringLiteral("iCamWidth"), 640);
    uniforms.insert(QStringLiteral("iRatio"), 0.5);
    uniforms.insert(QStringLiteral("flag"), true);
    uniforms.insert(QStringLiteral("label"), QStringLiteral("text"));
    uniforms.insert(QStringLiteral("big"), qlonglong(1) << 40);
    uniforms.insert(QStringLiteral("small"), QVariant::fromValue<short>(-3));
    uniforms.insert(QStringLiteral("list"), QVariantList{1, 2});
    consumer.setUniforms(uniforms);

    GstStructure *set = nullptr;
    g_object_get(shader, "uniforms", &set, nullptr);
    QVERIFY(set);
    QCOMPARE(QString::fromLatin1(gst_structure_get_name(set)), QStringLiteral("uniforms"));
    QCOMPARE(gst_structure_n_fields(set), 4);
    float value = 0;
    QVERIFY(floatField(set, "iCamWidth", &value));
    QCOMPARE(value, 640.0f);
    QVERIFY(floatField(set, "iRatio", &value));
    QCOMPARE(value, 0.5f);
    QVERIFY(floatField(set, "big", &value));
    QCOMPARE(value, float(qlonglong(1) << 40));
    QVERIFY(floatField(set, "small", &value));
    QCOMPARE(value, -3.0f);
    QVERIFY(!gst_structure_has_field(set, "flag"));
    QVERIFY(!gst_structure_has_field(set, "label"));
    QVERIFY(!gst_structure_has_field(set, "list"));
    gst_structure_free(set);
    gst_object_unref(shader);
    consumer.stop();
}

void TestConsumer::uniformsWithoutShaderChangeNothing()
{
    Producer producer;
    Consumer consumer;
    consumer.setProducer(&producer);
    consumer.setWidget(m_left);
    QVERIFY(consumer.start());
    GstElement *shader = gst_bin_get_by_name(GST_BIN(consumer.pipeline()), "defish");
    QVERIFY(!shader);
    consumer.setUniforms({{QStringLiteral("iCamWidth"), 640}});
    consumer.stop();
}

void TestConsumer::startBeforeFrameSizeIsDeferredThenPlays()
{
    Producer producer;
    producer.setSource(QStringLiteral("testvideo"));
    Consumer consumer;
    consumer.setName(QStringLiteral("Source"));
    consumer.setProducer(&producer);
    consumer.setWidget(m_left);

    QVERIFY(consumer.start());
    QCOMPARE(consumer.state(), Consumer::Ready);
    QStringList log = m_capture->take();
    QVERIFY(log.contains(QStringLiteral("Creating pipeline for: Source")));
    QVERIFY(log.contains(QStringLiteral("Producer has no videoInfo!")));
    QVERIFY(log.contains(QStringLiteral("Source: Scheduled startPlaying after receiving producer's videoInfo")));
    QCOMPARE(pipelineState(consumer), GST_STATE_NULL);

    producer.start();
    QTRY_COMPARE_WITH_TIMEOUT(consumer.state(), Consumer::Playing, 10000);
    QStringList later;
    QTRY_VERIFY((later += m_capture->take())
                    .contains(QStringLiteral("Source: Received producer's videoInfo, startPlaying ...")));
    QCOMPARE(pipelineState(consumer), GST_STATE_PLAYING);
    consumer.stop();
    producer.stop();
}

void TestConsumer::startAfterFrameSizeGoesStraightToPlaying()
{
    // A clip played at its frame rate: its frames carry timestamps from the producer's start.
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("bars.mp4"));
    QCOMPARE(QProcess::execute(QStringLiteral("gst-launch-1.0"),
                               {"-q", "videotestsrc", "num-buffers=300", "!",
                                "video/x-raw,width=320,height=240,framerate=30/1", "!", "x264enc", "!", "mp4mux", "!",
                                "filesink", "location=" + clip}),
             0);
    Producer producer;
    producer.setSource(QStringLiteral("file:") + clip);
    producer.start();
    QTRY_COMPARE_WITH_TIMEOUT(producer.state(), Producer::Playing, 10000);
    QTest::qWait(6000);

    Consumer consumer;
    consumer.setName(QStringLiteral("Late"));
    consumer.setProducer(&producer);
    consumer.setWidget(m_left);
    m_capture->take();
    QVERIFY(consumer.start());
    QCOMPARE(pipelineState(consumer), GST_STATE_PLAYING);
    const QStringList log = m_capture->take();
    QVERIFY(!log.contains(QStringLiteral("Producer has no videoInfo!")));
    QVERIFY(log.filter(QStringLiteral("Received producer's videoInfo")).isEmpty());
    // The producer plays already: the consumer plays at once, and shows frames although the producer's
    // timestamps run well ahead of the new pipeline's clock.
    QCOMPARE(consumer.state(), Consumer::Playing);
    std::atomic<int> shown{0};
    GstElement *sink = gst_bin_get_by_name(GST_BIN(consumer.pipeline()), "qmlglsink");
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad *, GstPadProbeInfo *, gpointer count) {
            ++*static_cast<std::atomic<int> *>(count);
            return GST_PAD_PROBE_OK;
        },
        &shown, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    QTRY_VERIFY_WITH_TIMEOUT(shown.load() >= 10, 4000);
    consumer.stop();
}

void TestConsumer::changingProducerReRegistersOnce()
{
    Producer a;
    Producer b;
    Consumer consumer;
    consumer.setName(QStringLiteral("Switch"));
    QSignalSpy changed(&consumer, &Consumer::producerChanged);
    consumer.setProducer(&a);
    m_capture->take();
    consumer.setProducer(&b);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(m_capture->take(), (QStringList{QStringLiteral("UnRegistering consumer: Switch"),
                                             QStringLiteral("Registering consumer: Switch")}));
    consumer.setProducer(&b);
    QCOMPARE(changed.count(), 2);
    QVERIFY(m_capture->take().isEmpty());

    // Only the current producer's state reaches the consumer.
    a.setSource(QStringLiteral("testvideo"));
    a.start();
    QTRY_COMPARE_WITH_TIMEOUT(a.state(), Producer::Playing, 10000);
    QCOMPARE(consumer.state(), Consumer::Null);
}

void TestConsumer::stopTwiceCleansUpOnce()
{
    Producer producer;
    Consumer consumer;
    consumer.setName(QStringLiteral("Twice"));
    consumer.setProducer(&producer);
    consumer.setWidget(m_left);
    consumer.start();
    m_capture->take();
    consumer.stop();
    consumer.stop();
    QCOMPARE(m_capture->take().filter(QStringLiteral("Cleaning up pipeline: Twice")).size(), 1);
    QCOMPARE(consumer.state(), Consumer::Null);
    QVERIFY(!consumer.pipeline());
}

void TestConsumer::startWithoutProducerFails()
{
    Consumer consumer;
    consumer.setName(QStringLiteral("Lonely"));
    QVERIFY(!consumer.start());
    QVERIFY(!consumer.pipeline());
    QCOMPARE(consumer.state(), Consumer::Null);
    QVERIFY(m_capture->take().contains(QStringLiteral("At: bool Consumer::start()")));
}

void TestConsumer::fanOutGivesEveryConsumerTheSameBuffer()
{
    Producer producer;
    producer.setSource(QStringLiteral("testvideo"));
    Consumer first;
    first.setName(QStringLiteral("First"));
    first.setWidget(m_left);
    first.setProducer(&producer);
    Consumer second;
    second.setName(QStringLiteral("Second"));
    second.setWidget(m_right);
    second.setProducer(&producer);
    AppSrcProbe probe;

    producer.start();
    first.start();
    second.start();
    // A consumer's pipeline comes once the frame size is known.
    QTRY_VERIFY_WITH_TIMEOUT(probe.attach(&first, first.pipeline()) && probe.attach(&second, second.pipeline()) &&
                                 probe.count(&first) >= 10 && probe.count(&second) >= 10,
                             15000);
    producer.stop();

    // One frame reaches both consumers as the same buffer (no deep copy); each app source runs on a
    // thread of its own, so which of the two sees it first is open. Buffers of a pool come back under
    // the same address: a frame is its buffer and its time stamp.
    int pairs = 0;
    int unmatched = 0;
    QSet<QPair<const GstBuffer *, GstClockTime>> byFirst;
    const QVector<AppSrcProbe::Entry> entries = probe.entries();
    for (const AppSrcProbe::Entry &entry : entries) {
        if (entry.sink == &first)
            byFirst.insert({entry.buffer, entry.pts});
    }
    for (const AppSrcProbe::Entry &entry : entries) {
        if (entry.sink != &second)
            continue;
        if (byFirst.contains({entry.buffer, entry.pts}))
            ++pairs;
        else
            ++unmatched;
    }
    QVERIFY2(pairs >= 5, qPrintable(QStringLiteral("%1 frames shared, %2 not").arg(pairs).arg(unmatched)));
    first.stop();
    second.stop();
}

void TestConsumer::consumerNotWaitingForDataIsSkipped()
{
    Producer producer;
    producer.setSource(QStringLiteral("testvideo"));
    Consumer shown;
    shown.setName(QStringLiteral("Shown"));
    shown.setWidget(m_left);
    shown.setProducer(&producer);
    Consumer idle; // registered, never started: no app source
    idle.setName(QStringLiteral("Idle"));
    idle.setProducer(&producer);
    Consumer stalled;
    stalled.setName(QStringLiteral("Stalled"));
    stalled.setWidget(m_right);
    stalled.setProducer(&producer);
    AppSrcProbe probe;

    producer.start();
    shown.start();
    stalled.start();
    QTRY_VERIFY_WITH_TIMEOUT(probe.attach(&shown, shown.pipeline()) && probe.attach(&stalled, stalled.pipeline()) &&
                                 probe.count(&stalled) > 0,
                             10000);
    // Paused display: its live app source stops handing buffers on and queues what it is given, until it
    // says it has enough. What the producer pushes into it from then on shows in its queue.
    gst_element_set_state(stalled.pipeline(), GST_STATE_PAUSED);
    QTRY_VERIFY_WITH_TIMEOUT(!stalled.isWaitingForData(), 30000);
    const guint64 queued = queuedBuffers(stalled);
    QVERIFY(queued > 0);
    probe.clear();
    QTRY_VERIFY_WITH_TIMEOUT(probe.count(&shown) >= 10, 10000);
    QCOMPARE(queuedBuffers(stalled), queued);
    QCOMPARE(probe.count(&stalled), 0);
    // Registered but never started, it does not play with its producer.
    QVERIFY(!idle.pipeline());
    QCOMPARE(idle.state(), Consumer::Null);
    producer.stop();
    shown.stop();
    stalled.stop();
}

void TestConsumer::framesAreDrawnIntoTheVideoItems_data()
{
    QTest::addColumn<QByteArray>("forcedPath"); // QUILLON_DEFISH_PATH
    QTest::addColumn<bool>("oneUpload");        // the raw pane drawn by the dewarping consumer
    QTest::addColumn<QString>("pathLine");
    QTest::addColumn<int>("path");
    const QString lookup = QStringLiteral("Defished: dewarping through the lookup texture at the pane's size");
    const QString shader =
        QStringLiteral("Defished: dewarping with the plain shader at the frame's size (QUILLON_DEFISH_PATH=shader)");
    // Mesa's software GL here: the CPU path unless another is asked for.
    const QString cpu = QStringLiteral("Defished: dewarping on the CPU at the pane's size: GL draws in software here");
    QTest::newRow("lookup, both panes from one upload")
        << QByteArray("lookup") << true << lookup << int(Consumer::LookupPath);
    QTest::newRow("lookup, a consumer per pane") << QByteArray("lookup") << false << lookup << int(Consumer::LookupPath);
    QTest::newRow("CPU, both panes from one frame") << QByteArray() << true << cpu << int(Consumer::CpuPath);
    QTest::newRow("CPU, a consumer per pane") << QByteArray() << false << cpu << int(Consumer::CpuPath);
    QTest::newRow("plain shader, both panes from one upload")
        << QByteArray("shader") << true << shader << int(Consumer::ShaderPath);
    QTest::newRow("plain shader, a consumer per pane")
        << QByteArray("shader") << false << shader << int(Consumer::ShaderPath);
}

void TestConsumer::framesAreDrawnIntoTheVideoItems()
{
    QFETCH(QByteArray, forcedPath);
    QFETCH(bool, oneUpload);
    QFETCH(QString, pathLine);
    QFETCH(int, path);
    qputenv("QUILLON_DEFISH_PATH", forcedPath);
    Producer producer;
    producer.setSource(QStringLiteral("testvideo"));
    Consumer raw;
    raw.setName(QStringLiteral("Source"));
    raw.setWidget(m_left);
    raw.setProducer(&producer);
    Consumer defished;
    defished.setName(QStringLiteral("Defished"));
    defished.setWidget(m_right);
    if (oneUpload)
        defished.setRawWidget(m_left);
    defished.setUseShader(true);
    defished.setShader(Utils::instance()->defishShader());
    defished.setProducer(&producer);

    producer.start();
    if (!oneUpload)
        raw.start();
    defished.start();
    qunsetenv("QUILLON_DEFISH_PATH");
    const QStringList lines = m_capture->take();
    QVERIFY2(std::any_of(lines.begin(), lines.end(), [&](const QString &line) { return line.startsWith(pathLine); }),
             qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(int(defished.dewarpPath()), path);
    QCOMPARE(defished.usesLookup(), path == Consumer::LookupPath);
    QTRY_COMPARE_WITH_TIMEOUT(defished.state(), Consumer::Playing, 10000);
    // Looking straight along the lens axis with a wide lens: the centre of the
    // output samples the centre of the frame; the corners of a 170 degree view
    // fall outside a 60 degree lens and are drawn red.
    defished.setUniforms({{QStringLiteral("iCamWidth"), 320},
                          {QStringLiteral("iCamHeight"), 240},
                          {QStringLiteral("iCamCenterX"), 160.0},
                          {QStringLiteral("iCamCenterY"), 120.0},
                          {QStringLiteral("iCamRadius"), 160.0},
                          {QStringLiteral("iCamFOV"), 60.0},
                          {QStringLiteral("iRatio"), 320.0 / 240.0},
                          {QStringLiteral("iRoll"), 0.0},
                          {QStringLiteral("iTilt"), 0.0},
                          {QStringLiteral("iPan"), 0.0},
                          {QStringLiteral("iFov"), 170.0}});

    // videotestsrc's default colour bars: white-ish on the left, yellow next.
    QImage image;
    const auto drawn = [&] {
        image = m_video.window()->grabWindow();
        if (image.isNull())
            return false;
        const QRgb white = image.pixel(20, 60);
        const QRgb yellow = image.pixel(20 + 320 / 7, 60);
        const QRgb corner = image.pixel(320 + 4, 4);
        // The dewarped centre is not red: the frame was sampled there (frames drawn before the
        // uniforms came are all red).
        const QRgb centre = image.pixel(320 + 160, 120);
        return near(white, 255, 255, 255, 70) && near(yellow, 255, 255, 0, 70) && near(corner, 255, 0, 0) &&
               !near(centre, 255, 0, 0);
    };
    QTRY_IMPL(drawn(), 15000);
    if (!drawn()) {
        image.save(QDir::tempPath() + QStringLiteral("/tst_consumer_grab.png"));
        qWarning("white %x yellow %x corner %x centre %x", image.pixel(20, 60), image.pixel(20 + 320 / 7, 60),
                 image.pixel(324, 4), image.pixel(320 + 160, 120));
    }
    QVERIFY(drawn());
    raw.stop();
    defished.stop();
    producer.stop();
}

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    TestConsumer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_consumer.moc"
