#include "app/appstate.h"
#include "app/i18n.h"
#include "app/startup.h"
#include "app/utils.h"
#include "es/eventserver.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private:
    static QString runProgram(const QString &document, int *exitCode)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(STARTUP_RUNNER),
                      {QUrl::fromLocalFile(QStringLiteral(STARTUP_QML_DIR "/") + document).toString()});
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            *exitCode = -1000;
            return QStringLiteral("timed out");
        }
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2000;
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

private slots:
    void brokenMainDocumentExitsWithMinusOneAfterFullShutdown()
    {
        int exitCode = 0;
        const QString report = runProgram(QStringLiteral("broken.qml"), &exitCode);
        QCOMPARE(exitCode, 255); // -1 as a process exit status
        QCOMPARE(report, QStringLiteral("singletons-destroyed=1 application-destroyed=1 exit=-1"));
    }

    void ordinaryQuitExitsWithZero()
    {
        int exitCode = -1;
        const QString report = runProgram(QStringLiteral("quits.qml"), &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(report, QStringLiteral("singletons-destroyed=1 application-destroyed=1 exit=0"));
    }

    void qmlReadingFirstGetsTheStartupInstances()
    {
        Startup::createSingletons();
        Startup::registerTypes();
        Startup::registerSingletons();
        QObject *const created[] = {I18n::instance(),         AppState::instance(),    Utils::instance(),
                                    EventServer::instance(),  RepoObjects::instance(), RepoObjViews::instance(),
                                    LocalDatabase::instance()};
        for (QObject *object : created) {
            QVERIFY(object);
            QCOMPARE(QQmlEngine::objectOwnership(object), QQmlEngine::CppOwnership);
        }

        {
            QQmlEngine engine;
            QQmlComponent component(&engine);
            component.setData("import QtQml 2.13\nimport korvu.converter 1.0\n"
                              "QtObject { property var all: [I18n, AppState, Utils, EventServer, RepoObjects,"
                              " RepoObjViews, LocalDatabase] }",
                              QUrl());
            QScopedPointer<QObject> object(component.create());
            QVERIFY2(object, qPrintable(component.errorString()));
            const QVariantList seen = object->property("all").toList();
            QCOMPARE(seen.size(), 7);
            for (int i = 0; i < 7; ++i)
                QCOMPARE(seen.at(i).value<QObject *>(), created[i]);
        }
        // The engine is gone and owned none of them.
        QCOMPARE(AppState::instance(), created[1]);
        QCOMPARE(AppState::instance()->port(), 0);

        QStringList order;
        const char *const names[] = {"I18n",        "AppState",     "Utils",        "EventServer",
                                     "RepoObjects", "RepoObjViews", "LocalDatabase"};
        for (int i = 0; i < 7; ++i) {
            const QString name = QString::fromLatin1(names[i]);
            connect(created[i], &QObject::destroyed, this, [&order, name] { order << name; });
        }
        Startup::destroySingletons();
        QCOMPARE(order, (QStringList{QStringLiteral("LocalDatabase"), QStringLiteral("RepoObjViews"),
                                     QStringLiteral("RepoObjects"), QStringLiteral("EventServer"),
                                     QStringLiteral("Utils"), QStringLiteral("AppState"), QStringLiteral("I18n")}));
        QVERIFY(!I18n::instance());
        QVERIFY(!AppState::instance());
        QVERIFY(!Utils::instance());
        QVERIFY(!EventServer::instance());
        QVERIFY(!RepoObjects::instance());
        QVERIFY(!RepoObjViews::instance());
        QVERIFY(!LocalDatabase::instance());
    }

    void createTwiceKeepsTheFirstInstance()
    {
        AppState *first = AppState::create();
        QCOMPARE(AppState::create(), first);
        AppState::destroy();
        QVERIFY(!AppState::instance());
        AppState::destroy(); // harmless when already gone
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
