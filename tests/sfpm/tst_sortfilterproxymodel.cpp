// The proxy model with ValueFilters: the way the main window uses it.
#include "sfpmtesthelpers.h"
#include "support/logcapture.h"
#include "testlistmodel.h"

#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/valuefilter.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace qqsfpm;
using sfpmtest::column;
using sfpmtest::CountingValueFilter;
using Row = TestListModel::Row;

namespace {

const QStringList kRoles = {"objName", "objType", "objIsParentActive", "objSerial"};

// Gateways (type 1) and their streams (type 2), in the object model's order.
QVector<Row> sampleRows()
{
    return {
        {"g1", 1, true, "G1"},    {"s1a", 2, true, "S1A"}, {"s1b", 2, true, "S1B"}, {"g2", 1, false, "G2"},
        {"s2a", 2, false, "S2A"}, {"g3", 1, true, "G3"},   {"s3a", 2, true, "S3A"},
    };
}

// What the stream list must show: streams of active gateways, in source order.
QStringList activeStreams(const TestListModel &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex i = model.index(row, 0);
        if (i.data(model.role("objType")).toInt() == 2 && i.data(model.role("objIsParentActive")).toBool())
            names.append(i.data(model.role("objName")).toString());
    }
    return names;
}

// A completed proxy over `model` with the stream list's two filters.
struct StreamsProxy
{
    explicit StreamsProxy(TestListModel *model)
    {
        proxy.classBegin();
        proxy.setSourceModel(model);
        type.setRoleName("objType");
        type.setValue(2);
        active.setRoleName("objIsParentActive");
        active.setValue(true);
        proxy.appendFilter(&type);
        proxy.appendFilter(&active);
        proxy.componentComplete();
    }
    // Declared first so it is destroyed last: the filters go first, as in QML.
    QQmlSortFilterProxyModel proxy;
    CountingValueFilter type;
    CountingValueFilter active;
};

} // namespace

class TestSortFilterProxyModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void typesAreRegisteredWhenTheApplicationStarts();
    void proxyStaysConsistentWhileTheSourceChanges();
    void proxyStaysConsistentWhileFiltersChange();
    void unsetValueAcceptsEveryRow();
    void disabledFilterAcceptsEveryRow();
    void invertedFilterAcceptsExactlyTheRowsItWouldReject();
    void sameValueDoesNotRefilter();
    void twoFiltersMustBothAccept();
    void perRowProxyShowsOnlyThatSerialsViews();
    void filterSignalsFollowTheInvalidationRules();
    void everyRowIsAcceptedUntilComplete();
    void countFollowsTheRows();
    void roleAndRowAccessors();
    void builtInFilterValueAndPattern();
    void rolesArriveWithTheFirstRow();
    void sourceResetRefreshesRoles();
    void deletedSourceLeavesAnEmptyProxy();
    void filterRemovedOrDestroyedWhileListed();
    void unknownRoleNameWarnsOnceAndRejectsNothingByCrash();
    void delayedTurnsABurstIntoOneRefilter();
    void dataChangedOnOneRowReEvaluatesThatRowOnly();
    void scatteredFilterChangeIsAppliedInOnePass();
};

void TestSortFilterProxyModel::initTestCase()
{
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
}

void TestSortFilterProxyModel::typesAreRegisteredWhenTheApplicationStarts()
{
    // Nothing in this program registers the types explicitly: the library's
    // start-up routines did it when the application object was constructed.
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml 2.13\n"
                      "import SortFilterProxyModel 0.2\n"
                      "SortFilterProxyModel { filters: [ ValueFilter { roleName: \"a\"; value: 1 } ] }\n",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    auto *proxy = qobject_cast<QQmlSortFilterProxyModel *>(object.get());
    QVERIFY(proxy);
    QCOMPARE(proxy->filters().size(), 1);
}

