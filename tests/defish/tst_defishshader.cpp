// The defish shader text run in real GL contexts (Mesa under Xvfb): through glshader in a stand-alone
// GStreamer GL pipeline, and in a context made like Qt Quick's default one. A synthetic fisheye frame
// whose red and green channels are gradients along x and y goes in; the picture that comes back is
// compared, on a grid of pixels, with the shared CPU projection and a CPU bilinear texture lookup.
#include "defish/fisheyeprojection.h"
#include "defish/utils.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QSurfaceFormat>
#include <QtTest>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cmath>
#include <memory>

namespace {

struct Picture
{
    int width = 0;
    int height = 0;
    QByteArray rgba; // tightly packed rows, row 0 first in memory

    const uchar *pixel(int x, int y) const
    {
        return reinterpret_cast<const uchar *>(rgba.constData()) + (static_cast<qsizetype>(y) * width + x) * 4;
    }
};

// Red grows with x, green with y, blue is constant: the colour of a sample tells where it was taken,
// and the missing colour (blue 0) cannot be mistaken for the picture.
Picture syntheticFisheye(int width, int height)
{
    Picture pic;
    pic.width = width;
    pic.height = height;
    pic.rgba.resize(width * height * 4);
    auto *data = reinterpret_cast<uchar *>(pic.rgba.data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uchar *p = data + (y * width + x) * 4;
            p[0] = static_cast<uchar>(std::lround(20.0 + 215.0 * x / (width - 1)));
            p[1] = static_cast<uchar>(std::lround(20.0 + 215.0 * y / (height - 1)));
            p[2] = 200;
            p[3] = 255;
        }
    }
    return pic;
}

// GL_LINEAR lookup with clamp-to-edge at normalised texture position (x, y), texel centres at (i + 0.5) / size.
void bilinear(const Picture &pic, float x, float y, double out[4])
{
    const double sx = double(x) * pic.width - 0.5;
    const double sy = double(y) * pic.height - 0.5;
    const int x0 = int(std::floor(sx));
    const int y0 = int(std::floor(sy));
    const double fx = sx - x0;
    const double fy = sy - y0;
    auto clampX = [&](int v) { return qBound(0, v, pic.width - 1); };
    auto clampY = [&](int v) { return qBound(0, v, pic.height - 1); };
    for (int c = 0; c < 4; ++c) {
        const double a = pic.pixel(clampX(x0), clampY(y0))[c];
        const double b = pic.pixel(clampX(x0 + 1), clampY(y0))[c];
        const double d = pic.pixel(clampX(x0), clampY(y0 + 1))[c];
        const double e = pic.pixel(clampX(x0 + 1), clampY(y0 + 1))[c];
        out[c] = (a * (1 - fx) + b * fx) * (1 - fy) + (d * (1 - fx) + e * fx) * fy;
    }
}

struct Setting
{
    FisheyeLens lens;
    FisheyeView view;
};

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
    const FisheyeProjection proj(s.lens, s.view);
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

GstStructure *uniformsOf(const Setting &s)
{
    return gst_structure_new("uniforms", "iCamWidth", G_TYPE_FLOAT, s.lens.width, "iCamHeight", G_TYPE_FLOAT,
                             s.lens.height, "iCamCenterX", G_TYPE_FLOAT, s.lens.centerX, "iCamCenterY", G_TYPE_FLOAT,
                             s.lens.centerY, "iCamRadius", G_TYPE_FLOAT, s.lens.radius, "iCamFOV", G_TYPE_FLOAT,
                             s.lens.fov, "iRatio", G_TYPE_FLOAT, s.view.ratio, "iRoll", G_TYPE_FLOAT, s.view.roll,
                             "iTilt", G_TYPE_FLOAT, s.view.tilt, "iPan", G_TYPE_FLOAT, s.view.pan, "iFov", G_TYPE_FLOAT,
                             s.view.fov, nullptr);
}

struct GstUnref
{
    void operator()(gpointer p) const { gst_object_unref(p); }
};
using ElementPtr = std::unique_ptr<GstElement, GstUnref>;

