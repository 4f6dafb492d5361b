#include "objectfactory.h"
#include "repo/localdatabase.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "support/logcapture.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QtTest>

using ObjectList = RepoObjects::ObjectList;

class TestRepoObjects : public QObject
{
    Q_OBJECT

private:
    // Two gateways with two streams each; gateways first, as the import orders them.
    ObjectList site()
    {
        auto gw1 = makeGateway("1", "GW-1");
        auto gw2 = makeGateway("2", "GW-2");
        return {gw1,
                gw2,
                makeStream("11", gw1, "S-11"),
                makeStream("12", gw1, "S-12"),
                makeStream("21", gw2, "S-21"),
                makeStream("22", gw2, "S-22")};
    }

    static QList<int> rolesOf(const QList<QVariant> &dataChanged)
    {
        return dataChanged.at(2).value<QVector<int>>().toList();
    }

private slots:
    void rolesAreNumberedFromUserRoleInDeclarationOrder()
    {
        RepoObjects model;
        const QHash<int, QByteArray> roles = model.roleNames();
        const QList<QByteArray> names = {
            "objIsActive",  "objIsParentActive", "objId",   "objIdParent", "objName",    "objSerial",  "objUrl",
            "objIsFisheye", "objType",           "objHost", "objPort",     "objZmqPort", "objInstance",
            "objParentName"};
        QCOMPARE(roles.size(), names.size());
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(roles.value(Qt::UserRole + 1 + i), names.at(i));
        QCOMPARE(RepoObjects::instance(), &model);
    }

    void dataReturnsEveryFieldOfTheRow()
    {
        RepoObjects model;
        auto gw = makeGateway("7", "GW-7", "192.0.2.5", 8080);
        auto stream = makeStream("70", gw, "S-70");
        stream->setUrl("ref://cam/1");
        stream->setSourceUrl("zmq:tcp://192.0.2.5:5555");
        stream->setIsFisheye(true);
        stream->setZmqPort(5555);
        model.setObjects({gw, stream});
        QCOMPARE(model.rowCount(), 2);

        const QModelIndex row = model.index(1, 0);
        QCOMPARE(model.data(row, RepoObjects::ObjIsActiveRole).toBool(), true);
        QCOMPARE(model.data(row, RepoObjects::ObjIsParentActiveRole).toBool(), true);
        QCOMPARE(model.data(row, RepoObjects::ObjIdRole).toString(), QString("70"));
        QCOMPARE(model.data(row, RepoObjects::ObjIdParentRole).toString(), QString("7"));
        QCOMPARE(model.data(row, RepoObjects::ObjNameRole).toString(), QString("Stream S-70"));
        QCOMPARE(model.data(row, RepoObjects::ObjSerialRole).toString(), QString("S-70"));
        // The url role is the event server's address, not the source string.
        QCOMPARE(model.data(row, RepoObjects::ObjUrlRole).toString(), QString("ref://cam/1"));
        QCOMPARE(model.data(row, RepoObjects::ObjIsFisheyeRole).toBool(), true);
        QCOMPARE(model.data(row, RepoObjects::ObjTypeRole).userType(), int(QMetaType::Int));
        QCOMPARE(model.data(row, RepoObjects::ObjTypeRole).toInt(), int(Object::Stream));
        QCOMPARE(model.data(row, RepoObjects::ObjHostRole).toString(), QString("192.0.2.5"));
        QCOMPARE(model.data(row, RepoObjects::ObjPortRole).toInt(), 8080);
        QCOMPARE(model.data(row, RepoObjects::ObjZmqPortRole).toInt(), 5555);
        QCOMPARE(model.data(model.index(0, 0), RepoObjects::ObjTypeRole).toInt(), int(Object::Device));

        const QVariant instance = model.data(row, RepoObjects::ObjInstanceRole);
        QCOMPARE(QByteArray(instance.typeName()), QByteArray("Object*"));
        auto *object = instance.value<Object *>();
        QCOMPARE(object, stream.get());
        // What QML does with the instance: write a property that has no role.
        QVERIFY(object->setProperty("centerX", 640));
        QCOMPARE(stream->centerX(), 640);

        QVERIFY(!model.data(row, Qt::DisplayRole).isValid());
        // The gateway's name; a gateway has none above it.
        QCOMPARE(model.data(row, RepoObjects::ObjParentNameRole).toString(), QString("Gateway GW-7"));
        QCOMPARE(model.data(model.index(0, 0), RepoObjects::ObjParentNameRole).toString(), QString());
        QVERIFY(!model.data(row, RepoObjects::ObjParentNameRole + 1).isValid());
        QVERIFY(!model.data(model.index(5, 0), RepoObjects::ObjNameRole).isValid());
    }

    void settingAnEmptyListGivesOneResetAndNoRows()
    {
        RepoObjects model;
        model.setObjects(site());
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setObjects({});
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(model.objectsById().isEmpty());
        QVERIFY(model.objectsBySerial().isEmpty());
    }

