// The dewarp overlay item: always-notifying properties, the lens and view as values, the relative
// direction and lens-angle changes in 32-bit floats, and the geometry it hands to the scene graph.
#include "defish/dewraparea.h"

#include <QLineF>
#include <QQuickWindow>
#include <QSGFlatColorMaterial>
#include <QSGGeometry>
#include <QSGGeometryNode>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Opens the scene-graph update to the test; the nodes it returns are read back directly.
class PaintProbe : public DewrapArea
{
public:
    using DewrapArea::updatePaintNode;
};

// A 400 x 400 item with the lens circle centred (200, 200 from the top: centerY 199), radius 160,
// a 180 degree lens and a 90 degree view.
void setUpKnownItem(DewrapArea &item)
{
    item.setSize(QSizeF(400, 400));
    item.setVidWidth(1920);
    item.setVidHeight(1080);
    item.setCenterX(200);
    item.setCenterY(199);
    item.setRadius(160);
    item.setFov(180);
    item.setZoom(90);
}

// Lens model worked out in double precision for the known item (zero angles): the ray (x, 1, z)
// lands phi / 180 degrees * 320 pixels from the centre, in the direction atan2(z, x).
QPointF expectedOnKnownItem(double x, double z)
{
    const double phi = std::atan2(std::sqrt(x * x + z * z), 1.0);
    const double theta = std::atan2(z, x);
    const double r = phi / M_PI * 320.0;
    return {200.0 + r * std::cos(theta), 200.0 + r * std::sin(theta)};
}

QPointF vertex(const QSGGeometryNode *node, int i)
{
    const QSGGeometry::Point2D p = node->geometry()->vertexDataAsPoint2D()[i];
    return {p.x, p.y};
}

bool near(const QPointF &a, const QPointF &b, double tolerance)
{
    return std::fabs(a.x() - b.x()) <= tolerance && std::fabs(a.y() - b.y()) <= tolerance;
}

QString text(const QPointF &p)
{
    return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

Lens makeLens(int centerX, int centerY, int radius, float fov, const char *mount, const char *projection)
{
    Lens lens;
    lens.centerX = centerX;
    lens.centerY = centerY;
    lens.radius = radius;
    lens.fov = fov;
    lens.mount = QLatin1String(mount);
    lens.projection = QLatin1String(projection);
    return lens;
}

ViewAim makeAim(float roll, float tilt, float pan, float zoom)
{
    ViewAim aim;
    aim.roll = roll;
    aim.tilt = tilt;
    aim.pan = pan;
    aim.zoom = zoom;
    return aim;
}

// How far apart two outlines lie, point by point, in item pixels; infinite where their shapes differ.
double outlineDistance(const QVector<QVector<QPointF>> &a, const QVector<QVector<QPointF>> &b)
{
    if (a.size() != b.size() || a.isEmpty())
        return qInf();
    double most = 0.0;
    for (int i = 0; i < a.size(); ++i) {
        if (a.at(i).size() != b.at(i).size())
            return qInf();
        for (int j = 0; j < a.at(i).size(); ++j)
            most = std::max(most, QLineF(a.at(i).at(j), b.at(i).at(j)).length());
    }
    return most;
}

// The outline the dewarping elements' projection gives on the video frame (the lens as the stream keeps it),
// scaled to an item of w x h.
QVector<QPointF> outlineOnVideo(const DewrapArea &item, const Lens &lens, const ViewAim &aim, float w, float h)
{
    FisheyeView view = aim.fisheye(w / h);
    const FisheyeProjection video(lens.fisheye(item.vidWidth(), item.vidHeight()), view, lens.fisheyeMount());
    QVector<QPointF> points;
    for (const QPointF &p : item.outlinePoints()) {
        float x = 0.0f;
        float y = 0.0f;
        video.viewToFisheye(float(p.x()), float(p.y()), &x, &y);
        points.append({x * w, y * h});
    }
    return points;
}

} // namespace

