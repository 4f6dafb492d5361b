// The served views against an outside reference of the lens model: a fisheye clip made by ffmpeg's
// v360 filter, dewarped by the server on the CPU and on the GPU, compared with v360's own
// perspective render of the same frame; and their colours against ffmpeg's decoding of the source.

#include "ffmpegclient.h"
#include "objectsfilewriter.h"
#include "platform/ostrevan/ostrevanserver.h"
#include "rtspclient.h"
#include "serverrun.h"
#include "support/lensreference.h"

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

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(LensReference::makeClip(m_dir.path(), &m_clip, &error), qPrintable(error));
    }

    void servedViewsMatchFfmpegsRender_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("CPU remap") << "cpu";
        QTest::newRow("GL shader") << "gl";
    }

    void servedViewsMatchFfmpegsRender()
    {
        QFETCH(QString, mode);
        QString why;
        if (mode == QLatin1String("gl") && !OstrevanServer::glWorks(&why))
            QSKIP(qPrintable(QStringLiteral("GStreamer GL does not work here: ") + why));

        // Each view with the least PSNR it must reach. Two bilinear remaps of the same frame differ most on
        // its thin grid lines, the more so where the view magnifies less; a mirrored or wrongly turned
        // view stays below 15 dB.
        struct Case
        {
            QString name;
            LensReference::View view;
            double minDb;
        };
        const QVector<Case> views = {{QStringLiteral("Centre"), {0, 0, 0, 90}, 27.0},
                                     {QStringLiteral("Turned"), {20, 25, -40, 60}, 22.0}};
        ObjectsFileRows rows;
        rows.gateways = {{QStringLiteral("GW-1"), true}};
        rows.streams = {{QStringLiteral("GW-1"), QStringLiteral("CAM-1"), QStringLiteral("file:") + m_clip.path, true,
                         m_clip.centerX, m_clip.centerY, m_clip.radius, m_clip.fov, true}};
        for (const Case &c : views)
            rows.views.append(
                {QStringLiteral("CAM-1"), c.name, c.view.roll, c.view.tilt, c.view.pan, c.view.zoom, true});
        const QString file = m_dir.filePath(mode + QStringLiteral(".data"));
        QVERIFY(ObjectsFileWriter::write(file, rows));
        QStringList arguments = QStringList{file} + ServerRun::testOptions();
        arguments[arguments.indexOf(QStringLiteral("cpu"))] = mode;
        arguments[arguments.indexOf(QStringLiteral("--width")) + 1] = QString::number(kOutWidth);
        arguments[arguments.indexOf(QStringLiteral("--height")) + 1] = QString::number(kOutHeight);
        ServerRun server(arguments);
        const int port = server.waitForPort();
        QVERIFY2(port > 0, qPrintable(server.output()));

        for (const Case &c : views) {
            QString error;
            const QImage reference = LensReference::render(m_clip, c.view, kOutWidth, kOutHeight, &error);
            QVERIFY2(!reference.isNull(), qPrintable(error));
            RtspClient client(QStringLiteral("rtsp://127.0.0.1:%1%2")
                                  .arg(port)
                                  .arg(OstrevanServer::mountPath(QStringLiteral("CAM-1"), c.name)));
            // A few frames in, so that the encoder has refined the picture after its first key frame.
            QVERIFY2(client.waitForFrames(8, 30000), qPrintable(client.error() + server.output()));
            const QImage served = client.lastFrame();
            const double db = LensReference::psnr(served, reference);
            const double mirroredDb = LensReference::psnr(served, reference.mirrored(false, true));
            qInfo("%s, view %s: PSNR %.1f dB against v360, %.1f dB against its mirror", qPrintable(mode),
                  qPrintable(c.name), db, mirroredDb);
            if (db < c.minDb) {
                m_dir.setAutoRemove(false);
                served.save(m_dir.filePath(mode + c.name + QStringLiteral("-served.png")));
                reference.save(m_dir.filePath(mode + c.name + QStringLiteral("-v360.png")));
                qInfo("Pictures kept in %s", qPrintable(m_dir.path()));
            }
            QVERIFY2(db >= c.minDb, qPrintable(QStringLiteral("%1: %2 dB").arg(c.name).arg(db)));
            QVERIFY(mirroredDb < db - 8.0);
        }
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
