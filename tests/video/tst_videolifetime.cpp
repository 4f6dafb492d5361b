// Producers and consumers created, played and destroyed in random order while
// frames flow. Run it under AddressSanitizer too: any push into a released app
// source, or callback into a deleted private part, shows up there.
#include "app/startup.h"
#include "defish/utils.h"
#include "support/videowindow.h"
#include "video/consumer.h"
#include "video/producer.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <gst/gst.h>
#include <memory>

class TestVideoLifetime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void createPlayDestroyInRandomOrder();
    void consumerStopsWhileFramesArePushed();

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
        std::atomic<int> pushed{0};
        producer->setFanOutObserver([&pushed](const Consumer *, GstSample *) { ++pushed; });

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
            QTRY_VERIFY_WITH_TIMEOUT(pushed.load() > 0, 10000);
            ++reachedPlaying;
        }
        QTest::qWait(int(random.bounded(60)));
        framesSeen += pushed.load();
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
    std::atomic<int> pushed{0};
    producer.setFanOutObserver([&pushed](const Consumer *, GstSample *) { ++pushed; });
    producer.start();
    QTRY_COMPARE_WITH_TIMEOUT(producer.state(), Producer::Playing, 10000);
    for (int i = 0; i < 30; ++i) {
        consumer.start();
        QTest::qWait(i % 5);
        consumer.stop();
        QCOMPARE(consumer.pipeline(), nullptr);
    }
    consumer.start();
    const int before = pushed.load();
    QTRY_VERIFY_WITH_TIMEOUT(pushed.load() > before, 10000);
    producer.stop();
}

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    TestVideoLifetime test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_videolifetime.moc"
