// quillon-es-sim: the site simulator's event server.
//
//   quillon-es-sim --site platform/simulators/sites/demo.json [--listen 127.0.0.1] [--port 17000]
//
// Serves the site file's users and objects until SIGINT or SIGTERM.

#include "platform/simulators/es/simulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pthread.h>

namespace {

void usage(FILE *out)
{
    std::fprintf(out, "Usage: quillon-es-sim --site FILE [--listen ADDRESS] [--port PORT]\n"
                      "                      [--objects-per-frame N] [--reply-delay-ms MS]\n"
                      "                      [--reject-sign-in CODE [MESSAGE]] [--quiet]\n"
                      "Serves the \"users\", \"rootId\" and \"objects\" of a site file as an event server.\n"
                      "Defaults: --listen 127.0.0.1 --port 17000.\n");
}

bool toInt(const char *text, int *out)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < -2147483647L || v > 2147483647L)
        return false;
    *out = int(v);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::string sitePath, address = "127.0.0.1";
    int port = 17000, perFrame = 1000, delay = 0, rejectCode = 0;
    bool reject = false, quiet = false;
    std::string rejectMessage;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](int *out) {
            if (i + 1 >= argc || !toInt(argv[i + 1], out)) {
                std::fprintf(stderr, "quillon-es-sim: %s needs a number\n", arg.c_str());
                std::exit(2);
            }
            ++i;
        };
        if (arg == "--site" && i + 1 < argc) {
            sitePath = argv[++i];
        } else if (arg == "--listen" && i + 1 < argc) {
            address = argv[++i];
        } else if (arg == "--port") {
            value(&port);
        } else if (arg == "--objects-per-frame") {
            value(&perFrame);
        } else if (arg == "--reply-delay-ms") {
            value(&delay);
        } else if (arg == "--reject-sign-in") {
            value(&rejectCode);
            reject = true;
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
                rejectMessage = argv[++i];
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "quillon-es-sim: unknown or incomplete option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (sitePath.empty()) {
        usage(stderr);
        return 2;
    }

    essim::Site site;
    std::string error;
    if (!essim::loadSiteFile(sitePath, &site, &error)) {
        std::fprintf(stderr, "quillon-es-sim: %s\n", error.c_str());
        return 1;
    }
    const std::size_t objectCount = site.objects.size(), userCount = site.users.size();

    // Signals are taken by sigwait below, so block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    essim::Simulator simulator(std::move(site));
    if (!quiet)
        simulator.setLogger([](const std::string &line) {
            std::fprintf(stderr, "quillon-es-sim: %s\n", line.c_str());
            std::fflush(stderr);
        });
    simulator.setObjectsPerFrame(perFrame);
    simulator.setReplyDelay(delay);
    if (reject)
        simulator.setSignInRejection(true, rejectCode, rejectMessage);
    const int bound = simulator.start(address, port, &error);
    if (bound == 0) {
        std::fprintf(stderr, "quillon-es-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("quillon-es-sim: serving %zu objects and %zu users of %s on %s:%d\n", objectCount, userCount,
                sitePath.c_str(), address.c_str(), bound);
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    simulator.stop();
    std::printf("quillon-es-sim: stopped\n");
    return 0;
}
