#include "objectfactory.h"
#include "platform/simulators/gateway/gatewaysim.h"
#include "repo/repoobjects.h"
#include "support/logcapture.h"

#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using ObjectList = RepoObjects::ObjectList;
using gatewaysim::Fault;
using gatewaysim::GatewayConfig;
using gatewaysim::GatewaySim;

namespace {

// A simulated gateway on 127.0.0.1 with streams S-<n>1.. S-<n>k on ports 5000+.
std::unique_ptr<GatewaySim> startGateway(const QString &serial, int streams)
{
    GatewayConfig config;
    config.serial = serial.toStdString();
    config.name = "Sim " + config.serial;
    for (int i = 1; i <= streams; ++i)
        config.streams.push_back({QStringLiteral("%1-S%2").arg(serial).arg(i).toStdString(), 5000 + i});
    auto gateway = std::make_unique<GatewaySim>(config);
    if (!gateway->start())
        return nullptr;
    return gateway;
}

// The objects the import would deliver for a simulated gateway.
ObjectList objectsFor(const GatewaySim &gateway, const QString &id)
{
    const GatewayConfig &config = gateway.config();
    auto gw = makeGateway(id, QString::fromStdString(config.serial), "127.0.0.1", gateway.port());
    ObjectList list{gw};
    int i = 0;
    for (const auto &stream : config.streams)
        list << makeStream(QStringLiteral("%1%2").arg(id).arg(++i), gw, QString::fromStdString(stream.serial));
    return list;
}

const int kWait = 10000;

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private:
    static void verifyUntouched(const ObjectList &objects)
    {
        for (const auto &object : objects) {
            QCOMPARE(object->zmqPort(), 0);
            QCOMPARE(object->sourceUrl(), QString());
        }
    }

private slots:
    void aGatewayAnswerSetsPortsAndSourceStrings()
    {
        auto gateway = startGateway("GW-A", 3);
        QVERIFY(gateway);
        RepoObjects model;
        const ObjectList objects = objectsFor(*gateway, "1");
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        LogCapture log;

        model.setObjects(objects);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Parsing streams done"), kWait);
        QCOMPARE(gateway->requestCount(), 1);

        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(objects.at(i)->zmqPort(), 5000 + i);
            QCOMPARE(objects.at(i)->sourceUrl(), QStringLiteral("zmq:tcp://127.0.0.1:%1").arg(5000 + i));
            QCOMPARE(log.count(QStringLiteral("New zmqPort: %1").arg(5000 + i)), 1);
        }
        QCOMPARE(objects.at(0)->zmqPort(), 0);

        // Each stream row announces its port exactly once.
        QMap<int, int> announcements;
        for (const auto &signal : changed) {
            QCOMPARE(signal.at(2).value<QVector<int>>(), QVector<int>{RepoObjects::ObjZmqPortRole});
            ++announcements[signal.at(0).toModelIndex().row()];
        }
        QCOMPARE(announcements, (QMap<int, int>{{1, 1}, {2, 1}, {3, 1}}));

