// The shared defish projection against values worked out by hand from the lens model.
#include "defish/fisheyeprojection.h"

#include <QtTest>
#include <cmath>

namespace {

FisheyeLens lens1920()
{
    FisheyeLens lens;
    lens.width = 1920.0f;
    lens.height = 1080.0f;
    lens.centerX = 960.0f;
    lens.centerY = 540.0f;
    lens.radius = 500.0f;
    lens.fov = 180.0f;
    return lens;
}

FisheyeView view(float roll, float tilt, float pan, float fov, float ratio)
{
    FisheyeView v;
    v.roll = roll;
    v.tilt = tilt;
    v.pan = pan;
    v.fov = fov;
    v.ratio = ratio;
    return v;
}

} // namespace

Q_DECLARE_METATYPE(FisheyeMount)

class TestFisheyeProjection : public QObject
{
    Q_OBJECT

private slots:
    void viewCentreWithZeroAnglesSamplesLensCentre()
    {
        FisheyeLens lens = lens1920();
        lens.centerX = 700.0f;
        lens.centerY = 300.0f;
        const FisheyeProjection proj(lens, view(0, 0, 0, 20, 16.0f / 9.0f));
        float x = -1, y = -1;
        QVERIFY(proj.sample(0.5f, 0.5f, &x, &y));
        QCOMPARE(x, 700.0f / 1920.0f);
        QCOMPARE(y, (1080.0f - 1.0f - 300.0f) / 1080.0f);
    }

    void fov90WithRatio1GivesUnitFrustum()
    {
        const FisheyeProjection proj(lens1920(), view(0, 0, 0, 90, 1));
        // The upper-right corner ray is (1, 1, -1): z grows downwards like the frame's rows.
        const FisheyeVec3 p = proj.viewRay(1.0f, 0.0f);
        QVERIFY(std::fabs(p.x - 1.0f) < 1e-6f);
        QCOMPARE(p.y, 1.0f);
        QVERIFY(std::fabs(p.z + 1.0f) < 1e-6f);
        const FisheyeVec3 q = proj.viewRay(0.0f, 1.0f);
        QVERIFY(std::fabs(q.x + 1.0f) < 1e-6f);
        QVERIFY(std::fabs(q.z - 1.0f) < 1e-6f);
    }

    void rotationsFollowRollTiltPanOrder_data()
    {
        QTest::addColumn<float>("roll");
        QTest::addColumn<float>("tilt");
        QTest::addColumn<float>("pan");
        QTest::addColumn<float>("ex");
        QTest::addColumn<float>("ey");
        QTest::addColumn<float>("ez");
        // The view centre ray (0, 1, 0) under each rotation alone and combined.
        QTest::newRow("roll keeps the axis") << 30.0f << 0.0f << 0.0f << 0.0f << 1.0f << 0.0f;
        QTest::newRow("tilt 90 turns depth to up (-z)") << 0.0f << 90.0f << 0.0f << 0.0f << 0.0f << -1.0f;
        QTest::newRow("pan 90 turns depth to right") << 0.0f << 0.0f << 90.0f << 1.0f << 0.0f << 0.0f;
        // Tilt first, then pan: (0,1,0) -> tilt 90 -> (0,0,-1) -> pan 90 keeps z.
        QTest::newRow("tilt then pan") << 0.0f << 90.0f << 90.0f << 0.0f << 0.0f << -1.0f;
    }

    void rotationsFollowRollTiltPanOrder()
    {
        QFETCH(float, roll);
        QFETCH(float, tilt);
        QFETCH(float, pan);
        QFETCH(float, ex);
        QFETCH(float, ey);
        QFETCH(float, ez);
        const FisheyeProjection proj(lens1920(), view(roll, tilt, pan, 60, 1));
        const FisheyeVec3 p = proj.viewRay(0.5f, 0.5f);
        QVERIFY2(std::fabs(p.x - ex) < 1e-6f && std::fabs(p.y - ey) < 1e-6f && std::fabs(p.z - ez) < 1e-6f,
                 qPrintable(QStringLiteral("(%1, %2, %3)").arg(p.x).arg(p.y).arg(p.z)));
    }

