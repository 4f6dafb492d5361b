import QtQuick 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import korvu.converter 1.0

// One stream of the main window under its gateway: its row (the name opens its menu, only the box
// switches it) and below it the stream's stored views (ViewRow), a few rows tall at most.
ItemDelegate {
    id: control
    objectName: "streamDelegate"

    property var streamObject: null
    property string streamSerial: ""
    property string streamName: ""
    property string streamUrl: ""
    property int zmqPort: 0
    property bool fisheye: false
    // Follows the model.
    property bool active: false
    // A folded gateway's rows stay, with no height, so that folding never re-filters the list.
    property bool folded: false
    // The views can be switched while the server is not running.
    property bool viewsEnabled: true

    // Only fisheye streams can be dewarped, and a ZeroMQ stream is reachable only once its port is known.
    readonly property bool canDefish: fisheye && !(Utils.isZmqUrl(streamUrl) && zmqPort === 0)

    // The operator switched the stream's box; checked is its new state.
    signal activeToggled(bool checked)
    // The defish window on this stream: a new view (viewName empty), or a stored one to edit or duplicate.
    signal openRequested(string viewName, bool duplicate)
    // Delete was asked for on the stored view viewName.
    signal deleteViewRequested(string viewName)

    visible: !folded
    height: visible ? implicitHeight : 0
    leftPadding: Config.theme.defaultMargin * 3
    // The rows inside take the keyboard, not the delegate.
    focusPolicy: Qt.NoFocus
    background: Rectangle {
        color: control.down ? "white" : "transparent"
    }
    contentItem: ColumnLayout {
        ListRow {
            id: streamRow
            objectName: "streamRow"
            Layout.fillWidth: true
            checkBoxName: "chkStream"
            areaName: "areaContextMenu"
            menuName: "streamCtxMenu"
            label: control.zmqPort === 0 ? control.streamName : "%1 (%2)".arg(control.streamName).arg(control.zmqPort)
            checked: control.active
            onToggled: control.activeToggled(checked)
            onActivated: {
                if (control.canDefish)
                    control.openRequested("", false)
            }

            menuItems: [
                MenuItem {
                    objectName: "menuAddView"
                    text: qsTr("Add view") + I18n.localeNotify
                    enabled: control.canDefish
                    onTriggered: control.openRequested("", false)
                }
            ]
        }

        // The stream's own views, looked up by serial: a row never walks the views of the whole site.
        StreamViews {
            id: viewsFilter
            objectSerial: control.streamSerial
        }

        // At most a few rows tall, scrolling beyond: a list as tall as its content would create every
        // delegate.
        ListView {
            id: lstViews
            objectName: "lstViews"
            model: viewsFilter
            interactive: contentHeight > height
            clip: true
            // Rows are made as they scroll into sight, none ahead.
            cacheBuffer: 0
            visible: viewsFilter.count > 0
            enabled: control.viewsEnabled
            Layout.fillWidth: true
            Layout.leftMargin: Config.theme.defaultMargin * 2
            Layout.preferredHeight: Math.min(contentHeight, Config.theme.maxViewsHeight)
            ScrollBar.vertical: ScrollBar {
                policy: lstViews.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            }

            delegate: ViewRow {
                width: lstViews.width
                name: viewName
                checked: viewIsActive
                canDefish: control.canDefish
                onToggled: viewIsActive = checked
                onOpenRequested: control.openRequested(name, duplicate)
                onDeleteRequested: control.deleteViewRequested(name)
            }
        }
    }
}
