// Fetching a 100,000-object site from the simulated event server on loopback:
// time from Client::getObjects() to its success callback, then the connector's
// copy into the map keyed by id, and the process's peak memory.
//
//   ./build/bench/es/bench_esfetch [gateways=1000] [streamsPerGateway=98] [runs=5]

#include "es/eventserver.h"
#include "es/korvues.h"
#include "platform/simulators/es/simulator.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

using namespace korvu::es;
using Clock = std::chrono::steady_clock;

namespace {

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long currentRssKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

struct Waiter
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;

    void finish(bool success)
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        ok = success;
        cv.notify_all();
    }

    bool wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(60), [&] { return done; });
        const bool result = done && ok;
        done = false;
        return result;
    }
};

} // namespace

int main(int argc, char **argv)
{
    const int gateways = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int streams = argc > 2 ? std::atoi(argv[2]) : 98;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;

    essim::Simulator sim(essim::generateSite(gateways, streams));
    const int port = sim.start();
    if (port == 0)
        return 1;

    Context context{Logger(), ContextOptions()};
    Connection connection(ConnectionCallbacks(), context);
    Client client(ClientCallbacks(), connection);
    Waiter waiter;
    connection.open(
        "127.0.0.1", port, [&] { waiter.finish(true); }, [&](const ConnectionError &) { waiter.finish(false); });
    if (!waiter.wait())
        return 1;
    client.signIn(
        "admin", "admin", [&](long long) { waiter.finish(true); }, [&](const HandlerError &) { waiter.finish(false); });
    if (!waiter.wait())
        return 1;

    std::printf("site: %d gateways x %d streams\n", gateways, streams);
    std::printf("memory before the first fetch: %ld KiB resident\n", currentRssKiB());
    std::vector<double> fetchMs, copyMs, cpu;
    std::size_t count = 0;
    for (int run = 0; run <= runs; ++run) {
        Clock::time_point start, received, copied;
        client.getObjects(
            [&](const std::vector<Object> &objects, long long) {
                received = Clock::now();
                count = objects.size();
                const auto byId = EventServer::objectsById(objects);
                copied = Clock::now();
                waiter.finish(byId.size() > 0);
            },
            [&](const HandlerError &e) {
                std::fprintf(stderr, "fetch failed: %s (%d)\n", e.message().c_str(), e.code());
                waiter.finish(false);
            });
        const double cpuStart = cpuMs();
        start = Clock::now();
        if (!waiter.wait())
            return 1;
        const double cpuUsed = cpuMs() - cpuStart;
        const double f = std::chrono::duration<double, std::milli>(received - start).count();
        const double c = std::chrono::duration<double, std::milli>(copied - received).count();
        // Run 0 also encodes the site on the server side once; it is reported apart.
        if (run == 0) {
            std::printf("first fetch (server encodes the site once): %.1f ms\n", f);
            continue;
        }
        fetchMs.push_back(f);
        copyMs.push_back(c);
        cpu.push_back(cpuUsed);
    }
    std::sort(fetchMs.begin(), fetchMs.end());
    std::sort(copyMs.begin(), copyMs.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("objects per fetch: %zu\n", count);
    std::printf("getObjects -> success callback: min %.1f ms, median %.1f ms, max %.1f ms (%d runs)\n", fetchMs.front(),
                fetchMs[fetchMs.size() / 2], fetchMs.back(), runs);
    std::printf("CPU time of both sides per fetch (server copy + client decode + map copy): median %.1f ms\n",
                cpu[cpu.size() / 2]);
    std::printf("copy into the map keyed by id: median %.1f ms\n", copyMs[copyMs.size() / 2]);
    std::printf("peak resident memory of the process (simulator included): %ld KiB\n", peakRssKiB());
    return 0;
}
