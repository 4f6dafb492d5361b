// Helper process for the local database tests: does one thing to a database file
// in a process of its own, so the test can kill it, lock the file from outside or
// run it without root's rights.
//
//   localdatabase_child save-loop PATH ROWS       save ROWS gateways again and again
//   localdatabase_child open-save PATH [nobody]   open, then save one gateway
//   localdatabase_child hold PATH read|write MS    hold a lock on the file for MS ms
#include "app/applogging.h"
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

void say(const char *format, int value)
{
    std::printf(format, value);
    std::printf("\n");
    std::fflush(stdout);
}

RepoObjects::ObjectList generation(int gen, int rows)
{
    RepoObjects::ObjectList objects;
    for (int i = 0; i < rows; ++i) {
        auto object = std::make_shared<Object>();
        object->setId(QString::number(i + 1));
        object->setType(Object::Device);
        object->setSerial(QStringLiteral("gen%1-%2").arg(gen).arg(i));
        object->setHost(QStringLiteral("gen%1").arg(gen));
        objects << object;
    }
    return objects;
}

int saveLoop(const QString &path, int rows)
{
    RepoObjects objects;
    RepoObjViews views;
    LocalDatabase database;
    database.setDataPath(path);
    if (!database.open())
        return 1;
    for (int gen = 1;; ++gen) {
        objects.setObjects(generation(gen, rows));
        say("saving %d", gen);
        if (!database.save())
            return 1;
        say("saved %d", gen);
    }
}

int openSave(const QString &path, bool asNobody)
{
    if (asNobody && geteuid() == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            std::perror("dropping privileges");
            return 3;
        }
    }
    RepoObjects objects;
    RepoObjViews views;
    LocalDatabase database;
    database.setDataPath(path);
    say("open %d", database.open());
    objects.setObjects(generation(9, 1));
    say("save %d", database.save());
    return 0;
}

int hold(const QString &path, bool write, int ms)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    db.setDatabaseName(path);
    if (!db.open())
        return 1;
    QSqlQuery query(db);
    if (!query.exec(write ? QStringLiteral("BEGIN EXCLUSIVE") : QStringLiteral("BEGIN")))
        return 1;
    if (!write && (!query.exec(QStringLiteral("SELECT count(*) FROM gateways")) || !query.next()))
        return 1;
    say("held %d", ms);
    QThread::msleep(static_cast<unsigned long>(ms));
    query.finish();
    if (!query.exec(QStringLiteral("COMMIT")))
        return 1;
    say("released %d", ms);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    AppLogging::printTextOnly(); // as the program prints its lines
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args.at(1) == QLatin1String("save-loop"))
        return saveLoop(args.at(2), args.at(3).toInt());
    if (args.size() >= 3 && args.at(1) == QLatin1String("open-save"))
        return openSave(args.at(2), args.size() >= 4 && args.at(3) == QLatin1String("nobody"));
    if (args.size() >= 5 && args.at(1) == QLatin1String("hold"))
        return hold(args.at(2), args.at(3) == QLatin1String("write"), args.at(4).toInt());
    std::fprintf(stderr, "usage: localdatabase_child save-loop|open-save|hold ...\n");
    return 2;
}
