// The defish window's rules without the window: what Ok stores or refuses (and that a refusal writes
// nothing), the lens in whole pixels, angles stored as the camera's, modes, quads and mounts.
#include "app/vieweditor.h"
#include "repo/object.h"
#include "repo/repobjviews.h"
#include "support/logcapture.h"

#include <QtTest>

class TestViewEditor : public QObject
{
    Q_OBJECT

    static QStringList namesOf(const RepoObjViews &views, const QString &serial)
    {
        QStringList names;
        for (const int row : views.rowsOf(serial))
            names << views.views().at(row)->name();
        return names;
    }

private slots:
    void init()
    {
        m_views = std::make_unique<RepoObjViews>();
        m_stream = std::make_unique<Object>();
        m_stream->setSerial(QStringLiteral("S-1"));
        QVERIFY(m_views->appendView("Left", "S-1", 0, 0, -50, 40));
        QVERIFY(m_views->appendView("Mid", "S-1", 5, -10, 15, 30));
        QVERIFY(m_views->setViewActive("S-1", "Mid", false));
        m_editor = std::make_unique<ViewEditor>();
        m_editor->setStream(m_stream.get());
    }

    void cleanup()
    {
        m_editor.reset();
        m_views.reset();
        m_stream.reset();
    }

    // Ok on a new view or on a loaded one (edited, renamed, copied); a refusal keeps every view and the
    // stream's lens as they were and says why.
    void okStoresOrRefusesWithAReason_data()
    {
        QTest::addColumn<QString>("opened");
        QTest::addColumn<bool>("asCopy");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("refusal");
        const QStringList before{"Left", "Mid"};
        QTest::newRow("new") << QString() << false << "Fresh" << QStringList{"Left", "Mid", "Fresh"} << QString();
        QTest::newRow("new, no name") << QString() << false << "" << before << "Type a name";
        QTest::newRow("new, blank name") << QString() << false << "  " << before << "Type a name";
        QTest::newRow("new, taken name") << QString() << false << "Left" << before << "“Left” already";
        QTest::newRow("edit") << "Mid" << false << QString() << before << QString();
        QTest::newRow("rename") << "Mid" << false << "Centre" << QStringList{"Left", "Centre"} << QString();
        QTest::newRow("rename onto a taken name") << "Mid" << false << "Left" << before << "“Left” already";
        QTest::newRow("copy") << "Mid" << true << QString() << QStringList{"Left", "Mid", "Mid copy"} << QString();
        QTest::newRow("copy onto a taken name") << "Mid" << true << "Left" << before << "“Left” already";
        QTest::newRow("edited view gone meanwhile")
            << "Mid" << false << QString() << QStringList{"Left"} << "“Mid” could not be updated";
    }

    void okStoresOrRefusesWithAReason()
    {
        QFETCH(QString, opened);
        QFETCH(bool, asCopy);
        QFETCH(QString, typed);
        QFETCH(QStringList, names);
        QFETCH(QString, refusal);
        ViewEditor &editor = *m_editor;
        if (!opened.isEmpty()) {
            QVERIFY(editor.loadView(opened, asCopy));
            QCOMPARE(editor.name(), asCopy ? QStringLiteral("Mid copy") : opened);
            QCOMPARE(editor.editedName(), asCopy ? QString() : opened);
            QCOMPARE(QList<double>({editor.roll(), editor.tilt(), editor.pan(), editor.zoom()}),
                     QList<double>({5, -10, 15, 30}));
        }
        if (!typed.isNull())
            editor.setName(typed);
        editor.setPan(33);
        editor.setMount(QStringLiteral("floor"));
        QVERIFY(editor.placeLens(320, 240));
        if (QString(QTest::currentDataTag()).contains("gone"))
            QVERIFY(m_views->removeView("S-1", "Mid"));

        LogCapture log;
        QCOMPARE(editor.store(), refusal.isEmpty());
        QCOMPARE(log.count(QStringLiteral("View exists")), refusal.contains("already") ? 1 : 0);
        QCOMPARE(namesOf(*m_views, "S-1"), names);
        QCOMPARE(m_views->viewOf("S-1", "Left").value("pan").toFloat(), -50.0f);
        if (!refusal.isEmpty()) {
            QVERIFY2(editor.message().contains(refusal), qPrintable(editor.message()));
            QCOMPARE(m_stream->mount(), QStringLiteral("wall"));
            QCOMPARE(m_stream->radius(), 0);
            if (names.contains("Mid"))
                QCOMPARE(m_views->viewOf("S-1", "Mid").value("pan").toFloat(), 15.0f);
            return;
        }
        QCOMPARE(editor.message(), QString());
        const QString stored = names.last();
        const QVariantMap view = m_views->viewOf("S-1", stored);
        const QVariantMap camera = editor.cameraAngles();
        QCOMPARE(view.value("pan").toFloat(), camera.value("pan").toFloat());
        QCOMPARE(view.value("tilt").toFloat(), camera.value("tilt").toFloat());
        // A new view starts ticked; an edited one keeps its tick.
        QCOMPARE(view.value("isActive").toBool(), opened.isEmpty() || asCopy);
        QCOMPARE(m_stream->mount(), QStringLiteral("floor"));
        QCOMPARE(QList<int>({m_stream->centerX(), m_stream->centerY(), m_stream->radius()}),
                 QList<int>({160, 120, 160}));
        QCOMPARE(m_stream->fov(), 163.0f);
        // A second Ok updates what the first stored.
        QCOMPARE(editor.editedName(), stored);
    }

