// Writes the objects.data that the server benchmarks serve (run.sh): one gateway GW, one stream CAM
// and its views, with the tests' ObjectsFileWriter, so that the tables' text comes from
// ObjectsSchema alone.
//
//   bench_ostrevan_site FILE SOURCE WIDTH HEIGHT VIEWS [MODE ...]
//
// SOURCE is the stream's address as objects.data keeps it (file:PATH, zmq:tcp://...). Its lens circle
// of 180 degrees fills the height of a WIDTH x HEIGHT frame at its middle. VIEWS perspective views
// v0 .. v(VIEWS - 1) look 30 degrees off the lens axis at zoom 90, turned evenly around it. Each MODE
// (panorama, double-panorama, quad, half-panorama) adds a view of that mode, named after it: the ring
// from the horizon down to the lens axis, a quad of four views turned evenly around. With any MODE the
// camera hangs from the ceiling.

#include "defish/fisheyeprojection.h"
#include "defish/layoutcodec.h"
#include "tests/platform/ostrevan/objectsfilewriter.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s FILE SOURCE WIDTH HEIGHT VIEWS [MODE ...]\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    const int views = std::atoi(argv[5]);
    if (width <= 0 || height <= 0 || views < 0) {
        std::fprintf(stderr, "a frame size of %s x %s and %s views cannot be served\n", argv[3], argv[4], argv[5]);
        return 2;
    }
    ObjectsFileRows rows;
    rows.gateways.append({QStringLiteral("GW"), true});
    StreamFileRow stream;
    stream.serialGateway = QStringLiteral("GW");
    stream.serial = QStringLiteral("CAM");
    stream.url = QString::fromLocal8Bit(argv[2]);
    stream.centerX = width / 2;
    stream.centerY = height / 2;
    stream.radius = height / 2;
    stream.fov = 180;
    rows.streams.append(stream);
    for (int i = 0; i < views; ++i) {
        ViewFileRow view;
        view.serialStream = stream.serial;
        view.name = QStringLiteral("v%1").arg(i);
        view.tilt = 30;
        view.pan = i * 360.0 / views;
        view.zoom = 90;
        rows.views.append(view);
    }
    for (int i = 6; i < argc; ++i) {
        FisheyeLayout layout;
        if (!FisheyeProjection::modeFromName(argv[i], &layout.mode) || layout.mode == FisheyeViewMode::Perspective) {
            std::fprintf(stderr, "%s is not a mode of a panorama or a quad\n", argv[i]);
            return 2;
        }
        layout.mount = FisheyeMount::Ceiling;
        for (int q = 0; q < 4; ++q)
            layout.quad[q] = FisheyeView{0.0f, 30.0f, 90.0f * float(q), 70.0f, 1.0f};
        rows.layouts.append({stream.serial, QString::fromLatin1(argv[i]), QString::fromLatin1(argv[i]),
                             LayoutCodec::toJson(LayoutCodec::toMap(layout)), true});
    }
    if (argc > 6)
        rows.lenses.append(
            {stream.serial, QString::fromLatin1(FisheyeProjection::mountName(FisheyeMount::Ceiling)),
             QString::fromLatin1(FisheyeProjection::projectionName(FisheyeLensProjection::Equidistant))});
    // A new file each time: the writer keeps Quillon's own tables where it is given no rows for them.
    const QString path = QString::fromLocal8Bit(argv[1]);
    QFile::remove(path);
    if (!ObjectsFileWriter::write(path, rows)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
