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
    // What the content edits (its ViewEditor); null while it is down.
    readonly property var editor: loader.item ? loader.item.editor : null
    // Why the last Ok, or loading a view, was refused, shown above the buttons.
    readonly property string message: editor ? editor.message : ""

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
        loader.setSource("qrc:/ElementDefish.qml", { "objectInstance": control.objectInstance })
        if (startView.length > 0 && editor)
            editor.loadView(startView, startAsCopy)
    }

    // Takes the content down; its video items stay with the window until its render thread is done with them.
    function unloadContent() {
        if (loader.item)
            loader.item.releaseVideoItems()
        loader.source = ""
    }

    function handleHide() {
        confirmSwitch.close()
        unloadContent()
        startView = ""
        startAsCopy = false
    }

    // Stores the view and, with it, the lens and mount the window shows into the stream; false keeps the
    // window open and changes nothing (the editor's message says why).
    function storeView() {
        console.assert(editor, "storeView: no content")
        return editor !== null && editor.store()
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
        unloadContent()
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
            text: (control.editor && control.editor.editedName.length > 0
                   ? qsTr("Editing view “%1”").arg(control.editor.editedName)
                   : qsTr("New view")) + I18n.localeNotify
        }

        Loader {
            id: loader
            objectName: "loaderDefish"
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        Connections {
            target: loader.item
            ignoreUnknownSignals: true
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
                // Where the view is gone, the editor says so.
                if (loader.item)
                    loader.item.switchTo(viewName)
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
