// Stream discovery of 500 simulated gateways with 10 streams each on loopback:
// from handing the objects to the model to the last "Parsing streams done".
//
//   bench_discovery [gateways] [streams-per-gateway]
#include "platform/simulators/gateway/gatewaysim.h"
#include "repo/object.h"
#include "repo/repoobjects.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::atomic<int> g_done{0};
std::atomic<int> g_errors{0};

void countLines(QtMsgType, const QMessageLogContext &, const QString &text)
{
    if (text == QLatin1String("Parsing streams done"))
        ++g_done;
    else if (text.startsWith(QLatin1String("Error: ")))
        ++g_errors;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int gateways = argc > 1 ? std::max(1, atoi(argv[1])) : 500;
    const int streams = argc > 2 ? std::max(1, atoi(argv[2])) : 10;

    std::vector<std::unique_ptr<gatewaysim::GatewaySim>> sims;
    RepoObjects::ObjectList list;
    int zmqPort = 30000;
    for (int g = 0; g < gateways; ++g) {
        gatewaysim::GatewayConfig config;
        config.serial = "GW-" + std::to_string(g);
        for (int s = 0; s < streams; ++s)
            config.streams.push_back({config.serial + "-S" + std::to_string(s), zmqPort++});
        auto sim = std::make_unique<gatewaysim::GatewaySim>(config);
        if (!sim->start()) {
            std::fprintf(stderr, "gateway %d: %s\n", g, sim->error().c_str());
            return 1;
        }
        auto gw = std::make_shared<Object>();
        gw->setId(QString::number(g + 1));
        gw->setName(QString::fromStdString(config.serial));
        gw->setSerial(gw->name());
        gw->setType(Object::Device);
        gw->setHost(QStringLiteral("127.0.0.1"));
        gw->setPort(sim->port());
        list << gw;
        sims.push_back(std::move(sim));
    }
    for (size_t g = 0; g < sims.size(); ++g) {
        const QString parent = QString::number(g + 1);
        for (const auto &entry : sims[g]->config().streams) {
            auto stream = std::make_shared<Object>();
            stream->setId(QString::fromStdString(entry.serial));
            stream->setIdParent(parent);
            stream->setSerial(QString::fromStdString(entry.serial));
            stream->setType(Object::Stream);
            stream->setHost(QStringLiteral("127.0.0.1"));
            list << stream;
        }
    }

    RepoObjects model;
    qInstallMessageHandler(countLines);
    QElapsedTimer timer;
    timer.start();
    model.setObjects(list);
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (g_done + g_errors >= gateways || timer.elapsed() > 60000)
            app.quit();
    });
    poll.start();
    app.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    qInstallMessageHandler(nullptr);

    int applied = 0;
    for (const auto &object : list)
        applied += object->zmqPort() != 0;
    std::printf("discovery of %d gateways x %d streams: %.1f ms to the last \"Parsing streams done\" "
                "(%d answers, %d errors, %d streams with a port)\n",
                gateways, streams, ms, int(g_done), int(g_errors), applied);
    for (auto &sim : sims)
        sim->stop();
    return applied == gateways * streams ? 0 : 1;
}
