// The served views against an outside reference of the lens model: a fisheye clip made by ffmpeg's
// v360 filter, dewarped by the server on the CPU and on the GPU, compared with v360's own
// perspective render of the same frame; and their colours against ffmpeg's decoding of the source.

#include "defish/layoutcodec.h"
#include "defish/servedsize.h"
#include "ffmpegclient.h"
#include "objectsfilewriter.h"
#include "platform/ostrevan/ostrevanserver.h"
#include "rtspclient.h"
#include "serverrun.h"
#include "support/lensreference.h"

#include <memory>

#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kOutWidth = 640;
constexpr int kOutHeight = 360;

} // namespace

class TstOstrevanLens : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LensReference::Clip m_clip;

    // One view of the table: its stream (a clip of one projection and pitch), its name and picture.
    struct LayoutCase
    {
        QString name;
        QString stream;
        LensReference::View view; // perspective views
        FisheyeLayout layout;
    };
    // The streams: serial, v360's projection, our name for it, pitch of the camera.
    struct LayoutStream
    {
        const char *serial;
        const char *input;
        const char *projection;
        double pitch;
        const char *mount;
    };
    static QVector<LayoutStream> layoutStreams()
    {
        return {{"EQD-W", "fisheye", "equidistant", 0, "wall"},      {"EQS-W", "equisolid", "equisolid", 0, "wall"},
                {"STG-W", "sg", "stereographic", 0, "wall"},         {"ORT-W", "og", "orthographic", 0, "wall"},
                {"EQS-C", "equisolid", "equisolid", -90, "ceiling"}, {"STG-C", "sg", "stereographic", -90, "ceiling"}};
    }
    static QVector<LayoutCase> layoutCases()
    {
        QVector<LayoutCase> cases;
        const auto perspective = [&](const char *name, const char *stream, LensReference::View view) {
            cases.append({QString::fromLatin1(name), QString::fromLatin1(stream), view, FisheyeLayout()});
        };
        perspective("perspective, equidistant", "EQD-W", {0, 0, 0, 90});
        perspective("perspective, equisolid", "EQS-W", {20, 25, -40, 60});
        perspective("perspective, stereographic", "STG-W", {-10, -20, 35, 70});
        perspective("perspective, orthographic", "ORT-W", {0, 15, 20, 80});
        // The bands and azimuths put every edge of the crop on a whole pixel of the room's picture.
        FisheyeLayout ring;
        ring.mode = FisheyeViewMode::Panorama;
        ring.mount = FisheyeMount::Ceiling;
        ring.azimuth = -120;
        ring.upper = 0;
        ring.lower = -90;
        cases.append({QStringLiteral("360 panorama, equisolid, ceiling"), QStringLiteral("EQS-C"), {}, ring});
        ring.mode = FisheyeViewMode::DoublePanorama;
        ring.azimuth = -150;
        ring.lower = -50.625f;
        cases.append({QStringLiteral("double panorama, stereographic, ceiling"), QStringLiteral("STG-C"), {}, ring});
        ring.mode = FisheyeViewMode::HalfPanorama;
        ring.mount = FisheyeMount::Wall;
        ring.azimuth = -90;
        ring.upper = 50.625f;
        ring.lower = -50.625f;
        cases.append({QStringLiteral("180 panorama, equidistant, wall"), QStringLiteral("EQD-W"), {}, ring});
        FisheyeLayout quad;
        quad.mode = FisheyeViewMode::Quad;
        quad.quad[0] = {0, 20, -35, 60, 1};
        quad.quad[1] = {10, 20, 35, 60, 1};
        quad.quad[2] = {0, -25, -30, 70, 1};
        quad.quad[3] = {-15, -25, 30, 50, 1};
        cases.append({QStringLiteral("quad, orthographic"), QStringLiteral("ORT-W"), {}, quad});
        return cases;
    }
    QHash<QString, LensReference::Clip> m_layoutClips;
    std::unique_ptr<ServerRun> m_layoutServer;
    QString m_layoutPath;
    int m_layoutPort = 0;

    // The server of one dewarping path serving the whole table, started once for its rows.
    int layoutServer(const QString &path)
    {
        if (m_layoutServer && m_layoutPath == path)
            return m_layoutPort;
        m_layoutServer.reset();
        m_layoutPath = path;
        m_layoutPort = 0;
        ObjectsFileRows rows;
        rows.gateways = {{QStringLiteral("GW-1"), true}};
        for (const LayoutStream &s : layoutStreams()) {
            LensReference::Clip clip = m_layoutClips.value(QLatin1String(s.serial));
            QString error;
            if (clip.path.isEmpty()) {
                if (!LensReference::makeProjectionClip(m_dir.path(), QLatin1String(s.input), s.pitch, &clip, &error)) {
                    qWarning("%s", qPrintable(error));
                    return 0;
                }
                m_layoutClips.insert(QLatin1String(s.serial), clip);
            }
            rows.streams.append({QStringLiteral("GW-1"), QLatin1String(s.serial), QStringLiteral("file:") + clip.path,
                                 true, clip.centerX, clip.centerY, clip.radius, clip.fov, true});
            rows.lenses.append({QLatin1String(s.serial), QLatin1String(s.mount), QLatin1String(s.projection)});
        }
        for (const LayoutCase &c : layoutCases()) {
            if (c.layout.mode == FisheyeViewMode::Perspective)
                rows.views.append({c.stream, c.name, c.view.roll, c.view.tilt, c.view.pan, c.view.zoom, true});
            else
                rows.layouts.append({c.stream, c.name, QLatin1String(FisheyeProjection::modeName(c.layout.mode)),
                                     LayoutCodec::toJson(LayoutCodec::toMap(c.layout)), true});
        }
        const QString file = m_dir.filePath(QStringLiteral("layouts-%1.data").arg(path));
        if (!ObjectsFileWriter::write(file, rows))
            return 0;
        QStringList arguments = QStringList{file} + ServerRun::testOptions();
        arguments[arguments.indexOf(QStringLiteral("cpu"))] = path;
        arguments[arguments.indexOf(QStringLiteral("--width")) + 1] = QString::number(kOutWidth);
        arguments[arguments.indexOf(QStringLiteral("--height")) + 1] = QString::number(kOutHeight);
        m_layoutServer = std::make_unique<ServerRun>(arguments);
        m_layoutPort = m_layoutServer->waitForPort();
        return m_layoutPort;
    }

    // v360's picture of a case: flat renders for a perspective view and each quarter of a quad, crops of
    // the unrolled room for the panoramas (its elevations and azimuths at whole pixels).
    static QImage referenceOf(const LayoutCase &c, const LensReference::Clip &clip, int width, int height,
                              QString *error)
    {
        const double pitch = c.layout.mount == FisheyeMount::Ceiling ? -90 : 0;
        const FisheyeLayout &l = c.layout;
        switch (l.mode) {
        case FisheyeViewMode::Perspective:
            return LensReference::render(clip, c.view, width, height, error);
        case FisheyeViewMode::Quad: {
            QImage picture(width, height, QImage::Format_RGB888);
            for (int i = 0; i < 4; ++i) {
                const FisheyeView &q = l.quad[i];
                const QImage quarter =
                    LensReference::render(clip, {q.roll, q.tilt, q.pan, q.fov}, width / 2, height / 2, error);
                if (quarter.isNull())
                    return {};
                for (int y = 0; y < height / 2; ++y)
                    memcpy(picture.scanLine((i / 2) * height / 2 + y) + (i % 2) * (width / 2) * 3,
                           quarter.constScanLine(y), size_t(width / 2) * 3);
            }
            return picture;
        }
        case FisheyeViewMode::Panorama:
        case FisheyeViewMode::DoublePanorama:
        case FisheyeViewMode::HalfPanorama: {
            const double span = l.mode == FisheyeViewMode::Panorama ? 360.0 : 180.0;
            const int tileHeight = l.mode == FisheyeViewMode::DoublePanorama ? height / 2 : height;
            const double perDegree = width / span;
            const int room = qRound(360.0 * perDegree);
            const int x = qRound((l.azimuth + 180.0) * perDegree);
            const int y = qRound((90.0 - l.upper) * perDegree);
            const QImage first = LensReference::renderRoom(clip, pitch, room, QRect(x, y, width, tileHeight), error);
            if (first.isNull() || l.mode != FisheyeViewMode::DoublePanorama)
                return first;
            const QImage second = LensReference::renderRoom(
                clip, pitch, room, QRect(x + qRound(180.0 * perDegree), y, width, tileHeight), error);
            if (second.isNull())
                return {};
            QImage picture(width, height, QImage::Format_RGB888);
            for (int row = 0; row < height; ++row)
                memcpy(picture.scanLine(row), (row < tileHeight ? first : second).constScanLine(row % tileHeight),
                       size_t(width) * 3);
            return picture;
        }
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(LensReference::makeClip(m_dir.path(), &m_clip, &error), qPrintable(error));
    }

    // Every mode and every lens projection against v360: fisheye clips of each projection made by v360,
    // served by one server per dewarping path, read back over RTSP, compared with v360's own render of
    // the same region (flat for a perspective view and each quarter of a quad, equirectangular for the
    // panoramas). Two bilinear remaps of the same frame agree to 35-45 dB here; a mirrored or wrongly
    // turned picture stays below 20.
    void servedLayoutsMatchFfmpegsRender_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("layoutCase");
        for (const char *path : {"cpu", "gl"}) {
            for (int i = 0; i < layoutCases().size(); ++i)
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(path), layoutCases().at(i).name)))
                    << QString::fromLatin1(path) << i;
        }
    }

    void servedLayoutsMatchFfmpegsRender()
    {
        QFETCH(QString, path);
        QFETCH(int, layoutCase);
        QString why;
        if (path == QLatin1String("gl") && !OstrevanServer::glWorks(&why))
            QSKIP(qPrintable(QStringLiteral("GStreamer GL does not work here: ") + why));
        const int port = layoutServer(path);
        QVERIFY2(port > 0, qPrintable(m_layoutServer ? m_layoutServer->output() : QString()));
        const LayoutCase c = layoutCases().at(layoutCase);
        const LensReference::Clip clip = m_layoutClips.value(c.stream);

        int width = 0;
        int height = 0;
        ServedSize::forMode(c.layout.mode, kOutWidth, kOutHeight, &width, &height);
        QImage reference = referenceOf(c, clip, width, height, &why);
        QVERIFY2(!reference.isNull(), qPrintable(why));
        RtspClient client(
            QStringLiteral("rtsp://127.0.0.1:%1%2").arg(port).arg(OstrevanServer::mountPath(c.stream, c.name)));
        QVERIFY2(client.waitForFrames(8, 30000), qPrintable(client.error() + m_layoutServer->output()));
        const QImage served = client.lastFrame();
        QCOMPARE(served.size(), reference.size());
        const double db = LensReference::psnr(served, reference);
        const double mirroredDb = LensReference::psnr(served, reference.mirrored(true, false));
        qInfo("%s: PSNR %.1f dB against v360, %.1f dB against its mirror", QTest::currentDataTag(), db, mirroredDb);
        if (db < 28.0) {
            m_dir.setAutoRemove(false);
            served.save(m_dir.filePath(path + c.name + QStringLiteral("-served.png")));
            reference.save(m_dir.filePath(path + c.name + QStringLiteral("-v360.png")));
            qInfo("Pictures kept in %s", qPrintable(m_dir.path()));
        }
        QVERIFY2(db >= 28.0, qPrintable(QStringLiteral("%1 dB").arg(db)));
        QVERIFY(mirroredDb < db - 8.0);
    }

    void servedColoursAreTheSources_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("colour");
        // What ffmpeg says of the served stream's colours beside its range ("" for none).
        QTest::addColumn<QString>("described");
        const auto tags = [](const char *name) {
            const QString n = QString::fromLatin1(name);
            return QStringList{QStringLiteral("-colorspace"), n, QStringLiteral("-color_primaries"), n,
                               QStringLiteral("-color_trc"),  n};
        };
        QTest::newRow("CPU remap, untagged") << "cpu" << QStringList() << "";
        QTest::newRow("CPU remap, BT.601") << "cpu" << tags("smpte170m") << "smpte170m";
        QTest::newRow("GL shader, untagged") << "gl" << QStringList() << "";
        QTest::newRow("GL shader, BT.601") << "gl" << tags("smpte170m") << "smpte170m";
        QTest::newRow("GL shader, BT.709") << "gl" << tags("bt709") << "bt709";
    }

    // A camera picture of more than 576 rows: without tags GStreamer takes it for BT.709, libavcodec's
    // players for BT.601. Served with the source's own colour description (none for none), read by
    // ffmpeg, the view has the colours of ffmpeg's decoding of the source.
    void servedColoursAreTheSources()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, colour);
        QFETCH(QString, described);
        QString why;
        if (mode == QLatin1String("gl") && !OstrevanServer::glWorks(&why))
            QSKIP(qPrintable(QStringLiteral("GStreamer GL does not work here: ") + why));
        LensReference::Clip clip;
        QVERIFY2(LensReference::makeLensClip(m_dir.path(), 1280, 960, 600, 470, 440, &clip, &why, colour),
                 qPrintable(why));
        ObjectsFileRows rows;
        rows.gateways = {{QStringLiteral("GW-1"), true}};
        rows.streams = {{QStringLiteral("GW-1"), QStringLiteral("CAM-1"), QStringLiteral("file:") + clip.path, true,
                         clip.centerX, clip.centerY, clip.radius, clip.fov, true}};
        rows.views = {{QStringLiteral("CAM-1"), QStringLiteral("Centre"), 0, 0, 0, 90, true}};
        const QString file = m_dir.filePath(QStringLiteral("colour.data"));
        QVERIFY(ObjectsFileWriter::write(file, rows));
        QStringList arguments = QStringList{file} + ServerRun::testOptions();
        arguments[arguments.indexOf(QStringLiteral("cpu"))] = mode;
        arguments[arguments.indexOf(QStringLiteral("--width")) + 1] = QString::number(kOutWidth);
        arguments[arguments.indexOf(QStringLiteral("--height")) + 1] = QString::number(kOutHeight);
        ServerRun server(arguments);
        const int port = server.waitForPort();
        QVERIFY2(port > 0, qPrintable(server.output()));

        const QImage reference = LensReference::render(clip, {0, 0, 0, 90}, kOutWidth, kOutHeight, &why);
        QVERIFY2(!reference.isNull(), qPrintable(why));
        FfmpegClient client(QStringLiteral("rtsp://127.0.0.1:%1%2")
                                .arg(port)
                                .arg(OstrevanServer::mountPath(QStringLiteral("CAM-1"), QStringLiteral("Centre"))),
                            3, m_dir.filePath(QStringLiteral("colour.png")));
        QVERIFY2(client.waitForSuccess(30000), qPrintable(client.log() + server.output()));
        // The right colours give 37-38 dB here, a BT.601 picture shown as BT.709 29-30 dB.
        const double db = LensReference::psnr(client.lastFrame(), reference);
        qInfo("%s: PSNR %.1f dB against ffmpeg's decoding of the source", QTest::currentDataTag(), db);
        const QRegularExpressionMatch stream =
            QRegularExpression(QStringLiteral("Video: h264.*yuv420p\\(([^)]*)\\)")).match(client.log());
        QVERIFY2(stream.hasMatch(), qPrintable(client.log()));
        QStringList words = stream.captured(1).split(QStringLiteral(", "));
        words.removeAll(QStringLiteral("tv"));
        words.removeAll(QStringLiteral("progressive"));
        QCOMPARE(words.join(QStringLiteral(", ")), described);
        QVERIFY2(db >= 34.0, qPrintable(QStringLiteral("%1 dB").arg(db)));
    }
};

QTEST_GUILESS_MAIN(TstOstrevanLens)
#include "tst_ostrevanlens.moc"
