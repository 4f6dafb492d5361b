// The served views against an outside reference of the lens model: a fisheye clip made by ffmpeg's
// v360 filter, dewarped by the server on the CPU and on the GPU, compared with v360's own
// perspective render of the same frame.

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
};

QTEST_GUILESS_MAIN(TstOstrevanLens)
#include "tst_ostrevanlens.moc"
