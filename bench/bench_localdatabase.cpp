// save() of 20,000 rows (2,000 gateways, 12,000 streams, 6,000 views) into a fresh
// objects.data, against the same inserts committed one row at a time. Committing
// each row waits for the disk every time, so that variant writes a sample of the
// rows (default 500) and the figure for all rows is scaled from it.
//
//   bench_localdatabase [per-row-sample]
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/objectsschema.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

RepoObjects::ObjectList site(int gateways, int streamsPerGateway)
{
    RepoObjects::ObjectList list;
    for (int g = 0; g < gateways; ++g) {
        auto gw = std::make_shared<Object>();
        gw->setId(QString::number(g + 1));
        gw->setType(Object::Device);
        gw->setSerial(QStringLiteral("GW-%1").arg(g));
        gw->setHost(QStringLiteral("10.0.%1.%2").arg(g / 256).arg(g % 256));
        gw->setPort(8080);
        list << gw;
    }
    for (int g = 0; g < gateways; ++g) {
        for (int s = 0; s < streamsPerGateway; ++s) {
            auto stream = std::make_shared<Object>();
            stream->setId(QStringLiteral("%1-%2").arg(g).arg(s));
            stream->setIdParent(QString::number(g + 1));
            stream->setType(Object::Stream);
            stream->setSerial(QStringLiteral("GW-%1-S%2").arg(g).arg(s));
            stream->setSourceUrl(QStringLiteral("zmq:tcp://10.0.0.1:%1").arg(5000 + s));
            stream->setIsFisheye(true);
            stream->setCenterX(960);
            stream->setCenterY(540);
            stream->setRadius(530);
            stream->setFov(185.0f);
            list << stream;
        }
    }
    return list;
}

// The same rows written the way every statement commits on its own.
double savePerRow(const QString &path, const RepoObjects &objects, const RepoObjViews &views, int sample)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("per-row"));
    db.setDatabaseName(path);
    db.open();
    QElapsedTimer timer;
    timer.start();
    {
        QSqlQuery query(db);
        query.exec(QStringLiteral("DELETE FROM gateways"));
        query.exec(QStringLiteral("DELETE FROM streams"));
        query.exec(QStringLiteral("DELETE FROM views"));
        int written = 0;
        for (const auto &o : objects.objectsBySerial()) {
            if (++written > sample)
                break;
            if (o->type() == Object::Device) {
                query.prepare(QLatin1String(ObjectsSchema::kInsertGateway));
                query.addBindValue(o->serial());
                query.addBindValue(o->host());
                query.addBindValue(o->port());
                query.addBindValue(o->isActive());
                query.exec();
            } else {
                query.prepare(QLatin1String(ObjectsSchema::kInsertStream));
                query.addBindValue(objects.objectsById().value(o->idParent())->serial());
                query.addBindValue(o->serial());
                query.addBindValue(o->sourceUrl());
                query.addBindValue(o->isFisheye());
                query.addBindValue(o->centerX());
                query.addBindValue(o->centerY());
                query.addBindValue(o->radius());
                query.addBindValue(double(o->fov()));
                query.addBindValue(o->isActive());
                query.exec();
            }
        }
        for (const auto &v : views.views()) {
            if (++written > sample)
                break;
            query.prepare(QLatin1String(ObjectsSchema::kInsertView));
            query.addBindValue(v->objectSerial());
            query.addBindValue(v->name());
            query.addBindValue(double(v->roll()));
            query.addBindValue(double(v->tilt()));
            query.addBindValue(double(v->pan()));
            query.addBindValue(double(v->zoom()));
            query.addBindValue(v->isActive());
            query.exec();
        }
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("per-row"));
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.info=false");
    const int sample = argc > 1 ? std::max(1, atoi(argv[1])) : 500;
    const int gateways = 2000, streamsPer = 6, viewsPer = 3;

    QTemporaryDir dir;
    RepoObjects objects;
    RepoObjViews views;
    LocalDatabase database;
    database.setDataPath(dir.filePath(QStringLiteral("objects.data")));
    if (!database.open())
        return 1;
    // Keep discovery quiet: no gateway gets a request.
    auto list = site(gateways, streamsPer);
    for (auto &o : list)
        if (o->type() == Object::Device)
            o->setHost(QString());
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    objects.setObjects(list);
    for (int g = 0; g < gateways; ++g)
        for (int v = 0; v < viewsPer; ++v)
            views.appendView(QStringLiteral("View %1").arg(v), QStringLiteral("GW-%1-S%2").arg(g).arg(v), 1, 2, 3, 4);
    const int rows = gateways + gateways * streamsPer + gateways * viewsPer;

    std::vector<double> runs, cpu;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double start = threadCpuMs();
        if (!database.save())
            return 1;
        cpu.push_back(threadCpuMs() - start);
        runs.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(runs.begin(), runs.end());
    const double transactional = runs[runs.size() / 2];

    std::printf("save() of %d rows: median %.1f ms wall (min %.1f, max %.1f), %.1f ms GUI-thread CPU, over %zu runs\n",
                rows, transactional, runs.front(), runs.back(), cpu[cpu.size() / 2], runs.size());
    std::fflush(stdout);
    const int written = std::min(sample, rows);
    const double perRow = savePerRow(dir.filePath(QStringLiteral("objects.data")), objects, views, written);
    const double scaled = perRow * rows / written;
    std::printf("every row committed on its own: %d rows in %.1f ms, %.0f ms scaled to %d rows (%.0fx slower)\n",
                written, perRow, scaled, rows, scaled / transactional);
    return 0;
}
