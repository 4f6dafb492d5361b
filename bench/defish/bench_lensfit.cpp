// Lens-circle finding: accuracy and time.
//
//  1. Live: the fisheye publisher's synthetic footage (H.264 over ZeroMQ) into a Producer, fitted by
//     LensFitter as the defish window's "Fit lens" does; time from the request to the result.
//  2. Still: first frames of ffmpeg-made clips (v360, H.264) with known circles; LensFit alone, at
//     full size and at the reduced size LensFitter uses.
//
// Errors: centre distance in per cent of the frame width, radius in per cent of the radius.
//
//   bench_lensfit [rounds]
#include "app/startup.h"
#include "defish/lensfit.h"
#include "platform/simulators/fisheye/fisheyepublisher.h"
#include "support/lensreference.h"
#include "video/lensfitter.h"
#include "video/producer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Geometry
{
    int width, height, centerX, centerY, radius; // centre from the top-left corner
};

double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double worst(const std::vector<double> &v)
{
    return v.empty() ? NAN : *std::max_element(v.begin(), v.end());
}

// Runs the event loop until done() or the time is up.
template<typename F> bool waitFor(F done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void live(const Geometry &g, int rounds)
{
    PublisherSettings settings;
    settings.name = QStringLiteral("bench");
    settings.lens.width = g.width;
    settings.lens.height = g.height;
    settings.lens.centerX = g.centerX;
    settings.lens.centerY = g.height - 1 - g.centerY;
    settings.lens.radius = g.radius;
    FisheyePublisher publisher(settings);
    if (!publisher.start()) {
        std::printf("publisher: %s\n", qPrintable(publisher.errorString()));
        return;
    }
    Producer producer;
    producer.setSource(QStringLiteral("zmq:") + publisher.boundEndpoint());
    producer.start();
    if (!waitFor([&] { return producer.state() == Producer::Playing; }, 15000)) {
        std::printf("%dx%d: no video\n", g.width, g.height);
        return;
    }
    LensFitter fitter;
    fitter.setProducer(&producer);
    std::vector<double> centre, radius, ms;
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        bool done = false;
        double cx = 0, cy = 0, r = 0;
        const auto fitted = QObject::connect(&fitter, &LensFitter::fitted, [&](qreal x, qreal y, qreal rr) {
            cx = x / 100 * g.width;
            cy = g.height - 1 - y / 100 * g.height;
            r = rr / 100 * g.width;
            done = true;
        });
        const auto failed = QObject::connect(&fitter, &LensFitter::failed, [&] {
            ++failures;
            done = true;
        });
        QElapsedTimer clock;
        clock.start();
        fitter.start();
        waitFor([&] { return done; }, 10000);
        const double elapsed = clock.nsecsElapsed() / 1e6;
        QObject::disconnect(fitted);
        QObject::disconnect(failed);
        if (r <= 0)
            continue;
        centre.push_back(std::hypot(cx - g.centerX, cy - g.centerY) / g.width * 100);
        radius.push_back(std::fabs(r - g.radius) / g.radius * 100);
        ms.push_back(elapsed);
    }
    std::printf(
        "publisher %4dx%-4d centre (%d, %d) r %d (%2.0f %% of width), %d fits: centre error median %.3f %% "
        "worst %.3f %%, radius error median %.3f %% worst %.3f %%, %d failed; request to result median %.0f ms\n",
        g.width, g.height, g.centerX, g.centerY, g.radius, 100.0 * g.radius / g.width, int(centre.size()),
        median(centre), worst(centre), median(radius), worst(radius), failures, median(ms));
    producer.stop();
    publisher.stop();
}

// The publisher's frame itself, before H.264: what the scene's own rim does to the fit.
void scene(const Geometry &g)
{
    FisheyeLens lens;
    lens.width = g.width;
    lens.height = g.height;
    lens.centerX = g.centerX;
    lens.centerY = g.height - 1 - g.centerY;
    lens.radius = g.radius;
    const QByteArray frame = FisheyeScene(lens).frame(0);
    QImage grey(reinterpret_cast<const uchar *>(frame.constData()), g.width, g.height, g.width,
                QImage::Format_Grayscale8);
    const LensFitResult fit = LensFitter::fitFrames({grey.copy()});
    std::printf("scene     %4dx%-4d centre (%d, %d) r %d, uncompressed: %s centre error %.3f %%, radius %.2f px "
                "(error %+.3f %%)\n",
                g.width, g.height, g.centerX, g.centerY, g.radius, fit.found ? "" : fit.reason.c_str(),
                std::hypot(fit.centerX - g.centerX, fit.centerY - g.centerY) / g.width * 100, fit.radius,
                (fit.radius - g.radius) / g.radius * 100);
}

void still(const QString &dir, const Geometry &g, int rounds)
{
    QString error;
    const QImage grey =
        LensReference::fisheyeStill(dir, g.width, g.height, g.centerX, g.centerY, g.radius, true, &error);
    if (grey.isNull()) {
        std::printf("ffmpeg: %s\n", qPrintable(error));
        return;
    }
    // Full size with LensFit alone, and as LensFitter fits: reduced, from four frames.
    for (const bool reduced : {false, true}) {
        std::vector<double> ms;
        LensFitResult fit;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            fit = reduced ? LensFitter::fitFrames({grey, grey, grey, grey})
                          : LensFit(grey.constBits(), grey.width(), grey.height(), grey.bytesPerLine()).fit();
            ms.push_back(clock.nsecsElapsed() / 1e6);
        }
        const char *how = reduced ? "4 frames reduced" : "full size";
        if (!fit.found) {
            std::printf("v360      %4dx%-4d %s: no circle: %s\n", g.width, g.height, how, fit.reason.c_str());
            continue;
        }
        std::printf("v360      %4dx%-4d centre (%d, %d) r %d (%2.0f %% of width), %s: centre error %.3f %%, "
                    "radius error %.3f %%, %d of %d points, fit median %.1f ms\n",
                    g.width, g.height, g.centerX, g.centerY, g.radius, 100.0 * g.radius / g.width, how,
                    std::hypot(fit.centerX - g.centerX, fit.centerY - g.centerY) / g.width * 100,
                    std::fabs(fit.radius - g.radius) / g.radius * 100, fit.inliers, fit.points, median(ms));
    }
}

} // namespace

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    // Radii 30 to 50 % of the width, centres off the middle, some circles cut by the frame.
    const std::vector<Geometry> geometries = {{1280, 960, 640, 480, 480},
                                              {1280, 960, 700, 430, 400},
                                              {1280, 960, 600, 500, 640},
                                              {1920, 1080, 900, 560, 576},
                                              {640, 480, 380, 250, 224}};
    for (const Geometry &g : geometries)
        live(g, rounds);
    for (const Geometry &g : geometries)
        scene(g);
    QTemporaryDir dir;
    for (const Geometry &g : geometries)
        still(dir.path(), g, rounds);
    return 0;
}
