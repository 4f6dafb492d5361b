// Aiming by hand without the window: drags on either pane keep what was grabbed under the pointer as the
// overlay's lens model sees it, panoramas turn, presses that grab nothing change nothing, and the keys and
// the wheel turn and zoom within range.
#include "app/paneaiming.h"
#include "repo/object.h"

#include <QtTest>

class TestPaneAiming : public QObject
{
    Q_OBJECT

    // What the window binds: the overlay shows the editor's lens and the view on its sliders.
    void sync()
    {
        m_area->setLens(m_editor->lens());
        ViewAim aim;
        aim.roll = float(m_editor->roll());
        aim.tilt = float(m_editor->tilt());
        aim.pan = float(m_editor->pan());
        aim.zoom = float(m_editor->zoom());
        aim.mode = m_editor->mode();
        aim.layout = m_editor->layout();
        m_area->setViewAim(aim);
    }

    static QPointF pointOf(const QVariant &grab, const char *x, const char *y)
    {
        const QVariantMap map = grab.toMap();
        return {map.value(QLatin1String(x)).toReal(), map.value(QLatin1String(y)).toReal()};
    }

private slots:
    void init()
    {
        m_stream = std::make_unique<Object>();
        m_stream->setSerial(QStringLiteral("S-1"));
        m_editor = std::make_unique<ViewEditor>();
        m_editor->setStream(m_stream.get());
        QVERIFY(m_editor->placeLens(320, 240));
        m_area = std::make_unique<DewrapArea>();
        m_area->setVidWidth(320);
        m_area->setVidHeight(240);
        m_area->setSize(QSizeF(640, 480));
        m_area->setRatio(16.0f / 9.0f);
        m_aiming.setEditor(m_editor.get());
        m_aiming.setArea(m_area.get());
        m_editor->setTilt(20);
        m_editor->setZoom(60);
        sync();
        // As the window's bindings do, at once.
        for (const auto changed : {&ViewEditor::rollChanged, &ViewEditor::tiltChanged, &ViewEditor::panChanged,
                                   &ViewEditor::zoomChanged, &ViewEditor::modeChanged, &ViewEditor::layoutChanged,
                                   &ViewEditor::lensChanged, &ViewEditor::mountChanged})
            connect(m_editor.get(), changed, this, [this] { sync(); });
    }

    void cleanup()
    {
        m_aiming.setArea(nullptr);
        m_aiming.setEditor(nullptr);
        m_area.reset();
        m_editor.reset();
        m_stream.reset();
    }

