#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/streamviews.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

#include <cmath>

class TestRepoObjViews : public QObject
{
    Q_OBJECT

    static std::shared_ptr<ViewInfo> info(const QString &serial, const QString &name, bool active = false)
    {
        auto record = std::make_shared<ViewInfo>();
        record->serialStream = serial;
        record->name = name;
        record->roll = 1.5f;
        record->isActive = active;
        return record;
    }

    static QStringList names(const QAbstractItemModel &model)
    {
        QStringList result;
        for (int row = 0; row < model.rowCount(); ++row)
            result << model.data(model.index(row, 0), RepoObjViews::ViewNameRole).toString();
        return result;
    }

private slots:
    void savedViewsAreAppendedInOneModelChange()
    {
        RepoObjViews model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.appendView("Existing", "S-1", 0, 0, 0, 1));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        const int appended = model.appendViews({info("S-1", "Existing"), info("S-1", "A", true), info("S-2", "A"),
                                                info("S-1", "A"), nullptr, info("S-2", "B", true)});
        QCOMPARE(appended, 3);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 1);
        QCOMPARE(inserted.at(0).at(2).toInt(), 3);
        QCOMPARE(names(model), (QStringList{"Existing", "A", "A", "B"}));
        QCOMPARE(model.views().at(1)->isActive(), true);
        QCOMPARE(model.views().at(2)->isActive(), false);
        QCOMPARE(model.views().at(1)->roll(), 1.5f);
        QCOMPARE(model.rowsOf("S-1"), (QVector<int>{0, 1}));
        QCOMPARE(model.rowsOf("S-2"), (QVector<int>{2, 3}));
        QCOMPARE(model.appendViews({info("S-2", "B")}), 0);
        QCOMPARE(inserted.count(), 1);
    }

    // A large restore comes in slices, one model change each, the first at once.
    void aLargeRestoreArrivesInSlices()
    {
        RepoObjViews model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const int slice = RepoObjViews::kRestoreSlice;
        QList<std::shared_ptr<ViewInfo>> records;
        for (int i = 0; i < 2 * slice + 5; ++i)
            records << info(QStringLiteral("S-%1").arg(i % 3), QStringLiteral("v%1").arg(i));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy restoring(&model, &RepoObjViews::restoringChanged);
        model.restoreViews(records);
        QCOMPARE(model.rowCount(), slice);
        QVERIFY(model.isRestoring());
        // A view stored meanwhile, and one of the pending names, stored first.
        QVERIFY(model.appendView("late", "S-0", 0, 0, 0, 1));
        QVERIFY(model.appendView(QStringLiteral("v%1").arg(2 * slice), QStringLiteral("S-%1").arg(2 * slice % 3), 0, 0,
                                 0, 1));
        QTRY_VERIFY(!model.isRestoring());
        QCOMPARE(model.rowCount(), 2 * slice + 5 + 1);
        QCOMPARE(restoring.count(), 2);
        QCOMPARE(inserted.count(), 5);
        for (const auto &args : inserted)
            QVERIFY(args.at(2).toInt() - args.at(1).toInt() < slice);

        // A small one is in at once and never counts as restoring.
        model.restoreViews({info("S-9", "x")});
        QCOMPARE(model.rowCount(), 2 * slice + 7);
        QCOMPARE(restoring.count(), 2);
    }

    // A stream's own list follows appends (one by one or in a batch), changes of
    // its rows only, and writes viewIsActive through to the view model.
    void aStreamsViewListFollowsTheViewModel()
    {
        RepoObjViews model;
        model.appendViews({info("S-1", "a1"), info("S-2", "b1"), info("S-1", "a2")});
        StreamViews stream;
        QAbstractItemModelTester tester(&stream, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy counts(&stream, &StreamViews::countChanged);
        stream.setObjectSerial("S-1");
        QCOMPARE(names(stream), (QStringList{"a1", "a2"}));
        QCOMPARE(stream.count(), 2);
        QCOMPARE(counts.count(), 1);
        QCOMPARE(stream.roleNames(), model.roleNames());

        QSignalSpy inserted(&stream, &QAbstractItemModel::rowsInserted);
        model.appendView("b2", "S-2", 0, 0, 0, 1);
        QCOMPARE(inserted.count(), 0);
        model.appendViews({info("S-1", "a3"), info("S-2", "b3"), info("S-1", "a4")});
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(names(stream), (QStringList{"a1", "a2", "a3", "a4"}));
        QCOMPARE(counts.count(), 2);

        QSignalSpy changed(&stream, &QAbstractItemModel::dataChanged);
        model.setData(model.index(1, 0), true, RepoObjViews::ViewIsActiveRole); // b1
        QCOMPARE(changed.count(), 0);
        QVERIFY(stream.setData(stream.index(1, 0), true, RepoObjViews::ViewIsActiveRole)); // a2
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(model.views().at(2)->isActive(), true);
        QVERIFY(!stream.setData(stream.index(1, 0), "x", RepoObjViews::ViewNameRole));

        stream.setObjectSerial("S-2");
        QCOMPARE(names(stream), (QStringList{"b1", "b2", "b3"}));
        stream.setObjectSerial("S-none");
        QCOMPARE(stream.count(), 0);
    }

    // Renaming and removing keep both indexes right: the stream lists, the lookups by name, the
    // refusals of a taken name, and a restore that would bring a removed view back.
    void renamedAndRemovedViewsLeaveEveryIndexRight()
    {
        RepoObjViews model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.appendViews(
                     {info("S-1", "A"), info("S-2", "A"), info("S-1", "B"), info("S-2", "B"), info("S-1", "C")}),
                 5);
        StreamViews stream;
        stream.setObjectSerial("S-1");

        QVERIFY(!model.updateView("S-1", "A", "B", 0, 0, 0, 1));
        QVERIFY(!model.updateView("S-1", "A", "", 0, 0, 0, 1));
        QVERIFY(!model.updateView("S-1", "Z", "Y", 0, 0, 0, 1));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.updateView("S-1", "A", "B2", 1, 2, 3, 4));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(
            model.viewOf("S-1", "B2"),
            (QVariantMap{
                {"name", "B2"}, {"roll", 1.0f}, {"tilt", 2.0f}, {"pan", 3.0f}, {"zoom", 4.0f}, {"isActive", false},
                {"mode", "perspective"}, {"layout", QVariantMap()}}));
        QVERIFY(model.viewOf("S-1", "A").isEmpty());
        QVERIFY(model.hasView("S-2", "A"));

        QVERIFY(model.removeView("S-1", "B"));
        QVERIFY(!model.removeView("S-1", "B"));
        QCOMPARE(names(model), (QStringList{"B2", "A", "B", "C"}));
        QCOMPARE(model.rowsOf("S-1"), (QVector<int>{0, 3}));
        QCOMPARE(model.rowsOf("S-2"), (QVector<int>{1, 2}));
        QCOMPARE(names(stream), (QStringList{"B2", "C"}));
        QCOMPARE(stream.count(), 2);
        QVERIFY(model.removeView("S-2", "A"));
        QVERIFY(model.updateView("S-2", "B", "A", 0, 0, 0, 1));
        QCOMPARE(model.rowsOf("S-2"), (QVector<int>{1}));
        QCOMPARE(model.viewOf("S-2", "A").value("name").toString(), QStringLiteral("A"));

        // The records read at start-up, restored again before a save, bring back none of them.
        model.restoreViews({info("S-1", "A"), info("S-1", "B"), info("S-1", "C"), info("S-1", "D")});
        QTRY_VERIFY(!model.isRestoring());
        QCOMPARE(names(stream), (QStringList{"B2", "C", "D"}));
    }

    // A copy takes the first free name of "NAME copy", "NAME copy 2", ... among the stream's views only.
    void aCopyTakesTheFirstFreeName()
    {
        RepoObjViews model;
        QVERIFY(model.appendView("Door", "S-1", 0, 0, 0, 60));
        QCOMPARE(model.copyName("S-1", "Door"), QString("Door copy"));
        QVERIFY(model.appendView("Door copy", "S-1", 0, 0, 0, 60));
        QVERIFY(model.appendView("Door copy 2", "S-1", 0, 0, 0, 60));
        QVERIFY(model.appendView("Door copy 3", "S-2", 0, 0, 0, 60));
        QCOMPARE(model.copyName("S-1", "Door"), QString("Door copy 3"));
        QCOMPARE(model.copyName("S-2", "Door"), QString("Door copy"));
    }

    void rolesAreNumberedFromUserRoleInDeclarationOrder()
    {
        RepoObjViews model;
        const QList<QByteArray> names = {"viewIsActive", "viewName", "viewObjectSerial", "viewRoll",
                                         "viewTilt",     "viewPan",  "viewZoom", "viewMode", "viewLayout"};
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
        QVERIFY(!model.data(row, RepoObjViews::ViewLayoutRole + 1).isValid());
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

    // By stream and name, as the defish window ticks a view it stores; a name the stream does not have
    // (another stream's view) is refused with a log line.
    void aViewIsTickedByNameOnlyWhereItExists()
    {
        RepoObjViews model;
        QVERIFY(model.appendView("A", "S-1", 0, 0, 0, 0));
        QVERIFY(model.appendView("B", "S-2", 0, 0, 0, 0));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No view \"B\" of stream \"S-1\" to switch on$"));
        QVERIFY(!model.setViewActive("S-1", "B", true));
        QVERIFY(model.setViewActive("S-2", "B", true));
        QCOMPARE(QList<bool>({model.views().at(0)->isActive(), model.views().at(1)->isActive()}),
                 QList<bool>({false, true}));
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
