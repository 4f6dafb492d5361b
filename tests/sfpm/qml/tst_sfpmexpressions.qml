import QtQuick 2.13
import QtTest 1.13
import SortFilterProxyModel 0.2

// The script-driven types and SwitchRole's attached value, as QML declares them.
TestCase {
    id: testCase
    name: "SortFilterProxyModelScripts"

    property int minimumAge: 20

    ListModel {
        id: peopleModel
        ListElement { name: "alice"; age: 31; city: "Oslo" }
        ListElement { name: "bob"; age: 25; city: "Bergen" }
        ListElement { name: "carol"; age: 40; city: "Oslo" }
        ListElement { name: "erin"; age: 19; city: "Bergen" }
    }

    SortFilterProxyModel {
        id: olderThan
        sourceModel: peopleModel
        filters: ExpressionFilter { expression: model.age > testCase.minimumAge }
    }

    SortFilterProxyModel {
        id: byRoleName
        sourceModel: peopleModel
        filters: ExpressionFilter { expression: city === "Oslo" && index > 0 }
    }

    SortFilterProxyModel {
        id: youngestFirst
        sourceModel: peopleModel
        sorters: ExpressionSorter { expression: modelLeft.age < modelRight.age }
    }

    SortFilterProxyModel {
        id: withRoles
        sourceModel: peopleModel
        proxyRoles: [
            ExpressionRole { name: "nextYear"; expression: model.age + 1 },
            SwitchRole {
                name: "band"
                defaultValue: "other"
                ValueFilter { roleName: "city"; value: "Bergen"; SwitchRole.value: "west" }
                RangeFilter { roleName: "age"; minimumValue: 40; SwitchRole.value: "senior" }
            },
            JoinRole { name: "label"; roleNames: ["name", "city"] }
        ]
        filters: ValueFilter { roleName: "band"; value: "other"; inverted: true }
    }

    function column(proxy, role) {
        var result = [];
        for (var i = 0; i < proxy.count; ++i)
            result.push(proxy.get(i, role));
        return result;
    }

    function test_expressionFilterSeesRolesIndexAndModel() {
        compare(column(olderThan, "name"), ["alice", "bob", "carol"]);
        compare(column(byRoleName, "name"), ["carol"]);
    }

    function test_expressionFilterFollowsWhatItReads() {
        minimumAge = 30;
        compare(column(olderThan, "name"), ["alice", "carol"]);
        minimumAge = 20;
        compare(column(olderThan, "name"), ["alice", "bob", "carol"]);
    }

    function test_expressionSorterComparesTwoRows() {
        compare(column(youngestFirst, "name"), ["erin", "bob", "alice", "carol"]);
    }

    function test_proxyRolesComputeAndFilter() {
        compare(column(withRoles, "name"), ["bob", "carol", "erin"]);
        compare(column(withRoles, "band"), ["west", "senior", "west"]);
        compare(column(withRoles, "nextYear"), [26, 41, 20]);
        compare(withRoles.get(0).label, "bob Bergen");
    }

    Component {
        id: notBooleanComponent
        SortFilterProxyModel {
            sourceModel: peopleModel
            filters: ExpressionFilter { expression: ({ answer: 42 }) }
        }
    }

    Component {
        id: throwingComponent
        SortFilterProxyModel {
            sourceModel: peopleModel
            filters: ExpressionFilter { expression: { throw new Error("broken filter script"); } }
        }
    }

    Component {
        id: misplacedSwitchValue
        QtObject { SwitchRole.value: 1 }
    }

    function test_aResultThatIsNoBooleanIsReported() {
        ignoreWarning(new RegExp(".*:\\d+:\\d+ : Can't convert result to bool"));
        var proxy = createTemporaryObject(notBooleanComponent, testCase);
        verify(proxy !== null);
        compare(proxy.count, 4); // reported once, rows kept
    }

    function test_aThrowingScriptWarnsAndKeepsTheRows() {
        ignoreWarning(new RegExp(".*broken filter script.*"));
        var proxy = createTemporaryObject(throwingComponent, testCase);
        verify(proxy !== null);
        compare(proxy.count, 4);
    }

    function test_switchRoleValueOutsideAFilterIsReported() {
        ignoreWarning(new RegExp(".*SwitchRole must be attached to a Filter"));
        var object = createTemporaryObject(misplacedSwitchValue, testCase);
        verify(object !== null);
    }
}
