#include "repo/object.h"
#include "repo/objview.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <limits>
#include <memory>

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qmlRegisterType<Object>("korvu.converter", 1, 0, "Object");
        qmlRegisterType<ObjView>("korvu.converter", 1, 0, "ObjView");
    }

    void newObjectIsActiveUnknownAndEmpty()
    {
        Object object;
        QVERIFY(object.isActive());
        QCOMPARE(object.type(), Object::UnknowType);
        QCOMPARE(int(object.type()), 0);
        for (const char *text : {"id", "idParent", "name", "serial", "url", "sourceUrl", "host"})
            QVERIFY2(object.property(text).toString().isEmpty(), text);
        for (const char *number : {"port", "zmqPort", "centerX", "centerY", "radius"})
            QVERIFY2(object.property(number).toInt() == 0, number);
        QCOMPARE(object.fov(), 0.0f);
        QVERIFY(!object.isFisheye());
    }

    void newViewIsInactive()
    {
        ObjView view;
        QVERIFY(!view.isActive());
        QVERIFY(view.name().isEmpty());
        QVERIFY(view.objectSerial().isEmpty());
        QCOMPARE(view.roll(), 0.0f);
        QCOMPARE(view.zoom(), 0.0f);
    }

    // Every property but fov notifies only on a real change.
    void objectPropertiesNotifyOnlyOnChange_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("id") << QByteArray("id") << QVariant(QStringLiteral("17"));
        QTest::newRow("idParent") << QByteArray("idParent") << QVariant(QStringLiteral("3"));
        QTest::newRow("name") << QByteArray("name") << QVariant(QStringLiteral("Lobby"));
        QTest::newRow("serial") << QByteArray("serial") << QVariant(QStringLiteral("SN-1"));
        QTest::newRow("url") << QByteArray("url") << QVariant(QStringLiteral("rtsp://cam/1"));
        QTest::newRow("sourceUrl") << QByteArray("sourceUrl") << QVariant(QStringLiteral("zmq:tcp://h:1"));
        QTest::newRow("isFisheye") << QByteArray("isFisheye") << QVariant(true);
        QTest::newRow("isActive") << QByteArray("isActive") << QVariant(false);
        QTest::newRow("type") << QByteArray("type") << QVariant(int(Object::Stream));
        QTest::newRow("host") << QByteArray("host") << QVariant(QStringLiteral("10.0.0.2"));
        QTest::newRow("port") << QByteArray("port") << QVariant(8080);
        QTest::newRow("zmqPort") << QByteArray("zmqPort") << QVariant(5555);
        QTest::newRow("centerX") << QByteArray("centerX") << QVariant(640);
        QTest::newRow("centerY") << QByteArray("centerY") << QVariant(480);
        QTest::newRow("radius") << QByteArray("radius") << QVariant(470);
    }

    void objectPropertiesNotifyOnlyOnChange()
    {
        QFETCH(QByteArray, name);
        QFETCH(QVariant, value);
        Object object;
        const QMetaProperty property =
            object.metaObject()->property(object.metaObject()->indexOfProperty(name.constData()));
        QVERIFY(property.isValid());
        QVERIFY(property.hasNotifySignal());
        QSignalSpy spy(&object, property.notifySignal());
        QVERIFY(property.write(&object, value));
        QVERIFY(property.write(&object, value));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(property.read(&object).toString(), value.toString());
        // Any other property stays silent.
        QSignalSpy fov(&object, &Object::fovChanged);
        QVERIFY(property.write(&object, value));
        QCOMPARE(fov.count(), 0);
    }

    void fovNotifiesOnEveryWrite()
    {
        Object object;
        QSignalSpy spy(&object, &Object::fovChanged);
        object.setFov(163.0f);
        object.setFov(163.0f);
        object.setFov(163.0f);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(object.fov(), 163.0f);
    }

    void viewSettersCompareExactlyAndNaNAlwaysNotifies()
    {
        ObjView view;
        QSignalSpy roll(&view, &ObjView::rollChanged);
        QSignalSpy name(&view, &ObjView::nameChanged);
        QSignalSpy active(&view, &ObjView::isActiveChanged);
        view.setRoll(12.5f);
        view.setRoll(12.5f);
        QCOMPARE(roll.count(), 1);
        view.setRoll(std::numeric_limits<float>::quiet_NaN());
        view.setRoll(std::numeric_limits<float>::quiet_NaN());
        QCOMPARE(roll.count(), 3);
        QVERIFY(std::isnan(view.roll()));
        view.setName(QStringLiteral("Entrance"));
        view.setName(QStringLiteral("Entrance"));
        QCOMPARE(name.count(), 1);
        view.setIsActive(false);
        QCOMPARE(active.count(), 0);
        view.setIsActive(true);
        QCOMPARE(active.count(), 1);

        QSignalSpy tilt(&view, &ObjView::tiltChanged);
        QSignalSpy pan(&view, &ObjView::panChanged);
        QSignalSpy zoom(&view, &ObjView::zoomChanged);
        QSignalSpy serial(&view, &ObjView::objectSerialChanged);
        view.setTilt(-30.0f);
        view.setPan(90.0f);
        view.setZoom(20.0f);
        view.setObjectSerial(QStringLiteral("SN-9"));
        view.setTilt(-30.0f);
        view.setPan(90.0f);
        view.setZoom(20.0f);
        view.setObjectSerial(QStringLiteral("SN-9"));
        QCOMPARE(tilt.count() + pan.count() + zoom.count() + serial.count(), 4);
        QCOMPARE(view.zoom(), 20.0f);
    }

    void typeIsWritableFromQmlByEnumName()
    {
        QQmlEngine engine;
        Object object;
        QQmlEngine::setObjectOwnership(&object, QQmlEngine::CppOwnership);
        engine.rootContext()->setContextProperty(QStringLiteral("target"), &object);
        QSignalSpy spy(&object, &Object::typeChanged);
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.13\nimport korvu.converter 1.0\n"
                          "QtObject { property int device: Object.Device\n"
                          "  Component.onCompleted: { target.type = Object.Stream; target.type = Object.Stream } }",
                          QUrl());
        QScopedPointer<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        QCOMPARE(root->property("device").toInt(), 1);
        QCOMPARE(int(object.type()), 2);
        QCOMPARE(spy.count(), 1);
    }

    // QML may hold a JS reference to a C++-owned Object; garbage collection must
    // not delete it, and the last shared pointer must.
    void onlyTheLastSharedPointerDeletesAnObjectQmlHasSeen()
    {
        QPointer<Object> watch;
        {
            auto object = std::make_shared<Object>();
            QQmlEngine::setObjectOwnership(object.get(), QQmlEngine::CppOwnership);
            watch = object.get();
            object->setName(QStringLiteral("Gate 1"));
            {
                QQmlEngine engine;
                engine.rootContext()->setContextProperty(QStringLiteral("target"), object.get());
                QQmlComponent component(&engine);
                component.setData("import QtQml 2.13\nQtObject { property var held: target;"
                                  " property string seen: target.name }",
                                  QUrl());
                QScopedPointer<QObject> root(component.create());
                QVERIFY2(root, qPrintable(component.errorString()));
                QCOMPARE(root->property("seen").toString(), QStringLiteral("Gate 1"));
                root.reset();
                engine.collectGarbage();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            QVERIFY(watch);
            auto second = object;
            object.reset();
            QVERIFY(watch);
        }
        QVERIFY(!watch);
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
