// The login window on its own, driven through its controls: form validation, the
// message popup, the settings file (language and credentials remembered, the
// "Remember credentials" choice honoured, the file private to its owner) and
// quitting when it is closed before signing in.
#include "app/appstate.h"
#include "app/i18n.h"
#include "app/startup.h"
#include "support/logcapture.h"
#include "support/programfixture.h"
#include "support/uidriver.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace UiDriver;

class TestWinLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_program.setUp(); }

    void cleanupTestCase() { m_program.tearDown(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir::setCurrent(m_dir->path()));
        AppState *state = AppState::instance();
        state->setHost(QString());
        state->setPort(0);
        state->setUsername(QString());
        state->setPassword(QString());
    }

    void cleanup()
    {
        closeWindow();
        I18n::instance()->setLocale(QStringLiteral("en_US"));
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    void emptyFieldShowsAllFieldsRequired_data()
    {
        QTest::addColumn<QString>("emptyField");
        QTest::newRow("host") << "txtHost";
        QTest::newRow("port") << "txtPort";
        QTest::newRow("username") << "txtUsername";
        QTest::newRow("password") << "txtPassword";
    }

    void emptyFieldShowsAllFieldsRequired()
    {
        QFETCH(QString, emptyField);
        openWindow();
        const QList<QPair<QString, QString>> values = {
            {"txtHost", "127.0.0.1"}, {"txtPort", "7000"}, {"txtUsername", "operator"}, {"txtPassword", "secret"}};
        for (const auto &v : values) {
            if (v.first != emptyField)
                QVERIFY(typeInto(item(m_window, v.first), v.second));
        }
        QVERIFY(click(item(m_window, "btnLogin")));
        auto *messager = object(m_window, "messager");
        QVERIFY(messager);
        QTRY_VERIFY(messager->property("opened").toBool());
        QCOMPARE(messager->property("text").toString(), QStringLiteral("All fields are required!"));
        // Nothing was started: the form stays editable.
        QCOMPARE(m_window->property("processing").toBool(), false);
        QVERIFY(item(m_window, "txtHost")->isEnabled());
    }

    void returnKeyValidatesLikeTheLoginButton()
    {
        openWindow();
        QVERIFY(typeInto(item(m_window, "txtHost"), "127.0.0.1"));
        key(item(m_window, "txtHost"), Qt::Key_Return);
        auto *messager = object(m_window, "messager");
        QTRY_VERIFY(messager->property("opened").toBool());
        QCOMPARE(messager->property("text").toString(), QStringLiteral("All fields are required!"));
    }

    void messagePopupIgnoresEscapeAndClosesOnItsButton()
    {
        openWindow();
        QVERIFY(click(item(m_window, "btnLogin")));
        auto *messager = object(m_window, "messager");
        QTRY_VERIFY(messager->property("opened").toBool());
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTest::qWait(100);
        QVERIFY(messager->property("opened").toBool());
        // A click outside the popup does not dismiss it either.
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
        QTest::qWait(100);
        QVERIFY(messager->property("opened").toBool());

        auto *content = messager->property("contentItem").value<QQuickItem *>();
        QVERIFY(click(itemWithText(content, "Close")));
        QTRY_VERIFY(!messager->property("visible").toBool());
        // The form is usable again.
        QVERIFY(typeInto(item(m_window, "txtUsername"), "operator"));
        QCOMPARE(item(m_window, "txtUsername")->property("text").toString(), QStringLiteral("operator"));
    }

    void portFieldTakesDigitsOnly()
    {
        openWindow();
        QVERIFY(typeInto(item(m_window, "txtPort"), "7a0-0 1", "7001"));
        QCOMPARE(AppState::instance()->port(), 7001);
    }

    void fieldsFeedApplicationStateTrimmedExceptPassword()
    {
        openWindow();
        QVERIFY(typeInto(item(m_window, "txtHost"), "  127.0.0.1 "));
        QVERIFY(typeInto(item(m_window, "txtUsername"), " operator  "));
        QVERIFY(typeInto(item(m_window, "txtPassword"), " se cret "));
        AppState *state = AppState::instance();
        QCOMPARE(state->host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(state->username(), QStringLiteral("operator"));
        QCOMPARE(state->password(), QStringLiteral(" se cret "));
    }

    void settingsAndLanguageAreRestoredOnNextStart()
    {
        openWindow();
        QVERIFY(typeInto(item(m_window, "txtHost"), "127.0.0.1"));
        QVERIFY(typeInto(item(m_window, "txtPort"), "7000"));
        QVERIFY(typeInto(item(m_window, "txtUsername"), "operator"));
        QVERIFY(typeInto(item(m_window, "txtPassword"), " secret"));
        QVERIFY(chooseLanguage("Portuguese"));
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("pt_BR"));
        closeWindow();

        const QString path = m_dir->filePath("settings.ini");
        QVERIFY(QFile::exists(path));
        // Owner, group and other bits: private to the owner.
        QCOMPARE(QFile::permissions(path) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        {
            QSettings settings(path, QSettings::IniFormat);
            QCOMPARE(settings.value("application/language").toInt(), 1);
            QCOMPARE(settings.value("credentials/host").toString(), QStringLiteral("127.0.0.1"));
            QCOMPARE(settings.value("credentials/port").toString(), QStringLiteral("7000"));
            QCOMPARE(settings.value("credentials/username").toString(), QStringLiteral("operator"));
            QCOMPARE(settings.value("credentials/password").toString(), QStringLiteral(" secret"));
        }

        // Next start: the language comes back before anything is touched.
        I18n::instance()->setLocale(QStringLiteral("en_US"));
        AppState::instance()->setHost(QString());
        AppState::instance()->setPassword(QString());
        openWindow();
        QCOMPARE(item(m_window, "cbLanguage")->property("currentIndex").toInt(), 1);
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("pt_BR"));
        QCOMPARE(item(m_window, "txtHost")->property("text").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(item(m_window, "txtPort")->property("text").toString(), QStringLiteral("7000"));
        QCOMPARE(item(m_window, "txtUsername")->property("text").toString(), QStringLiteral("operator"));
        QCOMPARE(item(m_window, "txtPassword")->property("text").toString(), QStringLiteral(" secret"));
        QCOMPARE(AppState::instance()->host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(AppState::instance()->port(), 7000);
        QCOMPARE(AppState::instance()->password(), QStringLiteral(" secret"));

        // Back to English.
        QVERIFY(chooseLanguage("English"));
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("en_US"));
    }

    void uncheckedRememberKeepsCredentialsOutOfTheFile()
    {
        openWindow();
        QVERIFY(typeInto(item(m_window, "txtHost"), "127.0.0.1"));
        QVERIFY(typeInto(item(m_window, "txtPort"), "7000"));
        QVERIFY(typeInto(item(m_window, "txtUsername"), "operator"));
        QVERIFY(typeInto(item(m_window, "txtPassword"), "secret"));
        const QString path = m_dir->filePath("settings.ini");
        QTRY_VERIFY(readFile(path).contains("secret"));

        QQuickItem *remember = item(m_window, "chkRemember");
        QVERIFY(click(remember));
        QCOMPARE(remember->property("checked").toBool(), false);
        // Removed at once, not only at the next start.
        QVERIFY2(!readFile(path).contains("secret"), readFile(path).constData());
        QVERIFY(!readFile(path).contains("operator"));
        // And not written again while unchecked.
        QVERIFY(typeInto(item(m_window, "txtPassword"), "other-secret"));
        QVERIFY(typeInto(item(m_window, "txtUsername"), "other-user"));
        closeWindow();
        QByteArray text = readFile(path);
        QVERIFY2(!text.contains("secret") && !text.contains("other-user"), text.constData());
        QVERIFY2(text.contains("127.0.0.1") && text.contains("7000"), text.constData());

        openWindow();
        QCOMPARE(item(m_window, "chkRemember")->property("checked").toBool(), false);
        QCOMPARE(item(m_window, "txtHost")->property("text").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(item(m_window, "txtUsername")->property("text").toString(), QString());
        QCOMPARE(item(m_window, "txtPassword")->property("text").toString(), QString());

        // Checking it again stores what the form holds.
        QVERIFY(typeInto(item(m_window, "txtUsername"), "operator"));
        QVERIFY(typeInto(item(m_window, "txtPassword"), "secret"));
        QVERIFY(!readFile(path).contains("secret"));
        QVERIFY(click(item(m_window, "chkRemember")));
        closeWindow();
        text = readFile(path);
        QVERIFY2(text.contains("username=operator") && text.contains("password=secret"), text.constData());
    }

    // With every debug category on, as an operator chasing a problem would set it.
    void credentialsNeverReachTheLog()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
        LogCapture log;
        openWindow();
        QVERIFY(typeInto(item(m_window, "txtHost"), "127.0.0.1"));
        QVERIFY(typeInto(item(m_window, "txtUsername"), "operator-7"));
        QVERIFY(typeInto(item(m_window, "txtPassword"), "S3cret-pw"));
        closeWindow();
        // Read back on the next start.
        openWindow();
        QCOMPARE(item(m_window, "txtPassword")->property("text").toString(), QStringLiteral("S3cret-pw"));
        closeWindow();
        QLoggingCategory::setFilterRules(QString());

        const QStringList lines = log.texts();
        // The settings component did log: the check below looks at real output.
        QVERIFY(!lines.filter("QQmlSettings").isEmpty());
        for (const QString &line : lines)
            QVERIFY2(!line.contains("S3cret-pw"), qPrintable(line));
        QVERIFY(readFile(m_dir->filePath("settings.ini")).contains("password=S3cret-pw"));
    }

    void closingBeforeSignInQuitsTheApplication()
    {
        openWindow();
        QSignalSpy quit(m_program.engine(), &QQmlEngine::quit);
        QVERIFY(click(item(m_window, "btnExit")));
        QTRY_COMPARE(quit.count(), 1);
    }

private:
    void openWindow()
    {
        m_window = m_program.openWindow(QUrl(QStringLiteral("qrc:/WinLogin.qml")));
        QVERIFY2(m_window, qPrintable(m_program.loadErrors()));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }

    void closeWindow()
    {
        m_program.closeWindow();
        m_window = nullptr;
    }

    bool chooseLanguage(const QString &name) { return chooseInCombo(item(m_window, "cbLanguage"), name); }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        return file.readAll();
    }

    ProgramFixture m_program;
    std::unique_ptr<QTemporaryDir> m_dir;
    QQuickWindow *m_window = nullptr;
};

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    TestWinLogin test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_winlogin.moc"
