// Frames per second of the defish preview against ffmpeg's v360 filter doing the same fisheye-to-flat
// conversion with bilinear interpolation, on the same synthetic fisheye frame, in the same run.
// The preview's paths: where GL draws in software, both panes made on the CPU at the pane's size
// (quillonremap) and only those small pictures sent to GL; elsewhere the lookup element (quillondefish)
// sampling the I420 planes, drawn at the pane's size, both panes from one upload. The plain shader path (glcolorconvert, then glshader with the
// program's own shader text, at the output size) and variants that show where its time goes: upload
// and colour conversion alone, a plain copy shader, RGBA input, no read-back.
//
// Usage: bench_defish_fps [--size WxH] [--input WxH] [--pane WxH] [--frames N] [--ffmpeg PATH] [--no-ffmpeg]
//   --size   output size (default 1920x1080)
//   --input  fisheye frame size (default 1920x1080)
//   --pane   the preview pane's size on screen (default 240x135)
//   --frames frames per measurement (default 120)
// It needs a GL context that GStreamer can open: an X display (DISPLAY), or EGL without a display
// where the driver offers one. bench/defish_fps.sh runs it under Xvfb when there is no display.
#include "defish/defishfilter.h"
#include "defish/defishremap.h"
#include "app/utils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

struct Options
{
    int outWidth = 1920;
    int outHeight = 1080;
    int inWidth = 1920;
    int inHeight = 1080;
    int paneWidth = 240; // the defish window's pane at its opening size, for a 16:9 frame
    int paneHeight = 135;
    int frames = 120;
    QString ffmpeg = QStringLiteral("ffmpeg");
    bool runFfmpeg = true;
};

// Lens and view used for every measurement.
constexpr float kLensFov = 163.0f;
constexpr float kViewFov = 90.0f;
constexpr float kRoll = 10.0f;
constexpr float kTilt = 20.0f;
constexpr float kPan = 30.0f;
constexpr int kWarmUp = 10;

const char *const kPassThrough = R"(
    #version 120
    varying vec2 v_texcoord;
    uniform sampler2D tex;
    void main()
    {
        gl_FragColor = texture2D(tex, v_texcoord);
    }
)";

bool parseSize(const QString &text, int *w, int *h)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    bool okW = false, okH = false;
    if (parts.size() == 2) {
        *w = parts[0].toInt(&okW);
        *h = parts[1].toInt(&okH);
    }
    return okW && okH && *w > 0 && *h > 0 && *w <= 8192 && *h <= 8192;
}

// A fisheye-looking I420 frame: rings and spokes inside a circle, black outside.
QByteArray makeI420(int w, int h)
{
    QByteArray frame(w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2), char(128));
    auto *y = reinterpret_cast<uchar *>(frame.data());
    const double cx = w / 2.0, cy = h / 2.0, radius = h / 2.0;
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const double dx = i - cx, dy = j - cy;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double a = std::atan2(dy, dx);
            y[j * w + i] = r > radius ? 16 : uchar(128 + 60 * std::sin(r / 9.0) * std::cos(8 * a));
        }
    }
    return frame;
}

QByteArray makeRgba(int w, int h)
{
    QByteArray frame(w * h * 4, char(255));
    auto *p = reinterpret_cast<uchar *>(frame.data());
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            uchar *px = p + (j * w + i) * 4;
            px[0] = uchar(i);
            px[1] = uchar(j);
            px[2] = uchar(i ^ j);
        }
    }
    return frame;
}

// Process CPU time (all threads, llvmpipe's included) in seconds: on a shared machine the wall-clock
// rate depends on the load, CPU time per frame much less.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing
{
    double firstCpu = 0;
    double lastCpu = 0;
    qint64 firstNs = 0;
    qint64 lastNs = 0;
    int seen = 0;
};

GstPadProbeReturn onBuffer(GstPad *, GstPadProbeInfo *, gpointer data)
{
    auto *t = static_cast<Timing *>(data);
    ++t->seen;
    const qint64 now = g_get_monotonic_time() * 1000;
    if (t->seen == kWarmUp) {
        t->firstNs = now;
        t->firstCpu = cpuSeconds();
    }
    t->lastNs = now;
    t->lastCpu = cpuSeconds();
    return GST_PAD_PROBE_OK;
}

