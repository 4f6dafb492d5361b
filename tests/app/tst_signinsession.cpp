// Signing in against the simulated event server on 127.0.0.1: the steps in order, each failure
// reported once and ending the session, objects.data unreadable left to the operator on the first
// sign-in and read-only on a reconnect, and a lost connection while no session runs.
#include "app/appstate.h"
#include "app/signinsession.h"
#include "app/utils.h"
#include "es/eventserver.h"
#include "platform/simulators/es/simulator.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using korvu::es::NameValueMap;

namespace {

essim::Site site()
{
    essim::Site site;
    site.rootId = 1;
    site.users = {{"admin", "Pa55-w0rd!", 7}};
    site.objects.emplace_back(10, 1, korvu::es::Object::Device, "Gateway", "gateway", "GW-1", NameValueMap());
    return site;
}

} // namespace

class TestSignInSession : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<essim::Simulator> m_sim;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<Utils> m_utils;
    std::unique_ptr<EventServer> m_server;
    std::unique_ptr<RepoObjects> m_objects;
    std::unique_ptr<RepoObjViews> m_views;
    std::unique_ptr<LocalDatabase> m_database;
    std::unique_ptr<SignInSession> m_session;
    QStringList m_events;
    int m_port = 0;

    void record(const QString &event) { m_events << event; }

    // Waits until the session has ended (or waits for the operator).
    bool settled(int ms = 10000)
    {
        return QTest::qWaitFor(
            [this] { return !m_session->busy() || m_session->stage() == SignInSession::WaitingForOperator; }, ms);
    }

    void writeUnreadableFile()
    {
        QFile file(m_dir.filePath("objects.data"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }

private slots:
    void init()
    {
        m_sim = std::make_unique<essim::Simulator>(site());
        m_port = m_sim->start();
        QVERIFY(m_port > 0);
        m_state = std::make_unique<AppState>();
        m_utils = std::make_unique<Utils>();
        m_server = std::make_unique<EventServer>();
        m_objects = std::make_unique<RepoObjects>();
        m_views = std::make_unique<RepoObjViews>();
        m_database = std::make_unique<LocalDatabase>();
        QFile::remove(m_dir.filePath("objects.data"));
        m_database->setDataPath(m_dir.filePath("objects.data"));
        m_state->setHost("127.0.0.1");
        m_session = std::make_unique<SignInSession>();
        m_events.clear();
        connect(m_session.get(), &SignInSession::stageChanged, this, [this] {
            record(QString::fromLatin1(QMetaEnum::fromType<SignInSession::Stage>().valueToKey(m_session->stage())));
        });
        connect(m_session.get(), &SignInSession::failed, this, [this](SignInSession::Failure failure, const QString &) {
            record(QStringLiteral("failed ") +
                   QString::fromLatin1(QMetaEnum::fromType<SignInSession::Failure>().valueToKey(failure)));
        });
        connect(m_session.get(), &SignInSession::settingsUnreadable, this, [this] { record("settingsUnreadable"); });
        connect(m_session.get(), &SignInSession::objectsRequested, this, [this] { record("objectsRequested"); });
        connect(m_session.get(), &SignInSession::connectionLost, this, [this] { record("connectionLost"); });
    }

    void cleanup()
    {
        m_session.reset();
        m_database.reset();
        m_views.reset();
        m_objects.reset();
        m_server.reset();
        m_utils.reset();
        m_state.reset();
        m_sim.reset();
    }

    void signInRunsItsStepsOrFailsOnce_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("events");
        const QStringList signedIn{"Connecting", "SigningIn", "ReadingSettings", "Idle", "objectsRequested"};
        QTest::newRow("signed in") << QString() << signedIn;
        QTest::newRow("no password: nothing sent") << "no password" << QStringList{"failed MissingFields"};
        QTest::newRow("no server") << "no server" << QStringList{"Connecting", "Idle", "failed ConnectFailed"};
        QTest::newRow("wrong password") << "wrong password"
                                        << QStringList{"Connecting", "SigningIn", "Idle", "failed SignInFailed"};
        QTest::newRow("objects.data unreadable")
            << "unreadable"
            << QStringList{"Connecting", "SigningIn", "ReadingSettings", "WaitingForOperator", "settingsUnreadable"};
    }

    void signInRunsItsStepsOrFailsOnce()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, events);
        m_state->setPort(m_port);
        m_state->setUsername("admin");
        m_state->setPassword(fault == "no password" ? QString() : QStringLiteral("Pa55-w0rd!"));
        if (fault == "no server")
            m_sim->stop();
        if (fault == "wrong password")
            m_sim->setSignInRejection(true, 401, "Wrong user name or password");
        if (fault == "unreadable")
            writeUnreadableFile();
        QSignalSpy fetched(m_server.get(), &EventServer::fetchedObject);

        QCOMPARE(m_session->signIn(), fault != "no password");
        if (fault == "no password")
            QCOMPARE(m_sim->connectionCount(), 0);
        QVERIFY(settled());
        QTest::qWait(100); // nothing more comes
        QCOMPARE(m_events, events);
        if (fault.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(fetched.count(), 1, 10000);
        if (fault == "unreadable") {
            // The operator goes on read-only: the objects are asked for, nothing will be saved.
            m_session->continueReadOnly();
            QCOMPARE(m_events.mid(events.size()), QStringList({"Idle", "objectsRequested"}));
            QVERIFY(m_database->isReadOnly());
            QTRY_COMPARE_WITH_TIMEOUT(fetched.count(), 1, 10000);
        }
    }

    // A reconnect signs in again on the same settings; an unreadable file goes read-only by itself.
    void aReconnectReadsTheSettingsAgain()
    {
        m_state->setPort(m_port);
        m_state->setUsername("admin");
        m_state->setPassword("Pa55-w0rd!");
        QVERIFY(m_session->signIn());
        QVERIFY(settled());
        QCOMPARE(m_events.last(), QStringLiteral("objectsRequested"));

        m_events.clear();
        m_sim->dropConnections();
        QTRY_COMPARE_WITH_TIMEOUT(m_events, QStringList{"connectionLost"}, 10000);

        m_events.clear();
        writeUnreadableFile();
        m_session->reconnect();
        QVERIFY(m_session->reconnecting());
        QVERIFY(settled());
        QCOMPARE(m_events, QStringList({"Connecting", "SigningIn", "ReadingSettings", "Idle", "objectsRequested"}));
        QVERIFY(m_database->isReadOnly());
        QVERIFY(!m_session->reconnecting());
    }
};

QTEST_MAIN(TestSignInSession)
#include "tst_signinsession.moc"
