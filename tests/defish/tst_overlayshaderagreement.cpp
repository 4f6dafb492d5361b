// The overlay and the shader agree: every point of the outline and arrow that the overlay draws over
// the raw frame lies where the shader, for the same settings, takes the colour of that view point.
// The overlay item has the size of the frame, so its item pixels are frame pixels; the frame's
// colours tell which frame position each output pixel of the shader sampled.
#include "defish/dewraparea.h"
#include "tests/defish/defishrender.h"

#include <QSGGeometryNode>
#include <QtTest>
#include <gst/gst.h>

#include <cmath>
#include <memory>

namespace {

class PaintProbe : public DewrapArea
{
public:
    using DewrapArea::updatePaintNode;
};

} // namespace

class TestOverlayShaderAgreement : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }

    void overlayLinesLieWhereTheShaderSamples_data()
    {
        QTest::addColumn<Setting>("s");
        QTest::newRow("straight") << setting(257, 193, 128, 96, 96, 180, 0, 0, 0, 60);
        QTest::newRow("off-centre lens, wide view") << setting(257, 193, 110, 70, 90, 190, 0, 0, 0, 100);
        QTest::newRow("roll") << setting(257, 193, 128, 96, 96, 163, 35, 0, 0, 60);
        QTest::newRow("tilt") << setting(257, 193, 128, 96, 96, 163, 0, 45, 0, 50);
        QTest::newRow("pan") << setting(257, 193, 128, 96, 96, 163, 0, 0, -60, 50);
        QTest::newRow("roll, tilt and pan") << setting(257, 193, 120, 100, 92, 200, -20, 30, 40, 50);
        QTest::newRow("looking aside, square frame") << setting(193, 193, 96, 96, 90, 180, 10, -35, 75, 45);
    }

    void overlayLinesLieWhereTheShaderSamples()
    {
        QFETCH(Setting, s);
        const Picture in = syntheticFisheye(int(s.lens.width), int(s.lens.height));
        QString error;
        const Picture out = renderWithGlShader(in, s, &error);
        QVERIFY2(out.width == in.width, qPrintable(error));

        PaintProbe item;
        item.setSize(QSizeF(s.lens.width, s.lens.height));
        item.setVidWidth(s.lens.width);
        item.setVidHeight(s.lens.height);
        item.setCenterX(s.lens.centerX);
        item.setCenterY(s.lens.centerY);
        item.setRadius(s.lens.radius);
        item.setFov(s.lens.fov);
        item.setRoll(s.view.roll);
        item.setTilt(s.view.tilt);
        item.setPan(s.view.pan);
        item.setZoom(s.view.fov);
        std::unique_ptr<QSGNode> root(item.updatePaintNode(nullptr, nullptr));
        QVERIFY(root);

        const QVector<QPointF> lists[] = {item.outlinePoints(), item.arrowShaftPoints(), item.arrowHeadPoints()};
        const QSGGeometryNode *nodes[] = {static_cast<QSGGeometryNode *>(root.get()),
                                          static_cast<QSGGeometryNode *>(root->childAtIndex(0)),
                                          static_cast<QSGGeometryNode *>(root->childAtIndex(1))};
        // Frame positions are read back through 8-bit colours: the frame's own rounding, the bilinear
        // blend and the output's rounding together stay within two colour levels per axis.
        const double levels = std::hypot(2.0 * (in.width - 1) / 215.0, 2.0 * (in.height - 1) / 215.0);
        int compared = 0;
        int red = 0;
        double worst = 0.0;
        for (int n = 0; n < 3; ++n) {
            QCOMPARE(nodes[n]->geometry()->vertexCount(), lists[n].size());
            for (int i = 0; i < lists[n].size(); ++i) {
                const QPointF uv = lists[n].at(i);
                // The output pixel whose centre is nearest the view point (edges: the border pixel).
                const int px = qBound(0, int(uv.x() * out.width), out.width - 1);
                const int py = qBound(0, int(uv.y() * out.height), out.height - 1);
                const uchar *c = out.pixel(px, py);
                if (c[2] == 0) { // the shader's missing colour: no frame position to compare
                    ++red;
                    continue;
                }
                const QSGGeometry::Point2D v = nodes[n]->geometry()->vertexDataAsPoint2D()[i];
                // What the overlay would draw at that pixel's centre, and the distance of the drawn vertex
                // from it, bound the error that the half-pixel offset of the border pixels allows.
                const QPointF atCentre = item.mapToFisheye((px + 0.5f) / out.width, (py + 0.5f) / out.height);
                const double offset = std::hypot(atCentre.x() * s.lens.width - v.x, atCentre.y() * s.lens.height - v.y);
                const double dx = sampledX(in, c[0]) - v.x;
                const double dy = sampledY(in, c[1]) - v.y;
                const double distance = std::hypot(dx, dy);
                worst = std::max(worst, distance - offset);
                QVERIFY2(distance <= offset + levels,
                         qPrintable(QStringLiteral("list %1 point %2 (%3, %4): overlay at (%5, %6), shader sampled "
                                                   "(%7, %8), allowed %9")
                                        .arg(n)
                                        .arg(i)
                                        .arg(uv.x())
                                        .arg(uv.y())
                                        .arg(v.x)
                                        .arg(v.y)
                                        .arg(sampledX(in, c[0]))
                                        .arg(sampledY(in, c[1]))
                                        .arg(offset + levels)));
                ++compared;
            }
        }
        qInfo("%d overlay points compared, %d over red, worst excess %.2f px", compared, red, worst);
        QVERIFY(compared >= (137 + 28 + 29) / 2);
    }
};

QTEST_MAIN(TestOverlayShaderAgreement)
#include "tst_overlayshaderagreement.moc"
