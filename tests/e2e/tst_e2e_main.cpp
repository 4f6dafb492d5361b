// End to end, the main and defish windows against the site simulator, as an
// operator's session in order: lists after sign-in, switching gateways and
// streams, "Add view" where it may be used, storing a view, "Save" writing
// objects.data, "Start"/"Stop" running and killing the streaming-server
// stand-in while the window shows its state and addresses, a missing server
// reported, and the stand-in stopped when the program ends.
#include "e2esteps.h"
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/repoobjects.h"
#include "support/e2emain.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQuickTest/quicktest.h>
#include <QtTest>


using namespace UiDriver;

namespace {
const char *const kServer = "ostrevan";

QString databasePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/objects.data");
}

// Reads one column of a table of objects.data through a connection of its own.
QStringList column(const QString &sql)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-reader"));
        db.setDatabaseName(databasePath());
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql)) {
                while (query.next())
                    values.append(query.value(0).toString());
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-reader"));
    return values;
}

// Saves run on a worker thread: waits (bounded) until the one just asked for is done.
bool waitForSave()
{
    return QTest::qWaitFor([] { return !LocalDatabase::instance()->property("saving").toBool(); }, 10000);
}

bool exec(const QString &sql)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-writer"));
        db.setDatabaseName(databasePath());
        ok = db.open() && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-writer"));
    return ok;
}

// What a save over rows that were never loaded would wipe: a lens, a switched-off
// gateway and the stored view.
QStringList storedState()
{
    return column("SELECT centerX || ' ' || centerY || ' ' || radius || ' ' || fov FROM streams WHERE serial = "
                  "'S-LOBBY'") +
           column("SELECT isActive FROM gateways WHERE serial = 'GW-SOUTH'") + column("SELECT name FROM views");
}

// A second connection holding objects.data under BEGIN EXCLUSIVE, as another process would.
class FileLock
{
public:
    ~FileLock() { unlock(); }
    bool lock()
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-lock"));
        m_db.setDatabaseName(databasePath());
        return m_db.open() && QSqlQuery(m_db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    void unlock()
    {
        if (!m_db.isValid())
            return;
        QSqlQuery(m_db).exec(QStringLiteral("COMMIT"));
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("e2e-lock"));
    }

private:
    QSqlDatabase m_db;
};

