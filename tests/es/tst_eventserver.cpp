// The EventServer connector against the simulated event server on 127.0.0.1:
// every outcome's signals in order, delivered to the GUI thread, and the
// AppState updates of real sign-ins.

#include "app/appstate.h"
#include "es/eventserver.h"
#include "platform/simulators/es/simulator.h"
#include "support/logcapture.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

using namespace korvu::es;

namespace {

essim::Site testSite()
{
    essim::Site site;
    site.rootId = 1;
    site.users = {{"admin", "Pa55-w0rd!", 7}, {"other", "second", 8}, {"again", "third", 7}};
    NameValueMap device;
    device.set("host", Value::fromString("127.0.0.1"));
    device.set("port", Value::fromInt(18081));
    site.objects.emplace_back(10, 1, Object::Device, "Gateway", "gateway", "GW-1", device);
    site.objects.emplace_back(11, 10, Object::Stream, "first", "video.live", "S-1", NameValueMap());
    site.objects.emplace_back(11, 10, Object::Stream, "second", "video.live", "S-2", NameValueMap());
    return site;
}

} // namespace

// Receives the connector's and AppState's signals the way QML does (queued onto
// the GUI thread) and re-emits each as one entry, so that one QSignalSpy sees
// them all in order.
class SignalLog : public QObject
{
    Q_OBJECT

public:
    SignalLog(EventServer *server, AppState *state)
    {
        connect(server, &EventServer::isConnectedChanged, this, [this] { note("isConnectedChanged"); });
        connect(server, &EventServer::connectedToEs, this, [this] { note("connectedToEs"); });
        connect(server, &EventServer::disconnectedFromEs, this, [this] { note("disconnectedFromEs"); });
        connect(server, &EventServer::connectToEsError, this,
                [this](const QString &m) { note("connectToEsError", m); });
        connect(server, &EventServer::loggedIn, this, [this] { note("loggedIn"); });
        connect(server, &EventServer::loginError, this, [this](const QString &m) { note("loginError", m); });
        connect(server, &EventServer::fetchedObject, this, [this] { note("fetchedObject"); });
        connect(server, &EventServer::fetchObjectsFailed, this,
                [this](const QString &m) { note("fetchObjectsFailed", m); });
        connect(state, &AppState::loggedInChanged, this, [this] { note("AppState.loggedInChanged"); });
        connect(state, &AppState::currentUserIdChanged, this, [this] { note("AppState.currentUserIdChanged"); });
        // The import's signal is emitted by the hand-over task itself: note where it runs.
        connect(
            server, &EventServer::fetchedObject, this,
            [this] { m_fetchedOnGuiThread.append(QThread::currentThread() == qApp->thread()); }, Qt::DirectConnection);
    }

    QStringList names() const
    {
        QStringList result;
        for (const QList<QVariant> &args : m_spy)
            result.append(args.at(0).toString());
        return result;
    }

    QString message(int index) const { return m_spy.at(index).at(1).toString(); }
    int count() const { return m_spy.count(); }
    int offGuiThread() const { return m_offGuiThread; }
    QList<bool> fetchedOnGuiThread() const { return m_fetchedOnGuiThread; }

    // Waits for `n` entries, then a little longer to catch any extra one.
    bool waitFor(int n, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_spy.count() < n && timer.elapsed() < timeoutMs)
            QTest::qWait(10);
        QTest::qWait(100);
        return m_spy.count() >= n;
    }

signals:
    void signalled(const QString &name, const QString &message);

private:
    void note(const QString &name, const QString &message = QString())
    {
        if (QThread::currentThread() != qApp->thread())
            ++m_offGuiThread;
        emit signalled(name, message);
    }

    QSignalSpy m_spy{this, &SignalLog::signalled};
    int m_offGuiThread = 0;
    QList<bool> m_fetchedOnGuiThread;
};

class TestEventServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_capture = std::make_unique<LogCapture>(LogCapture::Echo::QuietDebug); }
    void cleanupTestCase() { m_capture.reset(); }

    void init()
    {
        m_capture->clear();
        m_sim = std::make_unique<essim::Simulator>(testSite());
        m_port = m_sim->start();
        QVERIFY(m_port > 0);
        AppState::create();
        EventServer::create();
        AppState::instance()->setHost("127.0.0.1");
        AppState::instance()->setPort(m_port);
        AppState::instance()->setUsername("admin");
        AppState::instance()->setPassword("Pa55-w0rd!");
        m_log = std::make_unique<SignalLog>(EventServer::instance(), AppState::instance());
    }

    void cleanup()
    {
        m_log.reset();
        EventServer::destroy();
        AppState::destroy();
        m_sim.reset();
    }

    void constructionTouchesNoNetwork()
    {
        QCOMPARE(EventServer::instance()->isConnected(), false);
        QTest::qWait(100);
        QCOMPARE(m_sim->connectionCount(), 0);
        QCOMPARE(m_log->count(), 0);
    }

    void openSucceeded()
    {
        EventServer::instance()->connectToES();
        QVERIFY(m_log->waitFor(3));
        // The state change (row "other new state") comes first, then the open's own pair.
        QCOMPARE(m_log->names(), (QStringList{"isConnectedChanged", "connectedToEs", "isConnectedChanged"}));
        QVERIFY(EventServer::instance()->isConnected());
        QCOMPARE(m_log->offGuiThread(), 0);
    }

    void openFailed_data()
    {
        QTest::addColumn<int>("refuseCode");
        QTest::addColumn<QString>("refuseMessage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing listens") << 0 << QString() << "\nCode: 1002";
        QTest::newRow("server refuses") << 503 << "Licence limit reached"
                                        << "Licence limit reached\nCode: 503";
        QTest::newRow("server refuses, empty message") << 42 << ""
                                                       << "Code: 42";
    }

    void openFailed()
    {
        QFETCH(int, refuseCode);
        QFETCH(QString, refuseMessage);
        QFETCH(QString, expected);
        if (refuseCode == 0)
            m_sim->stop(); // the port is closed now
        else
            m_sim->setRefuseConnections(true, refuseCode, refuseMessage.toStdString());
        EventServer::instance()->connectToES();
        QVERIFY(m_log->waitFor(2));
        QCOMPARE(m_log->names(), (QStringList{"connectToEsError", "isConnectedChanged"}));
        if (refuseCode == 0)
            QVERIFY2(m_log->message(0).endsWith(expected) && m_log->message(0).count('\n') == 1,
                     qPrintable(m_log->message(0)));
        else
            QCOMPARE(m_log->message(0), expected);
        QVERIFY(!EventServer::instance()->isConnected());
        QCOMPARE(m_log->offGuiThread(), 0);
    }

    void silentHostFailsAfterTheConnectTimeout()
    {
        QTcpServer silent; // the kernel accepts; nobody ever answers
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        AppState::instance()->setPort(silent.serverPort());
        QElapsedTimer timer;
        timer.start();
        EventServer::instance()->connectToES();
        QVERIFY(m_log->waitFor(2, 15000));
        QCOMPARE(m_log->names(), (QStringList{"connectToEsError", "isConnectedChanged"}));
        QVERIFY2(m_log->message(0).endsWith("\nCode: 1003"), qPrintable(m_log->message(0)));
        QVERIFY(!EventServer::instance()->isConnected());
    }

    void lostConnectionAfterSignInKeepsLoggedIn()
    {
        connectAndSignIn();
        QVERIFY(AppState::instance()->loggedIn());
        const int before = m_log->count();
        m_sim->dropConnections();
        QVERIFY(m_log->waitFor(before + 2));
        QCOMPARE(m_log->names().mid(before), (QStringList{"disconnectedFromEs", "isConnectedChanged"}));
        QVERIFY(!EventServer::instance()->isConnected());
        QVERIFY(AppState::instance()->loggedIn());
        QCOMPARE(AppState::instance()->currentUserId(), 7LL);
        QCOMPARE(m_log->offGuiThread(), 0);
    }

    void signInSucceeded()
    {
        connectOnly();
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(3 + 3));
        QCOMPARE(m_log->names().mid(3),
                 (QStringList{"AppState.loggedInChanged", "AppState.currentUserIdChanged", "loggedIn"}));
        QVERIFY(AppState::instance()->loggedIn());
        QCOMPARE(AppState::instance()->currentUserId(), 7LL);
        QCOMPARE(m_log->offGuiThread(), 0);
    }

    void signInFailedFirstChangesNothing()
    {
        connectOnly();
        AppState::instance()->setPassword("wrong");
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(3 + 1));
        QCOMPARE(m_log->names().mid(3), QStringList{"loginError"});
        QCOMPARE(m_log->message(3), QString("Invalid user name or password\nCode: 401"));
        QVERIFY(!AppState::instance()->loggedIn());
        QCOMPARE(AppState::instance()->currentUserId(), 0LL);
    }

    void signInFailedAfterSuccessResetsAppState()
    {
        connectAndSignIn();
        const int before = m_log->count();
        AppState::instance()->setPassword("wrong");
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(before + 3));
        QCOMPARE(m_log->names().mid(before),
                 (QStringList{"AppState.loggedInChanged", "AppState.currentUserIdChanged", "loginError"}));
        QVERIFY(!AppState::instance()->loggedIn());
        QCOMPARE(AppState::instance()->currentUserId(), 0LL);
    }

    void signInAgainWithTheSameIdEmitsOnlyLoggedIn()
    {
        connectAndSignIn();
        int before = m_log->count();
        AppState::instance()->setUsername("again"); // another account, same user id 7
        AppState::instance()->setPassword("third");
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(before + 1));
        QCOMPARE(m_log->names().mid(before), QStringList{"loggedIn"});

        before = m_log->count();
        AppState::instance()->setUsername("other");
        AppState::instance()->setPassword("second");
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(before + 2));
        QCOMPARE(m_log->names().mid(before), (QStringList{"AppState.currentUserIdChanged", "loggedIn"}));
        QCOMPARE(AppState::instance()->currentUserId(), 8LL);
    }

    void signInRejectedWithChosenCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("with message") << 403 << "Account locked"
                                      << "Account locked\nCode: 403";
        QTest::newRow("empty message") << 77 << ""
                                       << "Code: 77";
        QTest::newRow("negative code") << -5 << "Gr\xc3\xbc\xc3\x9f"
                                       << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f\nCode: -5");
    }

    void signInRejectedWithChosenCode()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        m_sim->setSignInRejection(true, code, message.toStdString());
        connectOnly();
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(4));
        QCOMPARE(m_log->names().mid(3), QStringList{"loginError"});
        QCOMPARE(m_log->message(3), expected);
    }

    void signInWithoutConnectionFails()
    {
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(1));
        QCOMPARE(m_log->names(), QStringList{"loginError"});
        QCOMPARE(m_log->message(0), QString("Not connected to the event server\nCode: 1001"));
    }

    void fetchSucceededImportsOnTheGuiThread()
    {
        connectAndSignIn();
        const int before = m_log->count();
        EventServer::instance()->fetchObjects();
        QVERIFY(m_log->waitFor(before + 1));
        QCOMPARE(m_log->names().mid(before), QStringList{"fetchedObject"});
        QCOMPARE(m_log->fetchedOnGuiThread(), QList<bool>{true});
        QCOMPARE(m_log->offGuiThread(), 0);
    }

    void repeatedIdKeepsTheLaterObject()
    {
        const std::vector<Object> fetched = testSite().objects;
        const QHash<qint64, Object> byId = EventServer::objectsById(fetched);
        QCOMPARE(byId.size(), 2);
        QCOMPARE(byId.value(11).name(), std::string("second"));
        QCOMPARE(byId.value(11).toStream().serialNumber(), std::string("S-2"));
        QCOMPARE(byId.value(10).name(), std::string("Gateway"));
    }

    void fetchFailed_data()
    {
        QTest::addColumn<bool>("signIn");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("server error") << true << 500 << "Database offline"
                                      << "Database offline\nCode: 500";
        QTest::newRow("server error, empty message") << true << 9 << ""
                                                     << "Code: 9";
        QTest::newRow("not signed in") << false << 0 << ""
                                       << "Sign in first\nCode: 403";
    }

    void fetchFailed()
    {
        QFETCH(bool, signIn);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        if (signIn) {
            connectAndSignIn();
            m_sim->setGetObjectsFailure(true, code, message.toStdString());
        } else {
            connectOnly();
        }
        const int before = m_log->count();
        EventServer::instance()->fetchObjects();
        QVERIFY(m_log->waitFor(before + 1));
        QCOMPARE(m_log->names().mid(before), QStringList{"fetchObjectsFailed"});
        QCOMPARE(m_log->message(before), expected);
    }

    void connectionLostDuringFetch()
    {
        connectAndSignIn();
        m_sim->setObjectsPerFrame(1);
        m_sim->setDropAfterObjectFrames(1);
        const int before = m_log->count();
        EventServer::instance()->fetchObjects();
        QVERIFY(m_log->waitFor(before + 3));
        QCOMPARE(m_log->names().mid(before),
                 (QStringList{"disconnectedFromEs", "isConnectedChanged", "fetchObjectsFailed"}));
        QVERIFY(m_log->message(before + 2).endsWith("\nCode: 1006"));
        QVERIFY(AppState::instance()->loggedIn());
    }

    void unansweredRequestFailsAfterTheRequestTimeout_data()
    {
        QTest::addColumn<bool>("fetch");
        QTest::newRow("sign-in") << false;
        QTest::newRow("fetch") << true;
    }

    // The server keeps the connection alive (heartbeats) but holds the reply back.
    void unansweredRequestFailsAfterTheRequestTimeout()
    {
        QFETCH(bool, fetch);
        ContextOptions options;
        options.requestTimeoutMs = 400;
        recreateServer(options);
        if (fetch)
            connectAndSignIn();
        else
            connectOnly();
        m_sim->setReplyDelay(120000);
        const int before = m_log->count();
        QElapsedTimer timer;
        timer.start();
        if (fetch)
            EventServer::instance()->fetchObjects();
        else
            EventServer::instance()->login();
        QVERIFY(m_log->waitFor(before + 1, 5000));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_log->names().mid(before), QStringList{fetch ? "fetchObjectsFailed" : "loginError"});
        QCOMPARE(m_log->message(before), QString("No answer from the event server within 400 ms\nCode: 1012"));
        QCOMPARE(AppState::instance()->loggedIn(), fetch);
        // The connection itself is still good.
        QVERIFY(EventServer::instance()->isConnected());
        QCOMPARE(m_log->offGuiThread(), 0);
    }

    void terminateChangesNothing()
    {
        connectAndSignIn();
        const int before = m_log->count();
        EventServer::instance()->terminate();
        QTest::qWait(300);
        QCOMPARE(m_log->count(), before);
        QVERIFY(EventServer::instance()->isConnected());
        QVERIFY(AppState::instance()->loggedIn());
        QCOMPARE(AppState::instance()->currentUserId(), 7LL);
        QCOMPARE(m_sim->connectionCount(), 1);
        // Still usable afterwards.
        EventServer::instance()->fetchObjects();
        QVERIFY(m_log->waitFor(before + 1));
        QCOMPARE(m_log->names().mid(before), QStringList{"fetchedObject"});
    }

    void connectingAgainWhileConnectedReportsTheLibraryError()
    {
        connectOnly();
        EventServer::instance()->connectToES();
        QVERIFY(m_log->waitFor(5));
        QCOMPARE(m_log->names().mid(3), (QStringList{"connectToEsError", "isConnectedChanged"}));
        QCOMPARE(m_log->message(3), QString("The connection is already open\nCode: 1008"));
        QVERIFY(EventServer::instance()->isConnected());
    }

    void objectsChangedOnlyLogs()
    {
        connectAndSignIn();
        const int before = m_log->count();
        m_sim->sendObjectsChanged();
        QTRY_VERIFY_WITH_TIMEOUT(m_capture->texts().contains("TODO: Objects changed, fetching ..."), 5000);
        QTest::qWait(100);
        QCOMPARE(m_log->count(), before);
        QCOMPARE(m_sim->signInCount(), 1);
    }

    void libraryLogLinesCarryThePrefixButNoPassword()
    {
        connectAndSignIn();
        AppState::instance()->setPassword("another-Secret");
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(m_log->count() + 3));
        const QStringList lines = m_capture->texts();
        int libraryLines = 0;
        for (const QString &line : lines) {
            QVERIFY2(!line.contains("Pa55-w0rd!") && !line.contains("another-Secret"), qPrintable(line));
            if (line.startsWith("logMessage: "))
                ++libraryLines;
        }
        QVERIFY(libraryLines >= 3);
    }

    void destroyingWithRequestsInFlightIsClean()
    {
        connectAndSignIn();
        m_sim->setReplyDelay(300);
        EventServer::instance()->login();
        EventServer::instance()->fetchObjects();
        m_log.reset();
        EventServer::destroy();
        QTest::qWait(600); // the answers arrive for nobody
        QVERIFY(EventServer::instance() == nullptr);
        QCOMPARE(AppState::instance()->currentUserId(), 7LL);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->connectionCount(), 0, 3000);
    }

    void destroyingWithAHandOverQueuedIsClean()
    {
        connectAndSignIn();
        QPointer<EventServer> server(EventServer::instance());
        server->fetchObjects();
        // Without running the event loop the hand-over stays queued.
        QElapsedTimer timer;
        timer.start();
        while (m_capture->texts().filter("objects in").isEmpty() && timer.elapsed() < 5000)
            QThread::msleep(10);
        QVERIFY(!m_capture->texts().filter("objects in").isEmpty());
        QThread::msleep(100); // the callback posts the task right after logging
        m_log.reset();
        EventServer::destroy();
        QVERIFY(server.isNull());
        // A new connector must not receive the old connector's import.
        EventServer::create();
        QSignalSpy fetched(EventServer::instance(), &EventServer::fetchedObject);
        QCoreApplication::sendPostedEvents();
        QTest::qWait(50);
        QCOMPARE(fetched.count(), 0);
    }

private:
    void recreateServer(const ContextOptions &options)
    {
        m_log.reset();
        EventServer::destroy();
        EventServer::create(options);
        m_log = std::make_unique<SignalLog>(EventServer::instance(), AppState::instance());
    }

    void connectOnly()
    {
        EventServer::instance()->connectToES();
        QVERIFY(m_log->waitFor(3));
        QCOMPARE(m_log->names(), (QStringList{"isConnectedChanged", "connectedToEs", "isConnectedChanged"}));
    }

    void connectAndSignIn()
    {
        connectOnly();
        EventServer::instance()->login();
        QVERIFY(m_log->waitFor(6));
        QCOMPARE(m_log->names().last(), QString("loggedIn"));
    }

    std::unique_ptr<essim::Simulator> m_sim;
    std::unique_ptr<SignalLog> m_log;
    std::unique_ptr<LogCapture> m_capture;
    int m_port = 0;
};

QTEST_MAIN(TestEventServer)
#include "tst_eventserver.moc"