// One frame through appsrc ! glupload ! glcolorconvert ! glshader ! gldownload ! appsink.
// Returns an empty picture and sets *error when the pipeline fails.
Picture renderWithGlShader(const Picture &in, const Setting &s, QString *error)
{
    GError *parseError = nullptr;
    const QByteArray launch = QStringLiteral("appsrc name=src format=time ! glupload ! glcolorconvert ! "
                                             "glshader name=shader ! gldownload ! video/x-raw,format=RGBA ! "
                                             "appsink name=sink sync=false")
                                  .toLatin1();
    ElementPtr pipeline(gst_parse_launch(launch.constData(), &parseError));
    if (!pipeline || parseError) {
        *error = QString::fromUtf8(parseError ? parseError->message : "no pipeline");
        g_clear_error(&parseError);
        return {};
    }
    ElementPtr src(gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
    ElementPtr shader(gst_bin_get_by_name(GST_BIN(pipeline.get()), "shader"));
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));

    GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBA", "width", G_TYPE_INT, in.width,
                                        "height", G_TYPE_INT, in.height, "framerate", GST_TYPE_FRACTION, 1, 1, nullptr);
    g_object_set(src.get(), "caps", caps, nullptr);
    gst_caps_unref(caps);

    const Utils utils;
    g_object_set(shader.get(), "vertex", utils.defishVertexShader().toUtf8().constData(), "fragment",
                 utils.defishShader().toUtf8().constData(), nullptr);
    GstStructure *uniforms = uniformsOf(s);
    g_object_set(shader.get(), "uniforms", uniforms, nullptr);
    gst_structure_free(uniforms);

    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBuffer *buffer = gst_buffer_new_memdup(in.rgba.constData(), in.rgba.size());
    GST_BUFFER_PTS(buffer) = 0;
    GST_BUFFER_DURATION(buffer) = GST_SECOND;
    gst_app_src_push_buffer(GST_APP_SRC(src.get()), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(src.get()));

    Picture out;
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 20 * GST_SECOND);
    if (sample) {
        GstVideoInfo info;
        gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
        GstMapInfo map;
        GstBuffer *outBuffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(outBuffer, &map, GST_MAP_READ)) {
            out.width = GST_VIDEO_INFO_WIDTH(&info);
            out.height = GST_VIDEO_INFO_HEIGHT(&info);
            const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
            for (int row = 0; row < out.height; ++row)
                out.rgba.append(reinterpret_cast<const char *>(map.data) + row * stride, out.width * 4);
            gst_buffer_unmap(outBuffer, &map);
        }
        gst_sample_unref(sample);
    } else {
        *error = QStringLiteral("no frame came out");
        ElementPtr bus(GST_ELEMENT_CAST(gst_element_get_bus(pipeline.get())));
        GstMessage *msg = gst_bus_pop_filtered(GST_BUS(bus.get()), GST_MESSAGE_ERROR);
        if (msg) {
            GError *err = nullptr;
            gchar *debug = nullptr;
            gst_message_parse_error(msg, &err, &debug);
            *error = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(err->message), QString::fromUtf8(debug));
            g_clear_error(&err);
            g_free(debug);
            gst_message_unref(msg);
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return out;
}

Setting setting(float w, float h, float cx, float cy, float radius, float lensFov, float roll, float tilt, float pan,
                float fov)
{
    Setting s;
    s.lens.width = w;
    s.lens.height = h;
    s.lens.centerX = cx;
    s.lens.centerY = cy;
    s.lens.radius = radius;
    s.lens.fov = lensFov;
    s.view.roll = roll;
    s.view.tilt = tilt;
    s.view.pan = pan;
    s.view.fov = fov;
    s.view.ratio = w / h;
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Setting)

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
        QString error;
        const Picture out = renderWithGlShader(in, s, &error);
        QVERIFY2(out.width == 64, qPrintable(error));
        for (int j = 0; j < out.height; ++j) {
            for (int i = 0; i < out.width; ++i) {
                const uchar *p = out.pixel(i, j);
                QVERIFY2(p[0] == 255 && p[1] == 0 && p[2] == 0 && p[3] == 255,
                         qPrintable(QStringLiteral("pixel (%1, %2)").arg(i).arg(j)));
            }
        }
    }

    void redBeyondHalfTheLensAngleEvenInsideTheFrame()
    {
        // Looking 95 degrees aside through a 163 degree lens: the view centre is past the circle but
        // well inside the frame; it must be red, not the frame's pixels outside the circle.
        const Setting s = setting(257, 193, 128, 96, 60, 163, 0, 0, 95, 20);
        const FisheyeProjection proj(s.lens, s.view);
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
