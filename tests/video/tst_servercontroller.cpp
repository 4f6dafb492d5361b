// Save, then start: the server starts only on a file that was written, a refused or failed save is
// said and starts nothing; and after a save every stored view is listed with why it is not served.
#include "../repo/objectfactory.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "video/processmanager.h"
#include "video/servercontroller.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kWaitMs = 10000;

// One gateway with one fisheye stream whose lens is set, in the models and in objects.data.
struct Site
{
    QTemporaryDir dir;
    RepoObjects objects;
    RepoObjViews views;
    LocalDatabase database;

    Site() { database.setDataPath(dir.filePath(QStringLiteral("objects.data"))); }

    void fill()
    {
        auto gateway = makeGateway("100", "GW-1", "10.0.0.1", 8080);
        auto stream = makeStream("101", gateway, "S-1");
        stream->setSourceUrl("zmq:tcp://10.0.0.1:5555");
        stream->setIsFisheye(true);
        stream->setRadius(500);
        stream->setFov(180.0f);
        objects.setObjects({gateway, stream});
        views.appendView(QStringLiteral("Door"), QStringLiteral("S-1"), 0, 0, 0, 90);
    }
};

LocalDatabase::Snapshot goodRows()
{
    LocalDatabase::Snapshot rows;
    rows.gateways = {{QStringLiteral("GW-1"), QStringLiteral("10.0.0.1"), 8080, true}};
    StreamInfo stream;
    stream.serialGateway = QStringLiteral("GW-1");
    stream.serial = QStringLiteral("S-1");
    stream.url = QStringLiteral("zmq:tcp://10.0.0.1:5555");
    stream.isFisheye = true;
    stream.radius = 500;
    stream.fov = 180.0f;
    stream.isActive = true;
    rows.streams = {stream};
    rows.views = {{QStringLiteral("S-1"), QStringLiteral("Door"), 0, 0, 0, 90, true, QStringLiteral("perspective"), QString()}};
    return rows;
}

} // namespace