    // A drag on the raw pane keeps the grabbed view point under the pointer; one on the dewarped pane the
    // grabbed fisheye point (in a quad, within the quarter pressed, which goes onto the sliders).
    void dragsKeepWhatWasGrabbedUnderThePointer_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("rawPane");
        QTest::addColumn<QPointF>("from");
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<int>("quarter");
        QTest::newRow("raw pane") << "perspective" << true << QPointF() << QPointF(0.45, 0.35) << 0;
        QTest::newRow("dewarped pane") << "perspective" << false << QPointF(0.3, 0.4) << QPointF(0.75, 0.8) << 0;
        QTest::newRow("quad, lower right") << "quad" << false << QPointF(0.7, 0.6) << QPointF(0.9, 0.8) << 3;
    }

    void dragsKeepWhatWasGrabbedUnderThePointer()
    {
        QFETCH(QString, mode);
        QFETCH(bool, rawPane);
        QFETCH(QPointF, from);
        QFETCH(QPointF, to);
        QFETCH(int, quarter);
        m_editor->setMode(mode);
        sync();
        if (rawPane) {
            // Pressed on the view's centre as the overlay draws it.
            const QPointF centre = m_area->mapToFisheye(0.5f, 0.5f);
            const QVariant grab = m_aiming.grabRawAt(centre.x(), centre.y());
            QVERIFY(grab.isValid());
            m_aiming.dragRawTo(grab, to.x(), to.y());
            sync();
            const QPointF under = m_area->mapFromFisheye(to.x(), to.y());
            QVERIFY2(QLineF(under, pointOf(grab, "u", "v")).length() < 1e-3, qPrintable(QString::number(under.x())));
        } else {
            const QVariant grab = m_aiming.grabViewAt(from.x(), from.y());
            QCOMPARE(m_editor->quadIndex(), quarter);
            sync();
            m_aiming.dragViewTo(grab, to.x(), to.y());
            sync();
            const QPointF unit = mode == "quad" ? QPointF(2 * to.x() - 1, 2 * to.y() - 1) : to;
            const QPointF under = m_area->mapToFisheye(float(unit.x()), float(unit.y()));
            QVERIFY(QLineF(under, pointOf(grab, "fx", "fy")).length() < 1e-3);
        }
        QVERIFY(m_editor->pan() != 0);
    }

    // A panorama of a ceiling camera turns about the lens axis: on the raw pane with the pointer's turn
    // about the lens centre, on the dewarped pane by the share of the pane crossed.
    void panoramasTurn()
    {
        m_editor->setMount(QStringLiteral("ceiling"));
        m_editor->setMode(QStringLiteral("panorama"));
        sync();
        const double start = m_editor->azimuth();
        // Halfway out from the lens centre lies the band; turned by 30 degrees about the centre, in pixels.
        const QPointF at(0.8, 0.5);
        const QVariant grab = m_aiming.grabRawAt(at.x(), at.y());
        QVERIFY(grab.isValid());
        const QTransform pixels = QTransform::fromScale(m_area->width(), m_area->height());
        const QPointF turned =
            (pixels * QTransform().translate(320, 240).rotate(30).translate(-320, -240) * pixels.inverted()).map(at);
        m_aiming.dragRawTo(grab, turned.x(), turned.y());
        QVERIFY2(qAbs(qAbs(std::remainder(m_editor->azimuth() - start, 360.0)) - 30) < 1,
                 qPrintable(QString::number(m_editor->azimuth())));

        const double before = m_editor->azimuth();
        m_aiming.dragViewTo(m_aiming.grabViewAt(0.2, 0.5), 0.45, 0.5);
        QCOMPARE(std::remainder(m_editor->azimuth() - before, 360.0), -90.0);

        // Nothing of the band lies at the lens centre of a ceiling camera: a press there grabs nothing.
        QVERIFY(!m_aiming.grabRawAt(0.5, 0.5).isValid());
    }

    // Presses away from the view, or outside the lens circle, change nothing.
    void pressesThatReachNoViewChangeNothing()
    {
        QVERIFY(!m_aiming.grabRawAt(0.95, 0.95).isValid());
        QTest::ignoreMessage(QtDebugMsg, "Double click outside the lens circle ignored");
        QVERIFY(!m_aiming.centreOn(0.01, 0.01));
        QCOMPARE(m_editor->pan(), 0.0);
        QCOMPARE(m_editor->tilt(), 20.0);
        QVERIFY(m_aiming.centreOn(0.3, 0.6));
        sync();
        QVERIFY(QLineF(m_area->mapToFisheye(0.5f, 0.5f), QPointF(0.3, 0.6)).length() < 1e-3);
    }

    // Keys turn by a degree (ten with Shift) within -180 to 180 and zoom by a tenth within range; the
    // wheel zooms about the pointer.
    void keysAndWheelTurnAndZoomWithinRange_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<double>("pan");
        QTest::addColumn<double>("tilt");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<bool>("handled");
        QTest::newRow("left") << int(Qt::Key_Left) << 0 << 174.0 << 20.0 << 60.0 << true;
        QTest::newRow("shift right, clamped")
            << int(Qt::Key_Right) << int(Qt::ShiftModifier) << 180.0 << 20.0 << 60.0 << true;
        QTest::newRow("up") << int(Qt::Key_Up) << 0 << 175.0 << 21.0 << 60.0 << true;
        QTest::newRow("plus") << int(Qt::Key_Plus) << 0 << 175.0 << 20.0 << 54.0 << true;
        QTest::newRow("minus") << int(Qt::Key_Minus) << 0 << 175.0 << 20.0 << 60.0 / 0.9 << true;
        QTest::newRow("other key") << int(Qt::Key_A) << 0 << 175.0 << 20.0 << 60.0 << false;
    }

    void keysAndWheelTurnAndZoomWithinRange()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(double, pan);
        QFETCH(double, tilt);
        QFETCH(double, zoom);
        QFETCH(bool, handled);
        m_editor->setPan(175);
        QCOMPARE(m_aiming.handleKey(key, modifiers), handled);
        QCOMPARE(m_editor->pan(), pan);
        QCOMPARE(m_editor->tilt(), tilt);
        QVERIFY(qFuzzyCompare(m_editor->zoom(), zoom));

        // The wheel keeps the fisheye point under (0.8, 0.3) there, and stops at the zoom's range.
        sync();
        const QPointF held = m_area->mapToFisheye(0.8f, 0.3f);
        m_aiming.zoomAbout(2, 0.8, 0.3);
        sync();
        QVERIFY(QLineF(m_area->mapToFisheye(0.8f, 0.3f), held).length() < 1e-3);
        m_aiming.zoomAbout(-100, 0.5, 0.5);
        QCOMPARE(m_editor->zoom(), ViewEditor::kMaxZoom);
        m_aiming.zoomAbout(100, 0.5, 0.5);
        QCOMPARE(m_editor->zoom(), ViewEditor::kMinZoom);
    }

private:
    std::unique_ptr<Object> m_stream;
    std::unique_ptr<ViewEditor> m_editor;
    std::unique_ptr<DewrapArea> m_area;
    PaneAiming m_aiming;
};

QTEST_MAIN(TestPaneAiming)
#include "tst_paneaiming.moc"