class TestDewrapArea : public QObject
{
    Q_OBJECT

private slots:
    void everySetterNotifiesEvenForTheSameValue_data()
    {
        QTest::addColumn<QByteArray>("property");
        for (const char *name :
             {"vidWidth", "vidHeight", "centerX", "centerY", "radius", "fov", "roll", "tilt", "pan", "zoom"})
            QTest::newRow(name) << QByteArray(name);
    }

    void everySetterNotifiesEvenForTheSameValue()
    {
        QFETCH(QByteArray, property);
        DewrapArea item;
        const QMetaProperty meta =
            item.metaObject()->property(item.metaObject()->indexOfProperty(property.constData()));
        QVERIFY(meta.isValid() && meta.isWritable() && meta.hasNotifySignal());
        QCOMPARE(meta.notifySignal().name(), property + "Changed");
        QCOMPARE(item.property(property.constData()).toFloat(), 0.0f);
        QSignalSpy spy(&item, QByteArray("2" + meta.notifySignal().methodSignature()).constData());
        QVERIFY(item.setProperty(property.constData(), 12.5f));
        QVERIFY(item.setProperty(property.constData(), 12.5f));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(item.property(property.constData()).toFloat(), 12.5f);
    }

    void updateDirection_data()
    {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<QPointF>("start"); // pan, tilt
        QTest::addColumn<QPointF>("move");  // dx, dy
        QTest::addColumn<QPointF>("end");
        QTest::addColumn<int>("panSignals");
        QTest::addColumn<int>("tiltSignals");
        // One degree per three units (3 * 0.33333334f rounds to exactly 1.0f); both
        // axes are tested and applied each call, even by 0.
        QTest::newRow("pan") << QSizeF(300, 200) << QPointF(10, -5) << QPointF(3, 0) << QPointF(11, -5) << 1 << 1;
        QTest::newRow("tilt") << QSizeF(300, 200) << QPointF(11, -5) << QPointF(0, 3) << QPointF(11, -6) << 1 << 1;
        // Each axis stays within half a turn: the one that would leave is refused alone.
        QTest::newRow("pan past 180") << QSizeF(300, 200) << QPointF(179.9, -179.5) << QPointF(3, 0)
                                      << QPointF(179.9, -179.5) << 0 << 1;
        QTest::newRow("tilt past -180") << QSizeF(300, 200) << QPointF(179.9, -179.5) << QPointF(-3, 3)
                                        << QPointF(178.9, -179.5) << 1 << 0;
        QTest::newRow("no width") << QSizeF(0, 200) << QPointF(0, 0) << QPointF(3, 3) << QPointF(0, 0) << 0 << 0;
        QTest::newRow("no height") << QSizeF(200, 0) << QPointF(0, 0) << QPointF(3, 3) << QPointF(0, 0) << 0 << 0;
    }

    void updateDirection()
    {
        QFETCH(QSizeF, size);
        QFETCH(QPointF, start);
        QFETCH(QPointF, move);
        QFETCH(QPointF, end);
        QFETCH(int, panSignals);
        QFETCH(int, tiltSignals);
        DewrapArea item;
        item.setSize(size);
        item.setPan(float(start.x()));
        item.setTilt(float(start.y()));
        QSignalSpy panSpy(&item, &DewrapArea::panChanged);
        QSignalSpy tiltSpy(&item, &DewrapArea::tiltChanged);
        item.updateDirection(float(move.x()), float(move.y()));
        QCOMPARE(item.pan(), float(end.x()));
        QCOMPARE(item.tilt(), float(end.y()));
        QCOMPARE(panSpy.count(), panSignals);
        QCOMPARE(tiltSpy.count(), tiltSignals);
    }

    void updateZoomChangesTheLensAngleUpTo180()
    {
        DewrapArea item;
        item.setFov(163.0f);
        item.setZoom(20.0f);
        QSignalSpy fovSpy(&item, &DewrapArea::fovChanged);
        item.updateZoom(30.0f);
        QCOMPARE(item.fov(), 173.0f);
        item.updateZoom(30.0f); // 183 is above 180
        QCOMPARE(item.fov(), 173.0f);
        QCOMPARE(fovSpy.count(), 1);
        QCOMPARE(item.zoom(), 20.0f);
        item.updateZoom(-519.0f); // 0 is not above 0
        QCOMPARE(item.fov(), 173.0f);
        item.updateZoom(-3.0f);
        QCOMPARE(item.fov(), 172.0f);
    }

