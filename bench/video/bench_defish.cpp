// Frames per second the defish consumer draws for a 1080p30 source with the
// current OpenGL (run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1 for Mesa's
// software renderer).
//
//   bench_defish [seconds] [window width] [window height]
#include "app/startup.h"
#include "bench/video/benchsupport.h"
#include "defish/utils.h"
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

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    const int w = argc > 2 ? atoi(argv[2]) : 960, h = argc > 3 ? atoi(argv[3]) : 540;
    const QString clip = bench::clip1080p(seconds + 5);
    GstElement *glSink = Startup::loadGlVideoItem();
    Utils::create();
    {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData(QStringLiteral("import QtQuick 2.13\nimport QtQuick.Window 2.13\n"
                                         "import org.freedesktop.gstreamer.GLVideoItem 1.0\n"
                                         "Window { width: %1; height: %2; visible: true\n"
                                         " GstGLVideoItem { objectName: \"item\"; anchors.fill: parent } }")
                              .arg(w)
                              .arg(h)
                              .toUtf8(),
                          QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/bench_defish.qml")));
        std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
        Producer producer;
        producer.setSource(QStringLiteral("file:") + clip);
        Consumer defished;
        defished.setName(QStringLiteral("Defished"));
        defished.setWidget(window->findChild<QQuickItem *>(QStringLiteral("item")));
        defished.setUseShader(true);
        defished.setShader(Utils::instance()->defishShader());
        defished.setProducer(&producer);
        producer.start();
        defished.start();

        std::atomic<int> drawn{0};
        int drawnStart = 0;
        QElapsedTimer wall;
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
        // Count frames leaving the shader (each one is run through it at 1080p).
        QTimer::singleShot(1000, [&] {
            GstElement *shader = gst_bin_get_by_name(GST_BIN(defished.pipeline()), "glshader");
            GstPad *pad = gst_element_get_static_pad(shader, "src");
            gst_pad_add_probe(
                pad, GST_PAD_PROBE_TYPE_BUFFER,
                [](GstPad *, GstPadProbeInfo *, gpointer user) -> GstPadProbeReturn {
                    ++*static_cast<std::atomic<int> *>(user);
                    return GST_PAD_PROBE_OK;
                },
                &drawn, nullptr);
            gst_object_unref(pad);
            gst_object_unref(shader);
        });
        int framesSwapped = 0, swappedStart = 0;
        QObject::connect(window.get(), &QQuickWindow::frameSwapped, [&] { ++framesSwapped; });
        QTimer::singleShot(3000, [&] {
            drawnStart = drawn.load();
            swappedStart = framesSwapped;
            wall.start();
            QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        });
        QGuiApplication::exec();
        const double elapsed = wall.elapsed() / 1000.0;
        std::printf("defish consumer, 1920x1080 source, %dx%d window: %.1f frames/s through the shader, "
                    "%.1f window frames/s (GL renderer: %s)\n",
                    w, h, (drawn.load() - drawnStart) / elapsed, (framesSwapped - swappedStart) / elapsed,
                    qgetenv("LIBGL_ALWAYS_SOFTWARE") == "1" ? "Mesa software" : "default");
        defished.stop();
        producer.stop();
    }
    Utils::destroy();
    Startup::releaseGlVideoItem(glSink);
    return 0;
}
