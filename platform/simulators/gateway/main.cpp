// quillon-gateway-sim: serves GET /streams for every gateway of a site file.
//
//   quillon-gateway-sim SITE.json [--fault SERIAL=KIND] [--http-status SERIAL=CODE] [--delay SERIAL=MS]
//
// KIND is one of none, http-error, malformed, not-array, wrong-port-types,
// unknown-serials, oversize. Runs until SIGINT or SIGTERM.
#include "platform/simulators/gateway/gatewaysim.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: quillon-gateway-sim SITE.json [--fault SERIAL=KIND] [--http-status SERIAL=CODE] "
                         "[--delay SERIAL=MS]\n"
                         "KIND: none, http-error, malformed, not-array, wrong-port-types, unknown-serials, oversize\n");
}

bool splitOption(const std::string &text, std::string &serial, std::string &value)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    serial = text.substr(0, eq);
    value = text.substr(eq + 1);
    return true;
}

bool toInt(const std::string &text, int &value)
{
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 3600000)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage();
        return 2;
    }
    std::map<std::string, gatewaysim::Fault> faults;
    std::map<std::string, int> statuses;
    std::map<std::string, int> delays;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        std::string serial, value;
        if (!splitOption(argv[++i], serial, value)) {
            usage();
            return 2;
        }
        int number = 0;
        if (option == "--fault") {
            gatewaysim::Fault fault;
            if (!gatewaysim::faultFromName(value, fault)) {
                std::fprintf(stderr, "unknown fault '%s'\n", value.c_str());
                return 2;
            }
            faults[serial] = fault;
        } else if (option == "--http-status" && toInt(value, number)) {
            statuses[serial] = number;
        } else if (option == "--delay" && toInt(value, number)) {
            delays[serial] = number;
        } else {
            usage();
            return 2;
        }
    }

    std::vector<gatewaysim::GatewayConfig> configs;
    std::string error;
    if (!gatewaysim::loadSite(argv[1], configs, error)) {
        std::fprintf(stderr, "quillon-gateway-sim: %s\n", error.c_str());
        return 1;
    }
    if (configs.empty()) {
        std::fprintf(stderr, "quillon-gateway-sim: the site file lists no gateways\n");
        return 1;
    }

    // Block the stop signals before any server thread exists, then wait for them here.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<gatewaysim::GatewaySim>> gateways;
    for (auto &config : configs) {
        auto gateway = std::make_unique<gatewaysim::GatewaySim>(config);
        const auto fault = faults.find(config.serial);
        if (fault != faults.end()) {
            const auto status = statuses.find(config.serial);
            gateway->setFault(fault->second, status != statuses.end() ? status->second : 500);
        }
        const auto delay = delays.find(config.serial);
        if (delay != delays.end())
            gateway->setDelay(std::chrono::milliseconds(delay->second));
        if (!gateway->start()) {
            std::fprintf(stderr, "quillon-gateway-sim: gateway %s: %s\n", config.serial.c_str(),
                         gateway->error().c_str());
            return 1;
        }
        std::printf("Gateway %s serving http://%s:%d/streams (%zu streams)\n", config.serial.c_str(),
                    config.host.c_str(), gateway->port(), config.streams.size());
        gateways.push_back(std::move(gateway));
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    std::printf("Stopping on signal %d\n", received);
    for (auto &gateway : gateways)
        gateway->stop();
    return 0;
}