    void updateZoomWithLensAngleZeroDoesNothing()
    {
        DewrapArea item;
        QSignalSpy fovSpy(&item, &DewrapArea::fovChanged);
        item.updateZoom(30.0f);
        QCOMPARE(item.fov(), 0.0f);
        QCOMPARE(fovSpy.count(), 0);
    }

    void viewCentreMapsToTheLensCentre()
    {
        DewrapArea item;
        item.setSize(QSizeF(640, 360));
        item.setCenterX(300);
        item.setCenterY(100);
        item.setRadius(150);
        item.setFov(163);
        item.setZoom(20);
        const QPointF p = item.mapToFisheye(0.5f, 0.5f);
        QCOMPARE(float(p.x()), 300.0f / 640.0f);
        QCOMPARE(float(p.y()), (360.0f - 1.0f - 100.0f) / 360.0f);
    }

    void nothingIsDrawnWhileTheVideoSizeIsZero_data()
    {
        QTest::addColumn<float>("vidWidth");
        QTest::addColumn<float>("vidHeight");
        QTest::newRow("width 0") << 0.0f << 1080.0f;
        QTest::newRow("height 0") << 1920.0f << 0.0f;
        QTest::newRow("both 0") << 0.0f << 0.0f;
    }

    void nothingIsDrawnWhileTheVideoSizeIsZero()
    {
        QFETCH(float, vidWidth);
        QFETCH(float, vidHeight);
        PaintProbe item;
        setUpKnownItem(item);
        item.setVidWidth(vidWidth);
        item.setVidHeight(vidHeight);
        QCOMPARE(item.updatePaintNode(nullptr, nullptr), nullptr);
    }

    void nothingIsDrawnWithLensAngleZeroOrNoSize()
    {
        PaintProbe item;
        setUpKnownItem(item);
        item.setFov(0.0f);
        QCOMPARE(item.updatePaintNode(nullptr, nullptr), nullptr);
        QVERIFY(std::isnan(item.mapToFisheye(0.5f, 0.5f).x()));
        setUpKnownItem(item);
        item.setSize(QSizeF(400, 0));
        QCOMPARE(item.updatePaintNode(nullptr, nullptr), nullptr);
    }

    void paintsThreeRedLineStrips()
    {
        PaintProbe item;
        setUpKnownItem(item);
        std::unique_ptr<QSGNode> root(item.updatePaintNode(nullptr, nullptr));
        QVERIFY(root);
        QCOMPARE(root->type(), QSGNode::GeometryNodeType);
        QCOMPARE(root->childCount(), 2);
        const QSGGeometryNode *nodes[] = {static_cast<QSGGeometryNode *>(root.get()),
                                          static_cast<QSGGeometryNode *>(root->childAtIndex(0)),
                                          static_cast<QSGGeometryNode *>(root->childAtIndex(1))};
        const int counts[] = {137, 28, 29};
        for (int n = 0; n < 3; ++n) {
            const QSGGeometryNode *node = nodes[n];
            QCOMPARE(node->type(), QSGNode::GeometryNodeType);
            QVERIFY(node->flags() & QSGNode::OwnsGeometry);
            QVERIFY(node->flags() & QSGNode::OwnsMaterial);
            const QSGGeometry *geometry = node->geometry();
            QCOMPARE(geometry->vertexCount(), counts[n]);
            QCOMPARE(geometry->indexCount(), 0);
            QCOMPARE(geometry->indexType(), int(QSGGeometry::UnsignedShortType));
            QCOMPARE(geometry->sizeOfVertex(), int(2 * sizeof(float)));
            QCOMPARE(geometry->drawingMode(), uint(QSGGeometry::DrawLineStrip));
            QCOMPARE(geometry->lineWidth(), 2.0f);
            const auto *material = dynamic_cast<const QSGFlatColorMaterial *>(node->material());
            QVERIFY(material);
            QCOMPARE(material->color(), QColor(255, 0, 0, 255));
        }
        QCOMPARE(root->childAtIndex(0)->flags() & QSGNode::OwnedByParent, QSGNode::OwnedByParent);
    }