    void clearThenSetObjectsResetsTwiceAndPassesTheTester()
    {
        RepoObjects model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.clear();
        model.setObjects(site());
        QCOMPARE(resets.count(), 2);
        QCOMPARE(model.rowCount(), 6);
        QVERIFY(model.setData(model.index(0, 0), false, RepoObjects::ObjIsActiveRole));
        QVERIFY(model.setData(model.index(3, 0), false, RepoObjects::ObjIsActiveRole));
        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }

    void duplicateSerialsGiveTwoRowsAndTheIndexKeepsTheLater()
    {
        RepoObjects model;
        auto first = makeGateway("1", "SAME");
        auto second = makeGateway("2", "SAME");
        model.setObjects({first, second});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.objectsBySerial().size(), 1);
        QCOMPARE(model.objectsBySerial().value("SAME"), second);
        QCOMPARE(model.objectsById().size(), 2);

        auto third = makeGateway("5", "A");
        auto fourth = makeGateway("5", "B");
        model.setObjects({third, fourth});
        QCOMPARE(model.objectsById().value("5"), fourth);
    }

    void indexesAreNotRekeyedWhenAnObjectChanges()
    {
        RepoObjects model;
        auto gw = makeGateway("1", "GW-1");
        model.setObjects({gw});
        gw->setSerial("GW-renamed");
        gw->setId("99");
        QCOMPARE(model.objectsBySerial().value("GW-1"), gw);
        QVERIFY(!model.objectsBySerial().contains("GW-renamed"));
        QCOMPARE(model.objectsById().value("1"), gw);
    }

    void uncheckingAGatewayNotifiesItsStreamsAndHidesThem()
    {
        RepoObjects model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setObjects(site());

        // The main window's stream list: streams whose gateway is switched on.
        QSortFilterProxyModel streams;
        streams.setSourceModel(&model);
        streams.setFilterRole(RepoObjects::ObjIsParentActiveRole);
        streams.setFilterFixedString("true");
        QCOMPARE(streams.rowCount(), 4);

        LogCapture log;
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(model.index(0, 0), false, RepoObjects::ObjIsActiveRole));
        QVERIFY(log.contains(QtDebugMsg, "Set Gateway GW-1 isActive to 0"));

        QMap<int, QList<int>> rolesByRow;
        for (const QList<QVariant> &signal : changed) {
            const auto topLeft = signal.at(0).toModelIndex();
            QCOMPARE(signal.at(1).toModelIndex(), topLeft);
            rolesByRow[topLeft.row()] += rolesOf(signal);
        }
        QCOMPARE(rolesByRow.keys(), QList<int>({0, 2, 3}));
        QCOMPARE(rolesByRow.value(0), QList<int>{RepoObjects::ObjIsActiveRole});
        QCOMPARE(rolesByRow.value(2), QList<int>{RepoObjects::ObjIsParentActiveRole});
        QCOMPARE(rolesByRow.value(3), QList<int>{RepoObjects::ObjIsParentActiveRole});
        QCOMPARE(model.data(model.index(2, 0), RepoObjects::ObjIsParentActiveRole).toBool(), false);
        QCOMPARE(model.data(model.index(4, 0), RepoObjects::ObjIsParentActiveRole).toBool(), true);
        QCOMPARE(streams.rowCount(), 2);
    }

    void settingTheCurrentValueNotifiesTheRowOnly()
    {
        RepoObjects model;
        const ObjectList objects = site();
        model.setObjects(objects);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy activeChanged(objects.at(0).get(), &Object::isActiveChanged);
        QVERIFY(model.setData(model.index(0, 0), true, RepoObjects::ObjIsActiveRole));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(rolesOf(changed.at(0)), QList<int>{RepoObjects::ObjIsActiveRole});
        QCOMPARE(activeChanged.count(), 0);
    }

    void onlyTheActiveRoleIsWritable_data()
    {
        QTest::addColumn<int>("role");
        for (int role = RepoObjects::ObjIsParentActiveRole; role <= RepoObjects::ObjInstanceRole; ++role)
            QTest::addRow("%s", RepoObjects().roleNames().value(role).constData()) << role;
        QTest::addRow("display") << int(Qt::DisplayRole);
    }

    void onlyTheActiveRoleIsWritable()
    {
        QFETCH(int, role);
        RepoObjects model;
        const ObjectList objects = site();
        model.setObjects(objects);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(!model.setData(model.index(2, 0), QStringLiteral("x"), role));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(objects.at(2)->name(), QString("Stream S-11"));
        QCOMPARE(objects.at(2)->isActive(), true);
        QVERIFY(!model.setData(model.index(42, 0), false, RepoObjects::ObjIsActiveRole));
    }

    void aStreamRowAnnouncesItsNewZmqPort()
    {
        RepoObjects model;
        const ObjectList objects = site();
        model.setObjects(objects);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        objects.at(4)->setZmqPort(6000);
        objects.at(4)->setZmqPort(6000);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 4);
        QCOMPARE(rolesOf(changed.at(0)), QList<int>{RepoObjects::ObjZmqPortRole});
    }

    void aResetDropsTheConnectionsOfTheOldRows()
    {
        RepoObjects model;
        const ObjectList old = site();
        model.setObjects(old);
        model.clear();
        model.setObjects(site());
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        old.at(0)->setIsActive(false);
        old.at(2)->setZmqPort(7000);
        QCOMPARE(changed.count(), 0);
    }

    void replacedRowsAreReleasedByTheEventLoopAfterTheReset()
    {
        RepoObjects model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::vector<std::weak_ptr<Object>> old;
        {
            // More rows than one release slice, so the release takes several turns.
            auto gw = makeGateway("1", "GW-1");
            ObjectList rows{gw};
            for (int i = 0; i < 3 * RepoObjects::kReleaseSlice; ++i)
                rows.append(makeStream(QString::number(100 + i), gw, QStringLiteral("S-%1").arg(i)));
            model.setObjects(rows);
            old.assign(rows.cbegin(), rows.cend());
        }
        model.setObjects(site());
        QCOMPARE(model.rowCount(), 6);
        QCOMPARE(model.objectsById().size(), 6);
        QVERIFY(model.hasRetiredRows());
        QVERIFY(!old.front().expired());

        QTRY_VERIFY_WITH_TIMEOUT(!model.hasRetiredRows(), 5000);
        QVERIFY(std::all_of(old.cbegin(), old.cend(), [](const std::weak_ptr<Object> &row) { return row.expired(); }));
        // The current rows are untouched by the release.
        QCOMPARE(model.rowCount(), 6);
        QCOMPARE(model.objectsBySerial().value("S-22")->name(), QString("Stream S-22"));
    }

    void rowsStillHeldElsewhereOutliveTheirRelease()
    {
        RepoObjects model;
        const ObjectList held = site();
        model.setObjects(held);
        const RepoObjects::ObjectIndex index = model.objectsBySerial();
        model.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasRetiredRows(), 5000);
        QCOMPARE(index.value("S-11"), held.at(2));
        QCOMPARE(held.at(2)->name(), QString("Stream S-11"));
    }

    void aStreamWithoutGatewayReadsAsHidden()
    {
        RepoObjects model;
        auto orphan = makeStream("9", nullptr, "S-9");
        model.setObjects({orphan});
        QCOMPARE(model.data(model.index(0, 0), RepoObjects::ObjIsParentActiveRole).toBool(), false);
    }

    void savedGatewayAndStreamSettingsAreApplied()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        LocalDatabase database;
        database.setDataPath(dir.filePath("objects.data"));
        RepoObjViews views;
        RepoObjects model;
        {
            ObjectList first = site();
            first.at(0)->setIsActive(false); // GW-1 switched off
            first.at(3)->setIsActive(false); // S-12 switched off
            for (int i = 2; i < 6; ++i)
                first.at(i)->setSourceUrl(QStringLiteral("uri:x"));
            first.at(2)->setCenterX(512);
            first.at(2)->setCenterY(384);
            first.at(2)->setRadius(300);
            first.at(2)->setFov(185.5f);
            first.at(2)->setIsFisheye(true);
            QVERIFY(database.open());
            model.setObjects(first);
            QVERIFY(database.save());
        }
        QVERIFY(database.open());

        // A fresh import: new objects, every one active and without lens values.
        const ObjectList second = site();
        QSignalSpy fovChanged(second.at(2).get(), &Object::fovChanged);
        database.applyStoredSettings(second);
        model.clear();
        model.setObjects(second);
        QCOMPARE(second.at(0)->isActive(), false);
        QCOMPARE(second.at(1)->isActive(), true);
        QCOMPARE(second.at(3)->isActive(), false);
        QCOMPARE(second.at(2)->centerX(), 512);
        QCOMPARE(second.at(2)->centerY(), 384);
        QCOMPARE(second.at(2)->radius(), 300);
        QCOMPARE(second.at(2)->fov(), 185.5f);
        QCOMPARE(fovChanged.count(), 1);
        // The saved fisheye flag is not carried over: the event server's holds.
        QCOMPARE(second.at(2)->isFisheye(), false);
        // Streams of the switched-off gateway are hidden.
        QCOMPARE(model.data(model.index(2, 0), RepoObjects::ObjIsParentActiveRole).toBool(), false);
        QCOMPARE(model.data(model.index(4, 0), RepoObjects::ObjIsParentActiveRole).toBool(), true);
    }
};

QTEST_GUILESS_MAIN(TestRepoObjects)
#include "tst_repoobjects.moc"
