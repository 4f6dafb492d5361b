// Producers and consumers created, played and destroyed in random order while
// frames flow. Run it under AddressSanitizer too: any push into a released app
// source, or callback into a deleted private part, shows up there.
#include "app/startup.h"
#include "app/utils.h"
#include "support/appsrcprobe.h"
#include "support/videowindow.h"
#include "video/consumer.h"
#include "video/producer.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQuickItem>
#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <gst/gst.h>
#include <memory>
#include <thread>

class TestVideoLifetime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void createPlayDestroyInRandomOrder();
    void consumerStopsWhileFramesArePushed();
    void stopDuringSlowGlSetUpWaitsForIt_data();
    void stopDuringSlowGlSetUpWaitsForIt();

private:
    VideoWindow m_video;
    QQuickItem *m_left = nullptr;
    QQuickItem *m_right = nullptr;
};

void TestVideoLifetime::initTestCase()
{
    QVERIFY2(m_video.open(160, 120), qPrintable(m_video.error()));
    m_left = m_video.left();
    m_right = m_video.right();
}

void TestVideoLifetime::cleanupTestCase()
{
    m_video.close();
}

void TestVideoLifetime::createPlayDestroyInRandomOrder()
{
    const quint32 seed = qEnvironmentVariableIsSet("QUILLON_TEST_SEED")
                             ? quint32(qEnvironmentVariableIntValue("QUILLON_TEST_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    int reachedPlaying = 0;
    int framesSeen = 0;

    for (int cycle = 0; cycle < 100; ++cycle) {
        auto *producer = new Producer;
        producer->setSource(QStringLiteral("testvideo"));
        auto *raw = new Consumer;
        raw->setName(QStringLiteral("Source"));
        raw->setWidget(m_left);
        raw->setProducer(producer);
        auto *defished = new Consumer;
        defished->setName(QStringLiteral("Defished"));
        defished->setWidget(m_right);
        defished->setUseShader(true);
        defished->setShader(Utils::instance()->defishShader());
        defished->setProducer(producer);
        // What reaches the consumers' app sources: their pipelines come once the frame size is known.
        AppSrcProbe probe;
        const auto pushed = [&] {
            probe.attach(raw, raw->pipeline());
            probe.attach(defished, defished->pipeline());
            return probe.total();
        };

        // Start order varies too: consumers before or after their producer.
        if (random.bounded(2)) {
            producer->start();
            raw->start();
            defished->start();
        } else {
            raw->start();
            defished->start();
            producer->start();
        }
        // Half the cycles tear down at once, often while the first frame is
        // still setting up the GL consumers' buffer pools; the others mid-stream,
        // once frames are handed out. A random extra delay in both cases.
        if (random.bounded(2)) {
            QTRY_VERIFY_WITH_TIMEOUT(pushed() > 0, 10000);
            ++reachedPlaying;
        }
        QTest::qWait(int(random.bounded(60)));
        framesSeen += pushed();
        if (random.bounded(4) == 0)
            defished->setUniforms({{QStringLiteral("iCamWidth"), 320}, {QStringLiteral("iFov"), 90.0}});
        if (random.bounded(4) == 0)
            raw->stop();

        QVector<QObject *> objects{producer, raw, defished};
        std::shuffle(objects.begin(), objects.end(), random);
        for (QObject *object : objects) {
            if (random.bounded(3) == 0) {
                object->deleteLater(); // from the event loop, as QML does
                QCoreApplication::processEvents();
            } else {
                delete object;
            }
            if (random.bounded(2))
                QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    QVERIFY(reachedPlaying > 10);
    QVERIFY(framesSeen > 0);
}

void TestVideoLifetime::consumerStopsWhileFramesArePushed()
{
    // A fast producer and a consumer that stops and starts again and again:
    // every stop releases the app source while the fan-out may hold it.
    Producer producer;
    producer.setSource(QStringLiteral("testvideo"));
    Consumer consumer;
    consumer.setName(QStringLiteral("Flapping"));
    consumer.setWidget(m_left);
    consumer.setProducer(&producer);
    producer.start();
    QTRY_COMPARE_WITH_TIMEOUT(producer.state(), Producer::Playing, 10000);
    for (int i = 0; i < 30; ++i) {
        consumer.start();
        QTest::qWait(i % 5);
        consumer.stop();
        QCOMPARE(consumer.pipeline(), nullptr);
    }
    // The last start gets frames again.
    consumer.start();
    AppSrcProbe probe;
    QTRY_VERIFY_WITH_TIMEOUT(probe.attach(&consumer, consumer.pipeline()) && probe.count(&consumer) > 0, 10000);
    producer.stop();
}

namespace {
// Stands for GL set-up that takes long on a loaded machine: the first allocation
// query that reaches `element`'s sink pad is held there for a while.
struct SlowSetUp
{
    std::atomic<bool> entered{false};
    std::atomic<bool> left{false};
    std::chrono::milliseconds hold{1500};
};

GstPadProbeReturn holdAllocationQuery(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *slow = static_cast<SlowSetUp *>(data);
    GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION || slow->entered.exchange(true))
        return GST_PAD_PROBE_OK;
    std::this_thread::sleep_for(slow->hold);
    slow->left = true;
    return GST_PAD_PROBE_OK;
}
} // namespace

void TestVideoLifetime::stopDuringSlowGlSetUpWaitsForIt_data()
{
    QTest::addColumn<bool>("useShader");
    QTest::addColumn<QString>("element");
    QTest::newRow("shader, sink") << true << QStringLiteral("qmlglsink");
    QTest::newRow("shader, shader") << true << QStringLiteral("defish");
    QTest::newRow("shader, raw pane's sink") << true << QStringLiteral("rawsink");
}

// The display pipeline is stopped while its streaming thread is still setting up
// the GL elements (buffer pools, contexts) for the first caps: the teardown waits
// for it instead of pulling the GL context away, which aborted the program.
void TestVideoLifetime::stopDuringSlowGlSetUpWaitsForIt()
{
    QFETCH(bool, useShader);
    QFETCH(QString, element);
    Producer producer;
    producer.setSource(QStringLiteral("testvideo"));
    Consumer consumer;
    consumer.setName(QStringLiteral("Defished"));
    consumer.setWidget(m_right);
    consumer.setRawWidget(m_left);
    consumer.setUseShader(useShader);
    consumer.setShader(Utils::instance()->defishShader());
    consumer.setProducer(&producer);
    // Started before its producer: the pipeline is built and waits for the frame
    // size, so the probe is in place before anything flows.
    QVERIFY(consumer.start());
    QVERIFY(consumer.pipeline());
    SlowSetUp slow;
    GstElement *target = gst_bin_get_by_name(GST_BIN(consumer.pipeline()), qPrintable(element));
    QVERIFY(target);
    GstPad *pad = gst_element_get_static_pad(target, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, holdAllocationQuery, &slow, nullptr);
    gst_object_unref(pad);
    gst_object_unref(target);
    producer.start();

    QTRY_VERIFY_WITH_TIMEOUT(slow.entered.load(), 15000);
    QVERIFY(!slow.left.load());
    consumer.stop();
    // Stopped only once the set-up had finished.
    QVERIFY(slow.left.load());
    QCOMPARE(consumer.pipeline(), nullptr);
    producer.stop();
}

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    // A hundred cycles of start-up lines would bury whatever goes wrong; warnings stay.
    QLoggingCategory::setFilterRules(QStringLiteral("quillon.video.*.debug=false\nquillon.video.*.info=false"));
    TestVideoLifetime test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_videolifetime.moc"
