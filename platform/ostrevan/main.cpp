// ostrevan: the streaming server started by Quillon's main window. It reads objects.data and
// serves every active view of every active fisheye stream of every active gateway.

#include "app/applogging.h"
#include "app/apppaths.h"
#include "platform/ostrevan/ostrevanserver.h"
#include "platform/ostrevan/serverlogging.h"
#include "platform/zmq/zmqelements.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <gst/gst.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

// SIGTERM and SIGINT end the event loop, so that everything is shut down in order. SIGHUP (what
// "systemctl reload" sends) re-reads the database at once, without waiting for the file watcher.
void installSignalHandlers(QCoreApplication *app, OstrevanServer *server)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "ostrevan: cannot set up signal handling: %s\n", std::strerror(errno));
        return;
    }
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app, server] {
        bool stop = false;
        bool reload = false;
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
            if (byte == SIGHUP)
                reload = true;
            else
                stop = true;
        }
        if (stop) {
            qCInfo(lcServer, "Stopping");
            app->quit();
        } else if (reload) {
            qCInfo(lcServer, "SIGHUP: re-reading the database");
            server->reload();
        }
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool positiveOption(const QCommandLineParser &parser, const QCommandLineOption &option, int min, int max, int *value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int v = parser.value(option).toInt(&ok);
    if (!ok || v < min || v > max) {
        std::fprintf(stderr, "ostrevan: --%s must be a number from %d to %d\n",
                     qUtf8Printable(option.names().constFirst()), min, max);
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    AppLogging::printTextOnly();
    gst_init(&argc, &argv);
    // zmqsrc is built in, for the "zmq:tcp://host:port" sources.
    if (!quillon_zmq_register_static())
        std::fprintf(stderr, "ostrevan: the ZeroMQ elements could not be registered\n");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrevan"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Streaming server for the views stored in objects.data: every active view of every active "
                       "fisheye stream of every active gateway, dewarped and served as H.264 over RTSP at "
                       "rtsp://HOST:PORT/STREAM-SERIAL/VIEW-NAME.\n"
                       "The file is re-read when it changes and at once on SIGHUP; SIGTERM or SIGINT end the "
                       "server."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("database"),
                                 QStringLiteral("The objects.data file (default: %1).")
                                     .arg(AppPaths::isInstalled()
                                              ? QStringLiteral("$XDG_DATA_HOME/quillon/objects.data")
                                              : QStringLiteral("objects.data beside this program")),
                                 QStringLiteral("[database]"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("RTSP port (default 8554; 0 picks a free one and logs it)."),
                                  QStringLiteral("port"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Address to listen on (default 0.0.0.0: all)."),
                                     QStringLiteral("address"));
    const QCommandLineOption width(QStringLiteral("width"), QStringLiteral("Width of every view (default 1280)."),
                                   QStringLiteral("pixels"));
    const QCommandLineOption height(QStringLiteral("height"), QStringLiteral("Height of every view (default 720)."),
                                    QStringLiteral("pixels"));
    const QCommandLineOption fps(QStringLiteral("fps"), QStringLiteral("Frame rate of every view (default 15)."),
                                 QStringLiteral("fps"));
    const QCommandLineOption bitrate(QStringLiteral("bitrate"),
                                     QStringLiteral("H.264 bit rate of every view in kbit/s (default 2000)."),
                                     QStringLiteral("kbps"));
    const QCommandLineOption dewarp(
        QStringLiteral("dewarp"),
        QStringLiteral("auto (of gl and cpu, the one that dewarps a test frame with less CPU "
                       "time, measured at start), gl or cpu."),
        QStringLiteral("mode"), QStringLiteral("auto"));
    const QCommandLineOption stats(
        QStringLiteral("stats"),
        QStringLiteral("Log frame counts of every stream and view every N seconds (default 0: never)."),
        QStringLiteral("seconds"));
    const QCommandLineOption sessionTimeout(
        QStringLiteral("session-timeout"),
        QStringLiteral("End a client's session after N seconds without a request or report from it (default 60)."),
        QStringLiteral("seconds"));
    parser.addOptions({port, address, width, height, fps, bitrate, dewarp, stats, sessionTimeout});
    parser.process(app);

    ServerOptions options;
    if (!positiveOption(parser, port, 0, 65535, &options.port) ||
        !positiveOption(parser, width, 16, 7680, &options.output.width) ||
        !positiveOption(parser, height, 16, 4320, &options.output.height) ||
        !positiveOption(parser, fps, 1, 120, &options.output.fps) ||
        !positiveOption(parser, bitrate, 50, 100000, &options.output.bitrateKbps) ||
        !positiveOption(parser, stats, 0, 3600, &options.statsSeconds) ||
        !positiveOption(parser, sessionTimeout, 2, 3600, &options.sessionTimeoutSeconds))
        return 2;
    // I420 needs even sizes.
    options.output.width &= ~1;
    options.output.height &= ~1;
    if (parser.isSet(address))
        options.address = parser.value(address);
    const QString mode = parser.value(dewarp);
    if (mode == QLatin1String("cpu")) {
        options.dewarp = ServerOptions::Dewarp::Cpu;
    } else if (mode == QLatin1String("gl")) {
        options.dewarp = ServerOptions::Dewarp::Gl;
    } else if (mode != QLatin1String("auto")) {
        std::fprintf(stderr, "ostrevan: --dewarp must be auto, gl or cpu\n");
        return 2;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        std::fprintf(stderr, "ostrevan: one database file at most, got %d arguments\n", int(positional.size()));
        return 2;
    }
    // The file that Quillon writes when it runs from the same place.
    options.databasePath =
        positional.isEmpty() ? AppPaths::databasePath() : QDir::current().absoluteFilePath(positional.first());

    OstrevanServer server(options);
    // Before start(): a signal that comes while the first views are set up is not lost.
    installSignalHandlers(&app, &server);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "ostrevan: %s\n", qUtf8Printable(error));
        return 1;
    }
    const int status = app.exec();
    return status;
}
