// The defish window's CPU while it shows a live 1080p video in both panes (the raw picture and the
// dewarped one, from one consumer as the window runs it), against decoding the same video alone, in the
// same run. Run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1 for Mesa's software renderer; set
// QUILLON_DEFISH_PATH=shader to measure the plain shader path instead of the lookup element.
//
//   bench_defish [seconds] [pane width] [pane height] [frames per second]
// The panes default to 240x135, the defish window's at its opening size for a 16:9 frame.
#include "app/startup.h"
#include "bench/video/benchsupport.h"
#include "app/utils.h"
#include "video/consumer.h"
#include "video/producer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <gst/gst.h>
#include <memory>

namespace {

struct Phase
{
    double cpu = 0;
    double wall = 0;
    int frames = 0;
};

// Runs the event loop for seconds after a settling second, with CPU and wall time.
Phase measure(int seconds, const std::atomic<int> &frames)
{
    Phase phase;
    QEventLoop settle;
    QTimer::singleShot(2000, &settle, &QEventLoop::quit);
    settle.exec();
    const double cpu0 = bench::cpuSeconds();
    const int frames0 = frames.load();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    phase.wall = wall.elapsed() / 1000.0;
    phase.cpu = bench::cpuSeconds() - cpu0;
    phase.frames = frames.load() - frames0;
    return phase;
}

GstPadProbeReturn countBuffer(GstPad *, GstPadProbeInfo *, gpointer user)
{
    ++*static_cast<std::atomic<int> *>(user);
    return GST_PAD_PROBE_OK;
}

void countFramesLeaving(GstElement *pipeline, const char *element, std::atomic<int> *counter)
{
    GstElement *e = pipeline ? gst_bin_get_by_name(GST_BIN(pipeline), element) : nullptr;
    if (!e)
        return;
    GstPad *pad = gst_element_get_static_pad(e, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, countBuffer, counter, nullptr);
    gst_object_unref(pad);
    gst_object_unref(e);
}

} // namespace

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    const int w = argc > 2 ? atoi(argv[2]) : 240, h = argc > 3 ? atoi(argv[3]) : 135;
    const int rate = argc > 4 ? atoi(argv[4]) : 15;
    const QString clip = bench::clip1080p(2 * seconds + 10, rate);
    GstElement *glSink = Startup::loadGlVideoItem();
    Utils::create();
    {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData(
            QStringLiteral("import QtQuick 2.13\nimport QtQuick.Window 2.13\n"
                           "import org.freedesktop.gstreamer.GLVideoItem 1.0\n"
                           "Window { width: %1 * 2 + 30; height: %2 + 20; visible: true\n"
                           " GstGLVideoItem { objectName: \"raw\"; x: 10; y: 10; width: %1; height: %2 }\n"
                           " GstGLVideoItem { objectName: \"item\"; x: %1 + 20; y: 10; width: %1;"
                           " height: %2 } }")
                .arg(w)
                .arg(h)
                .toUtf8(),
            QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/bench_defish.qml")));
        std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
        Phase decodeAlone;
        {
            Producer alone;
            alone.setSource(QStringLiteral("file:") + clip);
            std::atomic<int> decoded{0};
            alone.start();
            countFramesLeaving(alone.pipeline(), "typefind", &decoded);
            decodeAlone = measure(seconds, decoded);
            alone.stop();
        }
        Producer producer;
        producer.setSource(QStringLiteral("file:") + clip);
        std::atomic<int> decoded{0};

        Consumer defished;
        defished.setName(QStringLiteral("Defished"));
        defished.setWidget(window->findChild<QQuickItem *>(QStringLiteral("item")));
        defished.setRawWidget(window->findChild<QQuickItem *>(QStringLiteral("raw")));
        defished.setUseShader(true);
        defished.setShader(Utils::instance()->defishShader());
        defished.setProducer(&producer);
        QObject::connect(&defished, &Consumer::stateChanged, [&] {
            if (defished.state() != Consumer::Playing)
                return;
            defished.setUniforms({{"iCamWidth", 1920},
                                  {"iCamHeight", 1080},
                                  {"iCamCenterX", 960},
                                  {"iCamCenterY", 540},
                                  {"iCamRadius", 540},
                                  {"iCamFOV", 180},
                                  {"iRatio", 1920.0 / 1080.0},
                                  {"iRoll", 0},
                                  {"iTilt", 0},
                                  {"iPan", 0},
                                  {"iFov", 90}});
        });
        producer.start();
        defished.start();
        countFramesLeaving(producer.pipeline(), "typefind", &decoded);
        std::atomic<int> drawn{0};
        countFramesLeaving(defished.pipeline(), "defish", &drawn);
        int swapped = 0;
        QObject::connect(window.get(), &QQuickWindow::frameSwapped, [&] { ++swapped; });
        const int swapped0 = swapped;
        const int decoded0 = decoded.load();
        const Phase shown = measure(seconds, drawn);
        const double decodedRate = (decoded.load() - decoded0) / (shown.wall + 2.0);

        std::printf("1080p%d H.264 clip, panes %dx%d, %s path, GL: %s, load average %s\n", rate, w, h,
                    defished.usesLookup() ? "lookup" : "plain shader",
                    qgetenv("LIBGL_ALWAYS_SOFTWARE") == "1" ? "Mesa software" : "default",
                    qPrintable(bench::loadAverage()));
        std::printf("  decoding alone:          %5.1f frames/s, CPU %5.1f %% of one core\n",
                    decodeAlone.frames / decodeAlone.wall, 100.0 * decodeAlone.cpu / decodeAlone.wall);
        std::printf("  window, both panes:      %5.1f frames/s dewarped (%.1f decoded), %.1f window frames/s, "
                    "CPU %5.1f %% of one core\n",
                    shown.frames / shown.wall, decodedRate, (swapped - swapped0) / shown.wall,
                    100.0 * shown.cpu / shown.wall);
        std::printf("  the window's share:      %5.1f %% of one core, %.1f CPU ms per frame\n",
                    100.0 * (shown.cpu / shown.wall - decodeAlone.cpu / decodeAlone.wall),
                    shown.frames > 0
                        ? 1000.0 * (shown.cpu - decodeAlone.cpu * shown.wall / decodeAlone.wall) / shown.frames
                        : 0.0);
        defished.stop();
        producer.stop();
    }
    Utils::destroy();
    Startup::releaseGlVideoItem(glSink);
    return 0;
}
