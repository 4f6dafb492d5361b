// "Save", reading objects.data at sign-in and "Start" with a large site, measured on the GUI thread:
// the longest time a 10 ms timer ran late while each step ran, and how long the step took.
//
//   build/bench/video/bench_serverstart [views ...]     (default: 20000 200000)
//
// Each site has one gateway, a stream for every 20 views, every stream a fisheye with its lens set;
// 40 views (on two streams, fed by the server's test picture) are switched on, the rest off. "Start"
// runs the real streaming server (ostrevan, built beside this) and ends when its status lists the
// 40 views. Prints one line per step.
#include "repo/objectfactory.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "video/processmanager.h"
#include "video/servercontroller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr int kViewsPerStream = 20;
constexpr int kActiveViews = 40;
constexpr int kStepTimeoutMs = 120000;

// The longest lateness of a 10 ms timer while it runs.
class StallMeter
{
public:
    StallMeter()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = qMax(m_longest, m_clock.restart() - kTickMs);
        });
        m_timer.start(kTickMs);
    }
    qint64 longest() const { return qMax(m_longest, m_clock.elapsed() - kTickMs); }

private:
    static constexpr int kTickMs = 10;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// Runs start(), then the event loop until done() (bounded); prints the step's figures.
bool measure(const char *step, int views, const std::function<void()> &start, const std::function<bool()> &done)
{
    StallMeter stall;
    QElapsedTimer clock;
    clock.start();
    start();
    while (!done() && clock.elapsed() < kStepTimeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const bool ok = done();
    std::printf("%7d views  %-34s %s  %7.2f s  longest GUI-thread stall %5lld ms\n", views, step,
                ok ? "ok    " : "FAILED", clock.elapsed() / 1000.0, stall.longest());
    std::fflush(stdout);
    return ok;
}

bool run(int views)
{
    QTemporaryDir dir;
    RepoObjects objects;
    RepoObjViews viewModel;
    LocalDatabase database;
    database.setDataPath(dir.filePath(QStringLiteral("objects.data")));
    if (!database.open())
        return false;

    auto gateway = makeGateway(QStringLiteral("1"), QStringLiteral("GW-1"));
    RepoObjects::ObjectList list{gateway};
    const int streams = (views + kViewsPerStream - 1) / kViewsPerStream;
    for (int s = 0; s < streams; ++s) {
        auto stream = makeStream(QString::number(10 + s), gateway, QStringLiteral("S-%1").arg(s));
        stream->setSourceUrl(QStringLiteral("testvideo:"));
        stream->setIsFisheye(true);
        stream->setCenterX(640);
        stream->setCenterY(360);
        stream->setRadius(360);
        stream->setFov(180.0f);
        list.append(stream);
    }
    objects.setObjects(list);
    QList<std::shared_ptr<ViewInfo>> infos;
    infos.reserve(views);
    for (int i = 0; i < views; ++i) {
        auto info = std::make_shared<ViewInfo>();
        info->serialStream = QStringLiteral("S-%1").arg(i / kViewsPerStream);
        info->name = QStringLiteral("View %1").arg(i);
        info->zoom = 90.0f;
        info->isActive = i < kActiveViews;
        infos.append(info);
    }
    viewModel.appendViews(infos);

    bool saved = false;
    QObject::connect(&database, &LocalDatabase::saveFinished, [&saved](bool ok) { saved = ok; });
    bool ok = measure("Save", views, [&] { database.saveInBackground(); }, [&] { return saved; });

    bool opened = false;
    QObject::connect(&database, &LocalDatabase::openFinished, [&opened](bool result) { opened = result; });
    ok = measure("read objects.data (sign-in)", views, [&] { database.openInBackground(); },
                 [&] { return opened; }) &&
         ok;

    ProcessManager process;
    process.setStatusChannel(true);
    process.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/../../ostrevan"));
    process.setArguments({database.dataPath(), QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--address"),
                          QStringLiteral("127.0.0.1"), QStringLiteral("--dewarp"), QStringLiteral("cpu"),
                          QStringLiteral("--width"), QStringLiteral("320"), QStringLiteral("--height"),
                          QStringLiteral("180")});
    ServerController controller;
    controller.setDatabase(&database);
    controller.setProcessManager(&process);
    ok = measure("Start: save, list, run, 40 served", views, [&] { controller.start(); },
                 [&] {
                     return controller.views()->servedCount() == kActiveViews &&
                            controller.views()->viewCount() == views;
                 }) &&
         ok;
    if (!process.lastError().isEmpty())
        std::printf("server: %s\n", qUtf8Printable(process.lastError()));
    ok = measure("Stop", views, [&] { controller.stop(); },
                 [&] { return process.status() == ProcessManager::Stopped; }) &&
         ok;
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The models' and the server's own lines would drown the figures.
    qputenv("QT_LOGGING_RULES", "quillon.*=false");
    QLoggingCategory::setFilterRules(QStringLiteral("quillon.*=false"));
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QString::fromLocal8Bit(argv[i]).toInt());
    if (sizes.isEmpty())
        sizes = {20000, 200000};
    bool ok = true;
    for (const int views : qAsConst(sizes))
        ok = views > 0 && run(views) && ok;
    return ok ? 0 : 1;
}
