// The CPU dewarp: every output pixel is the shader's sample of the fisheye frame.

#include "defish/fisheyeprojection.h"
#include "defish/remaptable.h"
#include "defish/slicepool.h"

#include <QtTest>

#include <cmath>
#include <vector>

Q_DECLARE_METATYPE(FisheyeViewMode)

namespace {

// A frame whose luma is a linear ramp in x plus one in y, so that a bilinear sample at a known
// position has a known value; chroma ramps the other way round.
struct RampFrame
{
    int width;
    int height;
    std::vector<uint8_t> y, u, v;
    RampFrame(int w, int h) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size())
    {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                y[size_t(j) * w + i] = uint8_t((i * 200 / w) + (j * 50 / h));
        for (int j = 0; j < h / 2; ++j)
            for (int i = 0; i < w / 2; ++i) {
                u[size_t(j) * (w / 2) + i] = uint8_t(j * 250 / (h / 2));
                v[size_t(j) * (w / 2) + i] = uint8_t(i * 250 / (w / 2));
            }
    }
    PlanarImage image() const
    {
        PlanarImage p;
        p.width = width;
        p.height = height;
        p.planes[0] = y.data();
        p.planes[1] = u.data();
        p.planes[2] = v.data();
        p.strides[0] = width;
        p.strides[1] = p.strides[2] = width / 2;
        return p;
    }
    // Bilinear luma at pixel position (px, py), clamped to the frame.
    double lumaAt(double px, double py) const
    {
        px = std::clamp(px, 0.0, double(width - 1));
        py = std::clamp(py, 0.0, double(height - 1));
        const int x0 = std::min(int(px), width - 2);
        const int y0 = std::min(int(py), height - 2);
        const double fx = px - x0;
        const double fy = py - y0;
        auto at = [this](int x, int yy) { return double(y[size_t(yy) * width + x]); };
        return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
               (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
    }
};

struct Output
{
    int width;
    int height;
    std::vector<uint8_t> y, u, v;
    Output(int w, int h) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {}
    MutablePlanarImage image()
    {
        MutablePlanarImage p;
        p.width = width;
        p.height = height;
        p.planes[0] = y.data();
        p.planes[1] = u.data();
        p.planes[2] = v.data();
        p.strides[0] = width;
        p.strides[1] = p.strides[2] = width / 2;
        return p;
    }
};

} // namespace

class TstOstrevanRemap : public QObject
{
    Q_OBJECT

private slots:
    void everyPixelIsTheShadersSampleOrTheMissingColour_data()
    {
        QTest::addColumn<float>("roll");
        QTest::addColumn<float>("tilt");
        QTest::addColumn<float>("pan");
        QTest::addColumn<float>("zoom");
        QTest::addColumn<float>("lensFov");
        QTest::addColumn<FisheyeViewMode>("mode");
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QSize>("outputSize");
        // Whether the rows of the picture run across the frame's rows, so that it is dewarped in strips.
        QTest::addColumn<bool>("strips");
        const QSize small(320, 240);
        const QSize view(160, 90);
        QTest::newRow("straight ahead") << 0.0f << 0.0f << 0.0f << 90.0f << 180.0f << FisheyeViewMode::Perspective
                                        << small << view << false;
        QTest::newRow("turned") << 10.0f << 30.0f << 45.0f << 60.0f << 180.0f << FisheyeViewMode::Perspective << small
                                << view << false;
        QTest::newRow("beyond the lens") << -20.0f << 80.0f << 200.0f << 100.0f << 163.0f
                                         << FisheyeViewMode::Perspective << small << view << false;
        QTest::newRow("narrow zoom") << 0.0f << 45.0f << 300.0f << 10.0f << 200.0f << FisheyeViewMode::Perspective
                                     << small << view << false;
        QTest::newRow("panorama, rows along the frame's")
            << 0.0f << 0.0f << 0.0f << 90.0f << 180.0f << FisheyeViewMode::Panorama << small << QSize(600, 150)
            << false;
        // Around a large circle a row of the panorama crosses several frame rows per pixel; the last strip
        // is narrower than the others.
        QTest::newRow("panorama, rows across the frame's")
            << 0.0f << 0.0f << 0.0f << 90.0f << 180.0f << FisheyeViewMode::Panorama << QSize(1280, 960)
            << QSize(600, 150) << true;
        QTest::newRow("quad") << 0.0f << 0.0f << 0.0f << 90.0f << 180.0f << FisheyeViewMode::Quad << QSize(1280, 960)
                              << QSize(640, 360) << false;
    }

