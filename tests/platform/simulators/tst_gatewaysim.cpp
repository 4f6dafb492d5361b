#include "platform/simulators/gateway/gatewaysim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>

using gatewaysim::Fault;
using gatewaysim::GatewayConfig;
using gatewaysim::GatewaySim;

namespace {

GatewayConfig twoStreams()
{
    GatewayConfig config;
    config.serial = "GW-1";
    config.name = "Gate one";
    config.streams = {{"GW-1-CAM1", 15551}, {"GW-1-CAM2", 15552}};
    return config;
}

// GET /streams from a simulated gateway; status -1 when nothing answered.
std::pair<int, QByteArray> fetch(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(5, 0);
    auto result = client.Get("/streams");
    if (!result)
        return {-1, {}};
    return {result->status, QByteArray::fromStdString(result->body)};
}

} // namespace

class TestGatewaySim : public QObject
{
    Q_OBJECT

private slots:
    void theSiteFileGatewaySectionIsRead()
    {
        std::vector<GatewayConfig> gateways;
        std::string error;
        QVERIFY(gatewaysim::parseSite(R"({"users": [], "gateways": [
            {"serial": "GW-1", "host": "127.0.0.1", "port": 18081,
             "streams": [{"serial": "GW-1-CAM1", "zmqPort": 15551, "video": {"width": 1280}}]},
            {"serial": "GW-2", "name": "Second", "port": 0}]})",
                                      gateways, error));
        QCOMPARE(int(gateways.size()), 2);
        QCOMPARE(gateways[0].name, std::string("GW-1"));
        QCOMPARE(gateways[0].port, 18081);
        QCOMPARE(int(gateways[0].streams.size()), 1);
        QCOMPARE(gateways[0].streams[0].zmqPort, 15551);
        QCOMPARE(gateways[1].name, std::string("Second"));
        QCOMPARE(gateways[1].host, std::string("127.0.0.1"));
        QVERIFY(gateways[1].streams.empty());

        QVERIFY(gatewaysim::parseSite(R"({"objects": []})", gateways, error));
        QVERIFY(gateways.empty());
    }

    void aBadSiteFileIsRefusedWithAReason_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addRow("not json") << QByteArray("{\"gateways\": [");
        QTest::addRow("not an object") << QByteArray("[]");
        QTest::addRow("gateways not an array") << QByteArray(R"({"gateways": {}})");
        QTest::addRow("gateway without serial") << QByteArray(R"({"gateways": [{"port": 1}]})");
        QTest::addRow("port as text") << QByteArray(R"({"gateways": [{"serial": "G", "port": "80"}]})");
        QTest::addRow("port out of range") << QByteArray(R"({"gateways": [{"serial": "G", "port": 70000}]})");
        QTest::addRow("streams not an array")
            << QByteArray(R"({"gateways": [{"serial": "G", "port": 1, "streams": 3}]})");
        QTest::addRow("stream without zmqPort")
            << QByteArray(R"({"gateways": [{"serial": "G", "port": 1, "streams": [{"serial": "S"}]}]})");
    }

    void aBadSiteFileIsRefusedWithAReason()
    {
        QFETCH(QByteArray, json);
        std::vector<GatewayConfig> gateways;
        std::string error;
        QVERIFY(!gatewaysim::parseSite(json.toStdString(), gateways, error));
        QVERIFY(!error.empty());
        QVERIFY(!gatewaysim::loadSite("/nonexistent/site.json", gateways, error));
    }

    void aGatewayAnswersWithItsStreams()
    {
        GatewaySim gateway(twoStreams());
        QVERIFY(gateway.start());
        QVERIFY(gateway.port() > 0);
        const auto [status, body] = fetch(gateway.port());
        QCOMPARE(status, 200);
        const QJsonArray top = QJsonDocument::fromJson(body).array();
        QCOMPARE(top.size(), 1);
        const QJsonObject gw = top.at(0).toObject();
        QCOMPARE(gw.value("name").toString(), QString("Gate one"));
        QCOMPARE(gw.value("serial").toString(), QString("GW-1"));
        const QJsonArray streams = gw.value("streams").toArray();
        QCOMPARE(streams.size(), 2);
        QCOMPARE(streams.at(1).toObject().value("serial").toString(), QString("GW-1-CAM2"));
        QCOMPARE(streams.at(1).toObject().value("zmq_port").toInt(), 15552);
        QCOMPARE(gateway.requestCount(), 1);

        httplib::Client client("127.0.0.1", gateway.port());
        auto other = client.Get("/other");
        QVERIFY(other);
        QCOMPARE(other->status, 404);
    }

    void faultsChangeTheAnswer()
    {
        GatewaySim gateway(twoStreams());
        QVERIFY(gateway.start());

        gateway.setFault(Fault::HttpError, 503);
        QCOMPARE(fetch(gateway.port()).first, 503);

        gateway.setFault(Fault::Malformed);
        auto answer = fetch(gateway.port());
        QCOMPARE(answer.first, 200);
        QJsonParseError parseError;
        QJsonDocument::fromJson(answer.second, &parseError);
        QVERIFY(parseError.error != QJsonParseError::NoError);

        gateway.setFault(Fault::NotArray);
        QVERIFY(QJsonDocument::fromJson(fetch(gateway.port()).second).isObject());

        gateway.setFault(Fault::WrongPortTypes);
        const QJsonArray wrong =
            QJsonDocument::fromJson(fetch(gateway.port()).second).array().at(0).toObject().value("streams").toArray();
        QCOMPARE(wrong.at(0).toObject().value("zmq_port").type(), QJsonValue::String);
        QCOMPARE(wrong.at(1).toObject().value("zmq_port").toDouble(), 15552.5);

        gateway.setFault(Fault::UnknownSerials);
        const QJsonArray unknown =
            QJsonDocument::fromJson(fetch(gateway.port()).second).array().at(0).toObject().value("streams").toArray();
        QCOMPARE(unknown.at(0).toObject().value("serial").toString(), QString("unknown-GW-1-CAM1"));

        gateway.setFault(Fault::Oversize);
        gateway.setOversizeBytes(1024 * 1024);
        answer = fetch(gateway.port());
        QVERIFY(answer.second.size() > 1024 * 1024);
        QCOMPARE(QJsonDocument::fromJson(answer.second).array().size(), 1);
    }

    void aDelayedAnswerIsCutShortByStop()
    {
        auto gateway = std::make_unique<GatewaySim>(twoStreams());
        QVERIFY(gateway->start());
        gateway->setDelay(std::chrono::milliseconds(30000));
        const int port = gateway->port();
        std::thread client([port] { fetch(port); });
        QTRY_COMPARE_WITH_TIMEOUT(gateway->requestCount(), 1, 5000);
        QElapsedTimer timer;
        timer.start();
        gateway->stop();
        client.join();
        QVERIFY(timer.elapsed() < 10000);
    }

    void theProgramServesEveryGatewayOfTheSiteFile()
    {
        QTemporaryDir dir;
        QFile site(dir.filePath("site.json"));
        QVERIFY(site.open(QIODevice::WriteOnly));
        site.write(R"({"gateways": [{"serial": "GW-A", "port": 0, "streams": [{"serial": "A1", "zmqPort": 1}]},
                                     {"serial": "GW-B", "port": 0, "streams": []}]})");
        site.close();
        QProcess program;
        program.start(QStringLiteral(QUILLON_GATEWAY_SIM), {site.fileName(), "--fault", "GW-B=not-array"});
        QVERIFY(program.waitForStarted(5000));
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (out.count('\n') < 2 && timer.elapsed() < 10000 && program.waitForReadyRead(10000))
            out += program.readAllStandardOutput();
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QRegularExpression served("^Gateway (\\S+) serving http://127.0.0.1:(\\d+)/streams");
        const auto a = served.match(QString::fromUtf8(lines.at(0)));
        const auto b = served.match(QString::fromUtf8(lines.at(1)));
        QVERIFY(a.hasMatch() && b.hasMatch());
        QCOMPARE(a.captured(1), QString("GW-A"));
        QVERIFY(QJsonDocument::fromJson(fetch(a.captured(2).toInt()).second).isArray());
        QVERIFY(QJsonDocument::fromJson(fetch(b.captured(2).toInt()).second).isObject());
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitCode(), 0);

        QProcess bad;
        bad.start(QStringLiteral(QUILLON_GATEWAY_SIM), {site.fileName(), "--fault", "GW-A=bogus"});
        QVERIFY(bad.waitForFinished(5000));
        QCOMPARE(bad.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestGatewaySim)
#include "tst_gatewaysim.moc"