    // A refusal about the name goes once the name is another; loading a view that is gone says what
    // Ok does instead.
    void messagesGoWhenTheirCauseDoes()
    {
        ViewEditor &editor = *m_editor;
        editor.setName(QStringLiteral("Left"));
        QVERIFY(!editor.store());
        const QString refused = editor.message();
        editor.setName(QStringLiteral("Left"));
        QCOMPARE(editor.message(), refused);
        editor.setName(QStringLiteral("Left 2"));
        QCOMPARE(editor.message(), QString());
        QVERIFY(!editor.loadView(QStringLiteral("Gone"), false));
        QVERIFY2(editor.message().contains("Ok stores a new view"), qPrintable(editor.message()));
    }

    // Another stream takes nothing of the view loaded from the first: Ok stores a new view of its own.
    void anotherStreamUpdatesNoViewOfTheFirst()
    {
        QVERIFY(m_editor->loadView(QStringLiteral("Mid"), false));
        Object other;
        other.setSerial(QStringLiteral("S-2"));
        m_editor->setStream(&other);
        QCOMPARE(m_editor->editedName(), QString());
        QVERIFY(m_editor->store());
        QCOMPARE(namesOf(*m_views, "S-2"), QStringList{"Mid"});
        QCOMPARE(m_views->viewOf("S-1", "Mid").value("pan").toFloat(), 15.0f);
    }

    // The lens in whole video pixels: the stream's, or for a stream without one placed in the middle of
    // the frame once its size is known; before that, Ok keeps the stream's and takes only the mount.
    void theLensIsKeptInWholePixels_data()
    {
        QTest::addColumn<QList<int>>("streamLens");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QList<double>>("shares");
        QTest::addColumn<QList<int>>("stored");
        QTest::newRow("no lens, odd frame")
            << QList<int>{0, 0, 0} << QSize(321, 241) << QList<double>() << QList<int>{161, 121, 161};
        QTest::newRow("stream's lens") << QList<int>{321, 241, 231} << QSize(640, 480) << QList<double>()
                                       << QList<int>{321, 241, 231};
        QTest::newRow("shares rounded") << QList<int>{0, 0, 0} << QSize(320, 240) << QList<double>{0.253, 0.5, 0.4}
                                        << QList<int>{81, 120, 128};
        QTest::newRow("size not known yet")
            << QList<int>{321, 241, 231} << QSize() << QList<double>{0.1, 0.1, 0.1} << QList<int>{321, 241, 231};
    }

