// The defish shader text run in real GL contexts (Mesa under Xvfb): through glshader in a stand-alone
// GStreamer GL pipeline, and in a context made like Qt Quick's default one. A synthetic fisheye frame
// whose red and green channels are gradients along x and y goes in; the picture that comes back is
// compared, on a grid of pixels, with the shared CPU projection and a CPU bilinear texture lookup.
#include "defish/fisheyeprojection.h"
#include "app/utils.h"
#include "tests/defish/defishrender.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QSurfaceFormat>
#include <QtTest>

#include <gst/gst.h>

#include <cmath>

namespace {

struct Comparison
{
    int compared = 0;
    int missing = 0;
    int skipped = 0;
    int wrong = 0;
    QString firstWrong;
};

// Compares the rendered picture with the CPU projection at every step-th pixel (and the centre pixel).
// Pixels whose neighbourhood straddles the lens circle or the frame border are skipped: there the
// GPU's and the CPU's last bits may decide differently.
Comparison compare(const Picture &in, const Picture &out, const Setting &s, int step)
{
    const FisheyeProjection proj(s.lens, s.view, FisheyeMount::Wall, s.layout);
    Comparison result;
    auto check = [&](int i, int j) {
        const float u = (i + 0.5f) / out.width;
        const float v = (j + 0.5f) / out.height;
        float x = 0, y = 0;
        const bool inside = proj.sample(u, v, &x, &y);
        const float eu = 0.5f / out.width;
        const float ev = 0.5f / out.height;
        float nx = 0, ny = 0;
        if (proj.sample(u - eu, v - ev, &nx, &ny) != inside || proj.sample(u + eu, v - ev, &nx, &ny) != inside ||
            proj.sample(u - eu, v + ev, &nx, &ny) != inside || proj.sample(u + eu, v + ev, &nx, &ny) != inside) {
            ++result.skipped;
            return;
        }
        double want[4] = {255, 0, 0, 255};
        if (inside)
            bilinear(in, x, y, want);
        else
            ++result.missing;
        const uchar *got = out.pixel(i, j);
        ++result.compared;
        for (int c = 0; c < 4; ++c) {
            if (std::fabs(got[c] - want[c]) > 3.0) {
                if (result.wrong++ == 0) {
                    result.firstWrong = QStringLiteral("pixel (%1, %2) got (%3, %4, %5, %6) want (%7, %8, %9, %10)")
                                            .arg(i)
                                            .arg(j)
                                            .arg(got[0])
                                            .arg(got[1])
                                            .arg(got[2])
                                            .arg(got[3])
                                            .arg(want[0], 0, 'f', 1)
                                            .arg(want[1], 0, 'f', 1)
                                            .arg(want[2], 0, 'f', 1)
                                            .arg(want[3], 0, 'f', 1);
                }
                break;
            }
        }
    };
    for (int j = 0; j < out.height; j += step) {
        for (int i = 0; i < out.width; i += step)
            check(i, j);
    }
    check(out.width / 2, out.height / 2);
    return result;
}

} // namespace

    // Pictures of another layout than one perspective view: the lookup and CPU elements only.
void addLayoutRows()
    {
        FisheyeLayout ring;
        ring.mode = FisheyeViewMode::Panorama;
        ring.mount = FisheyeMount::Ceiling;
        ring.azimuth = -30;
        ring.upper = 5;
        ring.lower = -70;
        const Setting base = setting(257, 193, 128, 96, 96, 190, 0, 0, 0, 90);
        QTest::newRow("360-degree panorama, ceiling") << withLayout(base, ring);
        ring.mode = FisheyeViewMode::DoublePanorama;
        ring.mount = FisheyeMount::Floor;
        ring.upper = 80;
        ring.lower = 0;
        QTest::newRow("double panorama, floor, equisolid")
            << withProjection(withLayout(base, ring), FisheyeLensProjection::Equisolid);
        ring.mode = FisheyeViewMode::HalfPanorama;
        ring.mount = FisheyeMount::Wall;
        ring.azimuth = -90;
        ring.upper = 40;
        ring.lower = -40;
        QTest::newRow("180-degree panorama, wall") << withLayout(base, ring);
        FisheyeLayout quad;
        quad.mode = FisheyeViewMode::Quad;
        quad.quad[0] = {0, 30, -40, 60, 1};
        quad.quad[1] = {10, 30, 40, 70, 1};
        quad.quad[2] = {0, -30, -40, 50, 1};
        quad.quad[3] = {-20, -30, 140, 90, 1};
        QTest::newRow("quad") << withLayout(base, quad);
    }