    void rollTurnsTheViewAboutItsAxis()
    {
        // Roll 90 turns the view's right edge centre (1, 1, 0) into (0, 1, -1): straight down the frame
        // axis, which in texture coordinates is towards smaller y.
        const FisheyeProjection proj(lens1920(), view(90, 0, 0, 90, 1));
        float x = 0, y = 0;
        QVERIFY(proj.sample(1.0f, 0.5f, &x, &y));
        QVERIFY(std::fabs(x - 960.0f / 1920.0f) < 1e-5f);
        // 45 degrees off axis with a 180 degree lens of radius 500 is 250 pixels from the centre.
        QVERIFY(std::fabs(y - ((1079.0f - 540.0f) / 1080.0f - 250.0f / 1080.0f)) < 1e-5f);
    }

    void equidistantModelPlacesHalfLensAngleOnCircle()
    {
        // Pan 90 with a 180 degree lens puts the view centre exactly on the lens circle, to the right.
        const FisheyeProjection proj(lens1920(), view(0, 0, 90, 20, 1));
        float x = 0, y = 0;
        proj.viewToFisheye(0.5f, 0.5f, &x, &y);
        QVERIFY(std::fabs(x - (960.0f + 500.0f) / 1920.0f) < 1e-6f);
        QVERIFY(std::fabs(y - 539.0f / 1080.0f) < 1e-6f);
        // Half way to the rim: a ray 45 degrees off axis towards +z lands 250 pixels along +y.
        const FisheyeProjection up(lens1920(), view(0, -45, 0, 20, 1));
        up.viewToFisheye(0.5f, 0.5f, &x, &y);
        QVERIFY(std::fabs(x - 960.0f / 1920.0f) < 1e-6f);
        QVERIFY(std::fabs(y - (539.0f + 250.0f) / 1080.0f) < 1e-5f);
    }

    void raysBeyondHalfTheLensAngleOrOutsideTheFrameAreMissing()
    {
        float x = 0, y = 0;
        // 100 degrees off axis with a 180 degree lens: past the circle although still inside the frame.
        const FisheyeProjection past(lens1920(), view(0, 0, 100, 20, 1));
        QVERIFY(!past.sample(0.5f, 0.5f, &x, &y));
        QVERIFY(x > 0.0f && x < 1.0f);
        const FisheyeProjection within(lens1920(), view(0, 0, 80, 20, 1));
        QVERIFY(within.sample(0.5f, 0.5f, &x, &y));

        // A lens circle larger than the frame: inside the circle but right of the frame.
        FisheyeLens lens = lens1920();
        lens.radius = 2000.0f;
        const FisheyeProjection wide(lens, view(0, 0, 60, 20, 1));
        QVERIFY(!wide.sample(0.5f, 0.5f, &x, &y));
        QVERIFY(x > 1.0f);
    }

    void zeroSettingsAreInvalidAndNeverSampled()
    {
        QVERIFY(FisheyeProjection(lens1920(), view(0, 0, 0, 20, 1)).isValid());
        QVERIFY(!FisheyeProjection(FisheyeLens(), FisheyeView()).isValid());
        FisheyeLens lens = lens1920();
        lens.fov = 0.0f;
        const FisheyeProjection noLens(lens, view(0, 0, 0, 20, 1));
        QVERIFY(!noLens.isValid());
        float x = 0, y = 0, u = 0, v = 0;
        QVERIFY(!noLens.sample(0.3f, 0.3f, &x, &y));
        QVERIFY(!noLens.fisheyeToView(0.5f, 0.5f, &u, &v));
        QVERIFY(!FisheyeProjection(lens1920(), view(0, 0, 0, 20, 0)).isValid());
        lens = lens1920();
        lens.height = 0.0f;
        QVERIFY(!FisheyeProjection(lens, view(0, 0, 0, 20, 1)).isValid());
        // A view angle of 0 sees one ray; sampling works, the inverse has no plane to hit.
        const FisheyeProjection point(lens1920(), view(0, 0, 0, 0, 1));
        QVERIFY(point.sample(0.1f, 0.9f, &x, &y));
        QVERIFY(!point.fisheyeToView(0.5f, 0.5f, &u, &v));
    }