void TestSortFilterProxyModel::proxyStaysConsistentWhileTheSourceChanges()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    QAbstractItemModelTester tester(&p.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));
    QCOMPARE(column(p.proxy, "objName"), QStringList({"s1a", "s1b", "s3a"}));

    model.append({"s3b", 2, true, "S3B"});
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));
    model.insert(0, {{"s0", 2, true, "S0"}, {"g0", 1, true, "G0"}});
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));
    model.remove(2, 3);
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));

    // The gateway's flag goes off: its stream leaves at once, and comes back.
    int row = 0;
    while (model.index(row, 0).data(model.role("objName")).toString() != "s3a")
        ++row;
    model.set(row, "objIsParentActive", false);
    QVERIFY(!column(p.proxy, "objName").contains("s3a"));
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));
    model.set(row, "objIsParentActive", true);
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));

    model.move(0, 4);
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));
    model.reset({{"x", 2, true, "X"}, {"y", 1, true, "Y"}, {"z", 2, false, "Z"}});
    QCOMPARE(column(p.proxy, "objName"), QStringList({"x"}));
    model.reset({});
    QCOMPARE(p.proxy.count(), 0);
    model.reset(sampleRows());
    QCOMPARE(column(p.proxy, "objName"), activeStreams(model));

    TestListModel other(kRoles);
    other.reset({{"o1", 2, true, "O1"}, {"o2", 2, false, "O2"}});
    p.proxy.setSourceModel(&other);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"o1"}));
}

void TestSortFilterProxyModel::proxyStaysConsistentWhileFiltersChange()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    QAbstractItemModelTester tester(&p.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);

    p.type.setValue(1);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"g1", "g3"}));
    p.active.setEnabled(false);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"g1", "g2", "g3"}));
    p.active.setEnabled(true);
    p.active.setInverted(true);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"g2"}));
    p.type.setRoleName("objSerial");
    p.type.setValue("S2A");
    QCOMPARE(column(p.proxy, "objName"), QStringList({"s2a"}));
    p.proxy.removeFilter(&p.active);
    p.proxy.removeFilter(&p.type);
    QCOMPARE(p.proxy.count(), model.rowCount());
}

void TestSortFilterProxyModel::unsetValueAcceptsEveryRow()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    QQmlSortFilterProxyModel proxy;
    ValueFilter filter;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    filter.setRoleName("objType");
    proxy.appendFilter(&filter);
    proxy.componentComplete();

    QVERIFY(!filter.value().isValid());
    QCOMPARE(proxy.count(), model.rowCount());
    filter.setValue(1);
    QCOMPARE(proxy.count(), 3);
    // Back to "no value": everything again.
    filter.setValue(QVariant());
    QCOMPARE(proxy.count(), model.rowCount());
}

void TestSortFilterProxyModel::disabledFilterAcceptsEveryRow()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    p.type.setEnabled(false);
    p.active.setEnabled(false);
    QCOMPARE(p.proxy.count(), model.rowCount());
    // Inverting a disabled filter changes nothing either.
    p.type.setInverted(true);
    QCOMPARE(p.proxy.count(), model.rowCount());
    p.type.setEnabled(true);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"g1", "g2", "g3"}));
}

void TestSortFilterProxyModel::invertedFilterAcceptsExactlyTheRowsItWouldReject()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    QQmlSortFilterProxyModel proxy;
    ValueFilter filter;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    filter.setRoleName("objIsParentActive");
    filter.setValue(true);
    proxy.appendFilter(&filter);
    proxy.componentComplete();

    const QStringList accepted = column(proxy, "objName");
    filter.setInverted(true);
    const QStringList rejected = column(proxy, "objName");
    QCOMPARE(accepted, QStringList({"g1", "s1a", "s1b", "g3", "s3a"}));
    QCOMPARE(rejected, QStringList({"g2", "s2a"}));
}

void TestSortFilterProxyModel::sameValueDoesNotRefilter()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    QSignalSpy invalidated(&p.type, &Filter::invalidated);
    QSignalSpy valueChanged(&p.type, &ValueFilter::valueChanged);
    QSignalSpy removed(&p.proxy, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&p.proxy, &QAbstractItemModel::rowsInserted);
    QSignalSpy layout(&p.proxy, &QAbstractItemModel::layoutChanged);
    p.type.calls = 0;
    p.active.calls = 0;

    p.type.setValue(2);
    p.type.setValue(QVariant(2.0)); // the same number, as QML would hand it over
    p.type.setRoleName("objType");

    QCOMPARE(valueChanged.count(), 0);
    QCOMPARE(invalidated.count(), 0);
    QCOMPARE(p.type.calls + p.active.calls, 0);
    QCOMPARE(removed.count() + inserted.count() + layout.count(), 0);

    p.type.setValue(1);
    QCOMPARE(valueChanged.count(), 1);
    QCOMPARE(invalidated.count(), 1);
    QVERIFY(p.type.calls > 0);
}