        const QStringList texts = log.texts();
        const int got = texts.indexOf("Got results");
        QVERIFY(got >= 0);
        const QByteArray body = QByteArray::fromStdString(gatewaysim::streamsBody(gateway->config()));
        QCOMPARE(texts.value(got + 1), QStringLiteral("  Received %1 bytes of data").arg(body.size()));
        QCOMPARE(texts.value(got + 2), QString("Num of gateways: 1"));
        QCOMPARE(texts.value(got + 3), QString("  Gw: Sim GW-A"));
        QVERIFY(log.contains(QtInfoMsg, "New zmqPort: 5001"));
        QVERIFY(log.contains(QtInfoMsg, "Parsing streams done"));
    }

    void everyGatewayIsAskedWhetherActiveOrNot()
    {
        auto on = startGateway("GW-ON", 1);
        auto off = startGateway("GW-OFF", 1);
        QVERIFY(on && off);
        RepoObjects model;
        ObjectList objects = objectsFor(*on, "1");
        const ObjectList offObjects = objectsFor(*off, "2");
        offObjects.at(0)->setIsActive(false);
        objects << offObjects;
        LogCapture log;
        model.setObjects(objects);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("Parsing streams done"), 2, kWait);
        QCOMPARE(offObjects.at(1)->zmqPort(), 5001);
        QCOMPARE(on->requestCount(), 1);
        QCOMPARE(off->requestCount(), 1);
    }

    void gatewaysWithoutAddressAreNotAsked()
    {
        RepoObjects model;
        auto noHost = makeGateway("1", "GW-NOHOST", QString(), 8080);
        auto noPort = makeGateway("2", "GW-NOPORT", "127.0.0.1", 0);
        LogCapture log;
        model.setObjects({noHost, noPort});
        QVERIFY(log.contains(QtWarningMsg, "Gateway 'Gateway GW-NOHOST' doesn't have host info"));
        QVERIFY(log.contains(QtWarningMsg, "Gateway 'Gateway GW-NOPORT' doesn't have port info"));
        QTest::qWait(100);
        QVERIFY(!log.contains("Got results"));
    }

    void aFailingGatewayChangesNothing_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const QString error = QStringLiteral("Error: %1 when fetching data of Gateway GW-F");
        QTest::addRow("http 500") << int(Fault::HttpError) << 500 << error.arg(int(QNetworkReply::InternalServerError));
        QTest::addRow("http 404") << int(Fault::HttpError) << 404
                                  << error.arg(int(QNetworkReply::ContentNotFoundError));
        QTest::addRow("not json") << int(Fault::Malformed) << 0 << QStringLiteral("Num of gateways: 0");
        QTest::addRow("not an array") << int(Fault::NotArray) << 0 << QStringLiteral("Num of gateways: 0");
        QTest::addRow("wrong port types") << int(Fault::WrongPortTypes) << 0 << QStringLiteral("Parsing streams done");
        QTest::addRow("unknown serials") << int(Fault::UnknownSerials) << 0
                                         << QStringLiteral("no stream serial in registry");
        QTest::addRow("oversize") << int(Fault::Oversize) << 0 << error.arg(int(QNetworkReply::OperationCanceledError));
    }

    void aFailingGatewayChangesNothing()
    {
        QFETCH(int, fault);
        QFETCH(int, status);
        QFETCH(QString, expected);
        auto gateway = startGateway("GW-F", 4);
        QVERIFY(gateway);
        gateway->setFault(Fault(fault), status);
        RepoObjects model;
        const ObjectList objects = objectsFor(*gateway, "1");
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        LogCapture log;
        model.setObjects(objects);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(expected), kWait);
        QTest::qWait(50);
        verifyUntouched(objects);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(log.texts().filter("New zmqPort").size(), 0);
        if (Fault(fault) == Fault::UnknownSerials)
            QCOMPARE(log.count("no stream serial in registry"), 4);
        if (Fault(fault) == Fault::Oversize)
            QVERIFY(log.texts().filter("larger than").size() == 1);
    }

    void silentGatewaysTimeOut()
    {
        // Two of them: every request of an import is limited.
        auto gateway = startGateway("GW-SILENT", 2);
        auto other = startGateway("GW-MUTE", 1);
        QVERIFY(gateway && other);
        gateway->setDelay(std::chrono::milliseconds(5000));
        other->setDelay(std::chrono::milliseconds(5000));
        RepoObjects model;
        model.setDiscoveryTimeout(300);
        const ObjectList objects = objectsFor(*gateway, "1") + objectsFor(*other, "2");
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        model.setObjects(objects);
        QTRY_VERIFY_WITH_TIMEOUT(!log.texts().filter("when fetching data of Gateway GW-SILENT").isEmpty(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!log.texts().filter("when fetching data of Gateway GW-MUTE").isEmpty(), kWait);
        QVERIFY(timer.elapsed() < 4000);
        QCOMPARE(log.texts(QtWarningMsg).filter("did not answer its stream list within 300 ms").size(), 2);
        verifyUntouched(objects);
        gateway->stop();
        other->stop();
    }

    // An answer that never ends: the headers, then one byte every 100 ms, so the
    // connection is never idle for long.
    void aTricklingGatewayIsCutOffAtTheRequestLimit()
    {
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        QTimer trickle;
        QList<QTcpSocket *> sockets;
        connect(&peer, &QTcpServer::newConnection, &peer, [&] {
            QTcpSocket *socket = peer.nextPendingConnection();
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000000\r\n\r\n[");
            sockets << socket;
        });
        connect(&trickle, &QTimer::timeout, &peer, [&] {
            for (QTcpSocket *socket : qAsConst(sockets))
                socket->write(" ");
        });
        trickle.start(100);

        RepoObjects model;
        model.setDiscoveryTimeout(600);
        auto gw = makeGateway("1", "GW-TRICKLE", "127.0.0.1", peer.serverPort());
        const ObjectList objects{gw, makeStream("11", gw, "GW-TRICKLE-S1")};
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        model.setObjects(objects);
        QTRY_VERIFY_WITH_TIMEOUT(!log.texts().filter("when fetching data of Gateway GW-TRICKLE").isEmpty(), 5000);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(
            log.contains(QtWarningMsg,
                         "Gateway 'Gateway GW-TRICKLE' did not answer its stream list within 600 ms; request aborted"));
        verifyUntouched(objects);
    }

    // Gateway A answers with its own stream and with a serial of gateway B's.
    void aGatewayAnswersForItsOwnStreamsOnly()
    {
        GatewayConfig config;
        config.serial = "GW-A";
        config.streams = {{"GW-A-S1", 5001}, {"GW-B-S1", 7001}};
        GatewaySim gatewayA(config);
        QVERIFY(gatewayA.start());
        RepoObjects model;
        auto a = makeGateway("1", "GW-A", "127.0.0.1", gatewayA.port());
        auto b = makeGateway("2", "GW-B", "192.0.2.7", 0); // not asked
        auto streamA = makeStream("11", a, "GW-A-S1");
        auto streamB = makeStream("21", b, "GW-B-S1");
        LogCapture log;
        model.setObjects({a, b, streamA, streamB});
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Parsing streams done"), kWait);
        QCOMPARE(streamA->zmqPort(), 5001);
        QCOMPARE(streamB->zmqPort(), 0);
        QCOMPARE(streamB->sourceUrl(), QString());
        QVERIFY(log.contains(QtWarningMsg,
                             "Gateway 'Gateway GW-A' named 'GW-B-S1', which is not one of its streams; skipped"));
        QVERIFY(!log.contains("New zmqPort: 7001"));
    }

    void aSlowGatewayWithinTheTimeOutIsApplied()
    {
        auto gateway = startGateway("GW-SLOW", 1);
        QVERIFY(gateway);
        gateway->setDelay(std::chrono::milliseconds(300));
        RepoObjects model;
        model.setDiscoveryTimeout(5000);
        const ObjectList objects = objectsFor(*gateway, "1");
        LogCapture log;
        model.setObjects(objects);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Parsing streams done"), kWait);
        QCOMPARE(objects.at(1)->zmqPort(), 5001);
    }

    void aReplyAfterANewImportIsDropped_data()
    {
        QTest::addColumn<bool>("holdOldRows");
        QTest::addRow("old rows released") << false;
        // Something else (a window, a QML reference) still holds the replaced gateway.
        QTest::addRow("old rows still held") << true;
    }

    void aReplyAfterANewImportIsDropped()
    {
        QFETCH(bool, holdOldRows);
        auto gateway = startGateway("GW-LATE", 2);
        QVERIFY(gateway);
        gateway->setDelay(std::chrono::milliseconds(400));
        RepoObjects model;
        LogCapture log;
        ObjectList old = objectsFor(*gateway, "1");
        model.setObjects(old);
        if (!holdOldRows)
            old.clear();
        QTRY_COMPARE_WITH_TIMEOUT(gateway->requestCount(), 1, kWait);

        // The next import delivers the same streams, but no gateway to ask.
        auto gw = makeGateway("1", "GW-LATE", "127.0.0.1", 0);
        const ObjectList next{gw, makeStream("11", gw, "GW-LATE-S1"), makeStream("12", gw, "GW-LATE-S2")};
        model.clear();
        model.setObjects(next);
        QTest::qWait(1000);
        QVERIFY(!log.contains("Got results"));
        QVERIFY(!log.contains("Parsing streams done"));
        verifyUntouched(next);
        if (holdOldRows)
            verifyUntouched(old);
    }

    void parsingAppliesUsablePortsOnly_data()
    {
        QTest::addColumn<QByteArray>("port");
        QTest::addColumn<int>("expected");
        QTest::addRow("number") << QByteArray("5555") << 5555;
        QTest::addRow("number in exponent form") << QByteArray("5.555e3") << 5555;
        QTest::addRow("text") << QByteArray("\"5555\"") << 0;
        QTest::addRow("fraction") << QByteArray("5555.5") << 0;
        QTest::addRow("zero") << QByteArray("0") << 0;
        QTest::addRow("null") << QByteArray("null") << 0;
        QTest::addRow("boolean") << QByteArray("true") << 0;
        QTest::addRow("beyond 32 bits") << QByteArray("4294972851") << 0;
        QTest::addRow("negative") << QByteArray("-5") << 0;
        QTest::addRow("beyond tcp ports") << QByteArray("70000") << 0;
    }

    void parsingAppliesUsablePortsOnly()
    {
        QFETCH(QByteArray, port);
        QFETCH(int, expected);
        RepoObjects model;
        auto gw = makeGateway("1", "GW-1", "192.0.2.5", 0);
        auto stream = makeStream("11", gw, "S-1");
        model.setObjects({gw, stream});
        LogCapture log;
        model.parseStreams(R"([{"name":"g","streams":[{"serial":"S-1","zmq_port":)" + port + "}]}]", gw);
        QCOMPARE(stream->zmqPort(), expected);
        QCOMPARE(stream->sourceUrl(), expected ? QStringLiteral("zmq:tcp://192.0.2.5:%1").arg(expected) : QString());
        QCOMPARE(log.texts().filter("New zmqPort").size(), expected ? 1 : 0);
        QVERIFY(log.contains("Parsing streams done"));
    }

    void parsingTheSameBodyTwiceChangesNothingTheSecondTime()
    {
        RepoObjects model;
        auto gw = makeGateway("1", "GW-1", "192.0.2.5", 0);
        auto stream = makeStream("11", gw, "S-1");
        model.setObjects({gw, stream});
        const QByteArray body = R"([{"name":"g","streams":[{"serial":"S-1","zmq_port":5555}]}])";
        model.parseStreams(body, gw);
        QSignalSpy portChanged(stream.get(), &Object::zmqPortChanged);
        QSignalSpy sourceChanged(stream.get(), &Object::sourceUrlChanged);
        LogCapture log;
        model.parseStreams(body, gw);
        QCOMPARE(log.count("New zmqPort: 5555"), 1);
        QCOMPARE(portChanged.count(), 0);
        QCOMPARE(sourceChanged.count(), 0);
    }

    void parsingToleratesOddShapes()
    {
        RepoObjects model;
        auto gw = makeGateway("1", "GW-1", "192.0.2.5", 0);
        auto s1 = makeStream("11", gw, "S-1");
        auto s2 = makeStream("12", gw, "S-2");
        model.setObjects({gw, s1, s2});
        LogCapture log;
        // Elements that are not objects, streams that are not an array, a second
        // gateway element, an entry without serial and one naming the gateway.
        model.parseStreams(R"([1, "x", {"name":"a","streams":{"serial":"S-1"}},
                              {"name":"b","streams":[7, {"zmq_port":6001}, {"serial":"S-2","zmq_port":6002}]},
                              {"streams":[{"serial":"GW-1","zmq_port":6003}]}])",
                           gw);
        QCOMPARE(log.texts().value(0), QString("Num of gateways: 5"));
        QCOMPARE(log.count("  Gw: "), 3);
        QCOMPARE(log.count("no stream serial in registry"), 1);
        QCOMPARE(s1->zmqPort(), 0);
        QCOMPARE(s2->zmqPort(), 6002);
        // The gateway is not one of its own streams.
        QCOMPARE(gw->zmqPort(), 0);
        QVERIFY(log.contains(QtWarningMsg,
                             "Gateway 'Gateway GW-1' named 'GW-1', which is not one of its streams; skipped"));

        log.clear();
        model.parseStreams("[]", gw);
        QCOMPARE(log.texts(), QStringList({"Num of gateways: 0", "Parsing streams done"}));
    }

    void parsingForAGatewayThatIsGoneDoesNothing()
    {
        RepoObjects model;
        auto gw = makeGateway("1", "GW-1", "192.0.2.5", 0);
        auto stream = makeStream("11", gw, "S-1");
        model.setObjects({stream});
        std::weak_ptr<Object> gone = gw;
        gw.reset();
        LogCapture log;
        model.parseStreams(R"([{"streams":[{"serial":"S-1","zmq_port":5555}]}])", gone);
        QVERIFY(log.texts().isEmpty());
        QCOMPARE(stream->zmqPort(), 0);
    }

    void destroyingTheModelWithPendingRequestsIsSafe()
    {
        auto gateway = startGateway("GW-PENDING", 1);
        QVERIFY(gateway);
        gateway->setDelay(std::chrono::milliseconds(2000));
        const ObjectList objects = objectsFor(*gateway, "1");
        LogCapture log;
        {
            RepoObjects model;
            model.setObjects(objects);
            QTRY_COMPARE_WITH_TIMEOUT(gateway->requestCount(), 1, kWait);
        }
        QTest::qWait(50);
        QVERIFY(log.texts().filter("when fetching data").isEmpty());
        gateway->stop();
        verifyUntouched(objects);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