// The longest time the GUI thread went without running a 10 ms timer while it existed.
class StallMeter
{
public:
    StallMeter()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_longest = qMax(m_longest, m_clock.restart()); });
        m_timer.start(10);
    }
    qint64 longest() const { return qMax(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

const char *const kBusyText = "locked";
const int kBusyTimeoutMs = 3000;
// How long a read at sign-in waits for the lock: far longer than the window may stall.
const int kSignInBusyMs = 2000;
} // namespace

class TestE2eMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(databasePath());
        QVERIFY2(m_sim.start(QStringLiteral(QUILLON_TEST_DATA "/e2e-site.json"), m_dir.filePath("sim"), "GW-NORTH"),
                 qPrintable(m_sim.error()));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY2(m_app.start(), qPrintable(m_app.loadErrors()));
        LocalDatabase::instance()->setBusyTimeout(kBusyTimeoutMs);
        QVERIFY(E2e::signIn(m_app, m_sim));
        QVERIFY(E2e::waitForGateways(m_app));
        m_main = m_app.mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        m_main->requestActivate();
    }

    void cleanupTestCase()
    {
        m_app.stop();
        m_sim.stop();
        QDir::setCurrent(QDir::tempPath());
    }

    void listsShowGatewaysStreamsAndPorts()
    {
        QTRY_COMPARE_WITH_TIMEOUT(item(m_main, "lstGateways")->property("count").toInt(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(item(m_main, "lstStreams")->property("count").toInt(), 6, 10000);
        // Every stream the gateways publish shows its port; the others their name.
        QTRY_VERIFY_WITH_TIMEOUT(E2e::streamRow(m_main, "Lobby ("), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(E2e::streamRow(m_main, "Loading Dock ("), 10000);
        QQuickItem *silent = E2e::streamRow(m_main, "Silent Yard");
        QVERIFY(silent);
        QVERIFY2(item(silent, "chkStream")->property("text").toString().contains("("),
                 qPrintable(item(silent, "chkStream")->property("text").toString()));
        QQuickItem *unpublished = E2e::streamRow(m_main, "Unpublished");
        QVERIFY(unpublished);
        QCOMPARE(item(unpublished, "chkStream")->property("text").toString(), QStringLiteral("Unpublished"));
    }

    void uncheckingAGatewayHidesItsStreams()
    {
        QQuickItem *south = E2e::gatewayCheckBox(m_main, "Gateway South");
        QVERIFY(south);
        QVERIFY(south->property("checked").toBool());
        QVERIFY(click(south));
        QTRY_COMPARE(item(m_main, "lstStreams")->property("count").toInt(), 2);
        QTRY_VERIFY(!E2e::streamRow(m_main, "Loading Dock"));
        QVERIFY(E2e::streamRow(m_main, "Lobby"));
        QVERIFY(click(south));
        QTRY_COMPARE(item(m_main, "lstStreams")->property("count").toInt(), 6);
        QTRY_VERIFY(E2e::streamRow(m_main, "Loading Dock"));
        // Let the list settle before the next clicks.
        QTest::qWait(300);
    }

    void addViewIsEnabledOnlyWhereItCanWork_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("fisheye, published") << "Lobby" << true;
        QTest::newRow("fisheye, published, other gateway") << "Loading Dock" << true;
        QTest::newRow("fisheye, ZeroMQ address without port") << "Unpublished" << false;
        QTest::newRow("not fisheye") << "Parking" << false;
        QTest::newRow("fisheye, file address") << "Recorded Hall" << true;
    }

    void addViewIsEnabledOnlyWhereItCanWork()
    {
        QFETCH(QString, stream);
        QFETCH(bool, enabled);
        QQuickItem *row = E2e::streamRow(m_main, stream);
        QVERIFY(row);
        QQuickItem *addView = E2e::openStreamMenu(row);
        QVERIFY(addView);
        QCOMPARE(addView->isEnabled(), enabled);
        if (!enabled) {
            // A click on the disabled entry opens nothing.
            click(addView);
            QTest::qWait(200);
            QVERIFY(!m_app.defishWindow()->isVisible());
        }
        E2e::closeMenu(row);
    }

    void streamCheckBoxSwitchesTheStreamOffAndIsSaved()
    {
        QQuickItem *box = item(E2e::streamRow(m_main, "Parking"), "chkStream");
        QVERIFY(box);
        QVERIFY(box->property("checked").toBool());
        QVERIFY(click(box));
        QVERIFY(!box->property("checked").toBool());
        QVERIFY(click(item(m_main, "btnSave")));
        QVERIFY(waitForSave());
        QCOMPARE(column("SELECT isActive FROM streams WHERE serial = 'S-PARK'"), QStringList{"0"});
        QCOMPARE(column("SELECT isActive FROM streams WHERE serial = 'S-LOBBY'"), QStringList{"1"});
    }

    void storedViewIsListedUnderItsStream()
    {
        QVERIFY(E2e::openDefish(m_app, "Lobby"));
        QVERIFY(E2e::waitForLiveVideo(m_app));
        QQuickWindow *defish = m_app.defishWindow();
        QQuickItem *content = E2e::defishContent(m_app);
        QVERIFY(dragSlider(item(content, "sldPan"), 0.75));
        QVERIFY(dragSlider(item(content, "sldZoom"), 0.5));
        QVERIFY(item(content, "sldPan")->property("value").toReal() > 0);

        // "Ok" without a name keeps the window open.
        QVERIFY(click(item(defish, "btnDefishOk")));
        QTest::qWait(200);
        QVERIFY(defish->isVisible());

        QVERIFY(typeInto(item(content, "txtName"), "Entrance"));
        QVERIFY(click(item(defish, "btnDefishOk")));
        QTRY_VERIFY(!defish->isVisible());

        QQuickItem *row = E2e::streamRow(m_main, "Lobby");
        QVERIFY(row);
        QTRY_VERIFY(item(row, "lstViews") && item(row, "lstViews")->isVisible());
        QVERIFY(itemWithText(item(row, "lstViews"), "Entrance"));
        // Only under its own stream.
        QQuickItem *other = E2e::streamRow(m_main, "Loading Dock");
        QVERIFY(!itemWithText(other, "Entrance"));

        // The same name again is refused and the window stays open.
        QVERIFY(E2e::openDefish(m_app, "Lobby"));
        QVERIFY(typeInto(item(E2e::defishContent(m_app), "txtName"), "Entrance"));
        QVERIFY(click(item(defish, "btnDefishOk")));
        QTest::qWait(300);
        QVERIFY(defish->isVisible());
        QVERIFY(click(item(defish, "btnDefishClose")));
        QTRY_VERIFY(!defish->isVisible());
        QVERIFY(!E2e::defishContent(m_app));
    }

    void saveWritesObjectsData()
    {
        QVERIFY(click(item(m_main, "btnSave")));
        QVERIFY(waitForSave());
        QCOMPARE(column("SELECT COUNT(*) FROM gateways"), QStringList{"2"});
        QStringList serials = column("SELECT serial FROM gateways");
        serials.sort();
        QCOMPARE(serials, (QStringList{"GW-NORTH", "GW-SOUTH"}));
        QCOMPARE(column("SELECT name FROM views"), QStringList{"Entrance"});
        QCOMPARE(column("SELECT serialStream FROM views"), QStringList{"S-LOBBY"});
        const QStringList url = column("SELECT url FROM streams WHERE serial = 'S-LOBBY'");
        QCOMPARE(url.size(), 1);
        QVERIFY2(url.first().startsWith("zmq:tcp://127.0.0.1:"), qPrintable(url.first()));
    }

    // A calibrated lens survives the defish window: Edit opens on it, Ok writes back what the window
    // shows, a refused Ok and Close write nothing; the mount chosen is kept with the stream.
    void editingAViewKeepsTheStoredLens()
    {
        const auto lobby = RepoObjects::instance()->objectsBySerial().value("S-LOBBY");
        QVERIFY(lobby);
        lobby->setCenterX(640);
        lobby->setCenterY(479);
        lobby->setRadius(478);
        lobby->setFov(180);
        const QStringList calibrated = {"640.0 479.0 478.0 180.0"};
        const auto savedLens = [] {
            return column("SELECT centerX || ' ' || centerY || ' ' || radius || ' ' || fov FROM streams WHERE serial "
                          "= 'S-LOBBY'");
        };
        QVERIFY(click(item(m_main, "btnSave")));
        QVERIFY(waitForSave());
        QCOMPARE(savedLens(), calibrated);

        // Edit, a refused Ok (a taken name), Close.
        QVERIFY(E2e::openDefish(m_app, "Lobby"));
        QVERIFY(E2e::waitForLiveVideo(m_app));
        QQuickWindow *defish = m_app.defishWindow();
        QQuickItem *content = E2e::defishContent(m_app);
        QCOMPARE(item(item(content, "valRadius"), "unit")->property("text").toString(), QStringLiteral("% (478 px)"));
        QVERIFY(typeInto(item(content, "txtName"), "Entrance"));
        QVERIFY(click(item(defish, "btnDefishOk")));
        QTRY_VERIFY(!item(defish, "lblDefishMessage")->property("text").toString().isEmpty());
        QVERIFY(click(item(defish, "btnDefishClose")));
        QTRY_VERIFY(!defish->isVisible());

        // Edit from the view's row, the mount set to the ceiling, Ok.
        QQuickItem *view = nullptr;
        QTRY_VERIFY((view = itemWithText(item(E2e::streamRow(m_main, "Lobby"), "lstViews"), "Entrance")));
        QQuickItem *row = view;
        while (row && row->objectName() != "viewDelegate")
            row = row->parentItem();
        QQuickItem *area = row ? item(row, "areaViewMenu") : nullptr;
        QVERIFY(area);
        QVERIFY(clickAt(area, QPointF(area->width() - 10, area->height() / 2)));
        QQuickItem *edit = item(row, "menuEditView");
        QTRY_VERIFY(edit && edit->isVisible());
        QVERIFY(click(edit));
        QTRY_VERIFY(defish->isVisible());
        QVERIFY(E2e::waitForLiveVideo(m_app));
        content = E2e::defishContent(m_app);
        QVERIFY(chooseInCombo(item(content, "cbMount"), "Ceiling"));
        QVERIFY(click(item(defish, "btnDefishOk")));
        QTRY_VERIFY(!defish->isVisible());
        QVERIFY(click(item(m_main, "btnSave")));
        QVERIFY(waitForSave());
        QCOMPARE(savedLens(), calibrated);
        QCOMPARE(column("SELECT mount FROM streamLens WHERE serial = 'S-LOBBY'"), QStringList{"ceiling"});
    }

    void missingServerIsReportedAndStartIsOfferedAgain()
    {
        QObject *manager = m_main->findChild<QObject *>(QStringLiteral("procManager"));
        QVERIFY(manager);
        const QString program = manager->property("program").toString();
        QVERIFY(manager->setProperty("program", QStringLiteral("quillon-no-such-server")));
        const auto restore = qScopeGuard([&] { manager->setProperty("program", program); });
        QQuickItem *button = item(m_main, "btnStartStop");
        QQuickItem *status = item(m_main, "lblServerStatus");
        QVERIFY(status);
        QCOMPARE(status->property("text").toString(), QStringLiteral("Server: stopped"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("quillon-no-such-server")));
        QVERIFY(click(button));
        QTRY_VERIFY(status->property("text").toString().startsWith(QLatin1String("Server: failed.")));
        QVERIFY2(status->property("text").toString().contains(QLatin1String("\"quillon-no-such-server\" is neither")),
                 qPrintable(status->property("text").toString()));
        QCOMPARE(button->property("text").toString(), QStringLiteral("Start"));
        QVERIFY(item(m_main, "btnSave")->isEnabled());
        QVERIFY(item(m_main, "lstStreams")->isEnabled());
        QCOMPARE(servedViews()->property("servedCount").toInt(), 0);
    }

    void startAndStopRunAndKillTheStandin()
    {
        QVERIFY(ProcessInfo::children(kServer).isEmpty());
        // An unsaved change: the view switched on.
        QQuickItem *view = item(E2e::streamRow(m_main, "Lobby"), "chkView");
        QVERIFY(view);
        // Ok stored the new view ticked: switched off and saved first, so that switching it on is the change.
        QVERIFY(view->property("checked").toBool());
        QVERIFY(click(view));
        QVERIFY(click(item(m_main, "btnSave")));
        QTRY_COMPARE(column("SELECT isActive FROM views"), QStringList{"0"});
        QVERIFY(!view->property("checked").toBool());
        QVERIFY(click(view));
        QVERIFY(view->property("checked").toBool());
        QCOMPARE(column("SELECT isActive FROM views"), QStringList{"0"});

        // The server serves a view only with a usable lens geometry on its stream.
        bool found = false;
        for (const auto &object : RepoObjects::instance()->objects()) {
            if (object->serial() == QLatin1String("S-LOBBY")) {
                object->setCenterX(640);
                object->setCenterY(480);
                object->setRadius(480);
                object->setFov(180);
                found = true;
            }
        }
        QVERIFY(found);

        QQuickItem *button = item(m_main, "btnStartStop");
        QCOMPARE(button->property("text").toString(), QStringLiteral("Start"));
        QVERIFY(click(button));
        // The database is written before the server starts.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessInfo::children(kServer).size(), 1, 10000);
        QCOMPARE(column("SELECT isActive FROM views"), QStringList{"1"});
        QCOMPARE(button->property("text").toString(), QStringLiteral("Stop"));
        QVERIFY(!item(m_main, "btnSave")->isEnabled());
        QVERIFY(!item(m_main, "lstGateways")->isEnabled());
        QVERIFY(!item(m_main, "lstStreams")->isEnabled());
        // The server keeps running (it has a database to read), and the window says
        // so with the address of the view it serves, ready to be copied.
        QQuickItem *status = item(m_main, "lblServerStatus");
        QTRY_COMPARE_WITH_TIMEOUT(status->property("text").toString(), QStringLiteral("Server: running"), 15000);
        QCOMPARE(ProcessInfo::children(kServer).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(servedViews()->property("servedCount").toInt(), 1, 10000);
        QQuickItem *list = item(m_main, "lstServedViews");
        QVERIFY(list && list->isVisible());
        const QList<QQuickItem *> rows = visibleItems(list, QStringLiteral("servedView"));
        QCOMPARE(rows.size(), 1);
        QQuickItem *addresses = rows.first();
        const QString text = addresses->property("text").toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^rtsp://[^/ ]+:8554/S-LOBBY/Entrance$")).match(text).hasMatch(),
                 qPrintable(text));
        QVERIFY(addresses->property("selectByMouse").toBool());
        QVERIFY(addresses->property("readOnly").toBool());
        QCOMPARE(item(m_main, "lblServedCount")->property("text").toString(),
                 QStringLiteral("Serving 1 of 1 stored views"));

        QVERIFY(click(button));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessInfo::children(kServer).isEmpty(), 10000);
        QCOMPARE(button->property("text").toString(), QStringLiteral("Start"));
        QTRY_COMPARE(status->property("text").toString(), QStringLiteral("Server: stopped"));
        QCOMPARE(servedViews()->property("servedCount").toInt(), 0);
        QVERIFY(item(m_main, "btnSave")->isEnabled());
        QVERIFY(item(m_main, "lstStreams")->isEnabled());
    }

    void aFailedSaveIsShownAndStartsNothingWhileTheWindowStaysLive()
    {
        QQuickItem *view = item(E2e::streamRow(m_main, "Lobby"), "chkView");
        QVERIFY(view);
        QVERIFY(view->property("checked").toBool());
        QVERIFY(click(view));
        FileLock lock;
        QVERIFY(lock.lock());

        StallMeter stall;
        QVERIFY(click(item(m_main, "btnStartStop")));
        QObject *messager = E2e::waitForMessage(m_main, 15000, "mainMessager");
        QVERIFY(messager);
        qInfo("Longest GUI-thread stall during the failed save: %lld ms", stall.longest());
        QVERIFY(stall.longest() < kBusyTimeoutMs / 2);
        const QString text = messager->property("text").toString();
        QVERIFY2(text.startsWith("Saving failed: ") && text.contains(kBusyText), qPrintable(text));
        QTest::qWait(300);
        QVERIFY(ProcessInfo::children(kServer).isEmpty());
        QCOMPARE(item(m_main, "btnStartStop")->property("text").toString(), QStringLiteral("Start"));
        lock.unlock();
        QCOMPARE(column("SELECT isActive FROM views"), QStringList{"1"});

        QVERIFY(E2e::closeMessage(messager));
        QVERIFY(click(item(m_main, "btnSave")));
        QVERIFY(waitForSave());
        QCOMPARE(column("SELECT isActive FROM views"), QStringList{"0"});
    }

    void endingTheProgramStopsTheStandin()
    {
        QVERIFY(click(item(m_main, "btnStartStop")));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessInfo::children(kServer).size(), 1, 10000);
        m_app.stop();
        m_main = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(ProcessInfo::children(kServer).isEmpty(), 10000);
    }

    // Fresh program starts from here on.

    void aLockDuringSignInOffersRetryOrReadOnly_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::newRow("continue read-only") << false;
        QTest::newRow("retry once the lock is gone") << true;
    }

    void aLockDuringSignInOffersRetryOrReadOnly()
    {
        QFETCH(bool, retry);
        QVERIFY(exec("UPDATE streams SET centerX = 321, centerY = 241, radius = 231, fov = 185 WHERE serial = "
                     "'S-LOBBY'"));
        QVERIFY(exec("UPDATE gateways SET isActive = 0 WHERE serial = 'GW-SOUTH'"));
        const QStringList stored = storedState();
        QCOMPARE(stored, (QStringList{"321.0 241.0 231.0 185.0", "0", "Entrance"}));

        FileLock lock;
        QVERIFY(lock.lock());
        QVERIFY2(m_app.start(), qPrintable(m_app.loadErrors()));
        LocalDatabase::instance()->setBusyTimeout(kSignInBusyMs);
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QVERIFY(E2e::fillLogin(login, m_sim.esHost(), m_sim.esPort(), m_sim.username(), m_sim.password()));
        QVERIFY(click(item(login, "btnLogin")));
        // The file is read on a worker while the lock holds: the window stays live and says so.
        QTRY_VERIFY_WITH_TIMEOUT(item(login, "lblReading")->isVisible(), 30000);
        StallMeter stall;
        QObject *failure = E2e::waitForMessage(login, 30000, "dbFailure");
        qInfo("Longest GUI-thread stall while objects.data was locked during sign-in: %lld ms", stall.longest());
        QVERIFY2(stall.longest() < kSignInBusyMs / 2, qPrintable(QString::number(stall.longest())));
        QVERIFY(failure);
        QVERIFY2(failure->property("text").toString().contains(kBusyText),
                 qPrintable(failure->property("text").toString()));
        QVERIFY(login->isVisible());
        // Gone again before the operator chooses.
        lock.unlock();
        QVERIFY(E2e::closeMessage(failure, retry ? "Retry" : "Continue read-only"));
        QTRY_VERIFY_WITH_TIMEOUT(!login->isVisible(), 10000);
        m_main = m_app.mainWindow();
        QVERIFY(E2e::waitForGateways(m_app));

        if (retry) {
            // The stored settings reached the lists, and a save keeps them.
            QTRY_VERIFY_WITH_TIMEOUT(E2e::streamRow(m_main, "Lobby"), 10000);
            QTRY_VERIFY(itemWithText(item(E2e::streamRow(m_main, "Lobby"), "lstViews"), "Entrance"));
            QQuickItem *south = nullptr;
            QTRY_VERIFY((south = E2e::gatewayCheckBox(m_main, "Gateway South")));
            QVERIFY(!south->property("checked").toBool());
            QVERIFY(click(item(m_main, "btnSave")));
            QVERIFY(waitForSave());
            QVERIFY(!object(m_main, "mainMessager")->property("opened").toBool());
        } else {
            // What could be read once the lock had gone still shows: the gateway stored as switched off.
            QQuickItem *south = nullptr;
            QTRY_VERIFY((south = E2e::gatewayCheckBox(m_main, "Gateway South")));
            QTRY_VERIFY(!south->property("checked").toBool());
            QVERIFY2(m_main->title().contains(QLatin1String("(read-only)")), qPrintable(m_main->title()));
            QVERIFY(item(m_main, "lblReadOnly")->isVisible());
            QVERIFY(item(m_main, "lblReadOnly")->property("text").toString().contains(kBusyText));
            saveAndStartAreRefused(QStringLiteral("Not saved: this session is read-only: "));
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(storedState(), stored);
        m_app.stop();
        m_main = nullptr;
    }

    void aFetchCutShortIsShownAndNothingIsSaved()
    {
        const QStringList stored = storedState();
        QVERIFY(!stored.isEmpty());
        // An event server of its own that answers slowly, so it can be stopped mid-fetch.
        QProcess es;
        es.start(QStringLiteral(QUILLON_BUILD_DIR "/platform/simulators/es/quillon-es-sim"),
                 {"--site", m_sim.sitePath(), "--port", "0", "--reply-delay-ms", "1500", "--quiet"});
        QVERIFY(es.waitForReadyRead(10000));
        const QString serving = QString::fromUtf8(es.readLine()).trimmed();
        const int port = serving.section(QLatin1Char(':'), -1).toInt();
        QVERIFY2(port > 0, qPrintable(serving));

        QVERIFY2(m_app.start(), qPrintable(m_app.loadErrors()));
        QQuickWindow *login = m_app.loginWindow();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QVERIFY(E2e::fillLogin(login, m_sim.esHost(), port, m_sim.username(), m_sim.password()));
        QVERIFY(click(item(login, "btnLogin")));
        QTRY_VERIFY_WITH_TIMEOUT(!login->isVisible(), 30000);
        es.kill();
        QVERIFY(es.waitForFinished(5000));

        m_main = m_app.mainWindow();
        QObject *messager = E2e::waitForMessage(m_main, 15000, "mainMessager");
        QVERIFY(messager);
        QTRY_VERIFY(messager->property("text").toString().contains("Fetching the objects failed: "));
        QCOMPARE(item(m_main, "lstGateways")->property("count").toInt(), 0);
        // The lost connection offers to reconnect; the event server is back at the same address.
        QTRY_VERIFY(messager->property("text").toString().contains("Lost connection to ES"));
        QCOMPARE(messager->property("actionText").toString(), QStringLiteral("Reconnect"));
        es.start(QStringLiteral(QUILLON_BUILD_DIR "/platform/simulators/es/quillon-es-sim"),
                 {"--site", m_sim.sitePath(), "--port", QString::number(port), "--quiet"});
        QVERIFY(es.waitForReadyRead(10000));
        // The message grew and offers a button more: its layout settles before it is clicked.
        QVERIFY(QQuickTest::qWaitForItemPolished(messager->property("contentItem").value<QQuickItem *>()));
        QTest::qWait(100);
        QVERIFY(E2e::closeMessage(messager, "Reconnect"));
        QVERIFY2(E2e::waitForGateways(m_app), qPrintable(messager->property("text").toString()));
        // The stored settings went to the objects fetched again.
        QQuickItem *south = nullptr;
        QTRY_VERIFY((south = E2e::gatewayCheckBox(m_main, "Gateway South")));
        QVERIFY(!south->property("checked").toBool());
        QVERIFY(!object(m_main, "mainMessager")->property("opened").toBool());
        es.kill();
        QVERIFY(es.waitForFinished(5000));
        QCOMPARE(storedState(), stored);
        m_app.stop();
        m_main = nullptr;
    }

private:
    QObject *servedViews() const
    {
        QObject *controller = object(m_main, "serverController");
        return controller ? qvariant_cast<QObject *>(controller->property("views")) : nullptr;
    }

    // Save and Start each answer "Not saved: ..." and no server starts; in a read-only session
    // Save cannot be pressed and Start says why.
    void saveAndStartAreRefused(const QString &why = QStringLiteral("Not saved: "))
    {
        const bool readOnly = why.contains(QLatin1String("read-only"));
        QCOMPARE(item(m_main, "btnSave")->isEnabled(), !readOnly);
        for (const char *button : {"btnSave", "btnStartStop"}) {
            if (readOnly && QByteArray(button) == "btnSave")
                continue;
            QVERIFY(click(item(m_main, button)));
            QObject *messager = E2e::waitForMessage(m_main, 5000, "mainMessager");
            QVERIFY2(messager, button);
            QVERIFY2(messager->property("text").toString().startsWith(why),
                     qPrintable(messager->property("text").toString()));
            QVERIFY(E2e::closeMessage(messager));
        }
        QTest::qWait(300);
        QVERIFY(ProcessInfo::children(kServer).isEmpty());
    }
    QTemporaryDir m_dir;
    SiteSim m_sim;
    AppRun m_app;
    QQuickWindow *m_main = nullptr;
};

QUILLON_E2E_MAIN(TestE2eMain)

#include "tst_e2e_main.moc"
