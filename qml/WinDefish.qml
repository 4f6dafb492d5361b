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
    // The stored view the next show starts on, and whether Ok then stores a copy of it rather than
    // updating it; empty: a new view from the default values. Both are reset on every hide.
    property string startView: ""
    property bool startAsCopy: false
    // Why the last Ok was refused, shown above the buttons.
    property string message: ""
    // The name a refusal was about: the message goes once the name is another.
    property string refusedName: ""

    function refuse(text, name) {
        message = text
        refusedName = name
    }

    // Opens the window on a stored view of the stream (asCopy: to store a copy under a new name), or
    // on a new view where viewName is empty.
    function openView(obj, viewName, asCopy) {
        objectInstance = obj
        startView = viewName
        startAsCopy = asCopy
        show()
    }

    title: qsTr("Defish") + I18n.localeNotify
    modality: Qt.ApplicationModal
    flags: Qt.Dialog
    width: 640
    height: 640
    minimumWidth: 400
    minimumHeight: 400

    function handleShow() {
        console.assert(objectInstance, "WinDefish: no stream object")
        message = ""
        loader.setSource("qrc:/ElementDefish.qml", { "objectInstance": control.objectInstance })
        if (startView.length === 0 || !loader.item || !objectInstance)
            return
        var values = RepoObjViews.viewOf(objectInstance.serial, startView)
        if (values.name === undefined) {
            message = qsTr("The view “%1” no longer exists; Ok stores a new view.").arg(startView)
            return
        }
        loader.item.loadView(startAsCopy ? RepoObjViews.copyName(objectInstance.serial, startView) : startView, values,
                             !startAsCopy)
    }

    function handleHide() {
        confirmSwitch.close()
        loader.source = ""
        startView = ""
        startAsCopy = false
        message = ""
    }

    function nameTakenMessage(name) {
        return qsTr("The stream has a view named “%1” already: choose another name.").arg(name)
    }

    // Stores the view and, with it, the lens and mount the window shows into the stream; false keeps the
    // window open and changes nothing (no name, or a name the stream already has).
    function storeView() {
        var obj = control.objectInstance
        console.assert(obj, "storeView: no stream object")
        var serial = obj.serial
        var item = loader.item
        console.assert(item, "storeView: no content")

        if (item.name.length === 0) {
            refuse(qsTr("Type a name for the view."), "")
            return false
        }
        var camera = item.cameraAngles()
        var edited = item.editedName
        if (edited.length > 0) {
            if (item.name !== edited && RepoObjViews.hasView(serial, item.name)) {
                refuse(nameTakenMessage(item.name), item.name)
                return false
            }
            if (!RepoObjViews.updateView(serial, edited, item.name, camera.roll, camera.tilt, camera.pan, item.zoom)) {
                message = qsTr("The view “%1” could not be updated.").arg(edited)
                return false
            }
        } else {
            if (!RepoObjViews.appendView(item.name, serial, camera.roll, camera.tilt, camera.pan, item.zoom)) {
                console.log("View exists")
                refuse(nameTakenMessage(item.name), item.name)
                return false
            }
            // A new view is served by the next Start; an edited one keeps its tick as it was.
            if (!RepoObjViews.setViewActive(serial, item.name, true))
                console.log("The new view was not switched on")
        }
        if (!RepoObjViews.setViewLayout(serial, item.name, item.mode, item.layoutMap()))
            console.log("The view's layout was not stored")

        obj.mount = item.mount
        obj.projection = item.projection
        // Without a frame size the window holds no lens of its own: the stream keeps its own.
        if (item.lensPlaced) {
            obj.centerX = item.centerX
            obj.centerY = item.centerY
            obj.radius = item.radius
            obj.fov = item.fov
        } else {
            console.log("Lens geometry not taken over: the video size is not known yet")
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

        // Whether Ok stores a new view or updates a stored one.
        Label {
            id: lblDefishMode
            objectName: "lblDefishMode"
            Layout.fillWidth: true
            elide: Text.ElideRight
            font.bold: true
            text: (loader.item && loader.item.editedName.length > 0
                   ? qsTr("Editing view “%1”").arg(loader.item.editedName)
                   : qsTr("New view")) + I18n.localeNotify
        }

        Loader {
            id: loader
            objectName: "loaderDefish"
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        // A newly selected view starts without the previous view's refusal, and a refusal about the
        // name goes once the name is another.
        Connections {
            target: loader.item
            ignoreUnknownSignals: true
            function onEditedNameChanged() {
                control.message = ""
            }
            function onNameChanged() {
                if (control.message.length > 0 && loader.item.name !== control.refusedName)
                    control.message = ""
            }
            function onSwitchRequested(viewName) {
                confirmSwitch.ask(viewName)
            }
        }

        // Loading another stored view would drop what was done to this one: asks first.
        WinMessage {
            id: confirmSwitch
            objectName: "confirmSwitchView"
            property string viewName: ""
            parent: Overlay.overlay
            width: control.width - 2 * Config.theme.defaultMargin
            x: (control.width - width) / 2
            y: (control.height - height) / 2
            text: qsTr("The changes to this view are not stored. Switch to “%1” and drop them?").arg(viewName)
                  + I18n.localeNotify
            actionText: qsTr("Switch") + I18n.localeNotify
            closeText: qsTr("Cancel") + I18n.localeNotify

            function ask(name) {
                viewName = name
                open()
            }

            onActionClicked: {
                close()
                if (loader.item && !loader.item.switchTo(viewName))
                    control.message = qsTr("The view “%1” no longer exists.").arg(viewName)
            }
        }

        Label {
            id: lblDefishMessage
            objectName: "lblDefishMessage"
            Layout.fillWidth: true
            visible: text.length > 0
            text: control.message
            color: "red"
            wrapMode: Text.Wrap
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
