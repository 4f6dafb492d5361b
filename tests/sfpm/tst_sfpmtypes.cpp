// The filters, sorters and proxy roles besides ValueFilter, each on a small model.
#include "sfpmtesthelpers.h"
#include "support/logcapture.h"
#include "testlistmodel.h"

#include "sfpm/alloffilter.h"
#include "sfpm/anyoffilter.h"
#include "sfpm/filterrole.h"
#include "sfpm/filtersorter.h"
#include "sfpm/indexfilter.h"
#include "sfpm/joinrole.h"
#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/rangefilter.h"
#include "sfpm/regexpfilter.h"
#include "sfpm/regexprole.h"
#include "sfpm/rolesorter.h"
#include "sfpm/stringsorter.h"
#include "sfpm/switchrole.h"
#include "sfpm/switchroleattached.h"
#include "sfpm/valuefilter.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace qqsfpm;
using sfpmtest::column;
using Row = TestListModel::Row;

namespace {

QVector<Row> people()
{
    return {
        {"alice", 31, "Oslo"},     {"bob", 25, "Bergen"},  {"Carol", 40, "oslo"},
        {"dave", 25, "Trondheim"}, {"erin", 19, "Bergen"},
    };
}

ValueFilter *valueFilter(const QString &role, const QVariant &value, QObject *parent)
{
    auto *filter = new ValueFilter(parent);
    filter->setRoleName(role);
    filter->setValue(value);
    return filter;
}

// A proxy over a people model; add filters, sorters and roles, then complete().
class Fixture
{
public:
    Fixture() : model({"name", "age", "city"})
    {
        model.reset(people());
        proxy.classBegin();
        proxy.setSourceModel(&model);
    }
    void complete() { proxy.componentComplete(); }
    QStringList names() const { return column(proxy, "name"); }

    TestListModel model;
    QQmlSortFilterProxyModel proxy;
};

} // namespace

class TestSfpmTypes : public QObject
{
    Q_OBJECT

private slots:
    void indexFilterKeepsRowsBetweenItsBounds_data();
    void indexFilterKeepsRowsBetweenItsBounds();
    void regExpFilterMatchesTheRolesText_data();
    void regExpFilterMatchesTheRolesText();
    void regExpFilterWithAnInvalidPatternWarnsAndAcceptsAll();
    void rangeFilterHonoursBoundsAndInclusiveness_data();
    void rangeFilterHonoursBoundsAndInclusiveness();
    void anyOfAcceptsWhenAnyEnabledChildAccepts();
    void allOfAcceptsWhenEveryChildAccepts();
    void roleSorterOrdersByValueThenBySourceRow();
    void proxySortRoleAndOrder();
    void stringSorterCollatesText();
    void stringSorterNumericMode();
    void filterSorterPutsAcceptedRowsFirst();
    void joinRoleJoinsTextsAndFollowsTheSource();
    void regExpRoleProvidesOneRolePerNamedGroup();
    void filterRoleSaysWhetherItsFiltersAccept();
    void switchRoleTakesTheFirstAcceptingFiltersValue();
    void switchRoleReportsMisuse();
    void proxyRoleDestroyedWhileListed();
};

void TestSfpmTypes::indexFilterKeepsRowsBetweenItsBounds_data()
{
    QTest::addColumn<QVariant>("minimum");
    QTest::addColumn<QVariant>("maximum");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("unset") << QVariant() << QVariant() << QStringList({"alice", "bob", "Carol", "dave", "erin"});
    QTest::newRow("1..3") << QVariant(1) << QVariant(3) << QStringList({"bob", "Carol", "dave"});
    QTest::newRow("from -2") << QVariant(-2) << QVariant() << QStringList({"dave", "erin"});
    QTest::newRow("up to -4") << QVariant() << QVariant(-4) << QStringList({"alice", "bob"});
    QTest::newRow("empty range") << QVariant(3) << QVariant(1) << QStringList();
}

void TestSfpmTypes::indexFilterKeepsRowsBetweenItsBounds()
{
    QFETCH(QVariant, minimum);
    QFETCH(QVariant, maximum);
    QFETCH(QStringList, expected);
    Fixture f;
    IndexFilter filter;
    f.proxy.appendFilter(&filter);
    f.complete();
    filter.setMinimumIndex(minimum);
    filter.setMaximumIndex(maximum);
    QCOMPARE(f.names(), expected);
}