    void inverseReturnsTheViewPoint_data()
    {
        QTest::addColumn<float>("roll");
        QTest::addColumn<float>("tilt");
        QTest::addColumn<float>("pan");
        QTest::addColumn<float>("fov");
        QTest::addColumn<int>("projection");
        const int equidistant = int(FisheyeLensProjection::Equidistant);
        QTest::newRow("straight") << 0.0f << 0.0f << 0.0f << 60.0f << equidistant;
        QTest::newRow("rolled") << 25.0f << 0.0f << 0.0f << 60.0f << equidistant;
        QTest::newRow("all three") << -15.0f << 40.0f << 120.0f << 90.0f << equidistant;
        QTest::newRow("narrow") << 5.0f << -70.0f << -150.0f << 10.0f << equidistant;
        // Each lens projection and its inverse (lensRay) undo one another.
        QTest::newRow("equisolid") << -15.0f << 40.0f << 120.0f << 90.0f << int(FisheyeLensProjection::Equisolid);
        QTest::newRow("stereographic") << 10.0f << -30.0f << 60.0f << 80.0f
                                       << int(FisheyeLensProjection::Stereographic);
        QTest::newRow("orthographic") << 0.0f << 20.0f << -40.0f << 70.0f << int(FisheyeLensProjection::Orthographic);
    }

    void inverseReturnsTheViewPoint()
    {
        QFETCH(float, roll);
        QFETCH(float, tilt);
        QFETCH(float, pan);
        QFETCH(float, fov);
        QFETCH(int, projection);
        FisheyeLens lens = lens1920();
        lens.projection = FisheyeLensProjection(projection);
        const FisheyeProjection proj(lens, view(roll, tilt, pan, fov, 16.0f / 9.0f));
        for (float u = 0.0f; u <= 1.0f; u += 0.25f) {
            for (float v = 0.0f; v <= 1.0f; v += 0.25f) {
                float x = 0, y = 0, bu = -1, bv = -1;
                proj.viewToFisheye(u, v, &x, &y);
                QVERIFY(proj.fisheyeToView(x, y, &bu, &bv));
                QVERIFY2(std::fabs(bu - u) < 1e-3f && std::fabs(bv - v) < 1e-3f,
                         qPrintable(QStringLiteral("(%1, %2) -> (%3, %4)").arg(u).arg(v).arg(bu).arg(bv)));
            }
        }
    }

    // Every projection puts half the lens angle on the circle, and they part in between: a ray 45 degrees
    // off the axis of a 180-degree lens lands at 0.5 (equidistant), sin 22.5 / sin 45 (equisolid),
    // tan 22.5 / tan 45 (stereographic) or sin 45 (orthographic) of the radius.
    void lensProjectionsPlaceRaysByTheirCurves_data()
    {
        QTest::addColumn<int>("projection");
        QTest::addColumn<double>("at45");
        const double d = M_PI / 180.0;
        QTest::newRow("equidistant") << int(FisheyeLensProjection::Equidistant) << 0.5;
        QTest::newRow("equisolid") << int(FisheyeLensProjection::Equisolid) << std::sin(22.5 * d) / std::sin(45 * d);
        QTest::newRow("stereographic") << int(FisheyeLensProjection::Stereographic) << std::tan(22.5 * d);
        QTest::newRow("orthographic") << int(FisheyeLensProjection::Orthographic) << std::sin(45 * d);
    }