class TestDefishShader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        if (!gst_element_factory_find("glshader"))
            QFAIL("the GStreamer GL plug-in (glshader) is not installed");
    }

    void settings_data()
    {
        QTest::addColumn<Setting>("s");
        // Frame 257 x 193: odd, so the output's centre pixel lies exactly at (0.5, 0.5).
        QTest::newRow("zero angles, off-centre lens") << setting(257, 193, 120, 80, 90, 180, 0, 0, 0, 60);
        QTest::newRow("zero angles, narrow view") << setting(257, 193, 128, 96, 96, 163, 0, 0, 0, 20);
        QTest::newRow("roll 30") << setting(257, 193, 128, 96, 96, 163, 30, 0, 0, 90);
        QTest::newRow("tilt -40") << setting(257, 193, 128, 96, 96, 163, 0, -40, 0, 60);
        QTest::newRow("pan 70") << setting(257, 193, 128, 96, 96, 163, 0, 0, 70, 60);
        QTest::newRow("roll tilt pan") << setting(257, 193, 110, 100, 90, 190, 15, -30, 120, 75);
        QTest::newRow("negative roll, tilt, pan") << setting(257, 193, 140, 90, 95, 200, -45, 60, -160, 100);
        QTest::newRow("view beyond the lens (red outside)") << setting(257, 193, 128, 96, 96, 163, 0, 0, 95, 90);
        QTest::newRow("lens wider than the frame") << setting(257, 193, 128, 96, 200, 220, 0, 30, 20, 120);
        QTest::newRow("fov 90 ratio 1") << setting(193, 193, 96, 96, 90, 180, 0, 0, 0, 90);
        QTest::newRow("270 degree lens looking back") << setting(257, 193, 128, 96, 96, 270, 10, 120, 0, 60);
        QTest::newRow("equisolid lens") << withProjection(setting(257, 193, 120, 96, 96, 190, 15, -30, 60, 100),
                                                          FisheyeLensProjection::Equisolid);
        QTest::newRow("stereographic lens")
            << withProjection(setting(257, 193, 128, 90, 100, 180, 0, 40, -20, 90), FisheyeLensProjection::Stereographic);
        QTest::newRow("orthographic lens")
            << withProjection(setting(257, 193, 128, 96, 90, 170, -20, 10, 30, 120), FisheyeLensProjection::Orthographic);
    }

    // glshader given both stages of Utils, as the dewarping consumer runs it.
    void glShaderMatchesCpuProjection_data() { settings_data(); }
    void glShaderMatchesCpuProjection()
    {
        QFETCH(Setting, s);
        const Picture in = syntheticFisheye(int(s.lens.width), int(s.lens.height));
        QString error;
        const Picture out = renderWithGlShader(in, s, &error);
        QVERIFY2(out.width > 0, qPrintable(error));
        QCOMPARE(out.width, in.width);
        QCOMPARE(out.height, in.height);
        checkAgainstCpu(in, out, s);
    }

    // The preview's lookup element, from the same RGBA frame.
    void lookupElementMatchesCpuProjection_data()
    {
        settings_data();
        addLayoutRows();
    }
    void lookupElementMatchesCpuProjection()
    {
        QFETCH(Setting, s);
        const Picture in = syntheticFisheye(int(s.lens.width), int(s.lens.height));
        QString error;
        const Picture out = render(in.rgba, "RGBA", in.width, in.height, s, Renderer::Lookup, QSize(), &error);
        QVERIFY2(out.width == in.width && out.height == in.height, qPrintable(error));
        checkAgainstCpu(in, out, s);
    }

    // The preview's path (I420 planes sampled directly, at another size than the frame) against the plain
    // shader path (glcolorconvert, then glshader), on a frame with detail in luma and chroma. Pixels where
    // the shader's picture meets its missing colour are left out: there a last bit decides which side a
    // pixel falls on.
    void lookupPathDrawsThePlainShadersPicture_data()
    {
        QTest::addColumn<Setting>("s");
        QTest::addColumn<int>("renderer");
        QTest::addColumn<QSize>("size");
        const Setting view = setting(320, 240, 170, 110, 118, 185, 15, -30, 40, 80);
        QTest::newRow("dewarped, frame size") << view << int(Renderer::Lookup) << QSize(320, 240);
        QTest::newRow("dewarped, odd pane size") << view << int(Renderer::Lookup) << QSize(203, 151);
        QTest::newRow("dewarped, larger than the frame") << view << int(Renderer::Lookup) << QSize(480, 360);
        QTest::newRow("as it is, pane size") << view << int(Renderer::LookupRaw) << QSize(160, 120);
    }
    void lookupPathDrawsThePlainShadersPicture()
    {
        QFETCH(Setting, s);
        QFETCH(int, renderer);
        QFETCH(QSize, size);
        const int w = int(s.lens.width), h = int(s.lens.height);
        QByteArray i420(w * h * 3 / 2, 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                i420[y * w + x] = char(128 + 90 * std::sin(x / 5.0) * std::cos(y / 7.0));
        }
        for (int y = 0; y < h / 2; ++y) {
            for (int x = 0; x < w / 2; ++x) {
                i420[w * h + y * (w / 2) + x] = char(40 + x * 170 / (w / 2));
                i420[w * h + w * h / 4 + y * (w / 2) + x] = char(220 - y * 170 / (h / 2));
            }
        }
        QString error;
        const Picture got = render(i420, "I420", w, h, s, Renderer(renderer), size, &error);
        QVERIFY2(got.width == size.width() && got.height == size.height(), qPrintable(error));
        const Picture want = Renderer(renderer) == Renderer::LookupRaw
                                 ? render(i420, "I420", w, h, s, Renderer::Convert, size, &error)
                                 : render(i420, "I420", w, h, s, Renderer::Shader, size, &error);
        QVERIFY2(want.width == size.width(), qPrintable(error));
        const auto isMissing = [](const uchar *p) { return p[0] == 255 && p[1] == 0 && p[2] == 0; };
        int compared = 0, over = 0, maxDiff = 0;
        double squares = 0;
        for (int y = 1; y + 1 < want.height; ++y) {
            for (int x = 1; x + 1 < want.width; ++x) {
                const bool missing = isMissing(want.pixel(x, y));
                if (missing != isMissing(want.pixel(x - 1, y)) || missing != isMissing(want.pixel(x + 1, y)) ||
                    missing != isMissing(want.pixel(x, y - 1)) || missing != isMissing(want.pixel(x, y + 1)))
                    continue;
                ++compared;
                int worst = 0;
                for (int c = 0; c < 3; ++c) {
                    const int d = std::abs(got.pixel(x, y)[c] - want.pixel(x, y)[c]);
                    worst = std::max(worst, d);
                    squares += d * d;
                }
                maxDiff = std::max(maxDiff, worst);
                over += worst > 4;
            }
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 * 3 * compared / std::max(squares, 1e-9));
        qInfo("%d pixels compared: %.1f dB, largest difference %d, %d over 4", compared, psnr, maxDiff, over);
        QVERIFY(compared > want.width * want.height / 2);
        // Tolerance: 4 levels per channel (rounding of the two colour conversions and of the sampling
        // position; Mesa's llvmpipe gives 45.8 dB, at most 6 levels) on all but 0.5 % of the pixels, and
        // 42 dB overall.
        QVERIFY2(over * 200 <= compared && psnr >= 42.0,
                 qPrintable(QStringLiteral("%1 dB, %2 of %3 over 4").arg(psnr, 0, 'f', 1).arg(over).arg(compared)));
    }

    void centreSampleWithZeroAnglesIsTheLensCentre()
    {
        const Setting s = setting(257, 193, 120, 80, 90, 180, 0, 0, 0, 60);
        const Picture in = syntheticFisheye(257, 193);
        QString error;
        const Picture out = renderWithGlShader(in, s, &error);
        QVERIFY2(out.width > 0, qPrintable(error));
        double want[4];
        bilinear(in, 120.0f / 257.0f, (193.0f - 1.0f - 80.0f) / 193.0f, want);
        const uchar *got = out.pixel(128, 96);
        QVERIFY2(
            std::fabs(got[0] - want[0]) <= 2.0 && std::fabs(got[1] - want[1]) <= 2.0,
            qPrintable(QStringLiteral("(%1, %2) against (%3, %4)").arg(got[0]).arg(got[1]).arg(want[0]).arg(want[1])));
    }

    void everyPixelIsRedWhileUniformsAreUnset()
    {
        Setting s; // all zero, as before the defish window's first setUniforms
        s.view.ratio = 0.0f;
        const Picture in = syntheticFisheye(64, 48);
        for (const Renderer renderer : {Renderer::Shader, Renderer::Lookup}) {
            QString error;
            const Picture out = render(in.rgba, "RGBA", in.width, in.height, s, renderer, QSize(), &error);
            QVERIFY2(out.width == 64, qPrintable(error));
            for (int j = 0; j < out.height; ++j) {
                for (int i = 0; i < out.width; ++i) {
                    const uchar *p = out.pixel(i, j);
                    QVERIFY2(p[0] == 255 && p[1] == 0 && p[2] == 0 && p[3] == 255,
                             qPrintable(QStringLiteral("pixel (%1, %2)").arg(i).arg(j)));
                }
            }
        }
    }

    void redBeyondHalfTheLensAngleEvenInsideTheFrame()
    {
        // Looking 95 degrees aside through a 163 degree lens: the view centre is past the circle but
        // well inside the frame; it must be red, not the frame's pixels outside the circle.
        const Setting s = setting(257, 193, 128, 96, 60, 163, 0, 0, 95, 20);
        const FisheyeProjection proj(s.lens, s.view, FisheyeMount::Wall, s.layout);
        float x = 0, y = 0;
        proj.viewToFisheye(0.5f, 0.5f, &x, &y);
        QVERIFY(x > 0.0f && x < 1.0f && y > 0.0f && y < 1.0f);
        const Picture in = syntheticFisheye(257, 193);
        QString error;
        const Picture out = renderWithGlShader(in, s, &error);
        QVERIFY2(out.width > 0, qPrintable(error));
        const uchar *p = out.pixel(128, 96);
        QCOMPARE(int(p[0]), 255);
        QCOMPARE(int(p[1]), 0);
        QCOMPARE(int(p[2]), 0);
    }

    // Qt Quick renders with a context made from QSurfaceFormat::defaultFormat(); the shader must compile,
    // link and draw the same picture there.
    void qtQuickDefaultContextRunsTheShader_data() { settings_data(); }
    void qtQuickDefaultContextRunsTheShader()
    {
        QFETCH(Setting, s);
        QOffscreenSurface surface;
        surface.setFormat(QSurfaceFormat::defaultFormat());
        surface.create();
        QOpenGLContext context;
        context.setFormat(QSurfaceFormat::defaultFormat());
        QVERIFY(context.create());
        QVERIFY(context.makeCurrent(&surface));

        QOpenGLShaderProgram program;
        const Utils utils;
        QVERIFY2(program.addShaderFromSourceCode(QOpenGLShader::Vertex, utils.defishVertexShader()),
                 qPrintable(program.log()));
        QVERIFY2(program.addShaderFromSourceCode(QOpenGLShader::Fragment, utils.defishShader()),
                 qPrintable(program.log()));
        program.bindAttributeLocation("a_position", 0);
        program.bindAttributeLocation("a_texcoord", 1);
        QVERIFY2(program.link(), qPrintable(program.log()));

        const Picture in = syntheticFisheye(int(s.lens.width), int(s.lens.height));
        QOpenGLFunctions *gl = context.functions();
        GLuint texture = 0;
        gl->glGenTextures(1, &texture);
        gl->glBindTexture(GL_TEXTURE_2D, texture);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, in.width, in.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         in.rgba.constData());

        QOpenGLFramebufferObject fbo(in.width, in.height);
        QVERIFY(fbo.bind());
        gl->glViewport(0, 0, in.width, in.height);
        // Making the framebuffer object unbinds the frame's texture.
        gl->glActiveTexture(GL_TEXTURE0);
        gl->glBindTexture(GL_TEXTURE_2D, texture);
        program.bind();
        program.setUniformValue("tex", 0);
        program.setUniformValue("iCamWidth", s.lens.width);
        program.setUniformValue("iCamHeight", s.lens.height);
        program.setUniformValue("iCamCenterX", s.lens.centerX);
        program.setUniformValue("iCamCenterY", s.lens.centerY);
        program.setUniformValue("iCamRadius", s.lens.radius);
        program.setUniformValue("iCamFOV", s.lens.fov);
        program.setUniformValue("iCamProjection", float(s.lens.projection));
        program.setUniformValue("iRatio", s.view.ratio);
        program.setUniformValue("iRoll", s.view.roll);
        program.setUniformValue("iTilt", s.view.tilt);
        program.setUniformValue("iPan", s.view.pan);
        program.setUniformValue("iFov", s.view.fov);
        // Full-screen quad; texture coordinate (0, 0) at the first row that glReadPixels returns.
        const GLfloat positions[] = {-1, -1, 1, -1, -1, 1, 1, 1};
        const GLfloat texcoords[] = {0, 0, 1, 0, 0, 1, 1, 1};
        program.enableAttributeArray(0);
        program.enableAttributeArray(1);
        program.setAttributeArray(0, GL_FLOAT, positions, 2);
        program.setAttributeArray(1, GL_FLOAT, texcoords, 2);
        gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

        Picture out;
        out.width = in.width;
        out.height = in.height;
        out.rgba.resize(in.width * in.height * 4);
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl->glReadPixels(0, 0, in.width, in.height, GL_RGBA, GL_UNSIGNED_BYTE, out.rgba.data());
        QCOMPARE(gl->glGetError(), GLenum(GL_NO_ERROR));
        fbo.release();
        gl->glDeleteTextures(1, &texture);
        context.doneCurrent();

        checkAgainstCpu(in, out, s);
    }

private:
    void checkAgainstCpu(const Picture &in, const Picture &out, const Setting &s)
    {
        const Comparison c = compare(in, out, s, 4);
        qInfo("compared %d pixels, %d of them missing, %d skipped at borders", c.compared, c.missing, c.skipped);
        QVERIFY2(c.wrong == 0,
                 qPrintable(QStringLiteral("%1 pixels differ; first: %2").arg(c.wrong).arg(c.firstWrong)));
        // The grid must really have tested something: most points decided, not skipped.
        QVERIFY(c.compared > 10 * c.skipped);
    }
};

QTEST_MAIN(TestDefishShader)
#include "tst_defishshader.moc"