void TestSortFilterProxyModel::twoFiltersMustBothAccept()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    // s2a is a stream (first filter accepts) of an inactive gateway (second refuses);
    // g1 is active (second accepts) but no stream (first refuses).
    const QStringList shown = column(p.proxy, "objName");
    QVERIFY(!shown.contains("s2a"));
    QVERIFY(!shown.contains("g1"));
    QCOMPARE(shown, QStringList({"s1a", "s1b", "s3a"}));

    // Evaluation stops at the first refusal: the second filter never sees a gateway.
    p.type.calls = 0;
    p.active.calls = 0;
    p.proxy.invalidate();
    QCOMPARE(p.proxy.count(), 3);
    QCOMPARE(p.type.calls, model.rowCount());
    QCOMPARE(p.active.calls, 4); // the four streams
}

void TestSortFilterProxyModel::perRowProxyShowsOnlyThatSerialsViews()
{
    TestListModel views({"viewName", "viewIsActive", "viewObjectSerial"});
    views.reset({{"v1", true, "S1A"}, {"v2", false, "S3A"}, {"v3", true, "S1A"}});

    auto makeProxy = [&views](QQmlSortFilterProxyModel &proxy, ValueFilter &filter, const QString &serial) {
        proxy.classBegin();
        proxy.setSourceModel(&views);
        filter.setRoleName("viewObjectSerial");
        filter.setValue(serial);
        proxy.appendFilter(&filter);
        proxy.componentComplete();
    };
    QQmlSortFilterProxyModel withViews;
    ValueFilter f1;
    makeProxy(withViews, f1, "S1A");
    QQmlSortFilterProxyModel withoutViews;
    ValueFilter f2;
    makeProxy(withoutViews, f2, "S1B");
    QSignalSpy countChanged(&withoutViews, &QQmlSortFilterProxyModel::countChanged);

    QCOMPARE(column(withViews, "viewName"), QStringList({"v1", "v3"}));
    QCOMPARE(withoutViews.count(), 0);
    QCOMPARE(withoutViews.property("count").toInt(), 0);

    // A view appended for that stream shows up, and count says so.
    views.append({"v4", true, "S1B"});
    QCOMPARE(withoutViews.count(), 1);
    QCOMPARE(countChanged.count(), 1);
    QCOMPARE(column(withViews, "viewName"), QStringList({"v1", "v3"}));
}

void TestSortFilterProxyModel::filterSignalsFollowTheInvalidationRules()
{
    ValueFilter filter;
    QStringList events;
    connect(&filter, &Filter::enabledChanged, this, [&] { events << "enabledChanged"; });
    connect(&filter, &Filter::invertedChanged, this, [&] { events << "invertedChanged"; });
    connect(&filter, &Filter::invalidated, this, [&] { events << "invalidated"; });
    connect(&filter, &ValueFilter::valueChanged, this, [&] { events << "valueChanged"; });
    connect(&filter, &RoleFilter::roleNameChanged, this, [&] { events << "roleNameChanged"; });

    filter.setValue(3);
    filter.setRoleName("a");
    QCOMPARE(events, QStringList({"valueChanged", "invalidated", "roleNameChanged", "invalidated"}));
    events.clear();

    // Switching off still invalidates; while off, nothing else does.
    filter.setEnabled(false);
    filter.setInverted(true);
    filter.setValue(4);
    filter.setRoleName("b");
    QCOMPARE(events,
             QStringList({"enabledChanged", "invalidated", "invertedChanged", "valueChanged", "roleNameChanged"}));
    events.clear();

    filter.setEnabled(true);
    filter.setInverted(false);
    filter.setEnabled(true);
    QCOMPARE(events, QStringList({"enabledChanged", "invalidated", "invertedChanged", "invalidated"}));
}

void TestSortFilterProxyModel::everyRowIsAcceptedUntilComplete()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    QQmlSortFilterProxyModel proxy;
    CountingValueFilter filter;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    filter.setRoleName("objType");
    filter.setValue(1);
    proxy.appendFilter(&filter);
    filter.setValue(2);
    QCOMPARE(proxy.count(), model.rowCount());
    QCOMPARE(filter.calls, 0);

    proxy.componentComplete();
    QCOMPARE(column(proxy, "objName"), QStringList({"s1a", "s1b", "s2a", "s3a"}));
    // Sorting is switched on, on column 0, and keeps the source order.
    QCOMPARE(proxy.sortColumn(), 0);
    QCOMPARE(proxy.sortOrder(), Qt::AscendingOrder);
    QVERIFY(proxy.dynamicSortFilter());
}

