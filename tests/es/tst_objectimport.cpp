#include "es/eventserver.h"
#include "es/korvues.h"
#include "es/objectimport.h"
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "support/logcapture.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace es = korvu::es;
using objectimport::FetchedObjects;
using objectimport::ObjectList;

Q_DECLARE_METATYPE(korvu::es::Value)

namespace {

const qint64 kRoot = 1;

struct Setting
{
    const char *name;
    es::Value value;
};

es::Object esObject(qint64 id, qint64 parent, int type, const char *name, const char *className = "",
                    const char *serial = "", std::initializer_list<Setting> settings = {})
{
    es::NameValueMap map;
    for (const Setting &setting : settings)
        map.set(setting.name, setting.value);
    return es::Object(id, parent, type, name, className, serial, map);
}

es::Value text(const char *value)
{
    return es::Value::fromString(value);
}

es::Object device(qint64 id, qint64 parent, const char *name, const char *serial, const char *host = "10.0.0.1",
                  const char *port = "8080")
{
    return esObject(id, parent, es::Object::Device, name, "gateway", serial,
                    {{"host", text(host)}, {"port", text(port)}});
}

es::Object stream(qint64 id, qint64 parent, const char *name, const char *serial, const char *url = "ref://x")
{
    return esObject(id, parent, es::Object::Stream, name, "video.fisheye.live", serial, {{"url", text(url)}});
}

es::Object container(qint64 id, qint64 parent, const char *name)
{
    return esObject(id, parent, es::Object::Container, name, "container");
}

FetchedObjects setOf(std::initializer_list<es::Object> objects)
{
    FetchedObjects set;
    for (const es::Object &object : objects)
        set.insert(object.id(), object);
    return set;
}

std::shared_ptr<Object> find(const ObjectList &list, const QString &id)
{
    for (const auto &object : list) {
        if (object->id() == id)
            return object;
    }
    return nullptr;
}

// What the walk should give, written the plain way: a scan of the whole set for the children of each
// parent, recursively. One "id parent host" line per gateway or stream: a gateway has its own host,
// a stream its gateway's.
QStringList visitsByScanning(const FetchedObjects &set, qint64 parent, const QString &parentId, const QString &host)
{
    QStringList visits;
    for (auto it = set.cbegin(); it != set.cend(); ++it) {
        if (it->parent() != parent)
            continue;
        const QString id = QString::number(it->id());
        switch (it->type()) {
        case es::Object::Container:
            visits << visitsByScanning(set, it->id(), parentId, host);
            break;
        case es::Object::Device: {
            const QString deviceHost = QString::fromStdString(it->settings().value("host").toString());
            visits << id + ' ' + parentId + ' ' + deviceHost;
            visits << visitsByScanning(set, it->id(), id, deviceHost);
            break;
        }
        case es::Object::Stream:
            visits << id + ' ' + parentId + ' ' + host;
            break;
        }
    }
    return visits;
}

QStringList visitsOf(const ObjectList &list)
{
    QStringList visits;
    for (const auto &object : list)
        visits << object->id() + ' ' + object->idParent() + ' ' + object->host();
    return visits;
}

QStringList idsOf(const ObjectList &list)
{
    QStringList ids;
    for (const auto &object : list)
        ids << object->id();
    return ids;
}

} // namespace

