import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
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
                                                // Only fisheye streams can be dewarped, and a ZeroMQ
                                                // stream is reachable only once its port is known.
                                                enabled: objIsFisheye && !(Utils.isZmqUrl(objUrl) && objZmqPort === 0)
                                                onTriggered: {
                                                    winDefish.objectInstance = objInstance
                                                    winDefish.show()
                                                }
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

                                    delegate: RowLayout {
                                        width: lstViews.width

                                        CheckBox {
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
            // The debug build runs the streaming-server stand-in built with the program.
            program: isDebug ? debugServerProgram : "Ostrevan.exe"
            arguments: isDebug ? debugServerArguments : []
            onStarted: console.log("Started")
            onStopped: console.log("Stopped")
            onIsRunningChanged: console.log("isRunning:", isRunning)
            // The server never outlives the window.
            Component.onDestruction: {
                if (isRunning)
                    stop()
            }
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight

            Button {
                id: btnSave
                objectName: "btnSave"
                text: qsTr("Save") + I18n.localeNotify
                enabled: !procManager.isRunning
                onClicked: LocalDatabase.save()
            }

            Button {
                id: btnStartStop
                objectName: "btnStartStop"
                text: (procManager.isRunning ? qsTr("Stop") : qsTr("Start")) + I18n.localeNotify
                onClicked: {
                    if (procManager.isRunning) {
                        procManager.stop()
                    } else {
                        // The server reads objects.data: write it first.
                        LocalDatabase.save()
                        procManager.start()
                    }
                }
            }
        }
    }
}
