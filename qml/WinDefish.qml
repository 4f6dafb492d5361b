import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import Qt.labs.settings 1.0
import korvu.converter 1.0

// Dewarping window for one fisheye stream. The content, with its pipelines, is
// created anew on every show and destroyed on every hide.
Window {
    id: control
    objectName: "winDefish"

    // The stream Object being edited.
    property var objectInstance: null

    title: qsTr("Defish") + I18n.localeNotify
    modality: Qt.ApplicationModal
    flags: Qt.Dialog
    width: 640
    height: 640
    minimumWidth: 400
    minimumHeight: 400

    function handleShow() {
        console.assert(objectInstance, "WinDefish: no stream object")
        loader.setSource("qrc:/ElementDefish.qml", { "objectInstance": control.objectInstance })
    }

    function handleHide() {
        loader.source = ""
    }

    // Copies the lens geometry to the stream and stores the view; false keeps the
    // window open (no name, or a name the stream already has).
    function storeView() {
        var obj = control.objectInstance
        console.assert(obj, "storeView: no stream object")
        var serial = obj.serial
        var item = loader.item
        console.assert(item, "storeView: no content")

        // Without a frame size the geometry in pixels is 0: keep the stream's own.
        if (item.videoSizeKnown) {
            obj.centerX = item.centerX
            obj.centerY = item.centerY
            obj.radius = item.radius
            obj.fov = item.fov
        } else {
            console.log("Lens geometry not taken over: the video size is not known yet")
        }

        if (item.name.length === 0)
            return false

        if (!RepoObjViews.appendView(item.name, serial, item.roll, item.tilt, item.pan, item.zoom)) {
            console.log("View exists")
            console.trace()
            return false
        }
        return true
    }

    onVisibleChanged: {
        if (visible)
            handleShow()
        else
            handleHide()
    }

    // Size and position as the operator left them.
    Settings {
        id: geometrySettings
        category: "defishWindow"
        fileName: settingsStore.fileName
        property alias x: control.x
        property alias y: control.y
        property alias width: control.width
        property alias height: control.height
    }

    // Closing takes the content down while the window still shows and hides it
    // once the scene graph has synchronised again: only then does the render
    // thread drop the video items' nodes, which hold the last frames and, through
    // them, the pipelines' GL contexts. A window hidden first keeps all of that
    // until it is next shown.
    onClosing: {
        if (!loader.item)
            return
        close.accepted = false
        loader.source = ""
        closeAfterSync.framesLeft = 2
        closeAfterSync.restart()
        control.update()
    }

    onFrameSwapped: {
        if (!closeAfterSync.running)
            return
        // The first frame may have been synchronised before the content went.
        if (--closeAfterSync.framesLeft > 0)
            control.update()
        else
            closeAfterSync.finish()
    }

    // Closes regardless once the interval is over: a window that is not exposed
    // renders no frames.
    Timer {
        id: closeAfterSync
        property int framesLeft: 0
        interval: 1000

        function finish() {
            stop()
            control.close()
        }

        onTriggered: finish()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Config.theme.defaultMargin

        Loader {
            id: loader
            objectName: "loaderDefish"
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight

            Button {
                id: btnClose
                objectName: "btnDefishClose"
                text: qsTr("Close") + I18n.localeNotify
                onClicked: control.close()
            }
            Button {
                id: btnOk
                objectName: "btnDefishOk"
                text: qsTr("Ok") + I18n.localeNotify
                onClicked: {
                    if (storeView())
                        control.close()
                }
            }
        }
    }
}