class TestServerController : public QObject
{
    Q_OBJECT

private slots:
    void eachViewSaysWhyItIsNotServed_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::newRow("served") << ""
                                << "";
        QTest::newRow("view not ticked") << "view off"
                                         << "view not ticked";
        QTest::newRow("stream switched off") << "stream off"
                                             << "its stream is switched off";
        QTest::newRow("gateway switched off") << "gateway off"
                                              << "its gateway is switched off";
        QTest::newRow("stream without address") << "no stream row"
                                                << "its stream has no address yet";
        QTest::newRow("lens not set") << "no radius"
                                      << "the lens of its stream is not set";
        QTest::newRow("no field of view") << "no fov"
                                          << "the lens of its stream is not set";
        QTest::newRow("not a fisheye") << "not fisheye"
                                       << "its stream is not a fisheye stream";
        QTest::newRow("zoom out of range") << "zoom 180"
                                           << "its zoom is not between 0 and 180 degrees";
        // The view's own switch is named first: it is the one the operator looks at.
        QTest::newRow("view and gateway off") << "view off, gateway off"
                                              << "view not ticked";
    }

    void eachViewSaysWhyItIsNotServed()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        LocalDatabase::Snapshot rows = goodRows();
        if (change.contains("view off"))
            rows.views[0].isActive = false;
        if (change.contains("stream off"))
            rows.streams[0].isActive = false;
        if (change.contains("gateway off"))
            rows.gateways[0].isActive = false;
        if (change.contains("no stream row"))
            rows.streams.clear();
        if (change.contains("no radius"))
            rows.streams[0].radius = 0;
        if (change.contains("no fov"))
            rows.streams[0].fov = 0.0f;
        if (change.contains("not fisheye"))
            rows.streams[0].isFisheye = false;
        if (change.contains("zoom 180"))
            rows.views[0].zoom = 180.0f;
        const auto entries = ServerController::viewsToServe(rows);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.at(0).viewName, QStringLiteral("Door"));
        QCOMPARE(entries.at(0).reason, reason);
    }

    void theModelListsAddressesCountsAndFilters()
    {
        QVector<ServedViewsModel::Entry> entries;
        for (int i = 0; i < 300; ++i)
            entries.append({QStringLiteral("S-%1").arg(i % 3), QStringLiteral("View %1").arg(i),
                            i % 2 ? QStringLiteral("view not ticked") : QString(), QString(), 0, QString()});
        ServedViewsModel model;
        model.setPendingReason(QStringLiteral("waiting"));
        model.setEntries(entries);
        QCOMPARE(model.viewCount(), 300);
        QCOMPARE(model.servedCount(), 0);

        ServerStatus status;
        for (int i = 0; i < 300; i += 2)
            status.views.append({QStringLiteral("S-%1").arg(i % 3), QStringLiteral("View %1").arg(i),
                                 QStringLiteral("rtsp://h:1/S/%1").arg(i), false, 0, 0, 0.0, QString()});
        // A view the server lists but the file does not hold is not counted.
        status.views.append({QStringLiteral("S-9"), QStringLiteral("Elsewhere"), QStringLiteral("rtsp://h:1/x"), false,
                             0, 0, 0.0, QString()});
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.applyStatus(status, {});
        QCOMPARE(model.servedCount(), 150);
        // One change for the rows that changed, no reset: the list keeps its place and its rows.
        QCOMPARE(changed.count(), 1);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(model.data(model.index(0), ServedViewsModel::AddressRole).toString(),
                 QStringLiteral("rtsp://h:1/S/0"));
        QCOMPARE(model.data(model.index(1), ServedViewsModel::ReasonRole).toString(),
                 QStringLiteral("view not ticked"));
        model.applyStatus(status, {});
        QCOMPARE(changed.count(), 1);

        model.setFilterText(QStringLiteral("view 29"));
        QCOMPARE(model.count(), 11); // 29 and 290..299
        model.setFilterText(QStringLiteral("s-1"));
        QCOMPARE(model.count(), 100);
        model.setFilterText(QString());
        QCOMPARE(model.count(), 300);
        model.clearServed();
        QCOMPARE(model.servedCount(), 0);
        QCOMPARE(model.data(model.index(0), ServedViewsModel::ReasonRole).toString(), QStringLiteral("waiting"));
    }

    void startSavesFirstThenStartsTheServer()
    {
        Site site;
        site.fill();
        QVERIFY(site.database.open());
        ProcessManager process;
        process.setProgram(QStringLiteral("/bin/sleep"));
        process.setArguments({QStringLiteral("30")});
        ServerController controller;
        controller.setDatabase(&site.database);
        controller.setProcessManager(&process);
        QSignalSpy failed(&controller, &ServerController::failed);
        int savedWhenStarted = -1;
        connect(&process, &ProcessManager::started, this,
                [&] { savedWhenStarted = site.database.savedRows().views.size(); });

        controller.start();
        QVERIFY(controller.isBusy());
        QVERIFY(!process.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(process.isRunning(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(savedWhenStarted, 1, kWaitMs);
        QVERIFY(!controller.isBusy());
        QTRY_COMPARE_WITH_TIMEOUT(controller.views()->viewCount(), 1, kWaitMs);
        QCOMPARE(failed.count(), 0);
        controller.stop();
        QTRY_VERIFY_WITH_TIMEOUT(process.status() == ProcessManager::Stopped, kWaitMs);
    }

    void aRefusedSaveStartsNothingAndSaysWhy_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("why");
        // Never opened: the stored rows were not read, and a save would replace them.
        QTest::newRow("never opened") << "" << "Not saved: objects.data is not open";
        QTest::newRow("newer file, read-only")
            << "newer" << "Not saved: this session is read-only: objects.data was written by a newer Quillon";
    }

    void aRefusedSaveStartsNothingAndSaysWhy()
    {
        QFETCH(QString, file);
        QFETCH(QString, why);
        Site site;
        site.fill();
        if (file == "newer") {
            QVERIFY(site.database.open());
            QVERIFY(site.database.save());
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
                db.setDatabaseName(site.database.dataPath());
                QVERIFY(db.open() && QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 99")));
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("newer"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^objects.data was written by a newer")));
            QVERIFY(!site.database.open());
            // What the operator chose: go on without saving; the stored rows are still read.
            QVERIFY(site.database.openReadOnly());
            QVERIFY(site.database.isReadOnly());
            QVERIFY(site.database.gatewayInfos().contains(QStringLiteral("GW-1")));
        }
        ProcessManager process;
        process.setProgram(QStringLiteral("/bin/sleep"));
        process.setArguments({QStringLiteral("30")});
        ServerController controller;
        controller.setDatabase(&site.database);
        controller.setProcessManager(&process);
        QSignalSpy failed(&controller, &ServerController::failed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Error: ")));
        controller.start();
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.at(0).at(0).toString().startsWith(why), qPrintable(failed.at(0).at(0).toString()));
        QVERIFY(!controller.isBusy());
        QTest::qWait(200);
        QVERIFY(!process.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestServerController)

#include "tst_servercontroller.moc"
