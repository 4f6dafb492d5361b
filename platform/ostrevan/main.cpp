// ostrevan: the streaming server started by Quillon's main window. It reads objects.data and
// serves every active view of every active fisheye stream of every active gateway.

#include "platform/ostrevan/ostrevanserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

// SIGTERM and SIGINT end the event loop, so that everything is shut down in order.
void installSignalHandlers(QCoreApplication *app)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        qInfo("Stopping");
        app->quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrevan"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Streaming server for the views stored in objects.data."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("database"),
                                 QStringLiteral("The objects.data file (default: objects.data beside this program)."));
    parser.process(app);

    ServerOptions options;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        std::fprintf(stderr, "ostrevan: one database file at most, got %d arguments\n", int(positional.size()));
        return 2;
    }
    options.databasePath = positional.isEmpty()
                               ? QCoreApplication::applicationDirPath() + QStringLiteral("/objects.data")
                               : QDir::current().absoluteFilePath(positional.first());

    OstrevanServer server(options);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "ostrevan: cannot use %s: %s\n", qUtf8Printable(options.databasePath),
                     qUtf8Printable(error));
        return 1;
    }
    installSignalHandlers(&app);
    return app.exec();
}