void TestSfpmTypes::regExpFilterMatchesTheRolesText_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("syntax");
    QTest::addColumn<Qt::CaseSensitivity>("cs");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("regexp, case-sensitive")
        << "^o" << int(RegExpFilter::RegExp) << Qt::CaseSensitive << QStringList({"Carol"});
    QTest::newRow("regexp, case-insensitive")
        << "^o" << int(RegExpFilter::RegExp) << Qt::CaseInsensitive << QStringList({"alice", "Carol"});
    QTest::newRow("wildcard") << "*erg*" << int(RegExpFilter::Wildcard) << Qt::CaseSensitive
                              << QStringList({"bob", "erin"});
    QTest::newRow("fixed string") << "h." << int(RegExpFilter::FixedString) << Qt::CaseSensitive << QStringList();
    QTest::newRow("empty pattern") << "" << int(RegExpFilter::RegExp) << Qt::CaseSensitive
                                   << QStringList({"alice", "bob", "Carol", "dave", "erin"});
}

void TestSfpmTypes::regExpFilterMatchesTheRolesText()
{
    QFETCH(QString, pattern);
    QFETCH(int, syntax);
    QFETCH(Qt::CaseSensitivity, cs);
    QFETCH(QStringList, expected);
    Fixture f;
    RegExpFilter filter;
    filter.setRoleName("city");
    f.proxy.appendFilter(&filter);
    f.complete();
    filter.setSyntax(RegExpFilter::PatternSyntax(syntax));
    filter.setCaseSensitivity(cs);
    filter.setPattern(pattern);
    QCOMPARE(f.names(), expected);
}

void TestSfpmTypes::regExpFilterWithAnInvalidPatternWarnsAndAcceptsAll()
{
    Fixture f;
    RegExpFilter filter;
    filter.setRoleName("city");
    f.proxy.appendFilter(&filter);
    f.complete();
    filter.setPattern("Berg");
    QCOMPARE(f.names(), QStringList({"bob", "erin"}));
    LogCapture warnings;
    filter.setPattern("(Berg");
    QCOMPARE(warnings.countContaining(QtWarningMsg, "Invalid regular expression"), 1);
    QCOMPARE(f.proxy.count(), 5);
}

void TestSfpmTypes::rangeFilterHonoursBoundsAndInclusiveness_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QVariant>("minimum");
    QTest::addColumn<bool>("minimumInclusive");
    QTest::addColumn<QVariant>("maximum");
    QTest::addColumn<bool>("maximumInclusive");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("25..31") << "age" << QVariant(25) << true << QVariant(31) << true
                            << QStringList({"alice", "bob", "dave"});
    QTest::newRow("(25..31]") << "age" << QVariant(25) << false << QVariant(31) << true << QStringList({"alice"});
    QTest::newRow("[25..31)") << "age" << QVariant(25) << true << QVariant(31) << false << QStringList({"bob", "dave"});
    // 100 > 40 as numbers, though "100" < "40" as text.
    QTest::newRow("up to 100.0") << "age" << QVariant() << true << QVariant(100.0) << true
                                 << QStringList({"alice", "bob", "Carol", "dave", "erin"});
    QTest::newRow("from 26") << "age" << QVariant(26) << true << QVariant() << true << QStringList({"alice", "Carol"});
    QTest::newRow("text B..P") << "city" << QVariant("B") << true << QVariant("P") << true
                               << QStringList({"alice", "bob", "erin"});
}

void TestSfpmTypes::rangeFilterHonoursBoundsAndInclusiveness()
{
    QFETCH(QString, role);
    QFETCH(QVariant, minimum);
    QFETCH(bool, minimumInclusive);
    QFETCH(QVariant, maximum);
    QFETCH(bool, maximumInclusive);
    QFETCH(QStringList, expected);
    Fixture f;
    RangeFilter filter;
    filter.setRoleName(role);
    f.proxy.appendFilter(&filter);
    f.complete();
    filter.setMinimumValue(minimum);
    filter.setMinimumInclusive(minimumInclusive);
    filter.setMaximumValue(maximum);
    filter.setMaximumInclusive(maximumInclusive);
    QCOMPARE(f.names(), expected);
}

