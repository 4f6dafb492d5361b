// Import of a 100,000-object site: 1,000 gateways, each in a container of its own,
// with two containers of 48 streams each. Measures the import from the start of
// the queued task to the end of the model reset.
//
//   bench_import [gateways]
#include "app/utils.h"
#include "es/eventserver.h"
#include "es/korvues.h"
#include "es/objectimport.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace es = korvu::es;

namespace {

es::NameValueMap settings(std::initializer_list<std::pair<const char *, es::Value>> values)
{
    es::NameValueMap map;
    for (const auto &value : values)
        map.set(value.first, value.second);
    return map;
}

objectimport::FetchedObjects site(int gateways)
{
    const long long root = 1;
    long long next = 2;
    objectimport::FetchedObjects set;
    auto add = [&set](const es::Object &object) { set.insert(object.id(), object); };
    for (int g = 0; g < gateways; ++g) {
        const long long building = next++;
        add(es::Object(building, root, es::Object::Container, "Building " + std::to_string(g), "container", "", {}));
        const long long gw = next++;
        add(es::Object(gw, building, es::Object::Device, "Gateway " + std::to_string(g), "gateway",
                       "GW-" + std::to_string(g),
                       settings({{"host", es::Value::fromString("127.0.0.1")},
                                 {"port", es::Value::fromString(std::to_string(20000 + g))},
                                 {"model", es::Value::fromString("FG-3")}})));
        for (int c = 0; c < 2; ++c) {
            const long long floor = next++;
            add(es::Object(floor, gw, es::Object::Container, "Floor " + std::to_string(c), "container", "", {}));
            for (int s = 0; s < 48; ++s) {
                const std::string serial =
                    "GW-" + std::to_string(g) + "-C" + std::to_string(c) + "-" + std::to_string(s);
                add(es::Object(next++, floor, es::Object::Stream, "Camera " + std::to_string(s), "video.fisheye.live",
                               serial,
                               settings({{"url", es::Value::fromString("ref://" + serial)},
                                         {"fisheye", es::Value::fromString("1")},
                                         {"Title", es::Value::fromString("Cam " + serial)}})));
            }
        }
    }
    return set;
}

// CPU time of the calling thread: what the import costs the GUI thread, whatever
// else the machine is busy with.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int gateways = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    Utils utils;
    EventServer server;
    RepoObjects objects;
    RepoObjViews views;
    LocalDatabase database;

    const objectimport::FetchedObjects set = site(gateways);
    std::vector<double> firstImports, firstCpu, reimports, reimportCpu, settles, longestTurns;
    // Runs the event loop until the rows replaced by the last reset are released,
    // noting how long that took and the longest single turn of the loop.
    auto settle = [&objects, &settles, &longestTurns] {
        QElapsedTimer total;
        total.start();
        double longest = 0;
        while (objects.hasRetiredRows()) {
            QElapsedTimer turn;
            turn.start();
            QCoreApplication::processEvents();
            longest = std::max(longest, turn.nsecsElapsed() / 1e6);
        }
        settles.push_back(total.nsecsElapsed() / 1e6);
        longestTurns.push_back(longest);
    };
    auto timedImport = [&set](std::vector<double> &wall, std::vector<double> &cpu) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        importObjects(set, 1);
        cpu.push_back(threadCpuMs() - cpuStart);
        wall.push_back(timer.nsecsElapsed() / 1e6);
    };
    for (int i = 0; i < 5; ++i) {
        // Into an empty model.
        objects.clear();
        settle();
        timedImport(firstImports, firstCpu);
        // Over the rows of the previous import, as a second sign-in does.
        timedImport(reimports, reimportCpu);
        settle();
    }
    {
        // Where the time goes, step by step.
        QElapsedTimer timer;
        timer.start();
        auto list = objectimport::walkObjects(set, 1);
        const double walk = timer.nsecsElapsed() / 1e6;
        timer.restart();
        objectimport::sortObjects(list);
        const double sort = timer.nsecsElapsed() / 1e6;
        objects.clear();
        settle();
        timer.restart();
        objects.setObjects(list);
        const double reset = timer.nsecsElapsed() / 1e6;
        objects.clear();
        list.clear();
        settle();
        std::printf("steps into an empty model: walk %.1f ms, sort %.1f ms, setObjects %.1f ms\n", walk, sort, reset);
    }
    std::printf("import of %d objects (%d gateways, %d rows), median of %zu runs:\n"
                "  into an empty model: %.1f ms wall, %.1f ms GUI-thread CPU\n"
                "  over the previous import: %.1f ms wall, %.1f ms GUI-thread CPU\n"
                "  releasing the replaced rows afterwards: %.1f ms in all, longest event-loop turn %.1f ms\n",
                int(set.size()), gateways, gateways * 97, firstImports.size(), median(firstImports), median(firstCpu),
                median(reimports), median(reimportCpu), median(settles), median(longestTurns));
    return 0;
}
