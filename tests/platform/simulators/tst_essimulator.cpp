// The site simulator's event server: site files (the shipped demo site among
// them) and the quillon-es-sim program started with its documented command.

#include "platform/esclient/esclienthelpers.h"

#include "platform/simulators/es/simulator.h"
#include "platform/simulators/es/site.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QtTest>

using namespace korvu::es;

class TestEsSimulator : public QObject
{
    Q_OBJECT

private slots:
    void demoSiteHasTwoGatewaysOfThreeFisheyeStreams()
    {
        essim::Site site;
        std::string error;
        QVERIFY2(essim::loadSiteFile(QUILLON_SITES "/demo.json", &site, &error), error.c_str());
        QCOMPARE(site.users.size(), std::size_t(2));
        int devices = 0, containers = 0, liveFisheye = 0, otherStreams = 0;
        QSet<long long> deviceIds;
        QSet<QString> serials;
        for (const Object &o : site.objects) {
            if (o.type() == Object::Device) {
                ++devices;
                deviceIds.insert(o.id());
                serials.insert(QString::fromStdString(o.toDevice().serialNumber()));
                QCOMPARE(o.settings().value("host").toString(), std::string("127.0.0.1"));
                QCOMPARE(o.settings().value("port").kind(), Value::Kind::Int);
            } else if (o.type() == Object::Container) {
                ++containers;
                QCOMPARE(o.parent(), site.rootId);
            }
        }
        for (const Object &o : site.objects) {
            if (o.type() != Object::Stream)
                continue;
            QVERIFY(deviceIds.contains(o.parent()));
            const QString className = QString::fromStdString(o.className()).toLower();
            if (className.endsWith(".live") && o.settings().value("fisheye").toString() == "1") {
                ++liveFisheye;
                serials.insert(QString::fromStdString(o.toStream().serialNumber()));
                QVERIFY(QString::fromStdString(o.settings().value("url").toString()).startsWith("ref://"));
            } else {
                ++otherStreams;
            }
        }
        QCOMPARE(devices, 2);
        QCOMPARE(containers, 1);
        QCOMPARE(liveFisheye, 6);
        QCOMPARE(otherStreams, 1);

        // The gateway section names exactly those gateways and live streams.
        QFile file(QUILLON_SITES "/demo.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray gateways = QJsonDocument::fromJson(file.readAll()).object().value("gateways").toArray();
        QCOMPARE(gateways.size(), 2);
        QSet<QString> listed;
        for (const QJsonValue &g : gateways) {
            listed.insert(g.toObject().value("serial").toString());
            for (const QJsonValue &s : g.toObject().value("streams").toArray())
                listed.insert(s.toObject().value("serial").toString());
        }
        QCOMPARE(listed, serials);
    }

    void siteFileValuesMapToKinds()
    {
        const char *json = R"({
            "users": [{"name": "u", "password": "p", "id": 3}],
            "rootId": 9,
            "gateways": [{"ignored": true}],
            "objects": [{"id": 1, "parent": 9, "type": 10, "name": "s", "className": "video.live", "serial": "S1",
                "settings": {"b": true, "i": 5, "f": 2.5, "s": "x", "n": null,
                    "forcedFloat": {"kind": "float", "value": 3}, "id": {"kind": "id", "value": 77},
                    "data": {"kind": "data", "value": "AAE="}, "date": {"kind": "date", "value": "2024-01-02"},
                    "time": {"kind": "time", "value": "03:04:05"},
                    "dateTime": {"kind": "dateTime", "value": "2024-01-02T03:04:05.600"},
                    "timestamp": {"kind": "timestamp", "value": 0}, "z": 0}}]})";
        essim::Site site;
        std::string error;
        QVERIFY2(essim::parseSite(json, &site, &error), error.c_str());
        QCOMPARE(site.rootId, 9LL);
        QCOMPARE(site.users[0].id, 3LL);
        const NameValueMap &s = site.objects.at(0).settings();
        // File order is kept.
        QCOMPARE(s.names(), (std::vector<std::string>{"b", "i", "f", "s", "n", "forcedFloat", "id", "data", "date",
                                                      "time", "dateTime", "timestamp", "z"}));
        QCOMPARE(s.value("b").kind(), Value::Kind::Bool);
        QCOMPARE(s.value("i").kind(), Value::Kind::Int);
        QCOMPARE(s.value("f").kind(), Value::Kind::Float);
        QCOMPARE(s.value("s").kind(), Value::Kind::String);
        QCOMPARE(s.value("n").kind(), Value::Kind::None);
        QCOMPARE(s.value("forcedFloat").toString(), std::string("3"));
        QCOMPARE(s.value("forcedFloat").kind(), Value::Kind::Float);
        QCOMPARE(s.value("id").kind(), Value::Kind::Id);
        QCOMPARE(s.value("data").toString(), std::string("AAE="));
        QCOMPARE(s.value("dateTime").toString(), std::string("2024-01-02T03:04:05.600"));
        QCOMPARE(s.value("timestamp").toString(), std::string("1970-01-01T00:00:00.000Z"));
    }

    void badSiteFilesAreRefusedWithTheirPlace_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("not json") << "{"
                                  << "not a JSON object";
        QTest::newRow("users not a list") << R"({"users": {}})"
                                          << "\"users\"";
        QTest::newRow("user without password") << R"({"users": [{"name": "a", "id": 1}]})"
                                               << "users[0]";
        QTest::newRow("object without id") << R"({"objects": [{"parent": 1, "type": 2}]})"
                                           << "objects[0]";
        QTest::newRow("id as text") << R"({"objects": [{"id": "1", "parent": 1, "type": 2}]})"
                                    << "\"id\"";
        QTest::newRow("bad kind value")
            << R"({"objects": [{"id": 1, "parent": 1, "type": 2, "settings": {"d": {"kind": "date", "value": "x"}}}]})"
            << "setting \"d\"";
        QTest::newRow("settings as list") << R"({"objects": [{"id": 1, "parent": 1, "type": 2, "settings": []}]})"
                                          << "\"settings\"";
        QTest::newRow("rootId as text") << R"({"rootId": "1"})"
                                        << "rootId";
    }

    void badSiteFilesAreRefusedWithTheirPlace()
    {
        QFETCH(QString, json);
        QFETCH(QString, mentions);
        essim::Site site;
        std::string error;
        QVERIFY(!essim::parseSite(json.toStdString(), &site, &error));
        QVERIFY2(QString::fromStdString(error).contains(mentions), error.c_str());
        QVERIFY(!essim::loadSiteFile("/nonexistent/site.json", &site, &error));
    }

    void listeningOnABusyPortFails()
    {
        essim::Simulator first, second;
        const int port = first.start();
        QVERIFY(port > 0);
        std::string error;
        QCOMPARE(second.start("127.0.0.1", port, &error), 0);
        QVERIFY(!error.empty());
        QCOMPARE(second.start("not-an-address", 0, &error), 0);
    }

    void programServesTheDemoSiteWithOneCommand()
    {
        QProcess sim;
        sim.start(QUILLON_ES_SIM, {"--site", QUILLON_SITES "/demo.json", "--listen", "127.0.0.1", "--port", "0"});
        QVERIFY(sim.waitForStarted(5000));
        QVERIFY(sim.waitForReadyRead(5000));
        const QString line = QString::fromUtf8(sim.readLine()).trimmed();
        const QRegularExpression re("serving 10 objects and 2 users of .*demo.json on 127.0.0.1:(\\d+)$");
        const auto match = re.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int port = match.captured(1).toInt();

        Recorder events;
        Context context{Logger(), ContextOptions()};
        Connection connection(ConnectionCallbacks(), context);
        Client client(ClientCallbacks(), connection);
        connection.open(
            "127.0.0.1", port, [&] { events.add("opened"); },
            [&](const ConnectionError &e) { events.add("openError " + describe(e)); });
        QVERIFY(events.waitFor(1));
        client.signIn(
            "operator", "fisheye", [&](long long id) { events.add("signedIn " + std::to_string(id)); },
            [&](const HandlerError &e) { events.add("signInError " + describe(e)); });
        client.getObjects(
            [&](const std::vector<Object> &objects, long long rootId) {
                events.add("objects " + std::to_string(objects.size()) + " root " + std::to_string(rootId));
            },
            [&](const HandlerError &e) { events.add("objectsError " + describe(e)); });
        QVERIFY(events.waitFor(3));
        QCOMPARE(events.entries(), (std::vector<std::string>{"opened", "signedIn 2", "objects 10 root 1"}));

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    void programRejectsBadCommands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no site") << QStringList{"--port", "0"} << 2;
        QTest::newRow("unknown option") << QStringList{"--site", QUILLON_SITES "/demo.json", "--bogus"} << 2;
        QTest::newRow("port not a number") << QStringList{"--site", QUILLON_SITES "/demo.json", "--port", "x"} << 2;
        QTest::newRow("missing site file") << QStringList{"--site", "/nonexistent.json", "--port", "0"} << 1;
        QTest::newRow("bad address") << QStringList{"--site", QUILLON_SITES "/demo.json", "--listen", "nowhere"} << 1;
    }

    void programRejectsBadCommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QProcess sim;
        sim.start(QUILLON_ES_SIM, arguments);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), exitCode);
        QVERIFY(!sim.readAllStandardError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEsSimulator)
#include "tst_essimulator.moc"
