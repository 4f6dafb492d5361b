// The defish window on its own, driven through its controls: the producer's
// source form per stream address, the default slider values, the guide lines,
// the live pictures, "Ok" copying the lens geometry and storing a named view
// once, "Close" storing nothing, and the content torn down on every hide; the dewarped pane against
// ffmpeg's v360 render of the same fisheye frame.
#include "app/startup.h"
#include "repo/object.h"
#include "repo/repobjviews.h"
#include "support/lensreference.h"
#include "support/uidriver.h"

#include <QFile>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace UiDriver;

class TestWinDefish : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_glSink = Startup::loadGlVideoItem();
        Startup::createSingletons();
        Startup::registerTypes();
        Startup::registerSingletons();
        QVERIFY(m_dir.isValid());
        // A short MJPEG clip: decodable by decodebin with the base and good plug-ins.
        m_clip = m_dir.filePath("clip.avi");
        const int rc =
            QProcess::execute("gst-launch-1.0", {"-q", "videotestsrc", "num-buffers=300", "pattern=ball", "!",
                                                 "video/x-raw,width=320,height=240,framerate=30/1", "!", "jpegenc", "!",
                                                 "avimux", "!", "filesink", "location=" + m_clip});
        QCOMPARE(rc, 0);
    }

    void cleanupTestCase()
    {
        closeWindow();
        Startup::destroySingletons();
        Startup::releaseGlVideoItem(m_glSink);
    }

    void cleanup() { closeWindow(); }

    void producerSourceFollowsTheStreamAddress_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("source");
        QTest::newRow("file path") << "/video/a.mp4"
                                   << "file:/video/a.mp4";
        QTest::newRow("drive letter") << "C:/video/a.mp4"
                                      << "file:C:/video/a.mp4";
        QTest::newRow("gateway reference") << "ref://GW-1/2"
                                           << "zmq:tcp://192.0.2.5:5555";
        QTest::newRow("rtsp") << "rtsp://cam/1"
                              << "rtsp:rtsp://cam/1";
        QTest::newRow("other") << "http://cam/1"
                               << "uri:http://cam/1";
    }

    void producerSourceFollowsTheStreamAddress()
    {
        QFETCH(QString, url);
        QFETCH(QString, source);
        auto stream = makeStream(url);
        openWindow(stream.get());
        QObject *prod = content()->findChild<QObject *>("prod");
        QVERIFY(prod);
        QCOMPARE(prod->property("source").toString(), source);
    }

    // A source that fails says so over the dewarped pane, and the picture comes
    // once the source works: the producer builds its pipeline again.
    void aFailingSourceIsShownOverThePaneUntilItWorks()
    {
        const QString path = m_dir.filePath("broken.avi");
        QFile::remove(path);
        {
            QFile garbage(path);
            QVERIFY(garbage.open(QIODevice::WriteOnly));
            garbage.write(QByteArray(64 * 1024, '\x5a'));
        }
        auto stream = makeStream(path);
        openWindow(stream.get());
        QQuickItem *label = item(content(), "lblVideoError");
        QVERIFY(label);
        QTRY_VERIFY_WITH_TIMEOUT(label->isVisible(), 15000);
        QVERIFY2(label->property("text").toString().startsWith("No picture: "),
                 qPrintable(label->property("text").toString()));

        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::copy(m_clip, path));
        QObject *prod = content()->findChild<QObject *>("prod");
        // Producer.Playing is 2.
        QTRY_COMPARE_WITH_TIMEOUT(prod->property("state").toInt(), 2, 20000);
        QVERIFY(!label->isVisible());
    }

    void slidersStartAtTheirDefaults()
    {
        auto stream = makeStream(m_clip);
        openWindow(stream.get());
        const QList<QPair<const char *, qreal>> defaults = {{"sldRoll", 0},    {"sldTilt", 0},     {"sldPan", 0},
                                                            {"sldZoom", 20},   {"sldCenterX", 50}, {"sldCenterY", 50},
                                                            {"sldRadius", 50}, {"sldFOV", 163}};
        for (const auto &d : defaults)
            QCOMPARE(item(content(), d.first)->property("value").toReal(), d.second);
    }

    void liveVideoPlaysAndGuidesFollowTheSliders()
    {
        auto stream = makeStream(m_clip);
        openWindow(stream.get());
        QObject *source = content()->findChild<QObject *>("consSource");
        QObject *defished = content()->findChild<QObject *>("consDefished");
        // Consumer.Playing is 2.
        QTRY_COMPARE_WITH_TIMEOUT(source->property("state").toInt(), 2, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(defished->property("state").toInt(), 2, 15000);
        // The panes take the video's 4:3 shape.
        QQuickItem *pane = item(content(), "rcSourcePane");
        QTRY_VERIFY2(qAbs(pane->width() / pane->height() - 320.0 / 240.0) < 0.02,
                     qPrintable(QString("%1x%2 row %3x%4 content %5x%6")
                                    .arg(pane->width())
                                    .arg(pane->height())
                                    .arg(pane->parentItem()->width())
                                    .arg(pane->parentItem()->height())
                                    .arg(content()->width())
                                    .arg(content()->height())));

        // Centre sliders at 50/50: the guides cross in the middle of the pane.
        QQuickItem *vert = item(content(), "rcVert");
        QQuickItem *horz = item(content(), "rcHorz");
        QVERIFY(qAbs(vert->x() - pane->width() / 2) < 1.0);
        QVERIFY(qAbs(horz->y() - pane->height() / 2) < 1.0);
        // Raising "Center Y" moves the horizontal guide up.
        const qreal before = horz->y();
        QVERIFY(dragSlider(item(content(), "sldCenterY"), 0.8));
        QVERIFY(item(content(), "sldCenterY")->property("value").toReal() > 60);
        QVERIFY(horz->y() < before);
        // The overlay follows the same slider, in its own pixels; the guide circle is the lens circle.
        QQuickItem *overlay = item(content(), "dewrapArea");
        QVERIFY(qAbs(item(content(), "rcRadius")->width() - 2 * overlay->property("radius").toReal()) < 0.01);
        QCOMPARE(overlay->property("vidWidth").toReal(), 320.0);
        QVERIFY(qAbs(overlay->property("centerY").toReal() -
                     item(content(), "sldCenterY")->property("value").toReal() / 100 * overlay->height()) < 0.01);
    }

    void okCopiesTheGeometryAndStoresANamedViewOnce()
    {
        auto stream = makeStream(m_clip);
        stream->setSerial("S-1");
        openWindow(stream.get());
        QTRY_COMPARE_WITH_TIMEOUT(content()->findChild<QObject *>("prod")->property("state").toInt(), 2, 15000);
        QTRY_COMPARE(content()->property("centerX").toReal(), 160.0);
        QVERIFY(dragSlider(item(content(), "sldRoll"), 0.25));
        const qreal roll = item(content(), "sldRoll")->property("value").toReal();
        QVERIFY(roll < 0);

        // No name: the geometry is taken over, no view is stored, the window stays.
        const int views = RepoObjViews::instance()->rowCount();
        QVERIFY(click(item(m_window, "btnDefishOk")));
        QCOMPARE(stream->centerX(), 160);
        QCOMPARE(stream->centerY(), 120);
        QCOMPARE(stream->radius(), 160);
        QCOMPARE(stream->fov(), 163.0f);
        QCOMPARE(RepoObjViews::instance()->rowCount(), views);
        QVERIFY(m_window->isVisible());

        QVERIFY(typeInto(item(content(), "txtName"), "Gate"));
        QVERIFY(click(item(m_window, "btnDefishOk")));
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(RepoObjViews::instance()->rowCount(), views + 1);
        const auto view = RepoObjViews::instance()->views().last();
        QCOMPARE(view->name(), QStringLiteral("Gate"));
        QCOMPARE(view->objectSerial(), QStringLiteral("S-1"));
        QCOMPARE(view->roll(), float(roll));
        QCOMPARE(view->zoom(), 20.0f);

        // The same name for the same stream is refused; the window stays open.
        m_window->show();
        QTRY_VERIFY(content());
        QVERIFY(typeInto(item(content(), "txtName"), "Gate"));
        QTest::ignoreMessage(QtDebugMsg, "View exists");
        QVERIFY(click(item(m_window, "btnDefishOk")));
        QVERIFY(m_window->isVisible());
        QCOMPARE(RepoObjViews::instance()->rowCount(), views + 1);
    }

    void dewarpedPaneMatchesFfmpegsRender_data()
    {
        QTest::addColumn<double>("roll");
        QTest::addColumn<double>("tilt");
        QTest::addColumn<double>("pan");
        QTest::addColumn<double>("zoom");
        QTest::newRow("centre") << 0.0 << 0.0 << 0.0 << 90.0;
        QTest::newRow("rolled, tilted and panned") << 20.0 << 25.0 << -40.0 << 60.0;
    }

    void dewarpedPaneMatchesFfmpegsRender()
    {
        QFETCH(double, roll);
        QFETCH(double, tilt);
        QFETCH(double, pan);
        QFETCH(double, zoom);
        QString error;
        LensReference::Clip clip;
        QVERIFY2(LensReference::makeClip(m_dir.path(), &clip, &error), qPrintable(error));
        auto stream = makeStream(clip.path);
        openWindow(stream.get());
        QTRY_COMPARE_WITH_TIMEOUT(content()->findChild<QObject *>("consDefished")->property("state").toInt(), 2, 15000);
        const QList<QPair<const char *, double>> values = {{"sldCenterX", clip.centerX / clip.width * 100},
                                                           {"sldCenterY", clip.centerY / clip.height * 100},
                                                           {"sldRadius", clip.radius / clip.width * 100},
                                                           {"sldFOV", clip.fov},
                                                           {"sldRoll", roll},
                                                           {"sldTilt", tilt},
                                                           {"sldPan", pan},
                                                           {"sldZoom", zoom}};
        for (const auto &v : values)
            QVERIFY(item(content(), v.first)->setProperty("value", v.second));
        QTest::qWait(1500);

        // The pane has the video's shape; compare inside a margin that keeps its border out.
        QQuickItem *pane = item(content(), "videoWidgetDefished");
        const QRect rect = pane->mapRectToScene(QRectF(0, 0, pane->width(), pane->height())).toRect();
        const QImage shown = m_window->grabWindow().copy(rect);
        // The shader draws the view at the frame's size; the pane shows it smaller.
        const QImage reference = LensReference::render(clip, {roll, tilt, pan, zoom}, rect.width(), rect.height(),
                                                       &error, QSize(clip.width, clip.height));
        QVERIFY2(!reference.isNull(), qPrintable(error));
        const QRect inner = QRect(QPoint(0, 0), rect.size()).adjusted(3, 3, -3, -3);
        const double db = LensReference::psnr(shown.copy(inner), reference.copy(inner));
        const double mirroredDb = LensReference::psnr(shown.copy(inner), reference.mirrored(false, true).copy(inner));
        qInfo("PSNR %.1f dB against v360, %.1f dB against its mirror (%dx%d pane)", db, mirroredDb, rect.width(),
              rect.height());
        if (db < 18.0) {
            m_dir.setAutoRemove(false);
            shown.save(m_dir.filePath(QStringLiteral("pane-shown.png")));
            reference.save(m_dir.filePath(QStringLiteral("pane-v360.png")));
            qInfo("Pictures kept in %s", qPrintable(m_dir.path()));
        }
        QVERIFY2(db >= 18.0 && mirroredDb < db - 6.0, qPrintable(QStringLiteral("%1 dB, mirror %2 dB").arg(db).arg(mirroredDb)));
    }

    void okBeforeTheVideoSizeIsKnownKeepsTheStreamsGeometry()
    {
        auto stream = makeStream(m_dir.filePath("missing.mp4"));
        stream->setCenterX(321);
        stream->setCenterY(241);
        stream->setRadius(231);
        stream->setFov(185);
        openWindow(stream.get());
        QVERIFY(typeInto(item(content(), "txtName"), "Early"));
        QTest::ignoreMessage(QtDebugMsg, "Lens geometry not taken over: the video size is not known yet");
        QVERIFY(click(item(m_window, "btnDefishOk")));
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(QList<int>({stream->centerX(), stream->centerY(), stream->radius()}), QList<int>({321, 241, 231}));
        QCOMPARE(stream->fov(), 185.0f);
    }

    void closeStoresNothingAndTearsTheContentDown()
    {
        auto stream = makeStream(m_clip);
        stream->setSerial("S-2");
        openWindow(stream.get());
        QPointer<QObject> prod = content()->findChild<QObject *>("prod");
        QTRY_COMPARE_WITH_TIMEOUT(prod->property("state").toInt(), 2, 15000);
        QVERIFY(typeInto(item(content(), "txtName"), "Unsaved"));
        const int views = RepoObjViews::instance()->rowCount();
        QVERIFY(click(item(m_window, "btnDefishClose")));
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(RepoObjViews::instance()->rowCount(), views);
        QCOMPARE(stream->centerX(), 0);
        QTRY_VERIFY(!content());
        QTRY_VERIFY(prod.isNull());

        // The next show starts afresh with default sliders.
        m_window->show();
        QTRY_VERIFY(content());
        QCOMPARE(item(content(), "txtName")->property("text").toString(), QString());
        QCOMPARE(item(content(), "sldZoom")->property("value").toReal(), 20.0);
    }

private:
    std::shared_ptr<Object> makeStream(const QString &url)
    {
        auto stream = std::make_shared<Object>();
        QQmlEngine::setObjectOwnership(stream.get(), QQmlEngine::CppOwnership);
        stream->setType(Object::Stream);
        stream->setIsFisheye(true);
        stream->setUrl(url);
        stream->setHost("192.0.2.5");
        stream->setZmqPort(5555);
        m_streams.append(stream);
        return stream;
    }

    void openWindow(Object *stream)
    {
        closeWindow();
        m_engine = std::make_unique<QQmlEngine>();
        Startup::setContextProperties(m_engine.get());
        QQmlComponent component(m_engine.get(), QUrl(QStringLiteral("qrc:/WinDefish.qml")));
        QObject *created = component.create();
        QVERIFY2(created, qPrintable(component.errorString()));
        m_window = qobject_cast<QQuickWindow *>(created);
        QVERIFY(m_window);
        m_window->setProperty("objectInstance", QVariant::fromValue<QObject *>(stream));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTRY_VERIFY(content());
    }

    void closeWindow()
    {
        if (m_window)
            m_window->close();
        delete m_window;
        m_window = nullptr;
        m_engine.reset();
    }

    QQuickItem *content() const
    {
        QQuickItem *loader = m_window ? item(m_window, "loaderDefish") : nullptr;
        return loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    }

    GstElement *m_glSink = nullptr;
    QTemporaryDir m_dir;
    QString m_clip;
    std::unique_ptr<QQmlEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    QList<std::shared_ptr<Object>> m_streams;
};

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    TestWinDefish test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windefish.moc"