class TestObjectImport : public QObject
{
    Q_OBJECT

private slots:
    void theWalkFollowsDevicesAndLooksThroughContainers()
    {
        const FetchedObjects set = setOf({
            stream(2, kRoot, "Root stream", "S-ROOT", "rtsp://cam"),
            container(3, kRoot, "Building"),
            device(4, 3, "Gateway in container", "GW-4", "192.0.2.4", "8004"),
            container(5, 4, "Floor"),
            stream(6, 5, "Stream in container in device", "S-6"),
            device(7, 4, "Gateway in gateway", "GW-7", "192.0.2.7", "8007"),
            stream(8, 7, "Stream of inner gateway", "S-8"),
            stream(9, 3, "Stream in top container", "S-9"),
        });
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(list.size(), 6);

        const auto rootStream = find(list, "2");
        QVERIFY(rootStream);
        QCOMPARE(rootStream->idParent(), QString());
        QCOMPARE(rootStream->host(), QString());
        QCOMPARE(rootStream->port(), 0);
        QCOMPARE(rootStream->type(), Object::Stream);
        QCOMPARE(rootStream->serial(), QString("S-ROOT"));

        const auto gw4 = find(list, "4");
        QCOMPARE(gw4->idParent(), QString());
        QCOMPARE(gw4->type(), Object::Device);
        QCOMPARE(gw4->serial(), QString("GW-4"));
        QCOMPARE(gw4->host(), QString("192.0.2.4"));
        QCOMPARE(gw4->port(), 8004);
        QCOMPARE(gw4->url(), QString());
        QCOMPARE(gw4->sourceUrl(), QString());

        const auto s6 = find(list, "6");
        QCOMPARE(s6->idParent(), QString("4"));
        QCOMPARE(s6->host(), QString("192.0.2.4"));
        QCOMPARE(s6->port(), 8004);

        const auto gw7 = find(list, "7");
        QCOMPARE(gw7->idParent(), QString("4"));
        QCOMPARE(gw7->host(), QString("192.0.2.7"));
        QCOMPARE(gw7->port(), 8007);
        QCOMPARE(find(list, "8")->idParent(), QString("7"));
        QCOMPARE(find(list, "8")->port(), 8007);

        const auto s9 = find(list, "9");
        QCOMPARE(s9->idParent(), QString());
        QCOMPARE(s9->host(), QString());
        QVERIFY(!find(list, "3") && !find(list, "5"));
    }

