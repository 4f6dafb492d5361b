// The client library against the simulated event server on 127.0.0.1: opening,
// signing in, fetching, notifications, connection loss and hostile peers.

#include "esclienthelpers.h"

#include "platform/esclient/wire.h"
#include "platform/simulators/es/simulator.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <atomic>

using namespace korvu::es;

namespace {

essim::Site smallSite()
{
    essim::Site site;
    site.rootId = 1;
    site.users = {{"admin", "s3cret-pw", 7}, {"other", "pw2", 8}};
    NameValueMap device;
    device.set("host", Value::fromString("127.0.0.1"));
    device.set("port", Value::fromInt(18081));
    site.objects.emplace_back(10, 1, Object::Device, "Gateway", "gateway", "GW-1", device);
    NameValueMap stream;
    stream.set("url", Value::fromString("ref://GW-1/1"));
    stream.set("fisheye", Value::fromString("1"));
    stream.set("flag", Value::fromBool(true));
    stream.set("ratio", Value::fromFloat(0.25));
    stream.set("none", Value());
    stream.set("ref", Value::fromId(99));
    stream.set("blob", Value::fromData({0, 1, 2, 255}));
    stream.set("day", Value::fromDate({2024, 2, 29}));
    stream.set("at", Value::fromTime({23, 59, 58, 7}));
    stream.set("when", Value::fromDateTime({{2023, 12, 31}, {1, 2, 3, 0}}));
    stream.set("stamp", Value::fromTimestamp(1700000000123LL));
    stream.set("Title", Value::fromString("Entrance \xc3\xa9"));
    site.objects.emplace_back(11, 10, Object::Stream, "cam1", "video.live", "GW-1-CAM1", stream);
    site.objects.emplace_back(12, 1, Object::Container, "Box", "container", "", NameValueMap());
    // The same id again, later in the set.
    site.objects.emplace_back(11, 10, Object::Stream, "cam1 again", "video.live", "GW-1-CAM1B", NameValueMap());
    return site;
}

// One connection with its context and client, recording everything that comes back.
struct Link
{
    explicit Link(const ContextOptions &options = fastOptions())
    {
        Logger logger([this](const std::string &line, LogLevel) { logLines.add(line); }, LogLevel::Debug);
        context = Context(logger, options);
        ConnectionCallbacks cc;
        cc.onStateChanged = [this](Connection::State n, Connection::State o) {
            events.add("state " + std::to_string(int(n)) + "<-" + std::to_string(int(o)));
        };
        cc.onError = [this](const ConnectionError &e) { events.add("connectionError " + describe(e)); };
        connection = Connection(cc, context);
        ClientCallbacks kc;
        kc.onObjectsChanged = [this] { events.add("objectsChanged"); };
        kc.onEvent = [this](const Event &e) { events.add("event " + std::to_string(e.id) + " " + e.text); };
        kc.onEventUpdated = [this](const Event &e) { events.add("eventUpdated " + std::to_string(e.id)); };
        kc.onObjectStateChanged = [this](long long id, ValuePtr v) {
            events.add("state of " + std::to_string(id) + " " + v->toString());
        };
        kc.onObjectValueChanged = [this](long long id, ValuePtr v) {
            events.add("value of " + std::to_string(id) + " " + v->toString());
        };
        client = Client(kc, connection);
    }

    static ContextOptions fastOptions()
    {
        ContextOptions o;
        o.connectTimeoutMs = 2000;
        o.heartbeatIntervalMs = 100;
        o.heartbeatTimeoutMs = 1500;
        return o;
    }

    void open(int port, const std::string &host = "127.0.0.1")
    {
        connection.open(
            host, port, [this] { events.add("opened"); },
            [this](const ConnectionError &e) { events.add("openError " + describe(e)); });
    }

    void signIn(const std::string &user, const std::string &password)
    {
        client.signIn(
            user, password, [this](long long id) { events.add("signedIn " + std::to_string(id)); },
            [this](const HandlerError &e) { events.add("signInError " + describe(e)); });
    }

    void getObjects()
    {
        client.getObjects(
            [this](const std::vector<Object> &list, long long rootId) {
                objects = list;
                events.add("objects " + std::to_string(list.size()) + " root " + std::to_string(rootId));
            },
            [this](const HandlerError &e) { events.add("objectsError " + describe(e)); });
    }

