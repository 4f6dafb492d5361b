// End to end, the login window against the site simulator: a wrong password, a
// stopped server and a dropped connection are shown in the message popup and the
// form stays usable; the settings, language included, come back on the next
// start. (What the lists show after signing in is tst_e2e_main's part.)
#include "app/i18n.h"
#include "e2esteps.h"
#include "platform/simulators/es/simulator.h"
#include "support/e2emain.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace UiDriver;

namespace {

essim::Site siteWithUser(const QString &user, const QString &password)
{
    essim::Site site;
    site.rootId = 1;
    site.users = {{user.toStdString(), password.toStdString(), 7}};
    return site;
}

} // namespace

class TestE2eLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_sim.start(QStringLiteral(QUILLON_TEST_DATA "/e2e-site.json"), m_dir.filePath("sim"), "GW-NORTH"),
                 qPrintable(m_sim.error()));
    }

    void cleanupTestCase() { m_sim.stop(); }

    void init()
    {
        // Every test is a fresh program start in a fresh working folder.
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_work->path()));
        QVERIFY2(m_app.start(), qPrintable(m_app.loadErrors()));
        QVERIFY(QTest::qWaitForWindowExposed(m_app.loginWindow()));
    }

    void cleanup()
    {
        m_app.stop();
        QDir::setCurrent(QDir::tempPath());
        m_work.reset();
    }

    void wrongPasswordIsShownAndTheFormStaysUsable()
    {
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(E2e::fillLogin(login, m_sim.esHost(), m_sim.esPort(), m_sim.username(), "not-the-password"));
        QVERIFY(click(item(login, "btnLogin")));
        QObject *messager = E2e::waitForMessage(login);
        QVERIFY(messager);
        QVERIFY2(messager->property("text").toString().startsWith("Login error: "),
                 qPrintable(messager->property("text").toString()));
        QVERIFY(messager->property("text").toString().contains("Code: "));
        QCOMPARE(login->property("processing").toBool(), false);
        QVERIFY(E2e::closeMessage(messager));
        QVERIFY(login->isVisible());

        // A retry with the right password over the same connection signs in.
        QVERIFY(typeInto(item(login, "txtPassword"), m_sim.password()));
        QVERIFY(click(item(login, "btnLogin")));
        QTRY_VERIFY_WITH_TIMEOUT(!login->isVisible(), 30000);
    }

    void stoppedServerIsShownAndTheFormStaysUsable()
    {
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(E2e::fillLogin(login, "127.0.0.1", SiteSim::freePort(), m_sim.username(), m_sim.password()));
        QVERIFY(click(item(login, "btnLogin")));
        QObject *messager = E2e::waitForMessage(login, 30000);
        QVERIFY(messager);
        QVERIFY2(messager->property("text").toString().startsWith("Connect error: "),
                 qPrintable(messager->property("text").toString()));
        QCOMPARE(login->property("processing").toBool(), false);
        QVERIFY(E2e::closeMessage(messager));
        for (const char *name : {"txtHost", "txtPort", "txtUsername", "txtPassword", "btnLogin", "btnExit"})
            QVERIFY2(item(login, name)->isEnabled(), name);

        // The operator corrects the port and signs in.
        QVERIFY(typeInto(item(login, "txtPort"), QString::number(m_sim.esPort())));
        QVERIFY(click(item(login, "btnLogin")));
        QTRY_VERIFY_WITH_TIMEOUT(!login->isVisible(), 30000);
    }

    // A server that keeps the connection alive but never answers the sign-in.
    void unansweredSignInIsShownAndTheFormStaysUsable()
    {
        essim::Simulator silent(siteWithUser(m_sim.username(), m_sim.password()));
        silent.setReplyDelay(120000);
        const int port = silent.start();
        QVERIFY(port > 0);
        korvu::es::ContextOptions options;
        options.requestTimeoutMs = 1500;
        QVERIFY2(m_app.start(options), qPrintable(m_app.loadErrors()));
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(QTest::qWaitForWindowExposed(login));

        QVERIFY(E2e::fillLogin(login, "127.0.0.1", port, m_sim.username(), m_sim.password()));
        QVERIFY(click(item(login, "btnLogin")));
        QObject *messager = E2e::waitForMessage(login, 10000);
        QVERIFY(messager);
        QCOMPARE(messager->property("text").toString(),
                 QStringLiteral("Login error: No answer from the event server within 1500 ms\nCode: 1012"));
        QVERIFY(E2e::closeMessage(messager));
        QCOMPARE(login->property("processing").toBool(), false);
        for (const char *name : {"txtHost", "txtPort", "txtUsername", "txtPassword", "btnLogin", "btnExit"})
            QVERIFY2(item(login, name)->isEnabled(), name);
    }

    void allFieldsAreRequired()
    {
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(typeInto(item(login, "txtHost"), m_sim.esHost()));
        QVERIFY(typeInto(item(login, "txtPort"), QString::number(m_sim.esPort())));
        QVERIFY(click(item(login, "btnLogin")));
        QObject *messager = E2e::waitForMessage(login);
        QVERIFY(messager);
        QCOMPARE(messager->property("text").toString(), QStringLiteral("All fields are required!"));
        QVERIFY(E2e::closeMessage(messager));
        QVERIFY(login->isVisible());
    }

    void settingsAndLanguageAreRestoredOnTheNextStart()
    {
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(chooseLanguage(login, "Portuguese"));
        QVERIFY(E2e::signIn(m_app, m_sim));
        // The main window keeps the size and place the operator gives it.
        const QRect geometry(150, 90, 520, 700);
        m_app.mainWindow()->setGeometry(geometry);
        QTRY_COMPARE(m_app.mainWindow()->geometry(), geometry);
        QTRY_COMPARE(
            QSettings(m_work->filePath("settings.ini"), QSettings::IniFormat).value("mainWindow/width").toInt(),
            geometry.width());
        m_app.stop();

        // Second start in the same working folder.
        QVERIFY2(m_app.start(), qPrintable(m_app.loadErrors()));
        login = m_app.loginWindow();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("pt_BR"));
        QCOMPARE(item(login, "cbLanguage")->property("currentIndex").toInt(), 1);
        QCOMPARE(item(login, "txtHost")->property("text").toString(), m_sim.esHost());
        QCOMPARE(item(login, "txtPort")->property("text").toString(), QString::number(m_sim.esPort()));
        QCOMPARE(item(login, "txtUsername")->property("text").toString(), m_sim.username());
        QCOMPARE(item(login, "txtPassword")->property("text").toString(), m_sim.password());
        // The remembered form signs in with one click.
        QVERIFY(click(item(login, "btnLogin")));
        QTRY_VERIFY_WITH_TIMEOUT(!login->isVisible(), 30000);
        QCOMPARE(m_app.mainWindow()->geometry(), geometry);
    }

    // Last: it stops the simulator.
    void droppedConnectionIsShownAndTheFormStaysUsable()
    {
        QQuickWindow *login = m_app.loginWindow();
        // Connected but not signed in: the login window stays.
        QVERIFY(E2e::fillLogin(login, m_sim.esHost(), m_sim.esPort(), m_sim.username(), "wrong"));
        QVERIFY(click(item(login, "btnLogin")));
        QObject *messager = E2e::waitForMessage(login);
        QVERIFY(messager);
        QVERIFY(E2e::closeMessage(messager));

        m_sim.stop();
        messager = E2e::waitForMessage(login, 20000);
        QVERIFY(messager);
        QCOMPARE(messager->property("text").toString(), QStringLiteral("Lost connection to ES"));
        QVERIFY(E2e::closeMessage(messager));
        QCOMPARE(login->property("processing").toBool(), false);
        QVERIFY(typeInto(item(login, "txtPassword"), m_sim.password()));
        QCOMPARE(item(login, "txtPassword")->property("text").toString(), m_sim.password());
    }

private:
    bool chooseLanguage(QQuickWindow *login, const QString &name)
    {
        return chooseInCombo(item(login, "cbLanguage"), name);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_work;
    SiteSim m_sim;
    AppRun m_app;
};

QUILLON_E2E_MAIN(TestE2eLogin)

#include "tst_e2e_login.moc"