void TestSortFilterProxyModel::countFollowsTheRows()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    QSignalSpy spy(&p.proxy, &QQmlSortFilterProxyModel::countChanged);
    QCOMPARE(p.proxy.count(), 3);

    model.append({"s9", 2, true, "S9"});
    QCOMPARE(p.proxy.count(), 4);
    QCOMPARE(spy.count(), 1);
    model.append({"g9", 1, true, "G9"}); // filtered out: no change
    QCOMPARE(spy.count(), 1);
    model.remove(model.rowCount() - 2);
    QCOMPARE(p.proxy.count(), 3);
    QCOMPARE(spy.count(), 2);
    model.reset({});
    QCOMPARE(p.proxy.count(), 0);
    QVERIFY(spy.count() >= 3);
    const int before = spy.count();
    p.proxy.invalidate(); // a layout change of the proxy
    QCOMPARE(spy.count(), before + 1);
}

void TestSortFilterProxyModel::roleAndRowAccessors()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);

    QCOMPARE(p.proxy.roleForName("objSerial"), model.role("objSerial"));
    QCOMPARE(p.proxy.roleForName("nope"), -1);
    QCOMPARE(p.proxy.roleNames(), model.roleNames());

    const QVariantMap first = p.proxy.get(0);
    QCOMPARE(first.value("objName").toString(), QString("s1a"));
    QCOMPARE(first.value("objSerial").toString(), QString("S1A"));
    QCOMPARE(first.size(), kRoles.size());
    QCOMPARE(p.proxy.get(2, "objName").toString(), QString("s3a"));
    QVERIFY(p.proxy.get(3).isEmpty());
    QVERIFY(!p.proxy.get(-1, "objName").isValid());
    QVERIFY(!p.proxy.get(0, "nope").isValid());

    // Proxy rows 0..2 are source rows 1, 2 and 6.
    QCOMPARE(p.proxy.mapToSource(0), 1);
    QCOMPARE(p.proxy.mapToSource(2), 6);
    QCOMPARE(p.proxy.mapToSource(3), -1);
    QCOMPARE(p.proxy.mapToSource(-1), -1);
    QCOMPARE(p.proxy.mapFromSource(6), 2);
    QCOMPARE(p.proxy.mapFromSource(0), -1); // filtered out
    QCOMPARE(p.proxy.mapFromSource(99), -1);
    QCOMPARE(p.proxy.mapToSource(p.proxy.index(1, 0)), model.index(2, 0));
    QCOMPARE(p.proxy.mapFromSource(model.index(2, 0)), p.proxy.index(1, 0));

    // The invokable forms are reachable by name, as QML calls them.
    int sourceRow = -2;
    QVERIFY(QMetaObject::invokeMethod(&p.proxy, "mapToSource", Q_RETURN_ARG(int, sourceRow), Q_ARG(int, 1)));
    QCOMPARE(sourceRow, 2);
}

void TestSortFilterProxyModel::builtInFilterValueAndPattern()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    QQmlSortFilterProxyModel proxy;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    proxy.componentComplete();

    proxy.setFilterRoleName("objSerial");
    proxy.setFilterValue("G2");
    QCOMPARE(column(proxy, "objName"), QStringList({"g2"}));
    proxy.setFilterValue(QVariant());
    QCOMPARE(proxy.count(), model.rowCount());

    proxy.setFilterRoleName("objName");
    proxy.setFilterPattern("^s[13]");
    QCOMPARE(column(proxy, "objName"), QStringList({"s1a", "s1b", "s3a"}));
    proxy.setFilterPatternSyntax(QQmlSortFilterProxyModel::Wildcard);
    proxy.setFilterPattern("g*");
    QCOMPARE(column(proxy, "objName"), QStringList({"g1", "g2", "g3"}));
    proxy.setFilterPattern(QString());
    QCOMPARE(proxy.count(), model.rowCount());
}

void TestSortFilterProxyModel::rolesArriveWithTheFirstRow()
{
    TestListModel model(kRoles, /*lateRoles=*/true);
    StreamsProxy p(&model);
    QAbstractItemModelTester tester(&p.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy reset(&p.proxy, &QAbstractItemModel::modelReset);
    QVERIFY(p.proxy.roleNames().isEmpty());
    QCOMPARE(p.proxy.count(), 0);

    model.insert(0, sampleRows());
    QCOMPARE(p.proxy.roleForName("objType"), model.role("objType"));
    QCOMPARE(reset.count(), 1);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"s1a", "s1b", "s3a"}));

    // Later insertions are ordinary ones.
    model.append({"s4", 2, true, "S4"});
    QCOMPARE(reset.count(), 1);
    QCOMPARE(p.proxy.count(), 4);
}

