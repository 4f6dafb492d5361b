// CPU cost of showing one decoded 1080p30 stream through two consumers,
// compared with decoding it alone.
//
//   bench_fanout decode        producer only (frames pulled and dropped)
//   bench_fanout display       producer + raw consumer + defish consumer, each
//                              drawing into a 480x270 GstGLVideoItem
//   bench_fanout tiny          the same two consumers drawing into 16x9 items
//
// Prints CPU seconds per wall second and frames handed out. Run under
// xvfb-run with LIBGL_ALWAYS_SOFTWARE=1 for Mesa's software GL.
#include "app/startup.h"
#include "app/utils.h"
#include "bench/video/benchsupport.h"
#include "support/appsrcprobe.h"
#include "video/consumer.h"
#include "video/producer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("decode");
    const int seconds = argc > 2 ? QString::fromLatin1(argv[2]).toInt() : 10;
    const QString clip = bench::clip1080p(seconds + 5);
    if (clip.isEmpty()) {
        std::fprintf(stderr, "could not make the 1080p clip\n");
        return 1;
    }

    GstElement *glSink = Startup::loadGlVideoItem();
    Utils::create();
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
    const int itemW = mode == QLatin1String("tiny") ? 16 : 480, itemH = mode == QLatin1String("tiny") ? 9 : 270;
    if (mode != QLatin1String("decode")) {
        QQmlComponent component(&engine);
        component.setData(QStringLiteral("import QtQuick 2.13\nimport QtQuick.Window 2.13\n"
                                         "import org.freedesktop.gstreamer.GLVideoItem 1.0\n"
                                         "Window { width: %1; height: %2; visible: true\n"
                                         " GstGLVideoItem { objectName: \"left\"; width: %3; height: %2 }\n"
                                         " GstGLVideoItem { objectName: \"right\"; x: %3; width: %3; height: %2 } }")
                              .arg(2 * itemW)
                              .arg(itemH)
                              .arg(itemW)
                              .toUtf8(),
                          QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/bench_fanout.qml")));
        window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!window) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            return 1;
        }
    }

    Producer producer;
    producer.setSource(QStringLiteral("file:") + clip);
    // Samples handed to consumers, counted where they leave the consumers' app sources.
    AppSrcProbe handed;
    std::unique_ptr<Consumer> raw, defished;
    if (window) {
        raw = std::make_unique<Consumer>();
        raw->setName(QStringLiteral("Source"));
        raw->setWidget(window->findChild<QQuickItem *>(QStringLiteral("left")));
        raw->setProducer(&producer);
        defished = std::make_unique<Consumer>();
        defished->setName(QStringLiteral("Defished"));
        defished->setWidget(window->findChild<QQuickItem *>(QStringLiteral("right")));
        defished->setUseShader(true);
        defished->setShader(Utils::instance()->defishShader());
        defished->setProducer(&producer);
        QObject::connect(defished.get(), &Consumer::stateChanged, [&] {
            if (defished->state() == Consumer::Playing)
                defished->setUniforms({{"iCamWidth", 1920},
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
    }
    producer.start();
    if (raw) {
        raw->start();
        defished->start();
    }

    // Measure after a two-second warm-up.
    double cpuStart = 0;
    int handedStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(2000, [&] {
        if (raw) {
            handed.attach(raw.get(), raw->pipeline());
            handed.attach(defished.get(), defished->pipeline());
        }
        cpuStart = bench::cpuSeconds();
        handedStart = handed.total();
        wall.start();
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    });
    QGuiApplication::exec();
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = bench::cpuSeconds() - cpuStart;
    std::printf("mode %s: %.2f CPU s per s over %.1f s; %d samples handed to consumers (%.1f/s); producer %s\n",
                qPrintable(mode), cpu / elapsed, elapsed, handed.total() - handedStart,
                (handed.total() - handedStart) / elapsed,
                producer.state() == Producer::Playing ? "playing" : "NOT playing");
    if (raw) {
        raw->stop();
        defished->stop();
    }
    producer.stop();
    raw.reset();
    defished.reset();
    window.reset();
    Utils::destroy();
    Startup::releaseGlVideoItem(glSink);
    return 0;
}
