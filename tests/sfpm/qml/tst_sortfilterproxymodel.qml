import QtQuick 2.13
import QtQml.Models 2.13
import QtTest 1.13
import SortFilterProxyModel 0.2
import korvu.converter 1.0

// The proxy as the main window uses it: gateways, streams of active gateways,
// and one view proxy per stream bound to the stream's serial.
TestCase {
    id: testCase
    name: "SortFilterProxyModelInTheMainWindowsWay"

    ListModel { id: objectsModel }
    ListModel { id: viewsModel }

    SortFilterProxyModel {
        id: gatewaysFilter
        sourceModel: objectsModel
        filters: ValueFilter { enabled: true; roleName: "objType"; value: Object.Device }
    }

    SortFilterProxyModel {
        id: streamsFilter
        sourceModel: objectsModel
        filters: [
            ValueFilter { enabled: true; roleName: "objType"; value: Object.Stream },
            ValueFilter { enabled: true; roleName: "objIsParentActive"; value: true }
        ]
    }

    Instantiator {
        id: streamRows
        model: streamsFilter
        delegate: QtObject {
            property string serial: objSerial
            property SortFilterProxyModel viewsFilter: SortFilterProxyModel {
                sourceModel: viewsModel
                filters: ValueFilter { enabled: true; roleName: "viewObjectSerial"; value: objSerial }
            }
        }
    }

    function names(proxy, role) {
        var result = [];
        for (var i = 0; i < proxy.count; ++i)
            result.push(proxy.get(i, role));
        return result;
    }

    function viewsOf(serial) {
        for (var i = 0; i < streamRows.count; ++i) {
            var row = streamRows.objectAt(i);
            if (row.serial === serial)
                return row.viewsFilter;
        }
        return null;
    }

    function init() {
        objectsModel.clear();
        viewsModel.clear();
        objectsModel.append({ objName: "g1", objType: Object.Device, objIsParentActive: true, objSerial: "G1" });
        objectsModel.append({ objName: "s1a", objType: Object.Stream, objIsParentActive: true, objSerial: "S1A" });
        objectsModel.append({ objName: "s1b", objType: Object.Stream, objIsParentActive: true, objSerial: "S1B" });
        objectsModel.append({ objName: "g2", objType: Object.Device, objIsParentActive: false, objSerial: "G2" });
        objectsModel.append({ objName: "s2a", objType: Object.Stream, objIsParentActive: false, objSerial: "S2A" });
        viewsModel.append({ viewName: "v1", viewIsActive: true, viewObjectSerial: "S1A" });
        viewsModel.append({ viewName: "v2", viewIsActive: false, viewObjectSerial: "S2A" });
        viewsModel.append({ viewName: "v3", viewIsActive: true, viewObjectSerial: "S1A" });
    }

    function test_listsShowGatewaysAndStreamsOfActiveGateways() {
        compare(names(gatewaysFilter, "objName"), ["g1", "g2"]);
        compare(names(streamsFilter, "objName"), ["s1a", "s1b"]);
        compare(gatewaysFilter.count, 2);
        compare(streamsFilter.count, 2);
    }

    function test_uncheckingAGatewayHidesItsStreamsAtOnce() {
        objectsModel.setProperty(1, "objIsParentActive", false);
        objectsModel.setProperty(2, "objIsParentActive", false);
        compare(names(streamsFilter, "objName"), []);
        compare(streamsFilter.count, 0);
        objectsModel.setProperty(4, "objIsParentActive", true);
        compare(names(streamsFilter, "objName"), ["s2a"]);
    }

    function test_perStreamViewsFollowTheSerial() {
        compare(streamRows.count, 2);
        var s1a = viewsOf("S1A");
        var s1b = viewsOf("S1B");
        verify(s1a !== null && s1b !== null);
        compare(names(s1a, "viewName"), ["v1", "v3"]);
        compare(s1b.count, 0);
        viewsModel.append({ viewName: "v4", viewIsActive: true, viewObjectSerial: "S1B" });
        compare(s1b.count, 1);
        compare(s1b.get(0).viewName, "v4");
    }

    function test_invokablesWorkFromQml() {
        compare(streamsFilter.roleForName("objSerial") > 0, true);
        compare(streamsFilter.roleForName("nothing"), -1);
        compare(streamsFilter.mapToSource(1), 2);
        compare(streamsFilter.mapFromSource(0), -1);
        compare(streamsFilter.get(0).objSerial, "S1A");
    }

    function test_everyTypeIsRegistered_data() {
        return [
            { tag: "SortFilterProxyModel", type: "SortFilterProxyModel" },
            { tag: "ValueFilter", type: "ValueFilter" },
            { tag: "IndexFilter", type: "IndexFilter" },
            { tag: "RegExpFilter", type: "RegExpFilter" },
            { tag: "RangeFilter", type: "RangeFilter" },
            { tag: "ExpressionFilter", type: "ExpressionFilter" },
            { tag: "AnyOf", type: "AnyOf" },
            { tag: "AllOf", type: "AllOf" },
            { tag: "RoleSorter", type: "RoleSorter" },
            { tag: "StringSorter", type: "StringSorter" },
            { tag: "FilterSorter", type: "FilterSorter" },
            { tag: "ExpressionSorter", type: "ExpressionSorter" },
            { tag: "JoinRole", type: "JoinRole" },
            { tag: "SwitchRole", type: "SwitchRole" },
            { tag: "ExpressionRole", type: "ExpressionRole" },
            { tag: "RegExpRole", type: "RegExpRole" },
            { tag: "FilterRole", type: "FilterRole" }
        ];
    }

    function test_everyTypeIsRegistered(data) {
        var object = Qt.createQmlObject("import SortFilterProxyModel 0.2; " + data.type + " {}", testCase);
        verify(object !== null);
        object.destroy();
    }

    function test_abstractTypesSayWhy_data() {
        return [
            { tag: "Filter", message: "Filter is an abstract class" },
            { tag: "Sorter", message: "Sorter is an abstract class" },
            { tag: "ProxyRole", message: "ProxyRole is an abstract class" }
        ];
    }

    function test_abstractTypesSayWhy(data) {
        var message = "";
        try {
            Qt.createQmlObject("import SortFilterProxyModel 0.2; " + data.tag + " {}", testCase);
        } catch (e) {
            message = e.qmlErrors[0].message;
        }
        verify(message.indexOf(data.message) >= 0, message);
    }
}
