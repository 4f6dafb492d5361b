// quillon-fisheye-pub: publishes live synthetic fisheye footage (H.264 in
// MPEG-TS) on ZeroMQ PUB sockets, either every stream of a site file's
// "gateways" section or one stream described on the command line.
#include "platform/simulators/fisheye/fisheyepublisher.h"
#include "platform/simulators/fisheye/sitestreams.h"
#include "platform/zmq/zmqelements.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <gst/gst.h>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    quillon_zmq_register_static();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-fisheye-pub"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Publishes synthetic fisheye video on ZeroMQ."));
    parser.addHelpOption();
    const QCommandLineOption site(QStringLiteral("site"), QStringLiteral("Publish every stream of a site file."),
                                  QStringLiteral("file"));
    const QCommandLineOption gateway(QStringLiteral("gateway"),
                                     QStringLiteral("With --site: only the streams of this gateway serial."),
                                     QStringLiteral("serial"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Publish one stream on this port."),
                                  QStringLiteral("port"));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to bind (default 127.0.0.1)."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption width(QStringLiteral("width"), QStringLiteral("Frame width (default 1280)."),
                                   QStringLiteral("pixels"), QStringLiteral("1280"));
    const QCommandLineOption height(QStringLiteral("height"), QStringLiteral("Frame height (default 960)."),
                                    QStringLiteral("pixels"), QStringLiteral("960"));
    const QCommandLineOption fps(QStringLiteral("fps"), QStringLiteral("Frames per second (default 15)."),
                                 QStringLiteral("fps"), QStringLiteral("15"));
    const QCommandLineOption centerX(QStringLiteral("center-x"), QStringLiteral("Lens centre x (default: middle)."),
                                     QStringLiteral("pixels"));
    const QCommandLineOption centerY(QStringLiteral("center-y"),
                                     QStringLiteral("Lens centre y from the bottom (default: middle)."),
                                     QStringLiteral("pixels"));
    const QCommandLineOption radius(QStringLiteral("radius"),
                                    QStringLiteral("Lens circle radius (default: half the shorter side)."),
                                    QStringLiteral("pixels"));
    const QCommandLineOption fov(QStringLiteral("fov"), QStringLiteral("Lens field of view (default 180)."),
                                 QStringLiteral("degrees"), QStringLiteral("180"));
    const QCommandLineOption bitrate(QStringLiteral("bitrate"), QStringLiteral("kbit/s (default: from the size)."),
                                     QStringLiteral("kbps"), QStringLiteral("0"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("Stop after this many seconds (default: run until killed)."),
                                      QStringLiteral("seconds"));
    parser.addOptions(
        {site, gateway, port, host, width, height, fps, centerX, centerY, radius, fov, bitrate, duration});
    parser.addPositionalArgument(QStringLiteral("site"), QStringLiteral("Site file (same as --site)."),
                                 QStringLiteral("[SITE.json]"));
    parser.process(app);
    QString siteFile = parser.value(site);
    if (siteFile.isEmpty() && !parser.positionalArguments().isEmpty())
        siteFile = parser.positionalArguments().constFirst();

    const auto fail = [](const QString &message) {
        std::fprintf(stderr, "quillon-fisheye-pub: %s\n", qPrintable(message));
        return 2;
    };
    const auto number = [&](const QCommandLineOption &option, bool *ok) { return parser.value(option).toDouble(ok); };

    QVector<PublisherSettings> streams;
    if (!siteFile.isEmpty()) {
        QString error;
        if (!SiteStreams::load(siteFile, &streams, &error))
            return fail(error);
        if (parser.isSet(gateway)) {
            QVector<PublisherSettings> filtered;
            for (const PublisherSettings &s : streams)
                if (s.gateway == parser.value(gateway))
                    filtered << s;
            streams = filtered;
        }
        if (streams.isEmpty())
            return fail(QStringLiteral("no stream with a zmqPort in %1").arg(siteFile));
    } else if (parser.isSet(port)) {
        PublisherSettings settings;
        bool ok[8] = {true, true, true, true, true, true, true, true};
        settings.name = QStringLiteral("fisheye");
        settings.host = parser.value(host);
        settings.port = parser.value(port).toInt(&ok[0]);
        settings.lens.width = parser.value(width).toInt(&ok[1]);
        settings.lens.height = parser.value(height).toInt(&ok[2]);
        settings.fps = parser.value(fps).toInt(&ok[3]);
        settings.lens.fov = number(fov, &ok[4]);
        settings.bitrate = parser.value(bitrate).toInt(&ok[5]);
        if (parser.isSet(centerX))
            settings.lens.centerX = number(centerX, &ok[6]);
        if (parser.isSet(centerY))
            settings.lens.centerY = number(centerY, &ok[7]);
        bool radiusOk = true;
        if (parser.isSet(radius))
            settings.lens.radius = number(radius, &radiusOk);
        for (bool b : ok)
            if (!b)
                return fail(QStringLiteral("a numeric option has a value that is not a number"));
        if (!radiusOk)
            return fail(QStringLiteral("--radius is not a number"));
        if (settings.port < 0 || settings.port > 65535 || settings.lens.width < 16 || settings.lens.height < 16 ||
            settings.fps < 1 || settings.fps > 120)
            return fail(QStringLiteral("port, size or fps out of range"));
        SiteStreams::completeLens(&settings.lens, parser.isSet(centerX), parser.isSet(centerY), parser.isSet(radius));
        streams << settings;
    } else {
        parser.showHelp(1);
    }

    std::vector<std::unique_ptr<FisheyePublisher>> publishers;
    for (const PublisherSettings &settings : streams) {
        auto publisher = std::make_unique<FisheyePublisher>(settings);
        if (!publisher->start())
            return fail(QStringLiteral("%1 on %2:%3: %4")
                            .arg(settings.name, settings.host)
                            .arg(settings.port)
                            .arg(publisher->errorString()));
        const FisheyeLens &lens = settings.lens;
        std::printf("Publishing %s on %s (%dx%d at %d fps, lens centre %.0f,%.0f radius %.0f fov %.0f)\n",
                    qPrintable(settings.name), qPrintable(publisher->boundEndpoint()), lens.width, lens.height,
                    settings.fps, lens.centerX, lens.centerY, lens.radius, lens.fov);
        std::fflush(stdout);
        publishers.push_back(std::move(publisher));
    }

    if (parser.isSet(duration))
        QTimer::singleShot(int(parser.value(duration).toDouble() * 1000), &app, &QCoreApplication::quit);
    const int code = QCoreApplication::exec();
    publishers.clear();
    return code;
}