    Recorder events;
    Recorder logLines;
    std::vector<Object> objects;
    Context context;
    Connection connection;
    Client client;
};

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

class TestEsClient : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sim = std::make_unique<essim::Simulator>(smallSite());
        m_port = m_sim->start();
        QVERIFY(m_port > 0);
    }
    void cleanup() { m_sim.reset(); }

    void openReportsConnectedStateBeforeSuccess()
    {
        Link link;
        QCOMPARE(int(link.connection.state()), 0);
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        QCOMPARE(link.events.entries(), (std::vector<std::string>{"state 2<-0", "opened"}));
        QCOMPARE(int(link.connection.state()), 2);
        // Every callback ran on the library's thread, not on ours.
        for (const auto &id : link.events.threads())
            QVERIFY(id != std::this_thread::get_id());
    }

    void openFailuresLeaveStateDisconnected_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("code");
        QTest::newRow("nothing listens") << "127.0.0.1" << closedPort() << int(ErrorCode::ConnectionRefused);
        QTest::newRow("empty host") << "" << 1234 << int(ErrorCode::InvalidArgument);
        QTest::newRow("port zero") << "127.0.0.1" << 0 << int(ErrorCode::InvalidArgument);
        QTest::newRow("port too large") << "127.0.0.1" << 70000 << int(ErrorCode::InvalidArgument);
    }

    void openFailuresLeaveStateDisconnected()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(int, code);
        Link link;
        link.open(port, host.toStdString());
        QVERIFY(link.events.waitFor(1));
        QThread::msleep(50);
        const auto entries = link.events.entries();
        QCOMPARE(entries.size(), std::size_t(1));
        QVERIFY2(startsWith(entries[0], "openError " + std::to_string(code) + ":"), entries[0].c_str());
        QCOMPARE(int(link.connection.state()), 0);
    }

    void silentHostTimesOutWithinConnectTimeout()
    {
        // Accepts TCP connections (the kernel does) but never says a word.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        ContextOptions options = Link::fastOptions();
        options.connectTimeoutMs = 300;
        Link link(options);
        QElapsedTimer timer;
        timer.start();
        link.open(silent.serverPort());
        QVERIFY(link.events.waitFor(1, 5000));
        QVERIFY(timer.elapsed() >= 250);
        QCOMPARE(link.events.entries().size(), std::size_t(1));
        QVERIFY2(startsWith(link.events.entries()[0], "openError " + std::to_string(ErrorCode::ConnectTimeout)),
                 link.events.entries()[0].c_str());
        QCOMPARE(int(link.connection.state()), 0);
    }

    void silentSimulatorTimesOutToo()
    {
        m_sim->setSilent(true);
        ContextOptions options = Link::fastOptions();
        options.connectTimeoutMs = 300;
        Link link(options);
        link.open(m_port);
        QVERIFY(link.events.waitFor(1, 5000));
        QVERIFY(startsWith(link.events.entries()[0], "openError " + std::to_string(ErrorCode::ConnectTimeout)));
    }

    void refusedHandshakeCarriesServerCodeAndMessage_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("with message") << "Licence limit reached";
        QTest::newRow("empty message") << "";
    }

    void refusedHandshakeCarriesServerCodeAndMessage()
    {
        QFETCH(QString, message);
        m_sim->setRefuseConnections(true, 4711, message.toStdString());
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(1));
        QCOMPARE(link.events.entries()[0], "openError 4711:" + message.toStdString());
        QCOMPARE(int(link.connection.state()), 0);
        // Opening again once the server accepts works on the same handle.
        m_sim->setRefuseConnections(false);
        link.open(m_port);
        QVERIFY(link.events.waitFor(3));
        QCOMPARE(link.events.entries()[2], std::string("opened"));
    }

    void openingAnOpenConnectionFails()
    {
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.open(m_port);
        QVERIFY(link.events.waitFor(3));
        QVERIFY(startsWith(link.events.entries()[2], "openError " + std::to_string(ErrorCode::AlreadyOpen)));
        QCOMPARE(int(link.connection.state()), 2);
    }

    void signInOutcomes_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        QTest::newRow("right password") << "admin"
                                        << "s3cret-pw"
                                        << "signedIn 7";
        QTest::newRow("other user") << "other"
                                    << "pw2"
                                    << "signedIn 8";
        QTest::newRow("wrong password") << "admin"
                                        << "nope"
                                        << "signInError 401:Invalid user name or password";
        QTest::newRow("unknown user") << "ghost"
                                      << "s3cret-pw"
                                      << "signInError 401:Invalid user name or password";
    }

    void signInOutcomes()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn(user.toStdString(), password.toStdString());
        QVERIFY(link.events.waitFor(3));
        QCOMPARE(link.events.entries()[2], expected.toStdString());
        QCOMPARE(link.client.userId(), expected.startsWith("signedIn") ? expected.mid(9).toLongLong() : 0LL);
    }

    void rejectedSignInPassesCodeAndEmptyMessage()
    {
        m_sim->setSignInRejection(true, 77, "");
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(3));
        QCOMPARE(link.events.entries()[2], std::string("signInError 77:"));
    }

    void passwordNeverReachesTheLog()
    {
        std::vector<std::string> simLines;
        std::mutex simMutex;
        m_sim->setLogger([&](const std::string &line) {
            std::lock_guard<std::mutex> lock(simMutex);
            simLines.push_back(line);
        });
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        link.signIn("admin", "wrong-pw-123");
        QVERIFY(link.events.waitFor(4));
        const auto lines = link.logLines.entries();
        QVERIFY(lines.size() >= 3); // connecting, connected, signing in
        bool sawSignIn = false;
        for (const auto &line : lines) {
            QVERIFY2(line.find("s3cret-pw") == std::string::npos, line.c_str());
            QVERIFY2(line.find("wrong-pw-123") == std::string::npos, line.c_str());
            sawSignIn = sawSignIn || line.find("admin") != std::string::npos;
        }
        QVERIFY(sawSignIn);
        m_sim->setLogger(nullptr);
        std::lock_guard<std::mutex> lock(simMutex);
        QVERIFY(!simLines.empty());
        for (const auto &line : simLines) {
            QVERIFY2(line.find("s3cret-pw") == std::string::npos, line.c_str());
            QVERIFY2(line.find("wrong-pw-123") == std::string::npos, line.c_str());
        }
    }

    void requestsNeedAnOpenConnection()
    {
        Link link;
        link.signIn("admin", "s3cret-pw");
        link.getObjects();
        QVERIFY(link.events.waitFor(2));
        const std::string code = std::to_string(ErrorCode::NotConnected);
        QVERIFY(startsWith(link.events.entries()[0], "signInError " + code));
        QVERIFY(startsWith(link.events.entries()[1], "objectsError " + code));
    }

    void objectSetArrivesWholeInServerOrderWithEveryValueKind()
    {
        m_sim->setObjectsPerFrame(1); // several frames for one reply
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        link.getObjects();
        QVERIFY(link.events.waitFor(4));
        QCOMPARE(link.events.entries()[3], std::string("objects 4 root 1"));
        const auto &objects = link.objects;
        QCOMPARE(objects[0].id(), 10LL);
        QCOMPARE(objects[0].type(), Object::Device);
        QCOMPARE(objects[0].toDevice().serialNumber(), std::string("GW-1"));
        QCOMPARE(objects[0].settings().value("port").toString(), std::string("18081"));
        QCOMPARE(objects[0].settings().value("port").kind(), Value::Kind::Int);
        QCOMPARE(objects[1].parent(), 10LL);
        QCOMPARE(objects[1].className(), std::string("video.live"));
        QCOMPARE(objects[1].toStream().serialNumber(), std::string("GW-1-CAM1"));
        QVERIFY(objects[1].toDevice().isNull());
        const NameValueMap &s = objects[1].settings();
        QCOMPARE(s.names(), (std::vector<std::string>{"url", "fisheye", "flag", "ratio", "none", "ref", "blob", "day",
                                                      "at", "when", "stamp", "Title"}));
        QCOMPARE(s.value("flag").toString(), std::string("true"));
        QCOMPARE(s.value("ratio").toString(), std::string("0.25"));
        QCOMPARE(s.value("none").kind(), Value::Kind::None);
        QCOMPARE(s.value("ref").toString(), std::string("99"));
        QCOMPARE(s.value("blob").toString(), std::string("AAEC/w=="));
        QCOMPARE(s.value("day").toString(), std::string("2024-02-29"));
        QCOMPARE(s.value("at").toString(), std::string("23:59:58.007"));
        QCOMPARE(s.value("when").toString(), std::string("2023-12-31T01:02:03"));
        QCOMPARE(s.value("stamp").toString(), std::string("2023-11-14T22:13:20.123Z"));
        QCOMPARE(s.value("Title").toString(), std::string("Entrance \xc3\xa9"));
        QCOMPARE(objects[2].type(), Object::Container);
        // A repeated id comes through as sent, later object last.
        QCOMPARE(objects[3].id(), 11LL);
        QCOMPARE(objects[3].name(), std::string("cam1 again"));
    }

    void fetchFailuresCarryCodeAndMessage()
    {
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.getObjects(); // not signed in
        QVERIFY(link.events.waitFor(3));
        QCOMPARE(link.events.entries()[2], std::string("objectsError 403:Sign in first"));
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(4));
        m_sim->setGetObjectsFailure(true, 500, "Database offline");
        link.getObjects();
        QVERIFY(link.events.waitFor(5));
        QCOMPARE(link.events.entries()[4], std::string("objectsError 500:Database offline"));
        QCOMPARE(int(link.connection.state()), 2);
    }

    void peerCloseReportsDisconnectedAndFailsPendingRequests()
    {
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(3));
        m_sim->setReplyDelay(2000);
        link.getObjects();
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->connectionCount(), 1, 2000);
        QThread::msleep(100); // the request is on its way
        m_sim->dropConnections();
        QVERIFY(link.events.waitFor(6));
        const auto e = link.events.entries();
        const std::string lost = std::to_string(ErrorCode::ConnectionLost);
        QCOMPARE(e[3], std::string("state 0<-2"));
        QVERIFY2(startsWith(e[4], "connectionError " + lost), e[4].c_str());
        QVERIFY2(startsWith(e[5], "objectsError " + lost), e[5].c_str());
        QCOMPARE(int(link.connection.state()), 0);
        QCOMPARE(link.client.userId(), 0LL);
    }

    void missingHeartbeatReportsDisconnected()
    {
        ContextOptions options = Link::fastOptions();
        options.heartbeatIntervalMs = 50;
        options.heartbeatTimeoutMs = 300;
        Link link(options);
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        QThread::msleep(500); // pongs keep it alive meanwhile
        QCOMPARE(int(link.connection.state()), 2);
        m_sim->setSilent(true);
        QVERIFY(link.events.waitFor(4, 3000));
        QCOMPARE(link.events.entries()[2], std::string("state 0<-2"));
        QVERIFY(startsWith(link.events.entries()[3], "connectionError " + std::to_string(ErrorCode::ConnectionLost)));
    }

    void closingMidReplyFailsTheFetch()
    {
        m_sim->setObjectsPerFrame(1);
        m_sim->setDropAfterObjectFrames(2);
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(3));
        link.getObjects();
        QVERIFY(link.events.waitFor(6));
        const auto e = link.events.entries();
        QCOMPARE(e[3], std::string("state 0<-2"));
        QVERIFY(startsWith(e[5], "objectsError " + std::to_string(ErrorCode::ConnectionLost)));
        QVERIFY(link.objects.empty());
    }

    void hostilePeerEndsTheConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<int>("code");
        auto frame = [](const std::string &payload) {
            const std::string f = wire::encodeFrame(payload);
            return QByteArray(f.data(), int(f.size()));
        };
        QTest::newRow("not json") << frame("hello there") << false << int(ErrorCode::ProtocolError);
        QTest::newRow("json array") << frame("[1,2,3]") << false << int(ErrorCode::ProtocolError);
        QTest::newRow("no type") << frame("{\"x\":1}") << false << int(ErrorCode::ProtocolError);
        QTest::newRow("reply without id")
            << frame("{\"t\":\"reply\",\"ok\":true}") << false << int(ErrorCode::ProtocolError);
        QTest::newRow("empty frame") << QByteArray(4, '\0') << false << int(ErrorCode::ProtocolError);
        QTest::newRow("oversized frame") << QByteArray("\xff\xff\xff\xf0", 4) << false << int(ErrorCode::FrameTooLarge);
        QTest::newRow("truncated frame") << QByteArray("\x00\x00\x01\x00{\"t\":", 9) << true
                                         << int(ErrorCode::ConnectionLost);
        QTest::newRow("invalid utf-8") << frame("{\"t\":\"\xff\xfe\"}") << false << int(ErrorCode::ProtocolError);
    }

    void hostilePeerEndsTheConnection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, closeAfter);
        QFETCH(int, code);
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(3));
        m_sim->setReplyDelay(5000);
        link.getObjects(); // waits in vain: the garbage comes first
        QThread::msleep(50);
        m_sim->sendRaw(bytes.toStdString());
        if (closeAfter) {
            QThread::msleep(100);
            m_sim->dropConnections();
        }
        QVERIFY(link.events.waitFor(6));
        const auto e = link.events.entries();
        QCOMPARE(e[3], std::string("state 0<-2"));
        QVERIFY2(startsWith(e[4], "connectionError " + std::to_string(code) + ":"), e[4].c_str());
        QVERIFY2(startsWith(e[5], "objectsError " + std::to_string(code) + ":"), e[5].c_str());
    }

    void notificationsReachClientCallbacks()
    {
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(3));
        m_sim->sendObjectsChanged();
        m_sim->sendEvent(Event{5, 11, 3, 1700000000000LL, "Motion"});
        m_sim->sendEvent(Event{5, 11, 3, 1700000000001LL, "Motion"}, true);
        m_sim->sendObjectValue(11, Value::fromFloat(1.5));
        m_sim->sendObjectValue(10, Value::fromBool(false), true);
        QVERIFY(link.events.waitFor(8));
        QCOMPARE(link.events.entries(),
                 (std::vector<std::string>{"state 2<-0", "opened", "signedIn 7", "objectsChanged", "event 5 Motion",
                                           "eventUpdated 5", "value of 11 1.5", "state of 10 false"}));
    }

    void cancelledRequestNeverCallsBack()
    {
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        m_sim->setReplyDelay(200);
        Request request = link.client.signIn(
            "admin", "s3cret-pw", [&](long long) { link.events.add("signedIn"); },
            [&](const HandlerError &) { link.events.add("signInError"); });
        QVERIFY(request.isPending());
        request.cancel();
        QVERIFY(!request.isPending());
        link.signIn("admin", "s3cret-pw");
        QVERIFY(link.events.waitFor(3));
        QThread::msleep(100);
        QCOMPARE(link.events.entries().size(), std::size_t(3));
        QCOMPARE(link.events.entries()[2], std::string("signedIn 7"));
    }

    void releasingHandlesWithARequestInFlightCallsNothingBack()
    {
        auto calls = std::make_shared<std::atomic<int>>(0);
        {
            Link link;
            link.open(m_port);
            QVERIFY(link.events.waitFor(2));
            m_sim->setReplyDelay(300);
            link.client.signIn(
                "admin", "s3cret-pw", [calls](long long) { ++*calls; }, [calls](const HandlerError &) { ++*calls; });
            link.client.getObjects([calls](const std::vector<Object> &, long long) { ++*calls; },
                                   [calls](const HandlerError &) { ++*calls; });
            // `link` goes here, with both requests unanswered.
        }
        QThread::msleep(600);
        QCOMPARE(calls->load(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->connectionCount(), 0, 2000);
    }

    void releasingTheLastHandleInsideACallbackIsSafe()
    {
        auto link = std::make_shared<Link>();
        Recorder done;
        std::shared_ptr<Link> *holder = new std::shared_ptr<Link>(link);
        link->connection.open(
            "127.0.0.1", m_port,
            [holder, &done] {
                delete holder; // drops the last handles from the library's own thread
                done.add("released");
            },
            [&done](const ConnectionError &) { done.add("error"); });
        link.reset();
        QVERIFY(done.waitFor(1));
        QCOMPARE(done.entries()[0], std::string("released"));
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->connectionCount(), 0, 2000);
    }

    void closeEndsConnectionAndReportsIt()
    {
        Link link;
        link.open(m_port);
        QVERIFY(link.events.waitFor(2));
        link.connection.close();
        QVERIFY(link.events.waitFor(4));
        QCOMPARE(link.events.entries()[2], std::string("state 0<-2"));
        QVERIFY(startsWith(link.events.entries()[3], "connectionError " + std::to_string(ErrorCode::Closed)));
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->connectionCount(), 0, 2000);
        link.open(m_port);
        QVERIFY(link.events.waitFor(6));
        QCOMPARE(link.events.entries()[5], std::string("opened"));
    }

    void emptyHandlesAreHarmless()
    {
        Connection connection;
        Client client;
        QVERIFY(connection.isNull());
        QCOMPARE(int(connection.state()), 0);
        bool called = false;
        Request r = connection.open(
            "127.0.0.1", m_port, [&] { called = true; }, [&](const ConnectionError &) { called = true; });
        QVERIFY(!r.isPending());
        client.signIn(
            "a", "b", [&](long long) { called = true; }, [&](const HandlerError &) { called = true; });
        QCOMPARE(client.userId(), 0LL);
        QThread::msleep(50);
        QVERIFY(!called);
    }

private:
    std::unique_ptr<essim::Simulator> m_sim;
    int m_port = 0;
};

QTEST_GUILESS_MAIN(TestEsClient)
#include "tst_esclient.moc"