    void everyPixelIsTheShadersSampleOrTheMissingColour()
    {
        QFETCH(float, roll);
        QFETCH(float, tilt);
        QFETCH(float, pan);
        QFETCH(float, zoom);
        QFETCH(float, lensFov);
        QFETCH(FisheyeViewMode, mode);
        QFETCH(QSize, frameSize);
        QFETCH(QSize, outputSize);
        QFETCH(bool, strips);
        const int w = frameSize.width();
        const int h = frameSize.height();
        const RampFrame frame(w, h);
        Output out(outputSize.width(), outputSize.height());
        // The lens circle sits at the same place of every frame: off the middle, cut by no edge.
        const float scale = float(w) / 320.0f;
        FisheyeLens lens;
        lens.width = float(w);
        lens.height = float(h);
        lens.centerX = 150 * scale;
        lens.centerY = 130 * scale;
        lens.radius = 110 * scale;
        lens.fov = lensFov;
        FisheyeView view;
        view.roll = roll;
        view.tilt = tilt;
        view.pan = pan;
        view.fov = zoom;
        view.ratio = float(out.width) / float(out.height);
        FisheyeLayout layout;
        layout.mode = mode;
        layout.mount = FisheyeMount::Ceiling;
        layout.azimuth = -180.0f;
        layout.quad[0] = FisheyeView{0.0f, 30.0f, 0.0f, 70.0f, 1.0f};
        layout.quad[1] = FisheyeView{0.0f, 30.0f, 90.0f, 70.0f, 1.0f};
        layout.quad[2] = FisheyeView{0.0f, 30.0f, 180.0f, 70.0f, 1.0f};
        layout.quad[3] = FisheyeView{0.0f, 30.0f, 270.0f, 70.0f, 1.0f};
        const FisheyeProjection projection(lens, view, FisheyeMount::Wall, layout);

        RemapTable table;
        table.build(projection, w, h, out.width, out.height);
        QVERIFY(table.isBuilt());
        QCOMPARE(table.stripColumns() < out.width, strips);
        table.apply(frame.image(), out.image());
        // Dewarped in bands on other threads, the picture is the same to the bit.
        for (int threads : {1, 2, 5}) {
            SlicePool pool(threads);
            Output sliced(out.width, out.height);
            table.apply(frame.image(), sliced.image(), &pool);
            QVERIFY2(sliced.y == out.y && sliced.u == out.u && sliced.v == out.v, qPrintable(QString::number(threads)));
        }

        int missing = 0;
        int sampled = 0;
        for (int j = 0; j < out.height; ++j) {
            for (int i = 0; i < out.width; ++i) {
                float x = 0.0f;
                float y = 0.0f;
                const bool inside = projection.sample((i + 0.5f) / out.width, (j + 0.5f) / out.height, &x, &y);
                const int got = out.y[size_t(j) * out.width + i];
                if (!inside) {
                    ++missing;
                    QCOMPARE(got, int(table.missingY()));
                    continue;
                }
                ++sampled;
                const double expected = frame.lumaAt(x * w - 0.5, y * h - 0.5);
                if (std::abs(got - expected) > 1.5)
                    QFAIL(qPrintable(
                        QStringLiteral("pixel %1,%2: %3 instead of %4").arg(i).arg(j).arg(got).arg(expected)));
            }
        }
        QVERIFY(sampled > 0);
        if (QByteArray(QTest::currentDataTag()) == "beyond the lens")
            QVERIFY(missing > 0);
        if (QByteArray(QTest::currentDataTag()) == "straight ahead")
            QCOMPARE(missing, 0);
    }