    void paintedVerticesFollowTheLensModel()
    {
        PaintProbe item;
        setUpKnownItem(item);
        std::unique_ptr<QSGNode> root(item.updatePaintNode(nullptr, nullptr));
        QVERIFY(root);
        const auto *outline = static_cast<QSGGeometryNode *>(root.get());
        const auto *shaft = static_cast<QSGGeometryNode *>(root->childAtIndex(0));
        const auto *head = static_cast<QSGGeometryNode *>(root->childAtIndex(1));
        // 90 degree view on a square item: dh = dv = 1, z grows downwards. The outline starts at the lower
        // left corner (u 0, v 1: ray (-1, 1, 1)), turns at the lower right corner (index 34: ray (1, 1, 1))
        // and closes; the view's lower edge lies below the lens centre on the item.
        QVERIFY2(near(vertex(outline, 0), expectedOnKnownItem(-1, 1), 0.01), qPrintable(text(vertex(outline, 0))));
        QVERIFY2(near(vertex(outline, 34), expectedOnKnownItem(1, 1), 0.01), qPrintable(text(vertex(outline, 34))));
        QVERIFY2(near(vertex(outline, 68), expectedOnKnownItem(1, -1), 0.01), qPrintable(text(vertex(outline, 68))));
        QVERIFY2(near(vertex(outline, 102), expectedOnKnownItem(-1, -1), 0.01), qPrintable(text(vertex(outline, 102))));
        QVERIFY(vertex(outline, 0).y() > 200.0);
        QCOMPARE(vertex(outline, 136), vertex(outline, 0));
        // Shaft from (0.5, 0.1) (ray (0, 1, -0.8)) to (0.5, 0.9) (ray (0, 1, 0.8)), straight through the centre.
        QVERIFY2(near(vertex(shaft, 0), expectedOnKnownItem(0, -0.8), 0.01), qPrintable(text(vertex(shaft, 0))));
        QVERIFY2(near(vertex(shaft, 27), expectedOnKnownItem(0, 0.8), 0.01), qPrintable(text(vertex(shaft, 27))));
        for (int i = 0; i < 28; ++i)
            QVERIFY(std::fabs(vertex(shaft, i).x() - 200.0) < 1e-3);
        // Head: chevron from (0.1, 0.5) over the tip (0.5, 0.1) to (0.9, 0.5); the tip points to the top of
        // the dewarped picture, above the lens centre with no rotation.
        QVERIFY2(near(vertex(head, 0), expectedOnKnownItem(-0.8, 0), 0.01), qPrintable(text(vertex(head, 0))));
        QVERIFY2(near(vertex(head, 14), expectedOnKnownItem(0, -0.8), 0.01), qPrintable(text(vertex(head, 14))));
        QVERIFY(vertex(head, 14).y() < 200.0);
        QVERIFY2(near(vertex(head, 28), expectedOnKnownItem(0.8, 0), 0.01), qPrintable(text(vertex(head, 28))));
    }

    void repaintReusesTheNodesAndFollowsTheProperties()
    {
        PaintProbe item;
        setUpKnownItem(item);
        QSGNode *first = item.updatePaintNode(nullptr, nullptr);
        QVERIFY(first);
        std::unique_ptr<QSGNode> root(first);
        QSGNode *child0 = root->childAtIndex(0);
        const QPointF before = vertex(static_cast<QSGGeometryNode *>(child0), 0);
        item.setPan(90.0f); // turns the whole view to the right of the lens centre
        QCOMPARE(item.updatePaintNode(root.get(), nullptr), root.get());
        QCOMPARE(root->childAtIndex(0), child0);
        QCOMPARE(root->childCount(), 2);
        const QPointF after = vertex(static_cast<QSGGeometryNode *>(child0), 0);
        QVERIFY2(!near(before, after, 1.0), qPrintable(text(before) + text(after)));
        QCOMPARE(static_cast<QSGGeometryNode *>(root.get())->geometry()->vertexCount(), 137);
    }

