#include "tests/defish/defishrender.h"

#include "defish/defishfilter.h"
#include "app/utils.h"

#include <QtGlobal>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cmath>
#include <memory>

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
double sampledX(const Picture &pic, double red)
{
    return (red - 20.0) * (pic.width - 1) / 215.0 + 0.5;
}

double sampledY(const Picture &pic, double green)
{
    return (green - 20.0) * (pic.height - 1) / 215.0 + 0.5;
}

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

namespace {

struct GstUnref
{
    void operator()(gpointer p) const { gst_object_unref(p); }
};
using ElementPtr = std::unique_ptr<GstElement, GstUnref>;

} // namespace

Picture renderWithGlShader(const Picture &in, const Setting &s, QString *error)
{
    return render(in.rgba, "RGBA", in.width, in.height, s, Renderer::Shader, QSize(), error);
}

Picture render(const QByteArray &frame, const char *format, int width, int height, const Setting &s, Renderer renderer,
               QSize outSize, QString *error)
{
    QString chain;
    switch (renderer) {
    case Renderer::Shader:
        chain = QStringLiteral("glcolorconvert ! glshader name=shader");
        break;
    case Renderer::Lookup:
    case Renderer::LookupRaw:
        chain = QStringLiteral("quillondefish name=shader defish=%1").arg(renderer == Renderer::Lookup);
        break;
    case Renderer::Convert:
        chain = QStringLiteral("glcolorconvert ! video/x-raw(memory:GLMemory),format=RGBA ! glcolorscale");
        break;
    }
    if (!outSize.isEmpty())
        chain += QStringLiteral(" ! video/x-raw(memory:GLMemory),width=%1,height=%2")
                     .arg(outSize.width())
                     .arg(outSize.height());
    if ((renderer == Renderer::Lookup || renderer == Renderer::LookupRaw) && !DefishFilter::registerElement()) {
        *error = QStringLiteral("the lookup element is not registered");
        return {};
    }
    GError *parseError = nullptr;
    const QByteArray launch = QStringLiteral("appsrc name=src format=time ! glupload ! %1 ! gldownload ! "
                                             "video/x-raw,format=RGBA ! appsink name=sink sync=false")
                                  .arg(chain)
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

    GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, width,
                                        "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 1, 1, nullptr);
    g_object_set(src.get(), "caps", caps, nullptr);
    gst_caps_unref(caps);

    if (renderer == Renderer::Shader) {
        const Utils utils;
        g_object_set(shader.get(), "vertex", utils.defishVertexShader().toUtf8().constData(), "fragment",
                     utils.defishShader().toUtf8().constData(), nullptr);
    }
    if (shader) {
        GstStructure *uniforms = DefishFilter::uniforms(s.lens, s.view, s.layout);
        g_object_set(shader.get(), "uniforms", uniforms, nullptr);
        gst_structure_free(uniforms);
    }

    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBuffer *buffer = gst_buffer_new_memdup(frame.constData(), frame.size());
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

Setting withProjection(Setting s, FisheyeLensProjection projection)
{
    s.lens.projection = projection;
    return s;
}

Setting withLayout(Setting s, const FisheyeLayout &layout)
{
    s.layout = layout;
    return s;
}
