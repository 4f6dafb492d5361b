// The main window with a large site: the models filled as a sign-in fills them
// (the import of the fetched objects, then the saved views in one model change),
// then the stream list scrolled from end to end.
//
//   xvfb-run -a build/bench/qml/bench_mainwindow [views] [streams] [--row-by-row] [--qml URL]
//
// Defaults: 200,000 views over 1,000 streams (20 gateways), restored as the
// import restores them (RepoObjViews::restoreViews: slices of 2,048 views, one
// model change each). --row-by-row appends the views one model change each; --qml loads another main document (a copy
// of an older qml/ folder, for comparison). Prints, per phase, the longest GUI-thread stall (the longest gap between
// turns of a 1 ms timer, so it includes the import itself, which runs on the GUI thread), the stream and view delegates
// alive afterwards, and the resident memory.
#include "app/startup.h"
#include "es/korvues.h"
#include "es/objectimport.h"
#include "repo/repobjviews.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

namespace es = korvu::es;

namespace {

objectimport::FetchedObjects site(int gateways, int streamsPerGateway)
{
    objectimport::FetchedObjects set;
    long long next = 2;
    for (int g = 0; g < gateways; ++g) {
        es::NameValueMap device;
        device.set("host", es::Value::fromString("192.0.2.1"));
        device.set("port", es::Value::fromInt(0)); // nothing to ask
        const long long gw = next++;
        set.insert(gw, es::Object(gw, 1, es::Object::Device, "Gateway " + std::to_string(g), "gateway",
                                  "GW-" + std::to_string(g), device));
        for (int s = 0; s < streamsPerGateway; ++s) {
            es::NameValueMap stream;
            stream.set("url", es::Value::fromString("file:/dev/null"));
            stream.set("fisheye", es::Value::fromString("1"));
            const long long id = next++;
            set.insert(id,
                       es::Object(id, gw, es::Object::Stream, "Camera " + std::to_string(g) + "-" + std::to_string(s),
                                  "video.live", "S-" + std::to_string(g) + "-" + std::to_string(s), stream));
        }
    }
    return set;
}

QList<std::shared_ptr<ViewInfo>> savedViews(int views, int gateways, int streamsPerGateway)
{
    QList<std::shared_ptr<ViewInfo>> infos;
    infos.reserve(views);
    const int streams = gateways * streamsPerGateway;
    for (int i = 0; i < views; ++i) {
        const int stream = i % streams;
        auto info = std::make_shared<ViewInfo>();
        info->serialStream = QStringLiteral("S-%1-%2").arg(stream / streamsPerGateway).arg(stream % streamsPerGateway);
        info->name = QStringLiteral("View %1").arg(i);
        info->isActive = i % 2;
        infos.append(info);
    }
    return infos;
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// First item under root with the object name.
QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    const auto children = root->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// The longest gap between two turns of a 1 ms timer on the GUI thread, and the
// most GUI-thread CPU time spent between two turns (the same stall without the
// time other processes took the CPU away, on a busy machine).
class StallMonitor : public QObject
{
public:
    StallMonitor()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { note(); });
    }
    void start()
    {
        m_longest = m_longestCpu = 0;
        m_clock.start();
        m_cpu = threadCpuMs();
        m_timer.start();
    }
    double stop()
    {
        m_timer.stop();
        note();
        return m_longest;
    }
    double longestCpu() const { return m_longestCpu; }

private:
    void note()
    {
        const double cpu = threadCpuMs();
        m_longest = std::max(m_longest, m_clock.nsecsElapsed() / 1e6);
        m_longestCpu = std::max(m_longestCpu, cpu - m_cpu);
        m_clock.restart();
        m_cpu = cpu;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_cpu = 0;
    double m_longest = 0;
    double m_longestCpu = 0;
};

int countItems(QQuickItem *root, const QString &name)
{
    int n = 0;
    const auto children = root->childItems();
    for (QQuickItem *child : children)
        n += (child->objectName() == name ? 1 : 0) + countItems(child, name);
    return n;
}

void runFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char **argv)
{
    int views = 200000, streams = 1000;
    bool rowByRow = false;
    QString qml = QStringLiteral("qrc:/main.qml");
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--row-by-row"))
            rowByRow = true;
        else if (arg == QLatin1String("--qml") && i + 1 < argc)
            qml = QString::fromLocal8Bit(argv[++i]);
        else if (positional++ == 0)
            views = std::max(0, arg.toInt());
        else
            streams = std::max(20, arg.toInt());
    }
    const int gateways = 20, perGateway = streams / gateways;

    Startup::initGStreamer(&argc, &argv);
    QGuiApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type >= QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    GstElement *glSink = Startup::loadGlVideoItem();
    Startup::createSingletons();
    Startup::registerTypes();
    Startup::registerSingletons();
    int exitCode = 0;
    {
        QQmlApplicationEngine engine;
        Startup::setContextProperties(&engine);
        engine.load(QUrl(qml));
        auto *main =
            engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        if (!main) {
            std::fprintf(stderr, "cannot load %s\n", qPrintable(qml));
            return 1;
        }
        if (auto *login = main->findChild<QQuickWindow *>(QStringLiteral("winLogin")))
            login->setVisible(false);
        main->resize(400, 800);
        runFor(1000);

        const objectimport::FetchedObjects set = site(gateways, perGateway);
        const QList<std::shared_ptr<ViewInfo>> infos = savedViews(views, gateways, perGateway);
        const qint64 rssBefore = residentKiB();
        StallMonitor monitor;

        // The import's queued task, then the window catching up.
        monitor.start();
        QElapsedTimer import;
        import.start();
        QTimer::singleShot(0, [&] {
            importObjects(set, 1);
            const double objectsMs = import.nsecsElapsed() / 1e6;
            const double objectsCpu = threadCpuMs();
            if (rowByRow) {
                for (const auto &info : infos) {
                    if (RepoObjViews::instance()->appendView(info->name, info->serialStream, info->roll, info->tilt,
                                                             info->pan, info->zoom))
                        RepoObjViews::instance()->views().last()->setIsActive(info->isActive);
                }
            } else {
                RepoObjViews::instance()->restoreViews(infos);
            }
            std::printf("import: %.0f ms on the GUI thread (objects %.0f ms, views %.0f ms wall, %.0f ms CPU)\n",
                        import.nsecsElapsed() / 1e6, objectsMs, import.nsecsElapsed() / 1e6 - objectsMs,
                        threadCpuMs() - objectsCpu);
        });
        runFor(3000);
        while (RepoObjViews::instance()->isRestoring())
            runFor(100);
        const double importStall = monitor.stop();
        const qint64 rssImported = residentKiB();

        QQuickItem *streamsList = findItem(main->contentItem(), QStringLiteral("lstStreams"));
        const int streamRows = countItems(main->contentItem(), QStringLiteral("streamDelegate"));
        const int viewRows = countItems(main->contentItem(), QStringLiteral("chkView"));
        std::printf("%d views over %d streams (%s, %s)\n", RepoObjViews::instance()->rowCount(), streams,
                    rowByRow ? "one model change per view" : "restored in slices", qPrintable(qml));
        std::printf("  sign-in import and first layout: longest stall %.0f ms (%.0f ms GUI-thread CPU); %d stream and "
                    "%d view delegates\n",
                    importStall, monitor.longestCpu(), streamRows, viewRows);

        // Scrolling: a page at a time down the whole list, then back to the top.
        monitor.start();
        QElapsedTimer scroll;
        scroll.start();
        int pages = 0;
        if (streamsList) {
            const qreal page = streamsList->height();
            for (;;) {
                const qreal y = streamsList->property("contentY").toReal();
                if (streamsList->property("atYEnd").toBool() || scroll.elapsed() > 60000)
                    break;
                streamsList->setProperty("contentY", y + page);
                runFor(20);
                ++pages;
            }
            QMetaObject::invokeMethod(streamsList, "positionViewAtBeginning");
            runFor(200);
        }
        const double scrollStall = monitor.stop();
        std::printf("  scrolling %d pages: longest stall %.0f ms (%.0f ms GUI-thread CPU), %.0f ms in all; %d view "
                    "delegates alive after\n",
                    pages, scrollStall, monitor.longestCpu(), scroll.nsecsElapsed() / 1e6,
                    countItems(main->contentItem(), "chkView"));
        std::printf("  resident memory: %lld MiB before the import, %lld MiB after it, %lld MiB after scrolling\n",
                    rssBefore / 1024, rssImported / 1024, residentKiB() / 1024);
        exitCode = importStall < 100 && scrollStall < 100 ? 0 : 2;
    }
    Startup::destroySingletons();
    Startup::releaseGlVideoItem(glSink);
    return exitCode;
}
