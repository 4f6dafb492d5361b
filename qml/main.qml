import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import Qt.labs.settings 1.0
import korvu.converter 1.0
import SortFilterProxyModel 0.2

// Main window: gateways, the streams of the active gateways and the stored views
// of each stream; saving, the streaming-server process and the defish window.
ApplicationWindow {
    id: winMain
    objectName: "winMain"
    visible: true
    width: 400
    height: 600
    title: qsTr("Quillon") + I18n.localeNotify

    // Size and position as the operator left them.
    Settings {
        id: geometrySettings
        category: "mainWindow"
        fileName: settingsStore.fileName
        property alias x: winMain.x
        property alias y: winMain.y
        property alias width: winMain.width
        property alias height: winMain.height
    }

    // Set while a save runs that "Start" asked for: the server starts only once
    // the save has succeeded, so it never runs on the previous file.
    property bool startAfterSave: false

    function error(msg) {
        // Messages that arrive together (a lost connection ends the fetch too) are shown together.
        messager.text = messager.visible ? messager.text + "\n\n" + msg : msg
        messager.open()
    }

    function save(thenStart) {
        if (!LocalDatabase.saveInBackground()) {
            error(qsTr("Not saved: %1").arg(LocalDatabase.lastError))
            return
        }
        startAfterSave = thenStart
    }

    WinLogin {
        id: winLogin
        objectName: "winLogin"
        visible: true
    }

    WinDefish {
        id: winDefish
        objectName: "winDefish"
        visible: false
    }

    // Asks once before a stored view goes.
    WinMessage {
        id: confirmDeleteView
        objectName: "confirmDeleteView"
        property string serial: ""
        property string viewName: ""
        width: winMain.width - 2 * Config.theme.defaultMargin
        x: (winMain.width - width) / 2
        y: (winMain.height - height) / 2
        text: qsTr("Delete the view “%1” of stream %2? It leaves objects.data at the next Save.")
              .arg(viewName).arg(serial) + I18n.localeNotify
        actionText: qsTr("Delete") + I18n.localeNotify
        closeText: qsTr("Cancel") + I18n.localeNotify

        function ask(streamSerial, name) {
            serial = streamSerial
            viewName = name
            open()
        }

        onActionClicked: {
            close()
            if (!RepoObjViews.removeView(serial, viewName))
                error(qsTr("The view “%1” could not be deleted.").arg(viewName))
        }
    }

    WinMessage {
        id: messager
        objectName: "mainMessager"
        width: winMain.width - 2 * Config.theme.defaultMargin
        x: (winMain.width - width) / 2
        y: (winMain.height - height) / 2
    }

    Connections {
        target: LocalDatabase
        function onSaveFinished(ok) {
            var start = startAfterSave
            startAfterSave = false
            if (!ok)
                error(qsTr("Saving failed: %1").arg(LocalDatabase.lastError))
            else if (start)
                procManager.start()
        }
    }

    // The login window reports these while it is shown; afterwards they land here.
    Connections {
        target: EventServer
        enabled: !winLogin.visible
        function onFetchObjectsFailed(message) {
            error(qsTr("Fetching the objects failed: %1").arg(message))
        }
        function onDisconnectedFromEs() {
            error(qsTr("Lost connection to ES"))
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Config.theme.defaultMargin

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true

            SplitView {
                orientation: Qt.Vertical
                Layout.fillWidth: true
                Layout.fillHeight: true

                SortFilterProxyModel {
                    id: gatewaysFilter
                    sourceModel: RepoObjects
                    filters: [
                        ValueFilter {
                            enabled: true
                            roleName: "objType"
                            value: Object.Device
                        }
                    ]
                }

                ColumnLayout {
                    SplitView.fillWidth: true
                    SplitView.minimumHeight: 50
                    SplitView.maximumHeight: 250
                    SplitView.preferredHeight: 100

                    Label {
                        text: qsTr("Gateways") + I18n.localeNotify
                        font.bold: true
                    }

                    ListView {
                        id: lstGateways
                        objectName: "lstGateways"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        clip: true
                        model: gatewaysFilter
                        enabled: !procManager.isRunning
                        ScrollBar.vertical: ScrollBar {
                            policy: ScrollBar.AlwaysOn
                        }

                        delegate: ItemDelegate {
                            id: gatewayDelegate
                            width: lstGateways.width
                            background: Rectangle {
                                color: gatewayDelegate.down ? "white" : "transparent"
                            }
                            contentItem: RowLayout {
                                CheckBox {
                                    objectName: "chkGateway"
                                    text: objName
                                    Component.onCompleted: checked = objIsActive
                                    onCheckedChanged: objIsActive = checked
                                }
                            }
                        }
                    }
                }

                SortFilterProxyModel {
                    id: streamsFilter
                    sourceModel: RepoObjects
                    filters: [
                        ValueFilter {
                            enabled: true
                            roleName: "objType"
                            value: Object.Stream
                        },
                        ValueFilter {
                            enabled: true
                            roleName: "objIsParentActive"
                            value: true
                        }
                    ]
                }

                ColumnLayout {
                    SplitView.fillWidth: true

                    Label {
                        text: qsTr("Streams") + I18n.localeNotify
                        font.bold: true
                    }

                    ListView {
                        id: lstStreams
                        objectName: "lstStreams"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        clip: true
                        model: streamsFilter
                        enabled: !procManager.isRunning
                        ScrollBar.vertical: ScrollBar {
                            policy: ScrollBar.AlwaysOn
                        }

                        delegate: ItemDelegate {
                            id: streamDelegate
                            objectName: "streamDelegate"
                            width: lstStreams.width
                            // Only fisheye streams can be dewarped, and a ZeroMQ
                            // stream is reachable only once its port is known.
                            readonly property bool canDefish: objIsFisheye && !(Utils.isZmqUrl(objUrl) && objZmqPort === 0)
                            readonly property var streamObject: objInstance
                            readonly property string streamSerial: objSerial
                            background: Rectangle {
                                color: streamDelegate.down ? "white" : "transparent"
                            }
                            contentItem: ColumnLayout {
                                Item {
                                    // Without an implicit width the layout leaves the row 0 wide
                                    // and the mouse area beside the check box gets no clicks.
                                    implicitWidth: chkStream.implicitWidth
                                    Layout.fillWidth: true
                                    Layout.preferredHeight: chkStream.height

                                    MouseArea {
                                        id: areaContextMenu
                                        objectName: "areaContextMenu"
                                        anchors.fill: parent
                                        onClicked: streamCtxMenu.open()

                                        Menu {
                                            id: streamCtxMenu
                                            objectName: "streamCtxMenu"
                                            x: areaContextMenu.mouseX
                                            y: areaContextMenu.mouseY

                                            MenuItem {
                                                objectName: "menuAddView"
                                                text: qsTr("Add view") + I18n.localeNotify
                                                enabled: streamDelegate.canDefish
                                                onTriggered: winDefish.openView(objInstance, "", false)
                                            }
                                        }
                                    }

                                    // Declared after the mouse area so that it lies above it
                                    // and takes the clicks on itself.
                                    CheckBox {
                                        id: chkStream
                                        objectName: "chkStream"
                                        text: objZmqPort === 0 ? objName : "%1 (%2)".arg(objName).arg(objZmqPort)
                                        Component.onCompleted: checked = objIsActive
                                        onCheckedChanged: objIsActive = checked
                                    }
                                }

                                // The stream's own views, looked up by serial: a row
                                // never walks the views of the whole site.
                                StreamViews {
                                    id: viewsFilter
                                    objectSerial: objSerial
                                }

                                // At most a few rows tall, scrolling beyond: a list as
                                // tall as its content would create every delegate.
                                ListView {
                                    id: lstViews
                                    objectName: "lstViews"
                                    model: viewsFilter
                                    interactive: contentHeight > height
                                    clip: true
                                    // Rows are made as they scroll into sight, none ahead.
                                    cacheBuffer: 0
                                    visible: viewsFilter.count > 0
                                    enabled: !procManager.isRunning
                                    Layout.fillWidth: true
                                    Layout.leftMargin: Config.theme.defaultMargin * 2
                                    Layout.preferredHeight: Math.min(contentHeight, Config.theme.maxViewsHeight)
                                    ScrollBar.vertical: ScrollBar {
                                        policy: lstViews.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                                    }

                                    // A click on the row beside the check box offers what can
                                    // be done with the view.
                                    delegate: Item {
                                        id: viewDelegate
                                        objectName: "viewDelegate"
                                        width: lstViews.width
                                        implicitHeight: chkView.implicitHeight
                                        readonly property string name: viewName

                                        MouseArea {
                                            id: areaViewMenu
                                            objectName: "areaViewMenu"
                                            anchors.fill: parent
                                            onClicked: viewCtxMenu.open()

                                            Menu {
                                                id: viewCtxMenu
                                                objectName: "viewCtxMenu"
                                                x: areaViewMenu.mouseX
                                                y: areaViewMenu.mouseY

                                                MenuItem {
                                                    objectName: "menuEditView"
                                                    text: qsTr("Edit") + I18n.localeNotify
                                                    enabled: streamDelegate.canDefish
                                                    onTriggered: winDefish.openView(streamDelegate.streamObject,
                                                                                    viewDelegate.name, false)
                                                }
                                                MenuItem {
                                                    objectName: "menuDuplicateView"
                                                    text: qsTr("Duplicate") + I18n.localeNotify
                                                    enabled: streamDelegate.canDefish
                                                    onTriggered: winDefish.openView(streamDelegate.streamObject,
                                                                                    viewDelegate.name, true)
                                                }
                                                MenuItem {
                                                    objectName: "menuDeleteView"
                                                    text: qsTr("Delete") + I18n.localeNotify
                                                    onTriggered: confirmDeleteView.ask(streamDelegate.streamSerial,
                                                                                       viewDelegate.name)
                                                }
                                            }
                                        }

                                        // Above the mouse area: it takes the clicks on itself.
                                        CheckBox {
                                            id: chkView
                                            objectName: "chkView"
                                            text: viewName
                                            Component.onCompleted: checked = viewIsActive
                                            onCheckedChanged: viewIsActive = checked
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }

        ProcessManager {
            id: procManager
            objectName: "procManager"
            // The streaming server built with the program (ostrevan, beside the executable or on PATH),
            // on the objects.data this program writes.
            program: serverProgram
            arguments: serverArguments
            onStarted: console.log("Started")
            onStopped: console.log("Stopped")
            onIsRunningChanged: console.log("isRunning:", isRunning)
            // The server never outlives the window.
            Component.onDestruction: {
                if (isRunning)
                    stop()
            }
        }

        // What the server really does: starting, running with the addresses it serves,
        // stopped, or failed with its last error line and the restarts so far.
        Label {
            id: lblServerStatus
            objectName: "lblServerStatus"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: procManager.status === ProcessManager.Failed || procManager.restartDelay > 0 ? "darkred" : winMain.palette.windowText
            text: serverStatusText() + I18n.localeNotify

            function serverStatusText() {
                switch (procManager.status) {
                case ProcessManager.Starting:
                    if (procManager.restartDelay > 0)
                        return qsTr("Server: %1 Restart %2 in %3 s.").arg(procManager.lastError)
                            .arg(procManager.restartCount + 1).arg(Math.ceil(procManager.restartDelay / 1000))
                    return qsTr("Server: starting")
                case ProcessManager.Running:
                    if (procManager.restartCount > 0)
                        return qsTr("Server: running, restarted %1 times").arg(procManager.restartCount)
                    return qsTr("Server: running")
                case ProcessManager.Failed:
                    return qsTr("Server: failed. %1").arg(procManager.lastError)
                }
                return qsTr("Server: stopped")
            }
        }

        // Read-only but selectable, so that an address can be copied into a player.
        TextEdit {
            id: txtServerAddresses
            objectName: "txtServerAddresses"
            Layout.fillWidth: true
            visible: procManager.status === ProcessManager.Running && procManager.servedAddresses.length > 0
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.WrapAnywhere
            color: winMain.palette.windowText
            text: procManager.servedAddresses.join("\n")
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight

            BusyIndicator {
                objectName: "busySaving"
                running: LocalDatabase.saving
                visible: running
                Layout.preferredHeight: btnSave.height
                Layout.preferredWidth: btnSave.height
            }

            Button {
                id: btnSave
                objectName: "btnSave"
                text: qsTr("Save") + I18n.localeNotify
                enabled: !procManager.isRunning && !LocalDatabase.saving
                onClicked: save(false)
            }

            Button {
                id: btnStartStop
                objectName: "btnStartStop"
                text: (procManager.isRunning ? qsTr("Stop") : qsTr("Start")) + I18n.localeNotify
                enabled: !LocalDatabase.saving
                onClicked: {
                    if (procManager.isRunning)
                        procManager.stop()
                    else
                        // The server reads objects.data: it starts once the file is written.
                        save(true)
                }
            }
        }
    }
}
