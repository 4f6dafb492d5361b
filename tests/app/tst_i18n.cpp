#include "app/i18n.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTranslator>
#include <QtTest>

namespace {

// Counts the LanguageChange events the application receives: one each time a
// translator is really installed or removed.
class LanguageChangeCounter : public QObject
{
public:
    LanguageChangeCounter() { QCoreApplication::instance()->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (watched == QCoreApplication::instance() && e->type() == QEvent::LanguageChange)
            ++count;
        return false;
    }
};

// Counts how often a QML binding calls it.
class EvaluationCounter : public QObject
{
    Q_OBJECT
public:
    int count = 0;
    Q_INVOKABLE QString seen(const QString &text)
    {
        ++count;
        return text;
    }
};

} // namespace

class TestI18n : public QObject
{
    Q_OBJECT

private slots:
    void init() { I18n::create(); }
    void cleanup() { I18n::destroy(); }

    void startsInEnglishWithAnEmptyHook()
    {
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("en_US"));
        QCOMPARE(I18n::instance()->localeNotify(), QString());
    }

    void catalogueIsCompiledIntoTheResources()
    {
        QVERIFY(QFile::exists(QStringLiteral(":/Quillon_pt_BR.qm")));
        QTranslator translator;
        QVERIFY(translator.load(QLocale(QStringLiteral("pt_BR")), QStringLiteral("Quillon"), QStringLiteral("_"),
                                QStringLiteral(":/")));
        QCOMPARE(translator.language(), QStringLiteral("pt_BR"));
    }

    void sameLocaleAgainDoesNothing()
    {
        auto *i18n = I18n::instance();
        QSignalSpy locale(i18n, &I18n::localeChanged);
        QSignalSpy notify(i18n, &I18n::localeNotifyChanged);
        LanguageChangeCounter counter;
        i18n->setLocale(QStringLiteral("de_DE"));
        QCOMPARE(counter.count, 1);
        QCOMPARE(locale.count(), 1);
        i18n->setLocale(QStringLiteral("de_DE"));
        QCoreApplication::processEvents();
        QCOMPARE(locale.count(), 1);
        QCOMPARE(notify.count(), 1);
        QCOMPARE(counter.count, 1); // the translator was not touched again
    }

    void switchingInstallsAndRemovesTheTranslator()
    {
        auto *i18n = I18n::instance();
        QStringList order;
        connect(i18n, &I18n::localeChanged, this, [&] { order << QStringLiteral("locale"); });
        connect(i18n, &I18n::localeNotifyChanged, this, [&] { order << QStringLiteral("notify"); });
        const auto login = [] { return QCoreApplication::translate("TestI18n", "Login"); };

        // de_DE has a catalogue (compiled into this test) with one translation.
        i18n->setLocale(QStringLiteral("de_DE"));
        QCOMPARE(i18n->locale(), QStringLiteral("de_DE"));
        QCOMPARE(login(), QStringLiteral("Anmelden"));
        QCOMPARE(order, (QStringList{QStringLiteral("locale"), QStringLiteral("notify")}));
        QCOMPARE(i18n->localeNotify(), QString());

        // No English catalogue exists: back to the source texts.
        i18n->setLocale(QStringLiteral("en_US"));
        QCOMPARE(login(), QStringLiteral("Login"));
        QCOMPARE(order.size(), 4);
        QCOMPARE(order.at(2), QStringLiteral("locale"));
        QCOMPARE(order.at(3), QStringLiteral("notify"));

        // The shipped Portuguese catalogue holds none of this test's texts; it
        // replaces the German one in the same translator.
        i18n->setLocale(QStringLiteral("de_DE"));
        QCOMPARE(login(), QStringLiteral("Anmelden"));
        i18n->setLocale(QStringLiteral("pt_BR"));
        QCOMPARE(login(), QStringLiteral("Login"));
        QCOMPARE(order.size(), 8);

        i18n->setLocale(QStringLiteral("xx_YY"));
        QCOMPARE(login(), QStringLiteral("Login"));
        QCOMPARE(i18n->locale(), QStringLiteral("xx_YY"));
    }

    void boundTextsReevaluateOnEveryChange()
    {
        QQmlEngine engine;
        EvaluationCounter counter;
        engine.rootContext()->setContextProperty(QStringLiteral("counter"), &counter);
        qmlRegisterSingletonType<I18n>("korvu.converter", 1, 0, "I18n", &I18n::provider);
        QQmlComponent component(&engine);
        component.setData("import QtQuick 2.13\nimport korvu.converter 1.0\n"
                          "QtObject { property string label: counter.seen(qsTr(\"Login\") + I18n.localeNotify) }",
                          QUrl());
        QScopedPointer<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        const int before = counter.count;
        QCOMPARE(object->property("label").toString(), QStringLiteral("Login"));
        I18n::instance()->setLocale(QStringLiteral("pt_BR"));
        QCOMPARE(counter.count, before + 1);
        I18n::instance()->setLocale(QStringLiteral("pt_BR"));
        QCOMPARE(counter.count, before + 1);
        I18n::instance()->setLocale(QStringLiteral("en_US"));
        QCOMPARE(counter.count, before + 2);
        QCOMPARE(object->property("label").toString(), QStringLiteral("Login"));
    }
};

QTEST_MAIN(TestI18n)
#include "tst_i18n.moc"