// Runs N frames through "appsrc ! <chain> ! fakesink" and returns frames per second after a warm-up,
// or a negative number with *error set.
double measureGl(const QString &chain, const QByteArray &frame, const char *format, int w, int h, int frames,
                 const char *fragment, const Options &opt, double *cpuMsPerFrame, QString *error)
{
    const QString launch = QStringLiteral("appsrc name=src format=time block=true max-bytes=%1 ! %2 ! "
                                          "fakesink name=sink sync=false async=false")
                               .arg(frame.size() * 4)
                               .arg(chain);
    GError *parseError = nullptr;
    GstElement *pipeline = gst_parse_launch(launch.toUtf8().constData(), &parseError);
    if (!pipeline || parseError) {
        *error = QString::fromUtf8(parseError ? parseError->message : "no pipeline");
        g_clear_error(&parseError);
        if (pipeline)
            gst_object_unref(pipeline);
        return -1;
    }
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, w,
                                        "height", G_TYPE_INT, h, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    g_object_set(src, "caps", caps, nullptr);
    gst_caps_unref(caps);

    if (GstElement *shader = gst_bin_get_by_name(GST_BIN(pipeline), "shader")) {
        const Utils utils;
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(shader), "fragment"))
            g_object_set(shader, "vertex", utils.defishVertexShader().toUtf8().constData(), "fragment",
                         fragment ? fragment : utils.defishShader().toUtf8().constData(), nullptr);
        GstStructure *uniforms = DefishFilter::uniforms(
            FisheyeLens{float(w), float(h), float(w) / 2, float(h) / 2, float(h) / 2, kLensFov},
            FisheyeView{kRoll, kTilt, kPan, kViewFov, float(opt.outWidth) / float(opt.outHeight)});
        g_object_set(shader, "uniforms", uniforms, nullptr);
        gst_structure_free(uniforms);
        gst_object_unref(shader);
    }

    Timing timing;
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, &timing, nullptr);
    gst_object_unref(pad);

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // One buffer, pushed again and again: every push is uploaded again, as a new decoded frame would be.
    GstBuffer *buffer = gst_buffer_new_memdup(frame.constData(), frame.size());
    GstBus *bus = gst_element_get_bus(pipeline);
    bool failed = false;
    for (int i = 0; i < frames && !failed; ++i) {
        GstBuffer *copy = gst_buffer_copy(buffer); // shares the memory, own timestamps
        GST_BUFFER_PTS(copy) = i * GST_SECOND / 30;
        GST_BUFFER_DURATION(copy) = GST_SECOND / 30;
        if (gst_app_src_push_buffer(GST_APP_SRC(src), copy) != GST_FLOW_OK)
            failed = true;
        if (GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            GError *err = nullptr;
            gst_message_parse_error(msg, &err, nullptr);
            *error = QString::fromUtf8(err->message);
            g_clear_error(&err);
            gst_message_unref(msg);
            failed = true;
        }
    }
    gst_buffer_unref(buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    GstMessage *msg =
        gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError *err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        *error = QString::fromUtf8(err->message);
        g_clear_error(&err);
        failed = true;
    } else if (!msg) {
        *error = QStringLiteral("no end of stream within 120 s");
        failed = true;
    }
    if (msg)
        gst_message_unref(msg);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(src);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    if (failed)
        return -1;
    if (timing.seen <= kWarmUp + 1 || timing.lastNs <= timing.firstNs) {
        *error = QStringLiteral("only %1 frames came out").arg(timing.seen);
        return -1;
    }
    *cpuMsPerFrame = (timing.lastCpu - timing.firstCpu) * 1000.0 / (timing.seen - kWarmUp);
    return (timing.seen - kWarmUp) * 1e9 / double(timing.lastNs - timing.firstNs);
}