    void streamsAreKeptByClassAndOtherTypesAreDropped_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("className");
        QTest::addColumn<bool>("kept");
        QTest::addRow("live") << int(es::Object::Stream) << "video.fisheye.live" << true;
        QTest::addRow("upper case") << int(es::Object::Stream) << "VIDEO.LIVE" << true;
        QTest::addRow("mixed case") << int(es::Object::Stream) << "cam.Live" << true;
        QTest::addRow("only .live") << int(es::Object::Stream) << ".live" << true;
        QTest::addRow("more after it") << int(es::Object::Stream) << "video.live.backup" << false;
        QTest::addRow("no dot") << int(es::Object::Stream) << "videolive" << false;
        QTest::addRow("archive") << int(es::Object::Stream) << "video.archive" << false;
        QTest::addRow("empty class") << int(es::Object::Stream) << "" << false;
        QTest::addRow("unknown type") << 5 << "video.live" << false;
    }

    void streamsAreKeptByClassAndOtherTypesAreDropped()
    {
        QFETCH(int, type);
        QFETCH(QString, className);
        QFETCH(bool, kept);
        const QByteArray cls = className.toUtf8();
        const FetchedObjects set = setOf({
            device(2, kRoot, "Gateway", "GW-2"),
            esObject(3, 2, type, "Candidate", cls.constData(), "S-3", {{"url", text("ref://x")}}),
            // Nothing below a stream or an object of another type is visited.
            device(4, 3, "Below", "GW-4"),
            stream(5, 3, "Below too", "S-5"),
        });
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(idsOf(list), kept ? QStringList({"2", "3"}) : QStringList({"2"}));
    }

    void fisheyeNeedsTheTextOne_data()
    {
        QTest::addColumn<es::Value>("value");
        QTest::addColumn<bool>("fisheye");
        QTest::addRow("text 1") << es::Value::fromString("1") << true;
        QTest::addRow("integer 1") << es::Value::fromInt(1) << true;
        QTest::addRow("boolean true") << es::Value::fromBool(true) << false;
        QTest::addRow("text true") << es::Value::fromString("true") << false;
        QTest::addRow("text 01") << es::Value::fromString("01") << false;
        QTest::addRow("integer 0") << es::Value::fromInt(0) << false;
        QTest::addRow("none") << es::Value() << false;
    }

    void fisheyeNeedsTheTextOne()
    {
        QFETCH(es::Value, value);
        QFETCH(bool, fisheye);
        const FetchedObjects set = setOf({esObject(2, kRoot, es::Object::Stream, "Cam", "x.live", "S-2",
                                                   {{"FishEye", value}, {"url", text("ref://a")}})});
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0)->isFisheye(), fisheye);
    }

    void aTitleInAnyCaseRenames()
    {
        const FetchedObjects set = setOf({
            esObject(2, kRoot, es::Object::Device, "Gw name", "gateway", "GW-2",
                     {{"TITLE", text("Gateway title")}, {"host", text("h")}, {"port", text("1")}}),
            esObject(3, 2, es::Object::Stream, "Cam name", "x.live", "S-3", {{"Title", text("Entrance")}}),
            esObject(4, 2, es::Object::Stream, "Kept name", "x.live", "S-4", {{"title", text("")}}),
            // A later empty title does not undo an earlier one.
            esObject(5, 2, es::Object::Stream, "Cam 5", "x.live", "S-5",
                     {{"title", text("First")}, {"TITLE", text("")}}),
        });
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(find(list, "2")->name(), QString("Gateway title"));
        QCOMPARE(find(list, "3")->name(), QString("Entrance"));
        QCOMPARE(find(list, "4")->name(), QString("Kept name"));
        QCOMPARE(find(list, "5")->name(), QString("First"));
    }

    void theSourceStringFollowsTheUrlForm_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("source");
        QTest::addRow("gateway reference") << "ref://GW-1/1"
                                           << "";
        QTest::addRow("rtsp") << "rtsp://10.0.0.9/live"
                              << "rtsp:rtsp://10.0.0.9/live";
        QTest::addRow("absolute path") << "/video/lobby.mp4"
                                       << "file:/video/lobby.mp4";
        QTest::addRow("drive letter") << "C:/video/lobby.mp4"
                                      << "file:C:/video/lobby.mp4";
        QTest::addRow("http") << "http://10.0.0.9/cam.mjpg"
                              << "uri:http://10.0.0.9/cam.mjpg";
        QTest::addRow("empty") << ""
                               << "uri:";
        QTest::addRow("upper-case RTSP") << "RTSP://x"
                                         << "uri:RTSP://x";
    }

    void theSourceStringFollowsTheUrlForm()
    {
        QFETCH(QString, url);
        QFETCH(QString, source);
        const QByteArray utf8 = url.toUtf8();
        const FetchedObjects set = setOf({stream(2, kRoot, "Cam", "S-2", utf8.constData())});
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(list.at(0)->url(), url);
        QCOMPARE(list.at(0)->sourceUrl(), source);
        // A stream without any url setting is handled like an empty one.
        const ObjectList bare =
            objectimport::walkObjects(setOf({esObject(3, kRoot, es::Object::Stream, "C", "a.live", "S-3")}), kRoot);
        QCOMPARE(bare.at(0)->url(), QString());
        QCOMPARE(bare.at(0)->sourceUrl(), QString("uri:"));
    }

    void aGatewayPortMustBeADecimalNumber_data()
    {
        QTest::addColumn<es::Value>("value");
        QTest::addColumn<int>("port");
        QTest::addRow("decimal text") << es::Value::fromString("8080") << 8080;
        QTest::addRow("integer value") << es::Value::fromInt(8081) << 8081;
        QTest::addRow("hex text") << es::Value::fromString("0x50") << 0;
        QTest::addRow("trailing letters") << es::Value::fromString("80a") << 0;
        QTest::addRow("fraction") << es::Value::fromFloat(8080.5) << 0;
        QTest::addRow("empty") << es::Value::fromString("") << 0;
        QTest::addRow("boolean") << es::Value::fromBool(true) << 0;
    }

    void aGatewayPortMustBeADecimalNumber()
    {
        QFETCH(es::Value, value);
        QFETCH(int, port);
        const FetchedObjects set =
            setOf({esObject(2, kRoot, es::Object::Device, "Gw", "gateway", "GW-2", {{"Port", value}}),
                   esObject(3, kRoot, es::Object::Device, "Gw without port", "gateway", "GW-3", {})});
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(find(list, "2")->port(), port);
        QCOMPARE(find(list, "3")->port(), 0);
        QCOMPARE(find(list, "3")->host(), QString());
    }

    void gatewaysComeFirstInNumericNameOrder()
    {
        const FetchedObjects set = setOf({
            stream(2, kRoot, "0 first stream", "S-2"),
            device(3, kRoot, "Gateway 10", "GW-10"),
            device(4, kRoot, "Gateway 9", "GW-9"),
            stream(5, kRoot, "Camera 10", "S-5"),
            stream(6, kRoot, "Camera 9", "S-6"),
            device(7, kRoot, "Gateway 100", "GW-100"),
        });
        ObjectList list = objectimport::walkObjects(set, kRoot);
        objectimport::sortObjects(list);
        QStringList names;
        for (const auto &object : list)
            names << object->name();
        QCOMPARE(names,
                 QStringList({"Gateway 9", "Gateway 10", "Gateway 100", "0 first stream", "Camera 9", "Camera 10"}));

        const QCollator collator = objectimport::nameCollator();
        QVERIFY(objectimport::objectOrder(list.at(2), list.at(3), collator));
        QVERIFY(!objectimport::objectOrder(list.at(3), list.at(2), collator));
        QVERIFY(objectimport::objectOrder(list.at(0), list.at(1), collator));
        QVERIFY(!objectimport::objectOrder(list.at(0), list.at(0), collator));
    }

    void sortingAgreesWithTheOrderRule()
    {
        // Random names with digit runs, some with leading zeros, which collate alike;
        // the fast sort must order as objectOrder does, and keep the visiting order
        // (here the id) of names that collate alike.
        QRandomGenerator random(1234);
        ObjectList list;
        for (int i = 0; i < 600; ++i) {
            auto object = std::make_shared<Object>();
            object->setId(QString::number(i));
            object->setType(random.bounded(3) == 0 ? Object::Device : Object::Stream);
            object->setName(QStringLiteral("%1 %2-%3")
                                .arg(QChar('a' + random.bounded(4)))
                                .arg(random.bounded(200), random.bounded(2) * 3, 10, QChar('0'))
                                .arg(random.bounded(20)));
            list << object;
        }
        ObjectList fast = list;
        objectimport::sortObjects(fast);
        const QCollator collator = objectimport::nameCollator();
        int alike = 0;
        for (int i = 1; i < fast.size(); ++i) {
            const auto &before = fast.at(i - 1);
            const auto &after = fast.at(i);
            QVERIFY2(!objectimport::objectOrder(after, before, collator),
                     qPrintable(before->name() + " / " + after->name()));
            if (!objectimport::objectOrder(before, after, collator)) {
                ++alike;
                QVERIFY2(before->id().toInt() < after->id().toInt(),
                         qPrintable(before->name() + " / " + after->name()));
            }
        }
        QVERIFY(alike > 0);
    }

    void walkVisitsDepthFirstInTheSetsOrder()
    {
        QRandomGenerator random(99);
        FetchedObjects set;
        QVector<qint64> parents{kRoot};
        for (qint64 id = 2; id < 3000; ++id) {
            const qint64 parent = parents.at(int(random.bounded(parents.size())));
            const int pick = int(random.bounded(10));
            const int type = pick < 2 ? es::Object::Container : pick < 4 ? es::Object::Device : es::Object::Stream;
            const QByteArray name = QByteArray::number(random.bounded(1000));
            const QByteArray host = "h" + QByteArray::number(id);
            set.insert(id, esObject(id, parent, type, name.constData(), "v.live", name.constData(),
                                    {{"host", text(host.constData())}, {"port", text("80")}}));
            if (type != es::Object::Stream)
                parents << id;
        }
        const ObjectList walked = objectimport::walkObjects(set, kRoot);
        QVERIFY(walked.size() > 1000);
        QCOMPARE(visitsOf(walked), visitsByScanning(set, kRoot, QString(), QString()));
    }

    void loopsAndDeepNestingDoNotHang()
    {
        LogCapture log;
        // An object with the root's id, parented inside the tree, would lead back to the top.
        FetchedObjects set = setOf({container(2, kRoot, "Top"), device(3, 2, "Gateway", "GW-3"),
                                    container(kRoot, 3, "Back to the top"), container(4, 4, "Own parent")});
        const ObjectList list = objectimport::walkObjects(set, kRoot);
        QCOMPARE(idsOf(list), QStringList({"3"}));
        QVERIFY(!log.texts(QtWarningMsg).isEmpty());

        FetchedObjects deep;
        const qint64 depth = 100000;
        for (qint64 id = 2; id < depth; ++id)
            deep.insert(id, container(id, id - 1, "level"));
        deep.insert(depth, stream(depth, depth - 1, "Deep", "S-DEEP"));
        const ObjectList deepList = objectimport::walkObjects(deep, kRoot);
        QCOMPARE(deepList.size(), 1);
        QCOMPARE(deepList.at(0)->serial(), QString("S-DEEP"));
    }

    void importFillsTheModelsAndRestoresSavedViews()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        EventServer server;
        RepoObjects objects;
        auto views = std::make_unique<RepoObjViews>();
        LocalDatabase database;
        database.setDataPath(dir.filePath("objects.data"));
        QVERIFY(database.open());

        const FetchedObjects set = setOf({
            device(2, kRoot, "Gateway B", "GW-B", "127.0.0.1", "0"),
            device(3, kRoot, "Gateway A", "GW-A", "127.0.0.1", "0"),
            stream(4, 2, "Cam 2", "S-4", "/video/a.mp4"),
            stream(5, 3, "Cam 1", "S-5", "/video/b.mp4"),
        });

        // A first run: switch gateway B off, store two views and an orphan one.
        {
            importObjects(set, kRoot);
            objects.setData(objects.index(1, 0), false, RepoObjects::ObjIsActiveRole);
            QVERIFY(views->appendView("Door", "S-4", 1, 2, 3, 4));
            QVERIFY(views->appendView("Door", "S-5", 5, 6, 7, 8));
            QVERIFY(views->appendView("Gone", "S-404", 0, 0, 0, 1));
            views->setData(views->index(1, 0), true, RepoObjViews::ViewIsActiveRole);
            QVERIFY(database.save());
        }

        // A restart: fresh view list, database opened again, objects fetched again.
        views.reset();
        RepoObjViews fresh;
        QVERIFY(database.open());
        QSignalSpy fetched(&server, &EventServer::fetchedObject);
        QSignalSpy resets(&objects, &QAbstractItemModel::modelReset);
        importObjects(set, kRoot);
        QCOMPARE(fetched.count(), 1);
        QCOMPARE(resets.count(), 2);

        QCOMPARE(objects.rowCount(), 4);
        QStringList names;
        for (int row = 0; row < 4; ++row)
            names << objects.data(objects.index(row, 0), RepoObjects::ObjNameRole).toString();
        QCOMPARE(names, QStringList({"Gateway A", "Gateway B", "Cam 1", "Cam 2"}));
        QCOMPARE(objects.objectsBySerial().value("GW-B")->isActive(), false);
        QCOMPARE(objects.objectsBySerial().value("GW-A")->isActive(), true);
        QCOMPARE(objects.objectsBySerial().value("S-4")->sourceUrl(), QString("file:/video/a.mp4"));

        // Both views named "Door" come back; the one of an absent stream does not.
        QCOMPARE(fresh.rowCount(), 2);
        QCOMPARE(fresh.views().at(0)->objectSerial(), QString("S-4"));
        QCOMPARE(fresh.views().at(0)->isActive(), false);
        QCOMPARE(fresh.views().at(1)->objectSerial(), QString("S-5"));
        QCOMPARE(fresh.views().at(1)->roll(), 5.0f);
        QCOMPARE(fresh.views().at(1)->isActive(), true);

        // A second fetch rebuilds the objects but adds no view twice.
        const auto before = objects.objectsBySerial().value("S-4");
        importObjects(set, kRoot);
        QCOMPARE(fetched.count(), 2);
        QCOMPARE(fresh.rowCount(), 2);
        QVERIFY(objects.objectsBySerial().value("S-4") != before);
    }

    void twoObjectsWithOneSerialBothBecomeRows()
    {
        EventServer server;
        RepoObjects objects;
        RepoObjViews views;
        importObjects(setOf({stream(2, kRoot, "One", "SAME"), stream(3, kRoot, "Two", "SAME")}), kRoot);
        QCOMPARE(objects.rowCount(), 2);
        QCOMPARE(objects.objectsBySerial().value("SAME")->name(), QString("Two"));
    }
};

QTEST_GUILESS_MAIN(TestObjectImport)
#include "tst_objectimport.moc"