void TestSfpmTypes::anyOfAcceptsWhenAnyEnabledChildAccepts()
{
    Fixture f;
    AnyOfFilter anyOf;
    ValueFilter *bergen = valueFilter("city", "Bergen", &anyOf);
    ValueFilter *forty = valueFilter("age", 40, &anyOf);
    anyOf.appendFilter(bergen);
    anyOf.appendFilter(forty);
    f.proxy.appendFilter(&anyOf);
    f.complete();
    QAbstractItemModelTester tester(&f.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(f.names(), QStringList({"bob", "Carol", "erin"}));

    // A child's change re-filters the proxy.
    forty->setValue(31);
    QCOMPARE(f.names(), QStringList({"alice", "bob", "erin"}));
    // A disabled child does not make AnyOf accept everything.
    forty->setEnabled(false);
    QCOMPARE(f.names(), QStringList({"bob", "erin"}));
    bergen->setEnabled(false);
    QCOMPARE(f.proxy.count(), 5);
    bergen->setEnabled(true);
    // A child destroyed while listed is dropped.
    delete bergen;
    QCOMPARE(anyOf.filters().size(), 1);
    QCOMPARE(f.proxy.count(), 5);
    anyOf.setInverted(true);
    QCOMPARE(f.proxy.count(), 0);
}

void TestSfpmTypes::allOfAcceptsWhenEveryChildAccepts()
{
    Fixture f;
    AllOfFilter allOf;
    ValueFilter *bergen = valueFilter("city", "Bergen", &allOf);
    ValueFilter *age = valueFilter("age", 25, &allOf);
    allOf.appendFilter(bergen);
    allOf.appendFilter(age);
    // AllOf inside AnyOf, next to a filter for Carol.
    AnyOfFilter anyOf;
    anyOf.appendFilter(&allOf);
    anyOf.appendFilter(valueFilter("name", "Carol", &anyOf));
    f.proxy.appendFilter(&anyOf);
    f.complete();
    QCOMPARE(f.names(), QStringList({"bob", "Carol"}));
    age->setValue(19);
    QCOMPARE(f.names(), QStringList({"Carol", "erin"}));
    allOf.removeFilter(bergen);
    QCOMPARE(f.names(), QStringList({"Carol", "erin"}));
    allOf.removeFilter(age);
    QCOMPARE(f.proxy.count(), 5); // no children: no constraint
}

void TestSfpmTypes::roleSorterOrdersByValueThenBySourceRow()
{
    Fixture f;
    RoleSorter byAge;
    byAge.setRoleName("age");
    f.proxy.appendSorter(&byAge);
    f.complete();
    QAbstractItemModelTester tester(&f.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(f.names(), QStringList({"erin", "bob", "dave", "alice", "Carol"}));

    byAge.setAscendingOrder(false);
    QCOMPARE(byAge.sortOrder(), Qt::DescendingOrder);
    QCOMPARE(f.names(), QStringList({"Carol", "alice", "bob", "dave", "erin"}));

    // A second sorter breaks the tie between bob and dave.
    RoleSorter byName;
    byName.setRoleName("name");
    byName.setSortOrder(Qt::DescendingOrder);
    f.proxy.appendSorter(&byName);
    QCOMPARE(f.names(), QStringList({"Carol", "alice", "dave", "bob", "erin"}));

    byAge.setEnabled(false);
    QCOMPARE(f.names(), QStringList({"erin", "dave", "bob", "alice", "Carol"}));
    f.proxy.removeSorter(&byName);
    QCOMPARE(f.names(), QStringList({"alice", "bob", "Carol", "dave", "erin"}));

    // Sorting follows source edits.
    byAge.setEnabled(true);
    byAge.setAscendingOrder(true);
    f.model.set(4, "age", 99);
    QCOMPARE(f.names(), QStringList({"bob", "dave", "alice", "Carol", "erin"}));
}

void TestSfpmTypes::proxySortRoleAndOrder()
{
    Fixture f;
    f.complete();
    f.proxy.setSortRoleName("age");
    QCOMPARE(f.names(), QStringList({"erin", "bob", "dave", "alice", "Carol"}));
    f.proxy.setAscendingSortOrder(false);
    QCOMPARE(f.names(), QStringList({"Carol", "alice", "bob", "dave", "erin"}));
    f.proxy.setSortRoleName(QString());
    QCOMPARE(f.names(), QStringList({"alice", "bob", "Carol", "dave", "erin"}));
}

void TestSfpmTypes::stringSorterCollatesText()
{
    Fixture f;
    StringSorter byName;
    byName.setRoleName("name");
    byName.setLocale(QLocale(QLocale::English));
    f.proxy.appendSorter(&byName);
    f.complete();
    // Collation puts "Carol" among the lower-case names; plain code-point order would not.
    QCOMPARE(f.names(), QStringList({"alice", "bob", "Carol", "dave", "erin"}));
    byName.setSortOrder(Qt::DescendingOrder);
    QCOMPARE(f.names(), QStringList({"erin", "dave", "Carol", "bob", "alice"}));
}

void TestSfpmTypes::stringSorterNumericMode()
{
    TestListModel model({"name"});
    model.reset({{"file10"}, {"file2"}, {"file1"}});
    QQmlSortFilterProxyModel proxy;
    StringSorter sorter;
    proxy.classBegin();
    proxy.setSourceModel(&model);
    sorter.setRoleName("name");
    // The "C" locale collates by code point and knows no numeric mode.
    sorter.setLocale(QLocale(QLocale::English));
    proxy.appendSorter(&sorter);
    proxy.componentComplete();
    QCOMPARE(column(proxy, "name"), QStringList({"file1", "file10", "file2"}));
    sorter.setNumericMode(true);
    QCOMPARE(column(proxy, "name"), QStringList({"file1", "file2", "file10"}));
}

void TestSfpmTypes::filterSorterPutsAcceptedRowsFirst()
{
    Fixture f;
    FilterSorter sorter;
    ValueFilter *bergen = valueFilter("city", "Bergen", &sorter);
    sorter.appendFilter(bergen);
    f.proxy.appendSorter(&sorter);
    f.complete();
    QCOMPARE(f.names(), QStringList({"bob", "erin", "alice", "Carol", "dave"}));
    bergen->setValue("Oslo");
    QCOMPARE(f.names(), QStringList({"alice", "bob", "Carol", "dave", "erin"}));
    bergen->setValue("Trondheim");
    QCOMPARE(f.names(), QStringList({"dave", "alice", "bob", "Carol", "erin"}));
}

void TestSfpmTypes::joinRoleJoinsTextsAndFollowsTheSource()
{
    Fixture f;
    JoinRole label;
    label.setName("label");
    label.setRoleNames({"name", "city"});
    label.setSeparator(" / ");
    f.proxy.appendProxyRole(&label);
    f.complete();
    QAbstractItemModelTester tester(&f.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);

    const int role = f.proxy.roleForName("label");
    QVERIFY(role > f.model.role("city"));
    QCOMPARE(f.proxy.roleNames().value(role), QByteArray("label"));
    QCOMPARE(f.proxy.get(0, "label").toString(), QString("alice / Oslo"));
    QCOMPARE(f.proxy.get(0).value("label").toString(), QString("alice / Oslo"));

    // A source edit reaches the proxy role's readers.
    QSignalSpy changed(&f.proxy, &QAbstractItemModel::dataChanged);
    f.model.set(1, "city", "Bodø");
    QCOMPARE(f.proxy.get(1, "label").toString(), QString("bob / Bodø"));
    bool labelReported = false;
    for (const QList<QVariant> &args : qAsConst(changed))
        labelReported |= args.at(2).value<QVector<int>>().contains(role);
    QVERIFY(labelReported);

    // Filters can read proxy roles.
    ValueFilter filter;
    filter.setRoleName("label");
    filter.setValue("erin / Bergen");
    f.proxy.appendFilter(&filter);
    QCOMPARE(f.names(), QStringList({"erin"}));

    f.proxy.removeFilter(&filter);
    QCOMPARE(f.proxy.count(), 5);

    // Renaming the role renumbers the roles through a reset.
    QSignalSpy reset(&f.proxy, &QAbstractItemModel::modelReset);
    label.setName("caption");
    QCOMPARE(reset.count(), 1);
    QCOMPARE(f.proxy.roleForName("label"), -1);
    QCOMPARE(f.proxy.get(0, "caption").toString(), QString("alice / Oslo"));
}

void TestSfpmTypes::regExpRoleProvidesOneRolePerNamedGroup()
{
    Fixture f;
    RegExpRole role;
    role.setRoleName("city");
    role.setPattern("^(?<initial>.)(?<rest>.*)$");
    f.proxy.appendProxyRole(&role);
    f.complete();
    QCOMPARE(role.names(), QStringList({"initial", "rest"}));
    QCOMPARE(f.proxy.get(1, "initial").toString(), QString("B"));
    QCOMPARE(f.proxy.get(1, "rest").toString(), QString("ergen"));

    role.setPattern("^(?<lower>[a-z]+)$");
    QCOMPARE(f.proxy.roleForName("initial"), -1);
    QCOMPARE(f.proxy.get(0, "lower").toString(), QString()); // "Oslo" does not match
    QCOMPARE(f.proxy.get(2, "lower").toString(), QString("oslo"));
    role.setCaseSensitivity(Qt::CaseInsensitive);
    QCOMPARE(f.proxy.get(0, "lower").toString(), QString("Oslo"));

    LogCapture warnings;
    role.setPattern("(?<broken");
    QCOMPARE(warnings.countContaining(QtWarningMsg, "Invalid regular expression"), 1);
    QVERIFY(role.names().isEmpty());
    QCOMPARE(f.proxy.roleForName("lower"), -1);
}

void TestSfpmTypes::filterRoleSaysWhetherItsFiltersAccept()
{
    Fixture f;
    FilterRole adult;
    adult.setName("adult");
    RangeFilter *age = new RangeFilter(&adult);
    age->setRoleName("age");
    age->setMinimumValue(21);
    adult.appendFilter(age);
    f.proxy.appendProxyRole(&adult);
    f.complete();
    QCOMPARE(f.proxy.get(0, "adult").toBool(), true);
    QCOMPARE(f.proxy.get(4, "adult").toBool(), false);

    // Sorting on a proxy role.
    f.proxy.setSortRoleName("adult");
    QCOMPARE(f.names(), QStringList({"erin", "alice", "bob", "Carol", "dave"}));

    age->setMinimumValue(30);
    QCOMPARE(f.names(), QStringList({"bob", "dave", "erin", "alice", "Carol"}));
}

void TestSfpmTypes::switchRoleTakesTheFirstAcceptingFiltersValue()
{
    Fixture f;
    SwitchRole band;
    band.setName("band");
    ValueFilter *bergen = valueFilter("city", "Bergen", &band);
    RangeFilter *senior = new RangeFilter(&band);
    senior->setRoleName("age");
    senior->setMinimumValue(40);
    auto *bergenValue = qobject_cast<SwitchRoleAttached *>(qmlAttachedPropertiesObject<SwitchRole>(bergen, true));
    auto *seniorValue = qobject_cast<SwitchRoleAttached *>(qmlAttachedPropertiesObject<SwitchRole>(senior, true));
    QVERIFY(bergenValue && seniorValue);
    bergenValue->setValue("west");
    seniorValue->setValue("senior");
    band.appendFilter(bergen);
    band.appendFilter(senior);
    band.setDefaultValue("other");
    f.proxy.appendProxyRole(&band);
    f.complete();

    QCOMPARE(column(f.proxy, "band"), QStringList({"other", "west", "senior", "other", "west"}));
    seniorValue->setValue("old");
    QCOMPARE(f.proxy.get(2, "band").toString(), QString("old"));
    band.setDefaultRoleName("name");
    QCOMPARE(column(f.proxy, "band"), QStringList({"alice", "west", "old", "dave", "west"}));
    bergen->setEnabled(false);
    QCOMPARE(f.proxy.get(1, "band").toString(), QString("bob"));
}

void TestSfpmTypes::switchRoleReportsMisuse()
{
    LogCapture warnings;
    QObject notAFilter;
    QVERIFY(qmlAttachedPropertiesObject<SwitchRole>(&notAFilter, true));
    QCOMPARE(warnings.countContaining(QtWarningMsg, "SwitchRole must be attached to a Filter"), 1);

    Fixture f;
    SwitchRole role;
    role.setName("r");
    ValueFilter *bare = valueFilter("city", "Oslo", &role);
    role.appendFilter(bare);
    f.proxy.appendProxyRole(&role);
    f.complete();
    QCOMPARE(warnings.countContaining(QtWarningMsg, "No SwitchRole.value provided for this filter"), 1);
    QVERIFY(!f.proxy.get(0, "r").isValid());
}

void TestSfpmTypes::proxyRoleDestroyedWhileListed()
{
    Fixture f;
    auto *label = new JoinRole;
    label->setName("label");
    label->setRoleNames({"name"});
    f.proxy.appendProxyRole(label);
    f.complete();
    QAbstractItemModelTester tester(&f.proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(f.proxy.roleForName("label") > 0);
    delete label;
    QVERIFY(f.proxy.proxyRoles().isEmpty());
    QCOMPARE(f.proxy.roleForName("label"), -1);
    QCOMPARE(f.proxy.roleNames(), f.model.roleNames());
    QCOMPARE(f.proxy.count(), 5);
}

QTEST_MAIN(TestSfpmTypes)
#include "tst_sfpmtypes.moc"
