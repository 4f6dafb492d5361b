#include "repo/objview.h"
#include "repo/repobjviews.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

#include <cmath>

class TestRepoObjViews : public QObject
{
    Q_OBJECT

private slots:
    void rolesAreNumberedFromUserRoleInDeclarationOrder()
    {
        RepoObjViews model;
        const QList<QByteArray> names = {"viewIsActive", "viewName", "viewObjectSerial", "viewRoll",
                                         "viewTilt",     "viewPan",  "viewZoom"};
        const QHash<int, QByteArray> roles = model.roleNames();
        QCOMPARE(roles.size(), names.size());
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(roles.value(Qt::UserRole + 1 + i), names.at(i));
        QCOMPARE(RepoObjViews::instance(), &model);
        // appendView is the one method QML can call.
        const QMetaObject *meta = model.metaObject();
        QVERIFY(meta->indexOfMethod("appendView(QString,QString,float,float,float,float)") >= 0);
    }

    void aViewIsAppendedOnceForEachStreamAndName()
    {
        RepoObjViews model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

        QVERIFY(model.appendView("Entrance", "S-1", 1.5f, -2.25f, 30.0f, 1.75f));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 0);
        QCOMPARE(inserted.at(0).at(2).toInt(), 0);
        QCOMPARE(model.data(model.index(0, 0), RepoObjViews::ViewIsActiveRole).toBool(), false);

        // The same name for the same stream is refused and nothing changes.
        QVERIFY(!model.appendView("Entrance", "S-1", 9.0f, 9.0f, 9.0f, 9.0f));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(model.data(model.index(0, 0), RepoObjViews::ViewRollRole).toFloat(), 1.5f);

        // The same name on another stream is another view.
        QVERIFY(model.appendView("Entrance", "S-2", 0.0f, 0.0f, 0.0f, 1.0f));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(inserted.last().at(1).toInt(), 1);

        // Nothing else is checked: an empty name is a name.
        QVERIFY(model.appendView(QString(), "S-1", 0, 0, 0, 0));
        QVERIFY(!model.appendView(QString(), "S-1", 0, 0, 0, 0));
        QCOMPARE(model.views().size(), 3);
    }

    void dataReturnsTheStoredValuesExactly()
    {
        RepoObjViews model;
        const float roll = 0.1f, tilt = -33.333f, pan = 179.99f, zoom = 2.5f;
        QVERIFY(model.appendView("Hall", "S-7", roll, tilt, pan, zoom));
        const QModelIndex row = model.index(0, 0);
        QCOMPARE(model.data(row, RepoObjViews::ViewNameRole).toString(), QString("Hall"));
        QCOMPARE(model.data(row, RepoObjViews::ViewObjectSerialRole).toString(), QString("S-7"));
        const QVariant rollValue = model.data(row, RepoObjViews::ViewRollRole);
        QCOMPARE(rollValue.userType(), int(QMetaType::Float));
        QCOMPARE(rollValue.value<float>(), roll);
        QCOMPARE(model.data(row, RepoObjViews::ViewTiltRole).value<float>(), tilt);
        QCOMPARE(model.data(row, RepoObjViews::ViewPanRole).value<float>(), pan);
        QCOMPARE(model.data(row, RepoObjViews::ViewZoomRole).value<float>(), zoom);
        QVERIFY(!model.data(row, Qt::DisplayRole).isValid());
        QVERIFY(!model.data(row, RepoObjViews::ViewZoomRole + 1).isValid());
        QVERIFY(!model.data(model.index(3, 0), RepoObjViews::ViewNameRole).isValid());

        QVERIFY(model.appendView("Odd", "S-7", std::nanf(""), 0, 0, 0));
        QVERIFY(std::isnan(model.data(model.index(1, 0), RepoObjViews::ViewRollRole).toFloat()));
    }

    void onlyTheActiveRoleIsWritableAndAlwaysNotifies()
    {
        RepoObjViews model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.appendView("A", "S-1", 0, 0, 0, 0));
        QVERIFY(model.appendView("B", "S-1", 0, 0, 0, 0));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy viewChanged(model.views().at(1).get(), &ObjView::isActiveChanged);

        QVERIFY(model.setData(model.index(1, 0), true, RepoObjViews::ViewIsActiveRole));
        QCOMPARE(model.views().at(1)->isActive(), true);
        QCOMPARE(viewChanged.count(), 1);
        QVERIFY(model.setData(model.index(1, 0), true, RepoObjViews::ViewIsActiveRole));
        QCOMPARE(viewChanged.count(), 1);
        QCOMPARE(changed.count(), 2);
        for (const auto &signal : changed) {
            QCOMPARE(signal.at(0).toModelIndex().row(), 1);
            QCOMPARE(signal.at(1).toModelIndex().row(), 1);
            QCOMPARE(signal.at(2).value<QVector<int>>(), QVector<int>{RepoObjViews::ViewIsActiveRole});
        }

        for (int role = RepoObjViews::ViewNameRole; role <= RepoObjViews::ViewZoomRole; ++role)
            QVERIFY(!model.setData(model.index(0, 0), QStringLiteral("x"), role));
        QCOMPARE(model.views().at(0)->name(), QString("A"));
        QCOMPARE(changed.count(), 2);
        QVERIFY(!model.setData(model.index(5, 0), true, RepoObjViews::ViewIsActiveRole));
    }

    void aStreamFilterShowsItsViewsInAppendOrder()
    {
        RepoObjViews model;
        QVERIFY(model.appendView("one", "S-1", 0, 0, 0, 0));
        QVERIFY(model.appendView("other", "S-2", 0, 0, 0, 0));
        QVERIFY(model.appendView("two", "S-1", 0, 0, 0, 0));
        QVERIFY(model.appendView("three", "S-1", 0, 0, 0, 0));

        QSortFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setFilterRole(RepoObjViews::ViewObjectSerialRole);
        proxy.setFilterFixedString("S-1");
        QStringList names;
        for (int row = 0; row < proxy.rowCount(); ++row)
            names << proxy.data(proxy.index(row, 0), RepoObjViews::ViewNameRole).toString();
        QCOMPARE(names, QStringList({"one", "two", "three"}));
    }
};

QTEST_GUILESS_MAIN(TestRepoObjViews)
#include "tst_repobjviews.moc"