// ffmpeg's wall time for N frames; the difference of two runs removes its start-up.
double ffmpegSeconds(const Options &opt, const QString &input, int frames, const QString &filter, double *cpu,
                     QString *error)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start(opt.ffmpeg, {QStringLiteral("-hide_banner"),
                              QStringLiteral("-nostats"),
                              QStringLiteral("-benchmark"),
                              QStringLiteral("-stream_loop"),
                              QStringLiteral("-1"),
                              QStringLiteral("-f"),
                              QStringLiteral("rawvideo"),
                              QStringLiteral("-pix_fmt"),
                              QStringLiteral("yuv420p"),
                              QStringLiteral("-video_size"),
                              QStringLiteral("%1x%2").arg(opt.inWidth).arg(opt.inHeight),
                              QStringLiteral("-framerate"),
                              QStringLiteral("30"),
                              QStringLiteral("-i"),
                              input,
                              QStringLiteral("-frames:v"),
                              QString::number(frames),
                              QStringLiteral("-vf"),
                              filter,
                              QStringLiteral("-f"),
                              QStringLiteral("null"),
                              QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0) {
        *error = QString::fromLocal8Bit(ffmpeg.readAll()).right(400);
        if (error->isEmpty())
            *error = ffmpeg.errorString();
        return -1;
    }
    const QString out = QString::fromLocal8Bit(ffmpeg.readAll());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("rtime=([0-9.]+)s")).match(out);
    if (!m.hasMatch()) {
        *error = QStringLiteral("no bench line in ffmpeg's output");
        return -1;
    }
    const QRegularExpressionMatch u =
        QRegularExpression(QStringLiteral("utime=([0-9.]+)s stime=([0-9.]+)s")).match(out);
    *cpu = u.hasMatch() ? u.captured(1).toDouble() + u.captured(2).toDouble() : 0.0;
    return m.captured(1).toDouble();
}

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    Options opt;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--size") && hasValue && parseSize(args[i + 1], &opt.outWidth, &opt.outHeight)) {
            ++i;
        } else if (a == QLatin1String("--input") && hasValue && parseSize(args[i + 1], &opt.inWidth, &opt.inHeight)) {
            ++i;
        } else if (a == QLatin1String("--pane") && hasValue &&
                   parseSize(args[i + 1], &opt.paneWidth, &opt.paneHeight)) {
            ++i;
        } else if (a == QLatin1String("--frames") && hasValue && args[i + 1].toInt() > kWarmUp + 1) {
            opt.frames = args[++i].toInt();
        } else if (a == QLatin1String("--ffmpeg") && hasValue) {
            opt.ffmpeg = args[++i];
        } else if (a == QLatin1String("--no-ffmpeg")) {
            opt.runFfmpeg = false;
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--size WxH] [--input WxH] [--pane WxH] [--frames N>%d] [--ffmpeg PATH] [--no-ffmpeg]\n"
                "bad or incomplete option: %s\n",
                argv[0], kWarmUp + 1, qUtf8Printable(a));
            return 2;
        }
    }

    std::printf("defish: fisheye %dx%d -> %dx%d (pane %dx%d), %d frames per measurement, lens %.0f deg, view %.0f "
                "deg, roll/tilt/pan %.0f/%.0f/%.0f\n",
                opt.inWidth, opt.inHeight, opt.outWidth, opt.outHeight, opt.paneWidth, opt.paneHeight, opt.frames,
                double(kLensFov), double(kViewFov), double(kRoll), double(kTilt), double(kPan));
    if (!DefishFilter::registerElement() || !DefishRemap::registerElement()) {
        std::fprintf(stderr, "the dewarping elements do not register\n");
        return 1;
    }
    // The preview takes the CPU path where GL draws in software, the GL path elsewhere (Consumer).
    const bool softwareGl = DefishFilter::works() && DefishFilter::isSoftwareRenderer(DefishFilter::renderer());
    std::printf("GL renderer: %s; the preview runs %s\n", qUtf8Printable(DefishFilter::renderer()),
                softwareGl ? "on the CPU" : "on GL");
    const int previewRow = softwareGl ? 0 : 3;
    const int remapRow = 1;

    const QByteArray i420 = makeI420(opt.inWidth, opt.inHeight);
    const QByteArray rgba = makeRgba(opt.inWidth, opt.inHeight);
    const QString outCaps =
        QStringLiteral("video/x-raw(memory:GLMemory),width=%1,height=%2").arg(opt.outWidth).arg(opt.outHeight);
    struct Variant
    {
        const char *name;
        QString chain;
        bool rgbaInput;
        const char *fragment;
    };
    const QString paneCaps =
        QStringLiteral("video/x-raw(memory:GLMemory),width=%1,height=%2").arg(opt.paneWidth).arg(opt.paneHeight);
    const QString paneI420 =
        QStringLiteral("video/x-raw,format=I420,width=%1,height=%2").arg(opt.paneWidth & ~1).arg(opt.paneHeight & ~1);
    const Variant variants[] = {
        {"Preview on the CPU: both panes at pane size, then to GL",
         QStringLiteral("tee name=t t. ! queue max-size-buffers=2 ! quillonremap defish=false ! %1 ! glupload ! glcolorconvert ! "
                        "fakesink sync=false async=false t. ! queue max-size-buffers=2 ! quillonremap name=shader ! "
                        "%1 ! glupload ! glcolorconvert")
             .arg(paneI420),
         false, nullptr},
        {"CPU remap element alone, dewarped pane only, stays in memory",
         QStringLiteral("quillonremap name=shader ! %1").arg(paneI420), false, nullptr},
        {"CPU scale alone, raw pane only, stays in memory",
         QStringLiteral("quillonremap defish=false ! %1").arg(paneI420), false, nullptr},
        {"Preview on GL: both panes at pane size from one upload",
         QStringLiteral("glupload ! tee name=t t. ! quillondefish defish=false ! %1 ! "
                        "fakesink sync=false async=false t. ! quillondefish name=shader ! %1")
             .arg(paneCaps),
         false, nullptr},
        {"Lookup element, I420 in, dewarped pane only, no read back",
         QStringLiteral("glupload ! quillondefish name=shader ! %1").arg(paneCaps), false, nullptr},
        {"Lookup element, I420 in, at output size, no read back",
         QStringLiteral("glupload ! quillondefish name=shader ! %1").arg(outCaps), false, nullptr},
        {"Lookup element, I420 in, at output size, read back",
         QStringLiteral("glupload ! quillondefish name=shader ! %1 ! gldownload").arg(outCaps), false, nullptr},
        {"GL defish, I420 in, read back (plain shader path)",
         QStringLiteral("glupload ! glcolorconvert ! glshader name=shader ! %1 ! gldownload").arg(outCaps), false,
         nullptr},
        {"GL defish, I420 in, no read back",
         QStringLiteral("glupload ! glcolorconvert ! glshader name=shader ! %1").arg(outCaps), false, nullptr},
        {"GL defish, RGBA in (no colour conversion), read back",
         QStringLiteral("glupload ! glcolorconvert ! glshader name=shader ! %1 ! gldownload").arg(outCaps), true,
         nullptr},
        {"GL plain copy shader (no trigonometry), I420 in, read back",
         QStringLiteral("glupload ! glcolorconvert ! glshader name=shader ! %1 ! gldownload").arg(outCaps), false,
         kPassThrough},
        {"GL upload + colour conversion only, read back at input size",
         QStringLiteral("glupload ! glcolorconvert ! video/x-raw(memory:GLMemory),format=RGBA ! gldownload"), false,
         nullptr},
    };
    double previewFps = -1;
    double remapFps = -1;
    // One untimed run first: the process's first GL pipeline also pays for setting GL up (the
    // software rasteriser compiles its shaders as they are first drawn), which would be charged to
    // whichever row came first (measured: 6.6 against 2.7 CPU ms for the same row run again).
    {
        QString error;
        double cpuMs = 0;
        measureGl(variants[3].chain, i420, "I420", opt.inWidth, opt.inHeight, opt.frames, variants[3].fragment, opt,
                  &cpuMs, &error);
    }
    for (const Variant &v : variants) {
        QString error;
        double cpuMs = 0;
        const double fps = measureGl(v.chain, v.rgbaInput ? rgba : i420, v.rgbaInput ? "RGBA" : "I420", opt.inWidth,
                                     opt.inHeight, opt.frames, v.fragment, opt, &cpuMs, &error);
        if (fps < 0) {
            std::printf("  %-62s failed: %s\n", v.name, qUtf8Printable(error));
            if (&v == &variants[previewRow])
                return 1;
            continue;
        }
        if (&v == &variants[previewRow])
            previewFps = fps;
        if (&v == &variants[remapRow])
            remapFps = fps;
        std::printf("  %-62s %8.1f fps %8.1f CPU ms/frame\n", v.name, fps, cpuMs);
        std::fflush(stdout);
    }

    if (!opt.runFfmpeg)
        return 0;
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("fisheye.yuv"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(i420) != i420.size()) {
            std::fprintf(stderr, "cannot write %s\n", qUtf8Printable(input));
            return 1;
        }
    }
    // v360's fisheye input spans the whole frame; our circle has the frame's height as its diameter.
    // Measured twice: at the output size (the whole frame dewarped) and at the pane's size (what the
    // preview draws).
    const double ihFov = kLensFov * opt.inWidth / double(opt.inHeight);
    struct Peer
    {
        const char *name;
        int width;
        int height;
    };
    const Peer peers[] = {{"ffmpeg v360 (CPU, bilinear), I420 in and out, output size", opt.outWidth, opt.outHeight},
                          {"ffmpeg v360 (CPU, bilinear), I420 in and out, pane size", opt.paneWidth, opt.paneHeight}};
    double peerFps[2] = {-1, -1};
    for (int p = 0; p < 2; ++p) {
        const double vFov =
            2.0 * std::atan(std::tan(kViewFov / 2.0 * M_PI / 180.0) * peers[p].height / peers[p].width) * 180.0 / M_PI;
        const QString filter = QStringLiteral("v360=input=fisheye:output=flat:ih_fov=%1:iv_fov=%2:h_fov=%3:v_fov=%4:"
                                              "yaw=%5:pitch=%6:roll=%7:w=%8:h=%9:interp=line")
                                   .arg(ihFov, 0, 'f', 2)
                                   .arg(double(kLensFov), 0, 'f', 2)
                                   .arg(double(kViewFov), 0, 'f', 2)
                                   .arg(vFov, 0, 'f', 2)
                                   .arg(double(kPan), 0, 'f', 0)
                                   .arg(double(kTilt), 0, 'f', 0)
                                   .arg(double(kRoll), 0, 'f', 0)
                                   .arg(peers[p].width)
                                   .arg(peers[p].height);
        QString error;
        double shortCpu = 0, longCpu = 0;
        const double shortRun = ffmpegSeconds(opt, input, kWarmUp, filter, &shortCpu, &error);
        const double longRun =
            shortRun < 0 ? -1 : ffmpegSeconds(opt, input, kWarmUp + opt.frames, filter, &longCpu, &error);
        if (longRun < 0 || longRun <= shortRun) {
            std::printf("  ffmpeg v360 failed: %s\n", qUtf8Printable(error));
            return 1;
        }
        peerFps[p] = opt.frames / (longRun - shortRun);
        std::printf("  %-62s %8.1f fps %8.1f CPU ms/frame\n", peers[p].name, peerFps[p],
                    (longCpu - shortCpu) * 1000.0 / opt.frames);
    }
    std::printf("ratio preview (both panes, %s) / ffmpeg v360 at output size: %.2f\n", softwareGl ? "CPU" : "GL",
                previewFps / peerFps[0]);
    std::printf("ratio preview (both panes into GL, %s) / ffmpeg v360 at pane size: %.2f\n", softwareGl ? "CPU" : "GL",
                previewFps / peerFps[1]);
    std::printf("ratio CPU remap of the dewarped pane / ffmpeg v360 at pane size (like for like): %.2f\n",
                remapFps / peerFps[1]);
    return 0;
}