    // The lens as the stream keeps it (video pixels) and the view as one value draw the outline the video
    // frame's projection gives, scaled to an item of the video's shape (as the pane is), and the same one
    // as the separate properties read back from it; a resize keeps it on the video.
    void lensAndAimAsValuesDrawWhatTheSeparatePropertiesDo_data()
    {
        QTest::addColumn<QSizeF>("video");
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<Lens>("lens");
        QTest::addColumn<ViewAim>("aim");
        QTest::newRow("wall, scaled down")
            << QSizeF(1920, 1080) << QSizeF(480, 270) << makeLens(960, 540, 500, 180, "wall", "equidistant")
            << makeAim(0, 10, -20, 60);
        QTest::newRow("ceiling, equisolid, off centre")
            << QSizeF(1280, 960) << QSizeF(320, 240) << makeLens(600, 500, 470, 190, "ceiling", "equisolid")
            << makeAim(5, -60, 135, 45);
        QTest::newRow("floor, stereographic, scaled up")
            << QSizeF(320, 240) << QSizeF(800, 600) << makeLens(161, 118, 117, 170, "floor", "stereographic")
            << makeAim(-10, -30, 40, 80);
        QTest::newRow("item as large as the video")
            << QSizeF(640, 480) << QSizeF(640, 480) << makeLens(320, 239, 230, 163, "wall", "orthographic")
            << makeAim(0, 0, 0, 20);
    }

    void lensAndAimAsValuesDrawWhatTheSeparatePropertiesDo()
    {
        QFETCH(QSizeF, video);
        QFETCH(QSizeF, size);
        QFETCH(Lens, lens);
        QFETCH(ViewAim, aim);
        DewrapArea byValue;
        byValue.setVidWidth(float(video.width()));
        byValue.setVidHeight(float(video.height()));
        byValue.setSize(size);
        byValue.setLens(lens);
        byValue.setViewAim(aim);
        QCOMPARE(byValue.lens(), lens);
        QCOMPARE(byValue.viewAim(), aim);
        QCOMPARE(byValue.mount(), lens.mount);
        QCOMPARE(byValue.lensProjection(), lens.projection);
        QCOMPARE(byValue.pan(), aim.pan);
        const auto w = float(size.width());
        const auto h = float(size.height());
        QVERIFY2(outlineDistance(byValue.outlineStrips(), {outlineOnVideo(byValue, lens, aim, w, h)}) < 0.01,
                 qPrintable(text(byValue.outlineStrips().value(0).value(0))));

        DewrapArea separate;
        separate.setVidWidth(float(video.width()));
        separate.setVidHeight(float(video.height()));
        separate.setSize(size);
        for (const char *name :
             {"centerX", "centerY", "radius", "fov", "mount", "lensProjection", "roll", "tilt", "pan", "zoom"})
            QVERIFY(separate.setProperty(name, byValue.property(name)));
        QVERIFY(outlineDistance(separate.outlineStrips(), byValue.outlineStrips()) < 0.01);
        // Read back in whole video pixels, the lens is the one set.
        QCOMPARE(separate.lens(), lens);

        // The lens stays on the video as the item grows; the one set in the item's pixels grows with it.
        byValue.setSize(size * 1.5);
        QCOMPARE(byValue.lens(), lens);
        QVERIFY(outlineDistance(byValue.outlineStrips(), {outlineOnVideo(byValue, lens, aim, 1.5f * w, 1.5f * h)}) <
                0.01);
        QCOMPARE(byValue.centerX(), float(lens.centerX) * 1.5f * w / float(video.width()));
        // A separate property set afterwards changes only itself.
        byValue.setRadius(byValue.radius() + 30.0f * 1.5f * w / float(video.width()));
        Lens wider = lens;
        wider.radius += 30;
        QCOMPARE(byValue.lens(), wider);
    }