void TestSortFilterProxyModel::sourceResetRefreshesRoles()
{
    TestListModel model({"objName", "objType"});
    model.reset({{"g1", 1}, {"s1", 2}});
    QQmlSortFilterProxyModel proxy;
    ValueFilter filter;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    filter.setRoleName("objIsParentActive");
    filter.setValue(true);
    proxy.appendFilter(&filter);
    {
        LogCapture warnings;
        proxy.componentComplete();
        QCOMPARE(warnings.countContaining(QtWarningMsg, "objIsParentActive"), 1);
    }
    QCOMPARE(proxy.roleForName("objIsParentActive"), -1);
    QCOMPARE(proxy.count(), 0);

    model.resetWithRoles(kRoles, sampleRows());
    QCOMPARE(proxy.roleForName("objIsParentActive"), model.role("objIsParentActive"));
    QCOMPARE(proxy.count(), 5);
}

void TestSortFilterProxyModel::deletedSourceLeavesAnEmptyProxy()
{
    auto model = std::make_unique<TestListModel>(kRoles);
    model->reset(sampleRows());
    StreamsProxy p(model.get());
    QAbstractItemModelTester tester(&p.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy countChanged(&p.proxy, &QQmlSortFilterProxyModel::countChanged);
    QCOMPARE(p.proxy.count(), 3);

    model.reset();
    QVERIFY(!p.proxy.sourceModel());
    QCOMPARE(p.proxy.count(), 0);
    QCOMPARE(p.proxy.rowCount(), 0);
    QVERIFY(countChanged.count() >= 1);
    QVERIFY(p.proxy.roleNames().isEmpty());
    QVERIFY(p.proxy.get(0).isEmpty());
    QCOMPARE(p.proxy.mapFromSource(0), -1);
    p.type.setValue(1); // re-filtering with no source is harmless

    TestListModel next(kRoles);
    next.reset(sampleRows());
    p.proxy.setSourceModel(&next);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"g1", "g3"}));
}

void TestSortFilterProxyModel::filterRemovedOrDestroyedWhileListed()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    QQmlSortFilterProxyModel proxy;
    auto *type = new ValueFilter(&proxy);
    auto *active = new ValueFilter(&proxy);
    proxy.classBegin();
    proxy.setSourceModel(&model);
    type->setRoleName("objType");
    type->setValue(2);
    active->setRoleName("objIsParentActive");
    active->setValue(true);
    proxy.appendFilter(type);
    proxy.appendFilter(active);
    proxy.componentComplete();
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(proxy.count(), 3);

    // Destroyed while listed: dropped from the list, rows re-judged.
    delete active;
    QCOMPARE(proxy.filters().size(), 1);
    QCOMPARE(column(proxy, "objName"), QStringList({"s1a", "s1b", "s2a", "s3a"}));

    // Removed through the QML list: it no longer steers the proxy.
    QQmlListProperty<Filter> list = proxy.filtersListProperty();
    QCOMPARE(list.count(&list), 1);
    QCOMPARE(list.at(&list, 0), type);
    list.removeLast(&list);
    QCOMPARE(proxy.count(), model.rowCount());
    type->setValue(1);
    QCOMPARE(proxy.count(), model.rowCount());

    list.append(&list, type);
    QCOMPARE(column(proxy, "objName"), QStringList({"g1", "g2", "g3"}));
    list.clear(&list);
    QCOMPARE(proxy.count(), model.rowCount());
    delete type; // no longer listed: nothing to do
    QVERIFY(proxy.filters().isEmpty());
}

void TestSortFilterProxyModel::unknownRoleNameWarnsOnceAndRejectsNothingByCrash()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    QQmlSortFilterProxyModel proxy;
    ValueFilter filter;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    filter.setRoleName("objTyep");
    filter.setValue(2);
    proxy.appendFilter(&filter);
    LogCapture warnings;
    proxy.componentComplete();
    model.append({"s9", 2, true, "S9"});
    // The name reads role 0, which this model does not provide: no row matches.
    QCOMPARE(proxy.count(), 0);
    QCOMPARE(warnings.countContaining(QtWarningMsg, "No role named \"objTyep\""), 1);
    filter.setRoleName("objType");
    QCOMPARE(proxy.count(), 5);
}