    void lensProjectionsPlaceRaysByTheirCurves()
    {
        QFETCH(int, projection);
        QFETCH(double, at45);
        FisheyeLens lens = lens1920();
        lens.projection = FisheyeLensProjection(projection);
        float x = 0, y = 0;
        FisheyeProjection(lens, view(0, 0, 90, 20, 1)).viewToFisheye(0.5f, 0.5f, &x, &y);
        QVERIFY(std::fabs(x * 1920.0f - 1460.0f) < 0.01f);
        FisheyeProjection(lens, view(0, -45, 0, 20, 1)).viewToFisheye(0.5f, 0.5f, &x, &y);
        QVERIFY2(std::fabs((y * 1080.0f - 539.0f) / 500.0f - at45) < 1e-4, qPrintable(QString::number(y * 1080.0f)));
        // An orthographic lens sees 90 degrees off its axis at most.
        lens.fov = 190.0f;
        QCOMPARE(FisheyeProjection(lens, view(0, 0, 0, 20, 1)).isValid(),
                 lens.projection != FisheyeLensProjection::Orthographic);
    }

    // A panorama's column at azimuth a and its row at elevation e look where a perspective view of pan a
    // and tilt e looks, on every mount; a quad's quarter is its own view, and sample() finds the part a
    // point of the whole picture lies in.
    void layoutsLookWherePerspectiveViewsLook_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<FisheyeMount>("mount");
        QTest::newRow("panorama, ceiling") << int(FisheyeViewMode::Panorama) << FisheyeMount::Ceiling;
        QTest::newRow("panorama, floor") << int(FisheyeViewMode::Panorama) << FisheyeMount::Floor;
        QTest::newRow("double panorama, ceiling") << int(FisheyeViewMode::DoublePanorama) << FisheyeMount::Ceiling;
        QTest::newRow("half panorama, wall") << int(FisheyeViewMode::HalfPanorama) << FisheyeMount::Wall;
        QTest::newRow("quad") << int(FisheyeViewMode::Quad) << FisheyeMount::Wall;
    }

    void layoutsLookWherePerspectiveViewsLook()
    {
        QFETCH(int, mode);
        QFETCH(FisheyeMount, mount);
        FisheyeLens lens = lens1920();
        lens.fov = 200.0f;
        FisheyeLayout layout;
        layout.mode = FisheyeViewMode(mode);
        layout.mount = mount;
        layout.azimuth = -150.0f;
        layout.upper = mount == FisheyeMount::Floor ? 70.0f : 20.0f;
        layout.lower = mount == FisheyeMount::Floor ? 0.0f : -60.0f;
        layout.quad[0] = view(10, 20, -40, 60, 1);
        layout.quad[1] = view(0, 25, 50, 70, 1);
        layout.quad[2] = view(-5, -30, -130, 50, 1);
        layout.quad[3] = view(0, -20, 140, 80, 1);
        const FisheyeProjection picture(lens, view(0, 0, 0, 90, 2.0f), FisheyeMount::Wall, layout);
        QVERIFY(picture.isValid());
        const int columns = FisheyeProjection::tileColumns(layout.mode);
        const int rows = FisheyeProjection::tileRows(layout.mode);
        QCOMPARE(picture.tileCount(), columns * rows);
        const float span = layout.mode == FisheyeViewMode::Panorama ? 360.0f : 180.0f;
        for (int tile = 0; tile < picture.tileCount(); ++tile) {
            for (const float u : {0.1f, 0.5f, 0.85f}) {
                for (const float v : {0.2f, 0.5f, 0.9f}) {
                    float x = 0, y = 0, ex = 0, ey = 0;
                    picture.tileToFisheye(tile, u, v, &x, &y);
                    if (layout.mode == FisheyeViewMode::Quad) {
                        FisheyeView q = layout.quad[tile];
                        q.ratio = 2.0f;
                        FisheyeProjection(lens, q).viewToFisheye(u, v, &ex, &ey);
                    } else {
                        const float azimuth = layout.azimuth + (tile == 1 ? 180.0f : 0.0f) + u * span;
                        const float elevation = layout.upper + v * (layout.lower - layout.upper);
                        FisheyeProjection(lens, view(0, elevation, std::remainder(azimuth, 360.0f), 20, 1), mount)
                            .viewToFisheye(0.5f, 0.5f, &ex, &ey);
                    }
                    QVERIFY2(std::fabs(x - ex) < 2e-4f && std::fabs(y - ey) < 2e-4f,
                             qPrintable(QStringLiteral("tile %1 (%2, %3): (%4, %5), want (%6, %7)")
                                            .arg(tile).arg(u).arg(v).arg(x).arg(y).arg(ex).arg(ey)));
                    // The whole picture's point in that part samples the same position.
                    float sx = 0, sy = 0;
                    const float pu = (float(tile % columns) + u) / float(columns);
                    const float pv = (float(tile / columns) + v) / float(rows);
                    if (picture.sample(pu, pv, &sx, &sy))
                        QVERIFY(std::fabs(sx - x) < 1e-4f && std::fabs(sy - y) < 1e-4f);
                }
            }
        }
    }

    void inverseRefusesPointsBehindTheCamera()
    {
        // A 270 degree lens sees behind the virtual camera: the circle's rim lies 135 degrees off axis.
        FisheyeLens lens = lens1920();
        lens.fov = 270.0f;
        const FisheyeProjection proj(lens, view(0, 0, 0, 60, 1));
        float u = 0, v = 0;
        QVERIFY(!proj.fisheyeToView((960.0f + 490.0f) / 1920.0f, 539.0f / 1080.0f, &u, &v));
        QVERIFY(proj.fisheyeToView((960.0f + 10.0f) / 1920.0f, 539.0f / 1080.0f, &u, &v));
        QVERIFY(u > 0.5f);
    }

    void aimBringsTheFisheyePointToTheViewPoint_data()
    {
        QTest::addColumn<float>("roll");
        QTest::addColumn<float>("tilt");
        QTest::addColumn<float>("pan");
        QTest::addColumn<float>("fov");
        QTest::addColumn<FisheyeMount>("mount");
        QTest::newRow("straight") << 0.0f << 0.0f << 0.0f << 60.0f << FisheyeMount::Wall;
        QTest::newRow("rolled") << 25.0f << 0.0f << 0.0f << 60.0f << FisheyeMount::Wall;
        QTest::newRow("all three") << -15.0f << 20.0f << 120.0f << 90.0f << FisheyeMount::Wall;
        QTest::newRow("steep and narrow") << 5.0f << -70.0f << -150.0f << 10.0f << FisheyeMount::Wall;
        QTest::newRow("ceiling, below the horizon") << 0.0f << -40.0f << 60.0f << 60.0f << FisheyeMount::Ceiling;
        QTest::newRow("ceiling, rolled") << 10.0f << -60.0f << -120.0f << 45.0f << FisheyeMount::Ceiling;
        QTest::newRow("floor, above the horizon") << 0.0f << 35.0f << 170.0f << 60.0f << FisheyeMount::Floor;
    }

    // From any view, the point seen at one view point is aimed at another; the new view must show it
    // there, and its tilt stays the one nearer the old tilt.
    void aimBringsTheFisheyePointToTheViewPoint()
    {
        QFETCH(float, roll);
        QFETCH(float, tilt);
        QFETCH(float, pan);
        QFETCH(float, fov);
        QFETCH(FisheyeMount, mount);
        const FisheyeView start = view(roll, tilt, pan, fov, 16.0f / 9.0f);
        const FisheyeProjection proj(lens1920(), start, mount);
        const QList<QPointF> targets = {{0.5, 0.5}, {0.2, 0.3}, {0.8, 0.9}, {0.1, 0.9}};
        for (const QPointF &from : targets) {
            for (const QPointF &to : targets) {
                float x = 0, y = 0, newPan = 0, newTilt = 0;
                proj.viewToFisheye(float(from.x()), float(from.y()), &x, &y);
                QVERIFY(proj.aim(x, y, float(to.x()), float(to.y()), &newPan, &newTilt));
                QVERIFY(newPan >= -180.0f && newPan <= 180.0f && newTilt >= -180.0f && newTilt <= 180.0f);
                FisheyeView turned = start;
                turned.pan = newPan;
                turned.tilt = newTilt;
                const FisheyeProjection after(lens1920(), turned, mount);
                float ax = 0, ay = 0;
                after.viewToFisheye(float(to.x()), float(to.y()), &ax, &ay);
                QVERIFY2(std::fabs(ax - x) * 1920.0f < 0.05f && std::fabs(ay - y) * 1080.0f < 0.05f,
                         qPrintable(QStringLiteral("(%1, %2) -> (%3, %4): pan %5 tilt %6 shows (%7, %8) for (%9, %10)")
                                        .arg(from.x())
                                        .arg(from.y())
                                        .arg(to.x())
                                        .arg(to.y())
                                        .arg(newPan)
                                        .arg(newTilt)
                                        .arg(ax * 1920.0f)
                                        .arg(ay * 1080.0f)
                                        .arg(x * 1920.0f)
                                        .arg(y * 1080.0f)));
                if (from == to) {
                    QVERIFY(std::fabs(std::remainder(newTilt - tilt, 360.0f)) < 0.01f);
                    QVERIFY(std::fabs(std::remainder(newPan - pan, 360.0f)) < 0.01f);
                }
            }
        }
    }

    // The room angles of a mount: the horizon stays level and up points away from the circle's centre on
    // a ceiling camera, towards it on a floor camera, to the frame's top on a wall camera. The camera
    // angles that are stored draw the same picture without knowing the mount.
    void mountsKeepViewsUpright_data()
    {
        QTest::addColumn<FisheyeMount>("mount");
        QTest::addColumn<float>("tilt");
        QTest::addColumn<int>("upward"); // +1: up leads away from the centre, -1: towards it
        QTest::addColumn<float>("pan");
        for (float pan : {0.0f, 90.0f, 180.0f, -90.0f, 30.0f}) {
            QTest::addRow("ceiling, pan %g", double(pan)) << FisheyeMount::Ceiling << -45.0f << 1 << pan;
            QTest::addRow("floor, pan %g", double(pan)) << FisheyeMount::Floor << 45.0f << -1 << pan;
        }
    }

    void mountsKeepViewsUpright()
    {
        QFETCH(FisheyeMount, mount);
        QFETCH(float, tilt);
        QFETCH(int, upward);
        QFETCH(float, pan);
        const FisheyeView room = view(0, tilt, pan, 40, 16.0f / 9.0f);
        const FisheyeProjection proj(lens1920(), room, mount);
        const float cx = 960.0f / 1920.0f, cy = (1080.0f - 1.0f - 540.0f) / 1080.0f;
        auto distance = [&](float u, float v) {
            float x = 0, y = 0;
            proj.viewToFisheye(u, v, &x, &y);
            return std::hypot((x - cx) * 1920.0f, (y - cy) * 1080.0f);
        };
        // Left and right of the centre lie on one circle about the lens centre: the horizon is level.
        QVERIFY2(std::fabs(distance(0.2f, 0.5f) - distance(0.8f, 0.5f)) < 0.5f,
                 qPrintable(QStringLiteral("%1 %2").arg(distance(0.2f, 0.5f)).arg(distance(0.8f, 0.5f))));
        QVERIFY(upward * (distance(0.5f, 0.2f) - distance(0.5f, 0.8f)) > 20.0f);

        // The stored angles draw the same picture.
        const FisheyeView camera = FisheyeProjection::toCamera(mount, room);
        const FisheyeProjection stored(lens1920(), camera);
        QVERIFY(camera.tilt >= -90.0f && camera.tilt <= 90.0f);
        for (const QPointF &p : {QPointF(0.5, 0.5), QPointF(0.1, 0.2), QPointF(0.9, 0.8)}) {
            float ax = 0, ay = 0, bx = 0, by = 0;
            proj.viewToFisheye(float(p.x()), float(p.y()), &ax, &ay);
            stored.viewToFisheye(float(p.x()), float(p.y()), &bx, &by);
            QVERIFY(std::fabs(ax - bx) * 1920.0f < 0.01f && std::fabs(ay - by) * 1080.0f < 0.01f);
        }
        // And load back as the room angles they came from.
        const FisheyeView back = FisheyeProjection::fromCamera(mount, camera);
        QVERIFY(std::fabs(back.roll) < 1e-3f && std::fabs(back.tilt - tilt) < 1e-3f &&
                std::fabs(std::remainder(back.pan - pan, 360.0f)) < 1e-3f);

        // A wall camera's room angles are its camera angles, exactly.
        const FisheyeView any = view(12.5f, -150.0f, 170.0f, 40, 1.5f);
        const FisheyeView wall = FisheyeProjection::toCamera(FisheyeMount::Wall, any);
        QCOMPARE(QList<float>({wall.roll, wall.tilt, wall.pan}), QList<float>({12.5f, -150.0f, 170.0f}));
    }

    void aimRefusesWhatNoTiltReaches()
    {
        // 60 degrees up, seen near the view's upper left corner, cannot reach its lower left corner: the
        // ray through that corner never rises that far, whatever the tilt.
        const FisheyeProjection proj(lens1920(), view(-15, 40, 120, 90, 16.0f / 9.0f));
        float x = 0, y = 0, pan = 7, tilt = 7;
        proj.viewToFisheye(0.2f, 0.3f, &x, &y);
        QVERIFY(!proj.aim(x, y, 0.1f, 0.9f, &pan, &tilt));
        QCOMPARE(pan, 7.0f);
        QVERIFY(proj.aim(x, y, 0.1f, 0.4f, &pan, &tilt));
    }

    void lensCircleAndPixelDensity()
    {
        const FisheyeProjection proj(lens1920(), view(0, 0, 0, 90, 1));
        QVERIFY(proj.isInsideLens(960.0f / 1920.0f, 539.0f / 1080.0f));
        QVERIFY(proj.isInsideLens((960.0f + 499.0f) / 1920.0f, 539.0f / 1080.0f));
        QVERIFY(!proj.isInsideLens((960.0f + 501.0f) / 1920.0f, 539.0f / 1080.0f));
        QVERIFY(!proj.isInsideLens(960.0f / 1920.0f, (539.0f - 501.0f) / 1080.0f));

        // At the centre of a straight view a ray dtheta off axis lands 500 / (pi / 2) pixels per radian
        // from the centre; one output pixel of a 90 degree view n pixels wide spans 2 / n on the plane.
        for (float outWidth : {100.0f, 1000.0f}) {
            const float expected = 500.0f / (3.14159265f / 2.0f) * 2.0f / outWidth;
            const float centre = proj.sourcePixelsPerViewPixel(0.5f, 0.5f, outWidth);
            QVERIFY2(std::fabs(centre - expected) < 0.01f * expected, qPrintable(QString::number(centre)));
            // Towards the corners the plane stretches more than the lens: fewer source pixels per output pixel.
            QVERIFY(proj.sourcePixelsPerViewPixel(0.0f, 0.0f, outWidth) < centre);
        }
        QCOMPARE(proj.sourcePixelsPerViewPixel(0.5f, 0.5f, 0.0f), 0.0f);
    }
};

QTEST_GUILESS_MAIN(TestFisheyeProjection)
#include "tst_fisheyeprojection.moc"