    void theLensIsKeptInWholePixels()
    {
        QFETCH(QList<int>, streamLens);
        QFETCH(QSize, frame);
        QFETCH(QList<double>, shares);
        QFETCH(QList<int>, stored);
        m_stream->setCenterX(streamLens.at(0));
        m_stream->setCenterY(streamLens.at(1));
        m_stream->setRadius(streamLens.at(2));
        m_stream->setFov(streamLens.at(2) > 0 ? 185 : 0);
        ViewEditor editor;
        editor.setStream(m_stream.get());
        QCOMPARE(editor.placeLens(frame.width(), frame.height()), frame.isValid());
        if (!shares.isEmpty())
            QCOMPARE(editor.setLensShares(shares.at(0), shares.at(1), shares.at(2), frame.width(), frame.height()),
                     frame.isValid());
        editor.setMount(QStringLiteral("ceiling"));
        editor.setName(QStringLiteral("Early"));
        QVERIFY(editor.store());
        QCOMPARE(QList<int>({m_stream->centerX(), m_stream->centerY(), m_stream->radius()}), stored);
        QCOMPARE(m_stream->fov(), streamLens.at(2) > 0 ? 185.0f : 163.0f);
        QCOMPARE(m_stream->mount(), QStringLiteral("ceiling"));
    }

    // Room angles of the mount are stored as the camera's and come back as they were; a new mount keeps
    // where the view looks; a quad's quarters each keep their aim, stored in camera angles.
    void anglesAreStoredAsTheCamerasAndComeBack_data()
    {
        QTest::addColumn<QString>("mount");
        QTest::addColumn<QString>("mode");
        for (const char *mount : {"wall", "ceiling", "floor"}) {
            for (const char *mode : {"perspective", "quad"})
                QTest::addRow("%s, %s", mount, mode) << mount << mode;
        }
    }

    void anglesAreStoredAsTheCamerasAndComeBack()
    {
        QFETCH(QString, mount);
        QFETCH(QString, mode);
        ViewEditor &editor = *m_editor;
        editor.setMount(mount);
        editor.setMode(mode);
        if (mode == "quad") {
            // Four directions a quarter turn apart where the camera sees the room.
            QCOMPARE(editor.quadAims().at(1).toMap().value("pan").toDouble() -
                         editor.quadAims().at(0).toMap().value("pan").toDouble(),
                     mount == "wall" ? 40.0 : 90.0);
            QVERIFY(editor.selectQuarter(2));
            QVERIFY(!editor.selectQuarter(4));
        }
        editor.setTilt(-30);
        editor.setPan(100);
        editor.setZoom(50);
        const QVariantList aims = editor.quadAims();
        const QVariantMap camera = editor.cameraAngles();
        if (mount == "wall")
            QCOMPARE(camera.value("pan").toDouble(), 100.0);
        else
            QVERIFY(qAbs(camera.value("tilt").toDouble() + 30) > 1);
        editor.setName(QStringLiteral("View"));
        QVERIFY(editor.store());

        ViewEditor again;
        m_stream->setMount(mount);
        again.setStream(m_stream.get());
        QVERIFY(again.loadView(QStringLiteral("View"), false));
        QCOMPARE(again.mode(), mode);
        for (int i = 0; i < aims.size(); ++i) {
            const QVariantMap was = aims.at(i).toMap(), now = again.quadAims().at(i).toMap();
            for (const char *angle : {"tilt", "pan", "zoom"})
                QVERIFY2(qAbs(was.value(angle).toDouble() - now.value(angle).toDouble()) < 1e-3,
                         qPrintable(QStringLiteral("quarter %1 %2").arg(i).arg(angle)));
        }
        if (mode == "perspective")
            QVERIFY(qAbs(again.pan() - 100) < 1e-3 && qAbs(again.tilt() + 30) < 1e-3);
        QVERIFY(!again.isModified());
        again.setTilt(-31);
        QVERIFY(again.isModified());

        // Another mount looks the same way, levelled.
        const QVariantMap looked = again.cameraAngles();
        again.setMount(mount == "wall" ? QStringLiteral("ceiling") : QStringLiteral("wall"));
        QCOMPARE(again.roll(), 0.0);
        for (const char *angle : {"tilt", "pan"})
            QVERIFY2(qAbs(again.cameraAngles().value(angle).toDouble() - looked.value(angle).toDouble()) < 1e-3, angle);
    }

private:
    std::unique_ptr<RepoObjViews> m_views;
    std::unique_ptr<Object> m_stream;
    std::unique_ptr<ViewEditor> m_editor;
};

QTEST_GUILESS_MAIN(TestViewEditor)
#include "tst_vieweditor.moc"
