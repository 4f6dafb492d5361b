// End to end, the defish window under stress: a stream whose video never arrives
// leaves the window usable and it closes cleanly; opening and closing it again
// and again with live video neither crashes nor lets the resident memory climb.
#include "app/startup.h"
#include "e2esteps.h"
#include "video/heaptrim.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <gst/gst.h>

using namespace UiDriver;

class TestE2eDefish : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_sim.start(QStringLiteral(QUILLON_TEST_DATA "/e2e-site.json"), m_dir.filePath("sim"), "GW-NORTH"),
                 qPrintable(m_sim.error()));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY2(m_app.start(), qPrintable(m_app.loadErrors()));
        QVERIFY(E2e::signIn(m_app, m_sim));
        QVERIFY(E2e::waitForGateways(m_app));
        QTRY_VERIFY_WITH_TIMEOUT(E2e::streamRow(m_app.mainWindow(), "Lobby ("), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(E2e::streamRow(m_app.mainWindow(), "Silent Yard ("), 10000);
    }

    void cleanupTestCase()
    {
        m_app.stop();
        m_sim.stop();
        QDir::setCurrent(QDir::tempPath());
    }

    void streamWithoutVideoLeavesTheWindowUsable()
    {
        QVERIFY(E2e::openDefish(m_app, "Silent Yard"));
        QQuickWindow *defish = m_app.defishWindow();
        QQuickItem *content = E2e::defishContent(m_app);
        // Past the 500 ms start: the pipelines wait for video that never comes.
        QTest::qWait(1500);
        QObject *prod = content->findChild<QObject *>(QStringLiteral("prod"));
        QVERIFY(prod);
        QVERIFY2(prod->property("source").toString().startsWith("zmq:tcp://127.0.0.1:"),
                 qPrintable(prod->property("source").toString()));
        QCOMPARE(prod->property("state").toInt(), 1); // Ready: no frame yet

        // Sliders, name field and buttons still answer.
        QVERIFY(dragSlider(item(content, "sldTilt"), 0.8));
        QVERIFY(item(content, "sldTilt")->property("value").toReal() > 0);
        QVERIFY(typeInto(item(content, "txtName"), "Yard"));
        QCOMPARE(item(content, "txtName")->property("text").toString(), QStringLiteral("Yard"));
        // Until the size is known the panes are square.
        QQuickItem *pane = item(content, "rcSourcePane");
        QVERIFY(qAbs(pane->width() - pane->height()) < 1.0);

        QVERIFY(click(item(defish, "btnDefishClose")));
        QTRY_VERIFY(!defish->isVisible());
        QVERIFY(!E2e::defishContent(m_app));
        // The main window is usable again.
        QQuickItem *row = E2e::streamRow(m_app.mainWindow(), "Lobby");
        QVERIFY(E2e::openStreamMenu(row));
        E2e::closeMenu(row);
    }

    // QUILLON_DEFISH_ROUNDS sets the number of rounds: 20 by default, 100 in the
    // stress run. After a warm-up the resident memory may grow by at most
    // kMaxGrowthPerRoundKiB per round.
    void openingAndClosingRepeatedlyWithLiveVideoDoesNotClimb()
    {
        QQuickWindow *defish = m_app.defishWindow();
        qint64 before = 0;
        const int requested = qEnvironmentVariableIntValue("QUILLON_DEFISH_ROUNDS");
        const int rounds = qMax(kWarmUp + 5, requested > 0 ? requested : 20);
        for (int i = 0; i < rounds; ++i) {
            QVERIFY2(E2e::openDefish(m_app, "Lobby"), qPrintable(QString::number(i)));
            QVERIFY2(E2e::waitForLiveVideo(m_app), qPrintable(QString::number(i)));
            QVERIFY(click(item(defish, "btnDefishClose")));
            QTRY_VERIFY(!defish->isVisible());
            QVERIFY(!E2e::defishContent(m_app));
            if (i + 1 == kWarmUp)
                before = residentAtRest();
        }
        const qint64 after = residentAtRest();
        const double perRound = double(after - before) / (rounds - kWarmUp);
        // Printed directly: the test log caps the number of messages and the
        // pipelines log plenty over 100 rounds.
        std::fprintf(stderr,
                     "Resident memory after %d rounds: %lld KiB; after %d more rounds: %lld KiB (%+lld KiB, %+.1f KiB "
                     "per round)\n",
                     kWarmUp, before, rounds - kWarmUp, after, after - before, perRound);
        QVERIFY(before > 0 && after > 0);
        // Not found yet: some hundreds of KiB per round remain (see README).
        QEXPECT_FAIL("", "the defish window still leaves memory behind per round", Continue);
        QVERIFY2(perRound <= kMaxGrowthPerRoundKiB,
                 qPrintable(QStringLiteral("%1 KiB per round").arg(perRound, 0, 'f', 1)));
    }

private:
    static constexpr int kWarmUp = 5;
    static constexpr double kMaxGrowthPerRoundKiB = 64;

    // Resident memory once the closed window's deferred deletions and the heap
    // trim that follows a pipeline's teardown have run.
    static qint64 residentAtRest()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(int(HeapTrim::kDefaultDelay.count()) + 500);
        return ProcessInfo::residentKiB();
    }

    QTemporaryDir m_dir;
    SiteSim m_sim;
    AppRun m_app;
};

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    int result = 0;
    {
        QGuiApplication app(argc, argv);
        TestE2eDefish test;
        result = QTest::qExec(&test, argc, argv);
    }
    // As the program does; with GST_TRACERS=leaks this reports what outlived the windows.
    gst_deinit();
    return result;
}

#include "tst_e2e_defish.moc"
