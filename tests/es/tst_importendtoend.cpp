// Sign-in, database, fetch, import and discovery together, against the simulated
// event server and simulated gateways on 127.0.0.1.
#include "app/appstate.h"
#include "app/utils.h"
#include "es/eventserver.h"
#include "platform/simulators/es/simulator.h"
#include "platform/simulators/gateway/gatewaysim.h"
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "support/logcapture.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using korvu::es::NameValueMap;
using korvu::es::Value;
using EsObject = korvu::es::Object;

class TestImportEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void signInFetchImportAndDiscoverStreams()
    {
        // Two gateways on free ports; the second one answers with an HTTP error.
        gatewaysim::GatewayConfig first;
        first.serial = "GW-1";
        first.streams = {{"GW-1-CAM1", 15551}, {"GW-1-CAM2", 15552}};
        gatewaysim::GatewayConfig second;
        second.serial = "GW-2";
        second.streams = {{"GW-2-CAM1", 15553}};
        gatewaysim::GatewaySim gw1(first), gw2(second);
        QVERIFY(gw1.start() && gw2.start());
        gw2.setFault(gatewaysim::Fault::HttpError, 503);

        essim::Site site;
        site.rootId = 1;
        site.users = {{"operator", "fisheye", 5}};
        auto device = [](int port) {
            NameValueMap settings;
            settings.set("host", Value::fromString("127.0.0.1"));
            settings.set("port", Value::fromString(std::to_string(port)));
            return settings;
        };
        auto stream = [](const char *url, const char *title) {
            NameValueMap settings;
            settings.set("url", Value::fromString(url));
            settings.set("fisheye", Value::fromString("1"));
            if (*title)
                settings.set("title", Value::fromString(title));
            return settings;
        };
        site.objects.emplace_back(100, 1, EsObject::Container, "Main building", "container", "", NameValueMap());
        site.objects.emplace_back(1001, 100, EsObject::Device, "Gateway 10", "gateway", "GW-1", device(gw1.port()));
        site.objects.emplace_back(1002, 100, EsObject::Device, "Gateway 9", "gateway", "GW-2", device(gw2.port()));
        site.objects.emplace_back(10011, 1001, EsObject::Stream, "Cam 1", "video.fisheye.live", "GW-1-CAM1",
                                  stream("ref://GW-1/1", "Entrance"));
        site.objects.emplace_back(10012, 1001, EsObject::Stream, "Cam 2", "video.fisheye.live", "GW-1-CAM2",
                                  stream("ref://GW-1/2", ""));
        site.objects.emplace_back(10021, 1002, EsObject::Stream, "Cam 3", "video.fisheye.live", "GW-2-CAM1",
                                  stream("ref://GW-2/1", ""));
        site.objects.emplace_back(10022, 1002, EsObject::Stream, "Archive", "video.archive", "GW-2-ARCHIVE",
                                  stream("ref://GW-2/9", ""));
        essim::Simulator server(site);
        std::string error;
        const int esPort = server.start("127.0.0.1", 0, &error);
        QVERIFY2(esPort > 0, error.c_str());

        QTemporaryDir dir;
        AppState state;
        Utils utils;
        EventServer connector;
        RepoObjects objects;
        RepoObjViews views;
        LocalDatabase database;
        database.setDataPath(dir.filePath("objects.data"));
        LogCapture log;

        state.setHost("127.0.0.1");
        state.setPort(esPort);
        state.setUsername("operator");
        state.setPassword("fisheye");
        QSignalSpy connected(&connector, &EventServer::connectedToEs);
        QSignalSpy loggedIn(&connector, &EventServer::loggedIn);
        QSignalSpy fetched(&connector, &EventServer::fetchedObject);
        connector.connectToES();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
        connector.login();
        QTRY_COMPARE_WITH_TIMEOUT(loggedIn.count(), 1, 10000);
        QVERIFY(state.loggedIn());
        QVERIFY(database.open());
        connector.fetchObjects();
        QTRY_COMPARE_WITH_TIMEOUT(fetched.count(), 1, 10000);

        // Gateways first in numeric order, then the live streams by name.
        QStringList names;
        for (int row = 0; row < objects.rowCount(); ++row)
            names << objects.data(objects.index(row, 0), RepoObjects::ObjNameRole).toString();
        QCOMPARE(names, QStringList({"Gateway 9", "Gateway 10", "Cam 2", "Cam 3", "Entrance"}));

        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Parsing streams done"), 10000);
        const QString error503 = QStringLiteral("Error: %1 when fetching data of Gateway 9")
                                     .arg(int(QNetworkReply::ServiceUnavailableError));
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(error503), 10000);
        const auto cam1 = objects.objectsBySerial().value("GW-1-CAM1");
        QCOMPARE(cam1->zmqPort(), 15551);
        QCOMPARE(cam1->sourceUrl(), QString("zmq:tcp://127.0.0.1:15551"));
        QCOMPARE(cam1->idParent(), QString("1001"));
        QCOMPARE(objects.objectsBySerial().value("GW-1-CAM2")->zmqPort(), 15552);
        QCOMPARE(objects.objectsBySerial().value("GW-2-CAM1")->zmqPort(), 0);
        QVERIFY(!objects.objectsBySerial().contains("GW-2-ARCHIVE"));

        // What is saved is what the streaming server will read.
        QVERIFY(views.appendView("Door", "GW-1-CAM1", 0, 10, 20, 1.5f));
        QVERIFY(database.save());
        QVERIFY(database.open());
        QCOMPARE(database.streamInfos().size(), 2);
        QCOMPARE(database.streamInfos().value("GW-1-CAM1")->url, QString("zmq:tcp://127.0.0.1:15551"));
        QCOMPARE(database.streamInfos().value("GW-1-CAM1")->serialGateway, QString("GW-1"));
        QCOMPARE(database.viewInfos().size(), 1);
        server.stop();
    }
};

QTEST_GUILESS_MAIN(TestImportEndToEnd)
#include "tst_importendtoend.moc"