    // lens and viewAim notify once for a change and not for the value they hold; a separate property
    // changes them too.
    void lensAndAimNotifyOnChangeOnly()
    {
        DewrapArea item;
        item.setVidWidth(1920);
        item.setVidHeight(1080);
        item.setSize(QSizeF(480, 270));
        QSignalSpy lensSpy(&item, &DewrapArea::lensChanged);
        QSignalSpy centerSpy(&item, &DewrapArea::centerXChanged);
        QSignalSpy mountSpy(&item, &DewrapArea::mountChanged);
        QSignalSpy aimSpy(&item, &DewrapArea::viewAimChanged);
        QSignalSpy tiltSpy(&item, &DewrapArea::tiltChanged);
        const Lens lens = makeLens(960, 540, 520, 185, "ceiling", "equidistant");
        item.setLens(lens);
        item.setLens(lens);
        QCOMPARE(lensSpy.count(), 1);
        QCOMPARE(centerSpy.count(), 1);
        QCOMPARE(mountSpy.count(), 1);
        ViewAim aim = makeAim(0, -45, 30, 50);
        item.setViewAim(aim);
        item.setViewAim(aim);
        QCOMPARE(aimSpy.count(), 1);
        QCOMPARE(tiltSpy.count(), 1);
        // Only the pan: the tilt does not notify.
        aim.pan = 31;
        item.setViewAim(aim);
        QCOMPARE(aimSpy.count(), 2);
        QCOMPARE(tiltSpy.count(), 1);
        item.setFov(170);
        QCOMPARE(lensSpy.count(), 2);
        QCOMPARE(item.lens().fov, 170.0f);
        item.setTilt(10);
        QCOMPARE(aimSpy.count(), 3);
        QCOMPARE(item.viewAim().tilt, 10.0f);
    }

    // A lens naming no mount or projection keeps those the item has, and says so.
    void unknownNamesInTheLensAreIgnored()
    {
        DewrapArea item;
        item.setMount(QStringLiteral("ceiling"));
        Lens lens = makeLens(100, 100, 90, 180, "attic", "fishy");
        QTest::ignoreMessage(QtWarningMsg, "Unknown camera mount \"attic\" ignored");
        QTest::ignoreMessage(QtWarningMsg, "Unknown lens projection \"fishy\" ignored");
        item.setLens(lens);
        QCOMPARE(item.mount(), QStringLiteral("ceiling"));
        QCOMPARE(item.lensProjection(), QStringLiteral("equidistant"));
        QCOMPARE(item.lens().fov, 180.0f);
    }

    // The item in a real window: red appears where the outline's vertices lie.
    void rendersRedLinesInAWindow()
    {
        QQuickWindow window;
        window.resize(400, 400);
        window.setColor(Qt::black);
        PaintProbe item;
        item.setParentItem(window.contentItem());
        setUpKnownItem(item);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QImage image;
        QTRY_VERIFY_WITH_TIMEOUT(!(image = window.grabWindow()).isNull() && image.pixelColor(5, 5) == Qt::black, 10000);
        // A corner of the outline, a point of the shaft and a vertex of the head (u 0.28, v 0.32).
        const QPointF expected[] = {expectedOnKnownItem(1, -1), expectedOnKnownItem(0, 0.5),
                                    expectedOnKnownItem(-0.44, -0.36)};
        for (const QPointF &p : expected) {
            bool red = false;
            for (int dy = -1; dy <= 1 && !red; ++dy) {
                for (int dx = -1; dx <= 1 && !red; ++dx) {
                    const QColor c = image.pixelColor(int(p.x()) + dx, int(p.y()) + dy);
                    red = c.red() > 150 && c.green() < 60 && c.blue() < 60;
                }
            }
            QVERIFY2(red, qPrintable(text(p)));
        }
        // Away from the lines the window stays black.
        QCOMPARE(image.pixelColor(300, 200), QColor(Qt::black));
    }
};

QTEST_MAIN(TestDewrapArea)
#include "tst_dewraparea.moc"
