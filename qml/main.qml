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
    // A leading asterisk while there are changes that objects.data does not hold yet; a session
    // that saves nothing says so.
    title: (UnsavedChanges.dirty ? "*" : "") + qsTr("Quillon")
           + (LocalDatabase.readOnly ? " " + qsTr("(read-only)") : "") + I18n.localeNotify

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

    // Set from "Reconnect" until the objects were asked for again, or reconnecting failed.
    readonly property bool reconnecting: reconnection.busy
    // The message on screen says the event-server connection was lost: it offers to reconnect.
    property bool offerReconnect: false

    // Connects and signs in again with the same settings, reads the stored settings again (they
    // go to the objects fetched anew) and fetches the objects; objects.data unreadable this time
    // goes on read-only.
    function reconnect() {
        reconnection.reconnect()
    }

    SignInSession {
        id: reconnection
        objectName: "reconnection"
        onFailed: error(qsTr("Reconnecting failed: %1").arg(failure === SignInSession.ConnectionLost
                                                             ? qsTr("Lost connection to ES") : message))
        // The login window reports a lost connection while it is shown.
        onConnectionLost: {
            if (winLogin.visible)
                return
            error(qsTr("Lost connection to ES"))
            offerReconnect = true
        }
    }

    // Set while a save runs that the question on closing asked for: the window closes once it succeeded.
    property bool closeAfterSave: false
    // Set once the operator chose to close with the changes unsaved (or they were saved).
    property bool closeConfirmed: false

    onVisibleChanged: {
        if (visible)
            closeConfirmed = false
    }

    // Closing with unsaved changes asks first: Save, Discard or Cancel.
    onClosing: {
        if (closeConfirmed || !UnsavedChanges.dirty)
            return
        close.accepted = false
        confirmClose.open()
    }

    function error(msg) {
        // Messages that arrive together (a lost connection ends the fetch too) are shown together.
        messager.text = messager.visible ? messager.text + "\n\n" + msg : msg
        messager.open()
    }


    WinMessage {
        id: confirmClose
        objectName: "confirmClose"
        width: winMain.width - 2 * Config.theme.defaultMargin
        x: (winMain.width - width) / 2
        y: (winMain.height - height) / 2
        text: qsTr("There are unsaved changes. Save them before closing?") + I18n.localeNotify
        actionText: qsTr("Save") + I18n.localeNotify
        otherText: qsTr("Discard") + I18n.localeNotify
        closeText: qsTr("Cancel") + I18n.localeNotify

        onActionClicked: {
            close()
            closeAfterSave = server.save()
        }
        onOtherClicked: {
            close()
            closeConfirmed = true
            winMain.close()
        }
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
        property string streamName: ""
        property string viewName: ""
        width: winMain.width - 2 * Config.theme.defaultMargin
        x: (winMain.width - width) / 2
        y: (winMain.height - height) / 2
        text: qsTr("Delete the view “%1” of stream %2? It leaves objects.data at the next Save.")
              .arg(viewName).arg(streamName) + I18n.localeNotify
        actionText: qsTr("Delete") + I18n.localeNotify
        closeText: qsTr("Cancel") + I18n.localeNotify

        function ask(streamSerial, stream, name) {
            serial = streamSerial
            streamName = stream
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
        actionText: offerReconnect ? qsTr("Reconnect") + I18n.localeNotify : ""
        onActionClicked: {
            close()
            reconnect()
        }
        onClosed: offerReconnect = false
    }

    // Saving, then starting the server; what it reports is shown below the lists.
    ServerController {
        id: server
        objectName: "serverController"
        processManager: procManager
        onFailed: error(message)
    }

    // A save that the question on closing asked for closes the window once it succeeded (a failure
    // is reported by the controller).
    Connections {
        target: LocalDatabase
        function onSaveFinished(ok) {
            var thenClose = closeAfterSave
            closeAfterSave = false
            if (ok && thenClose) {
                closeConfirmed = true
                winMain.close()
            }
        }
    }

    // The login window reports these while it is shown; afterwards they land here.
    Connections {
        target: EventServer
        enabled: !winLogin.visible
        function onFetchObjectsFailed(message) {
            error(qsTr("Fetching the objects failed: %1").arg(message))
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Config.theme.defaultMargin

        // The language may change at any time, without signing in again.
        RowLayout {
            Layout.fillWidth: true

            Label {
                text: qsTr("Language") + I18n.localeNotify
            }
            ComboBox {
                id: cbLanguage
                objectName: "cbMainLanguage"
                Layout.fillWidth: true
                model: Config.languagesModel
                textRole: "name"
                currentIndex: Config.languageIndex(I18n.locale)
                onActivated: I18n.locale = Config.languagesModel.get(index).code
            }
        }

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

                        delegate: GatewayRow {
                            width: lstGateways.width
                            name: objName
                            active: objIsActive
                            onActiveToggled: objIsActive = checked
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
                    // Each gateway's streams together, under its name.
                    sorters: [
                        StringSorter {
                            roleName: "objParentName"
                        },
                        RoleSorter {
                            roleName: "objIdParent"
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

                        // Names of the gateways whose streams are folded away. A folded row stays
                        // (with no height), so folding never re-filters the list.
                        property var folded: ({})
                        function toggleFolded(gateway) {
                            var next = {}
                            for (var name in folded)
                                next[name] = true
                            if (next[gateway])
                                delete next[gateway]
                            else
                                next[gateway] = true
                            folded = next
                        }

                        section.property: "objParentName"
                        section.criteria: ViewSection.FullString
                        section.delegate: ItemDelegate {
                            id: gatewaySection
                            objectName: "gatewaySection"
                            width: lstStreams.width
                            readonly property bool isFolded: lstStreams.folded[section] === true
                            text: (isFolded ? "▸ " : "▾ ") + section
                            font.bold: true
                            focusPolicy: Qt.TabFocus
                            onClicked: lstStreams.toggleFolded(section)
                            Keys.onReturnPressed: lstStreams.toggleFolded(section)
                            Keys.onEnterPressed: lstStreams.toggleFolded(section)
                        }

                        delegate: StreamRow {
                            width: lstStreams.width
                            streamObject: objInstance
                            streamSerial: objSerial
                            streamName: objName
                            streamUrl: objUrl
                            zmqPort: objZmqPort
                            fisheye: objIsFisheye
                            active: objIsActive
                            folded: lstStreams.folded[objParentName] === true
                            viewsEnabled: !procManager.isRunning
                            onActiveToggled: objIsActive = checked
                            onOpenRequested: winDefish.openView(streamObject, viewName, duplicate)
                            onDeleteViewRequested: confirmDeleteView.ask(streamSerial, streamName, viewName)
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
            // Its addresses and errors come from its status, not its log lines.
            statusChannel: true
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

        // How many of the stored views the server serves, once they were saved.
        Label {
            id: lblServedCount
            objectName: "lblServedCount"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            visible: server.views.viewCount > 0
            text: (procManager.isRunning ? qsTr("Serving %1 of %2 stored views").arg(server.views.servedCount)
                                                .arg(server.views.viewCount)
                                         : qsTr("%1 stored views").arg(server.views.viewCount)) + I18n.localeNotify
        }

        TextField {
            id: txtServedFilter
            objectName: "txtServedFilter"
            Layout.fillWidth: true
            visible: server.views.viewCount > 5
            placeholderText: qsTr("Filter views by name or stream") + I18n.localeNotify
            selectByMouse: true
            onTextChanged: server.views.filterText = text
        }

        // Each stored view: its address, ready to be copied into a player, or why it is not served.
        // A few rows tall at most, scrolling beyond, so it never takes the lists' room or the buttons'.
        ListView {
            id: lstServedViews
            objectName: "lstServedViews"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, Config.theme.maxServedHeight)
            visible: server.views.count > 0
            clip: true
            model: server.views
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: lstServedViews.contentHeight > lstServedViews.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            }

            delegate: TextEdit {
                objectName: "servedView"
                width: lstServedViews.width - Config.theme.defaultMargin
                readonly property bool isServed: served
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.WrapAnywhere
                color: served ? winMain.palette.windowText : "dimgray"
                text: served ? address : qsTr("%1 / %2: %3").arg(streamSerial).arg(viewName).arg(reason)
                                         + I18n.localeNotify
            }
        }

        // Why nothing is saved in this session.
        Label {
            id: lblReadOnly
            objectName: "lblReadOnly"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            visible: LocalDatabase.readOnly
            color: "darkred"
            text: qsTr("Read-only: nothing is saved in this session. %1").arg(LocalDatabase.openError)
                  + I18n.localeNotify
        }

        // What the last save wrote, and when.
        Label {
            id: lblSaveReport
            objectName: "lblSaveReport"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            visible: LocalDatabase.lastSave.time !== undefined
            text: (visible ? qsTr("Saved %1 gateways, %2 streams, %3 views at %4")
                             .arg(LocalDatabase.lastSave.gateways).arg(LocalDatabase.lastSave.streams)
                             .arg(LocalDatabase.lastSave.views)
                             .arg(Qt.formatTime(LocalDatabase.lastSave.time, "HH:mm")) : "") + I18n.localeNotify
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight

            BusyIndicator {
                objectName: "busySaving"
                running: server.busy
                visible: running
                Layout.preferredHeight: btnSave.height
                Layout.preferredWidth: btnSave.height
            }

            Button {
                id: btnSave
                objectName: "btnSave"
                text: qsTr("Save") + I18n.localeNotify
                enabled: !procManager.isRunning && !server.busy && !LocalDatabase.readOnly
                // Stands out while there is something to save.
                highlighted: UnsavedChanges.dirty
                font.bold: UnsavedChanges.dirty
                ToolTip.visible: hovered && UnsavedChanges.dirty
                ToolTip.text: qsTr("There are unsaved changes") + I18n.localeNotify
                onClicked: server.save()
            }

            Button {
                id: btnStartStop
                objectName: "btnStartStop"
                text: (procManager.isRunning ? qsTr("Stop") : qsTr("Start")) + I18n.localeNotify
                enabled: !server.busy
                onClicked: {
                    if (procManager.isRunning)
                        server.stop()
                    else
                        // The server reads objects.data: it starts once the file is written.
                        server.start()
                }
            }
        }
    }
}
