// Re-filtering cost of the QML proxy model: two ValueFilters over 100,000 rows.
//
//   build/bench/sfpm/bench_sortfilterproxymodel [rows] [rounds]
//
// Prints, per scenario, the fastest, median and slowest of `rounds` runs, in
// wall-clock time and in CPU time of this process (the figure to trust on a
// busy machine), and how many rows the filters were asked about after a
// one-row dataChanged.
#include "benchrowsmodel.h"

#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/valuefilter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVector>
#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace qqsfpm;

namespace {

class CountingValueFilter : public ValueFilter
{
public:
    mutable long calls = 0;

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override
    {
        ++calls;
        return ValueFilter::filterRow(sourceIndex, proxyModel);
    }
};

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Wall-clock and CPU time of repeated runs of one scenario.
struct Samples
{
    QVector<double> wall;
    QVector<double> cpu;
    QElapsedTimer timer;
    double cpuStart = 0;
    void start()
    {
        cpuStart = cpuMs();
        timer.start();
    }
    void stop()
    {
        wall.append(timer.nsecsElapsed() / 1e6);
        cpu.append(cpuMs() - cpuStart);
    }
};

void report(const char *what, Samples samples)
{
    auto &wall = samples.wall;
    auto &cpu = samples.cpu;
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf(
        "%s\n  wall min %7.2f ms  median %7.2f ms  max %7.2f ms\n  cpu  min %7.2f ms  median %7.2f ms  max %7.2f "
        "ms\n",
        what, wall.first(), wall.at(wall.size() / 2), wall.last(), cpu.first(), cpu.at(cpu.size() / 2), cpu.last());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int rows = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 11;

    BenchRowsModel model(rows);
    QQmlSortFilterProxyModel proxy;
    CountingValueFilter kind;
    CountingValueFilter group;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    kind.setRoleName("kind");
    kind.setValue(1);
    group.setRoleName("group");
    group.setValue(0);
    proxy.appendFilter(&kind);
    proxy.appendFilter(&group);

    QElapsedTimer timer;
    timer.start();
    proxy.componentComplete();
    std::printf("rows %d, shown after completion %d (%.2f ms)\n", rows, proxy.count(), timer.nsecsElapsed() / 1e6);

    Samples kindChanges;
    for (int i = 0; i < rounds; ++i) {
        kindChanges.start();
        kind.setValue(i % 2 ? 1 : 2);
        const int shown = proxy.count();
        kindChanges.stop();
        Q_UNUSED(shown)
    }
    report("one filter's value changes (kind 1 <-> 2, every third row)", kindChanges);

    Samples groupChanges;
    for (int i = 0; i < rounds; ++i) {
        groupChanges.start();
        group.setValue(i % 2 ? 0 : 1);
        const int shown = proxy.count();
        groupChanges.stop();
        Q_UNUSED(shown)
    }
    report("the other filter's value changes (group 0 <-> 1, runs of 7 rows)", groupChanges);

    // Switching the group filter off and on: rows enter and leave in runs of
    // seven between rows that stay, so the mapping is rebuilt in one pass.
    Samples toggles;
    for (int i = 0; i < rounds; ++i) {
        toggles.start();
        group.setEnabled(i % 2);
        const int shown = proxy.count();
        toggles.stop();
        Q_UNUSED(shown)
    }
    group.setEnabled(true);
    report("the other filter switched off / on (scattered between staying rows)", toggles);

    Samples bursts;
    proxy.setDelayed(true);
    for (int i = 0; i < rounds; ++i) {
        bursts.start();
        for (int burst = 0; burst < 10; ++burst)
            kind.setValue(burst % 2 ? 1 : 2);
        QCoreApplication::processEvents();
        bursts.stop();
    }
    proxy.setDelayed(false);
    report("delayed: a burst of 10 value changes, one re-filter", bursts);

    // One shown row changes so that it leaves: only that row is judged again.
    int row = rows / 2;
    while (row < rows && proxy.mapFromSource(row) < 0)
        ++row;
    kind.calls = 0;
    group.calls = 0;
    const int before = proxy.count();
    Samples oneRow;
    oneRow.start();
    model.setGroup(row, 1 - model.index(row, 0).data(BenchRowsModel::GroupRole).toInt());
    oneRow.stop();
    std::printf("dataChanged on row %d: wall %.3f ms, cpu %.3f ms; kind filter asked %ld time(s), group filter %ld "
                "time(s); rows shown %d -> %d\n",
                row, oneRow.wall.first(), oneRow.cpu.first(), kind.calls, group.calls, before, proxy.count());
    return 0;
}
