// The root-context properties that start-up gives every document: the debug flag,
// the streaming-server stand-in and its database argument, and the settings helper.
#include "app/settingsstore.h"
#include "app/startup.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

class TestContextProperties : public QObject
{
    Q_OBJECT

private slots:
    void documentsSeeTheServerAndItsDatabase()
    {
        QQmlEngine engine;
        Startup::setContextProperties(&engine);
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.13\n"
                          "QtObject {\n"
                          "  property bool debug: isDebug\n"
                          "  property string program: serverProgram\n"
                          "  property var arguments: serverArguments\n"
                          "  property QtObject store: settingsStore\n"
                          "}\n",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(object->property("debug").toBool(), true);

        // A bare name, looked for where the program is installed rather than where it was built.
        QCOMPARE(object->property("program").toString(), QStringLiteral("ostrevan"));

        const QStringList arguments = object->property("arguments").toStringList();
        QCOMPARE(arguments, QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/objects.data")});

        auto *store = qvariant_cast<QObject *>(object->property("store"));
        QVERIFY(qobject_cast<SettingsStore *>(store));
        // Owned by the engine, so it goes with it.
        QCOMPARE(store->parent(), &engine);
    }
};

QTEST_GUILESS_MAIN(TestContextProperties)
#include "tst_contextproperties.moc"