    void chromaOfBlocksOnTheLensEdgeIsMixedWithTheMissingColour()
    {
        // Half of the view looks beyond the lens: chroma blocks there are wholly missing, on the
        // edge partly, inside not at all.
        const RampFrame frame(320, 240);
        Output out(160, 90);
        FisheyeLens lens{320, 240, 160, 120, 120, 180};
        FisheyeView view{0, 90, 0, 90, 160.0f / 90.0f};
        const FisheyeProjection projection(lens, view);
        RemapTable table;
        table.build(projection, 320, 240, 160, 90);
        table.apply(frame.image(), out.image());
        int wholly = 0;
        int partly = 0;
        for (int j = 0; j < out.height / 2; ++j) {
            for (int i = 0; i < out.width / 2; ++i) {
                int missing = 0;
                for (int k = 0; k < 4; ++k) {
                    float x, y;
                    if (!projection.sample((2 * i + (k & 1) + 0.5f) / out.width, (2 * j + (k >> 1) + 0.5f) / out.height,
                                           &x, &y))
                        ++missing;
                }
                const int v = out.v[size_t(j) * (out.width / 2) + i];
                if (missing == 4) {
                    ++wholly;
                    QCOMPARE(v, int(table.missingV()));
                } else if (missing > 0) {
                    ++partly;
                    // Mixed: strictly between a picture value (at most 250) and 240 weighted in.
                    QVERIFY2(v >= (int(table.missingV()) * missing) / 4 - 1, qPrintable(QString::number(v)));
                }
            }
        }
        QVERIFY(wholly > 0);
        QVERIFY(partly > 0);
    }

    void missingColourFollowsTheFramesColourMatrix_data()
    {
        QTest::addColumn<double>("kr");
        QTest::addColumn<double>("kb");
        QTest::addColumn<bool>("fullRange");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("u");
        QTest::addColumn<int>("v");
        QTest::newRow("BT.601 limited") << 0.299 << 0.114 << false << 81 << 90 << 240;
        QTest::newRow("BT.709 limited") << 0.2126 << 0.0722 << false << 63 << 102 << 240;
        QTest::newRow("BT.601 full") << 0.299 << 0.114 << true << 76 << 85 << 255;
    }

    void missingColourFollowsTheFramesColourMatrix()
    {
        QFETCH(double, kr);
        QFETCH(double, kb);
        QFETCH(bool, fullRange);
        QFETCH(int, y);
        QFETCH(int, u);
        QFETCH(int, v);
        RemapTable table;
        table.setMissingColour(kr, kb, fullRange);
        QCOMPARE(int(table.missingY()), y);
        QCOMPARE(int(table.missingU()), u);
        QCOMPARE(int(table.missingV()), v);
    }

    void unusableSizesGiveTheMissingColourWithoutReadingTheFrame()
    {
        FisheyeProjection projection(FisheyeLens{2, 2, 1, 1, 1, 180}, FisheyeView{0, 0, 0, 90, 1});
        RemapTable table;
        table.build(projection, 2, 2, 8, 8);
        const uint8_t tiny[4] = {1, 2, 3, 4};
        PlanarImage in;
        in.width = 2;
        in.height = 2;
        in.planes[0] = in.planes[1] = in.planes[2] = tiny;
        in.strides[0] = 2;
        in.strides[1] = in.strides[2] = 1;
        Output out(8, 8);
        table.apply(in, out.image());
        for (uint8_t value : out.y)
            QCOMPARE(int(value), int(table.missingY()));
    }
};

QTEST_GUILESS_MAIN(TstOstrevanRemap)
#include "tst_ostrevanremap.moc"