void TestSortFilterProxyModel::delayedTurnsABurstIntoOneRefilter()
{
    TestListModel model(kRoles);
    model.reset(sampleRows());
    StreamsProxy p(&model);
    p.proxy.setDelayed(true);
    p.type.calls = 0;

    for (const QVariant &value : {QVariant(1), QVariant(2), QVariant(1), QVariant(2), QVariant(1)})
        p.type.setValue(value);
    p.active.setValue(false);
    p.active.setValue(true);
    // Nothing has run yet; the rows still follow the old values.
    QCOMPARE(p.type.calls, 0);
    QCOMPARE(column(p.proxy, "objName"), QStringList({"s1a", "s1b", "s3a"}));

    QTRY_COMPARE(column(p.proxy, "objName"), QStringList({"g1", "g3"}));
    QCoreApplication::processEvents();
    // One pass over the source: each row asked once.
    QCOMPARE(p.type.calls, model.rowCount());

    // Without `delayed` every change is a pass of its own.
    p.proxy.setDelayed(false);
    p.type.calls = 0;
    for (const QVariant &value : {QVariant(2), QVariant(1), QVariant(2)})
        p.type.setValue(value);
    QCOMPARE(p.type.calls, 3 * model.rowCount());
}

void TestSortFilterProxyModel::dataChangedOnOneRowReEvaluatesThatRowOnly()
{
    TestListModel model(kRoles);
    QVector<Row> rows;
    for (int i = 0; i < 200; ++i)
        rows.append({QString("s%1").arg(i), 2, true, QString("S%1").arg(i)});
    model.reset(rows);
    StreamsProxy p(&model);
    QCOMPARE(p.proxy.count(), 200);
    p.type.calls = 0;
    p.active.calls = 0;

    model.set(50, "objIsParentActive", false);
    QCOMPARE(p.type.calls, 1);
    QCOMPARE(p.active.calls, 1);
    QCOMPARE(p.proxy.count(), 199);
    QCOMPARE(p.proxy.mapFromSource(50), -1);

    model.set(50, "objIsParentActive", true);
    QCOMPARE(p.type.calls, 2);
    QCOMPARE(p.active.calls, 2);
    QCOMPARE(p.proxy.mapFromSource(50), 50);
}

void TestSortFilterProxyModel::scatteredFilterChangeIsAppliedInOnePass()
{
    // Streams of alternating active and inactive gateways.
    TestListModel model(kRoles);
    QVector<Row> rows;
    for (int i = 0; i < 3000; ++i)
        rows.append({QString("r%1").arg(i), 2, i % 2 == 0, QString("R%1").arg(i)});
    model.reset(rows);
    StreamsProxy p(&model);
    QAbstractItemModelTester tester(&p.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(p.proxy.count(), 1500);
    QSignalSpy inserted(&p.proxy, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&p.proxy, &QAbstractItemModel::rowsRemoved);
    QSignalSpy layout(&p.proxy, &QAbstractItemModel::layoutChanged);
    p.type.calls = 0;

    // Every other row enters, between rows that stay: one rebuild, each row judged once.
    p.active.setEnabled(false);
    QCOMPARE(p.proxy.count(), 3000);
    QCOMPARE(p.type.calls, 3000);
    QCOMPARE(layout.count(), 1);
    QCOMPARE(inserted.count(), 0);
    for (int row = 0; row < p.proxy.count(); ++row)
        QCOMPARE(p.proxy.mapToSource(row), row);

    // And every other row leaves.
    p.active.setEnabled(true);
    QCOMPARE(p.proxy.count(), 1500);
    QCOMPARE(layout.count(), 2);
    QCOMPARE(removed.count(), 0);
    for (int row = 0; row < p.proxy.count(); ++row)
        QCOMPARE(p.proxy.mapToSource(row), 2 * row);

    // Rows that all leave or all enter together are moved as blocks, without a rebuild.
    p.type.setValue(1);
    QCOMPARE(p.proxy.count(), 0);
    QCOMPARE(removed.count(), 1);
    p.type.setValue(2);
    QCOMPARE(p.proxy.count(), 1500);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(layout.count(), 2);
}

QTEST_MAIN(TestSortFilterProxyModel)
#include "tst_sortfilterproxymodel.moc"
