import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import korvu.converter 1.0
import org.freedesktop.gstreamer.GLVideoItem 1.0
import Qt.labs.platform 1.1 as Platform

// Content of the defish window: one producer for the stream and one consumer on it that draws
// both panes from one upload of each frame: the raw picture under the overlay and the dewarped one.
//
//   prod ── consDefished ──┬── videoWidgetSource   (raw, with DewrapArea, the stored views' outlines and guides)
//                          └── videoWidgetDefished (the defish shader's view)
//
// What it edits, and the rules it edits by, are its ViewEditor's; the controls below the panes are
// DefishControls.
Item {
    id: control
    objectName: "elementDefish"

    property var objectInstance: null
    // What the window edits and the rules it edits by: the stream's lens, the view and Ok (store()).
    readonly property alias editor: viewEditor
    // The stored view of the stream that Ok updates; empty while the window makes a new one.
    readonly property string editedName: viewEditor.editedName
    readonly property string mode: viewEditor.mode
    // The lens in whole video pixels, as Ok stores it.
    readonly property int centerX: viewEditor.lens.centerX
    readonly property int centerY: viewEditor.lens.centerY
    readonly property int radius: viewEditor.lens.radius
    readonly property bool isPanorama: viewEditor.isPanorama
    // Until the producer knows the frame size the lens in pixels is the stream's own (0 for none).
    readonly property bool videoSizeKnown: localProps.width > 0 && localProps.height > 0

    ViewEditor {
        id: viewEditor
        objectName: "viewEditor"
        stream: control.objectInstance
        onEditStateChanged: {
            tmrSettle.restart()
            control.updateParams()
        }
        // A loaded view starts the history afresh.
        onViewLoaded: control.startHistory()
    }

    // The view's camera angles ({"roll", "tilt", "pan"}): what the shader draws and Ok stores.
    function cameraAngles() {
        return viewEditor.cameraAngles()
    }

    // The lens placed once the frame size is known is where the history starts: no step of the operator's.
    onVideoSizeKnownChanged: {
        if (viewEditor.lensPlaced || !videoSizeKnown)
            return
        viewEditor.placeLens(localProps.width, localProps.height)
        startHistory()
    }

    // Sends the camera and view to the shader; called on every change of the view or the lens and
    // when the dewarped picture starts playing.
    function updateParams() {
        var w = prod.videoInfo.width
        var h = prod.videoInfo.height
        // What was set before the first frame (a stored view loaded on opening) reaches the shader
        // when the dewarped picture starts playing.
        if (!(w > 0 && h > 0))
            return
        consDefished.setUniforms(Utils.uniforms(viewEditor.lens, viewEditor.cameraAim(), w, h,
                                                localProps.servedRatio))
    }

    // Undo and redo step through what the operator set: the aim, the panorama's band, the quad's quarters,
    // the mode, the lens and the mount (not the name: its field keeps its own). A change is one step once
    // it settles: nothing held (a slider, a pane) and nothing changed for a moment, so that a whole drag
    // is one step. Loading a view starts the history afresh.
    readonly property bool handsOn: controls.pressed || maSource.pressed || maDefished.pressed
    readonly property alias canUndo: history.canUndo
    readonly property alias canRedo: history.canRedo
    // What changed before a press is a step of its own, and a drag is one once released.
    onHandsOnChanged: settle()

    EditHistory {
        id: history
    }

    Timer {
        id: tmrSettle
        interval: 400
        onTriggered: {
            if (control.handsOn)
                restart()
            else
                history.record(viewEditor.editState)
        }
    }

    function settle() {
        tmrSettle.stop()
        history.record(viewEditor.editState)
    }

    function startHistory() {
        tmrSettle.stop()
        history.reset(viewEditor.editState)
    }

    function undo() {
        settle()
        var state = history.undo()
        if (state.mode !== undefined)
            viewEditor.restoreEditState(state)
    }

    function redo() {
        settle()
        var state = history.redo()
        if (state.mode !== undefined)
            viewEditor.restoreEditState(state)
    }

    Shortcut {
        sequences: [StandardKey.Undo]
        onActivated: control.undo()
    }
    Shortcut {
        sequences: ["Ctrl+Shift+Z", "Ctrl+Y"]
        onActivated: control.redo()
    }

    // Asks (through the window) before another view replaces unsaved changes to this one.
    signal switchRequested(string viewName)

    // Loads the stream's stored view name for editing; false, with the editor's message, where it is gone.
    function switchTo(viewName) {
        return viewEditor.loadView(viewName, false)
    }

    // Aiming by hand on both panes, through the lens model behind the overlay (dewrapArea).
    PaneAiming {
        id: aiming
        editor: viewEditor
        area: dewrapArea
    }

    // Selects the stored view whose outline (or name tag) lies under pane point (x, y); false where
    // none does.
    function selectOutlineAt(x, y) {
        var best = null
        var bestDistance = Infinity
        for (var i = 0; i < rptOutlines.count; ++i) {
            var outline = rptOutlines.itemAt(i)
            if (!outline)
                continue
            var d = outline.hitDistance(x, y)
            if (d <= aiming.outlineReach && d < bestDistance) {
                best = outline
                bestDistance = d
            }
        }
        if (!best)
            return false
        if (best.viewName === editedName)
            return true
        if (viewEditor.isModified()) {
            switchRequested(best.viewName)
            return true
        }
        return switchTo(best.viewName)
    }

    // The outcome of "Fit lens" or a snapshot, below the pictures.
    function showMessage(text, failed) {
        lblMessage.text = text
        lblMessage.failed = failed
    }

    // Saves the dewarped picture at the frame size the shader draws it.
    function saveSnapshot(path) {
        var saved = consDefished.saveSnapshot(path)
        if (saved.error !== undefined)
            showMessage(qsTr("Snapshot not saved: %1").arg(saved.error), true)
        else
            showMessage(qsTr("Snapshot saved to %1").arg(saved.path), false)
    }

    Component.onCompleted: {
        console.assert(objectInstance, "ElementDefish: no stream object")
        if (videoSizeKnown)
            viewEditor.placeLens(localProps.width, localProps.height)
        startHistory()
    }

    // Called before the content goes: the window's render thread may still have set-up work for the video
    // items, which reaches them.
    function releaseVideoItems() {
        Utils.keepVideoItemUntilSynchronised(videoWidgetSource)
        Utils.keepVideoItemUntilSynchronised(videoWidgetDefished)
    }

    Component.onDestruction: {
        tmrPlay.stop()
        // The consumer stops before its producer.
        if (consDefished.state !== Consumer.Null)
            consDefished.stop()
        if (prod.state !== Producer.Null)
            prod.stop()
    }

    // Over a pane: why it shows no picture, or no live one (black while the producer retries, the last
    // frame once the source stopped).
    component PaneNotice: Label {
        anchors.centerIn: parent
        width: parent.width - 2 * Config.theme.defaultMargin
        visible: text.length > 0
        color: "red"
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        padding: 4
        background: Rectangle {
            color: Config.theme.tagBackground
            radius: 3
        }
    }

    // The frame and the lens on it.
    QtObject {
        id: localProps

        // The lens as shares of the frame, for the guides: from the sliders until the lens is placed.
        property real shareX: viewEditor.lensPlaced ? viewEditor.lens.centerX / width : controls.shareX
        property real shareY: viewEditor.lensPlaced ? viewEditor.lens.centerY / height : controls.shareY
        property real shareRadius: viewEditor.lensPlaced ? viewEditor.lens.radius / width : controls.shareRadius

        property int width: {
            console.assert(prod.videoInfo, "no video info")
            return prod.videoInfo.width
        }
        property int height: {
            console.assert(prod.videoInfo, "no video info")
            return prod.videoInfo.height
        }
        property real ratio: height === 0 ? 1 : width / height
        // The size and shape views of the mode are served at.
        readonly property size served: Utils.servedSize(viewEditor.mode)
        readonly property real servedRatio: served.width / served.height
    }

    Producer {
        id: prod
        objectName: "prod"
        // Read property by property, so that a ZeroMQ port learnt later rebuilds the source.
        source: control.objectInstance ? Utils.sourceAddress(control.objectInstance.url, control.objectInstance.host,
                                                             control.objectInstance.zmqPort)
                                       : "testvideo:"
    }

    Consumer {
        id: consDefished
        objectName: "consDefished"
        name: "Defished"
        producer: prod
        widget: videoWidgetDefished
        rawWidget: videoWidgetSource
        pictureSize: localProps.served
        useShader: true
        shader: Utils.defishShader()
        onStateChanged: {
            if (state === Consumer.Playing)
                updateParams()
        }
    }

    // "Fit lens": the lens circle found in the live video moves the three lens sliders; when none is
    // found they stay and the message says why.
    LensFitter {
        id: lensFitter
        objectName: "lensFitter"
        producer: prod
        onFitted: {
            viewEditor.setLensShares(centerX / 100, centerY / 100, radius / 100, localProps.width, localProps.height)
            showMessage(message, false)
        }
        onFailed: showMessage(message, true)
    }

    Platform.FileDialog {
        id: dlgSnapshot
        objectName: "dlgSnapshot"
        title: qsTr("Save the dewarped picture") + I18n.localeNotify
        fileMode: Platform.FileDialog.SaveFile
        defaultSuffix: "png"
        nameFilters: [qsTr("PNG pictures (*.png)") + I18n.localeNotify]
        onAccepted: saveSnapshot(file.toString())
    }

    // Starts the pipelines once the window and its scene graph are up.
    Timer {
        id: tmrPlay
        interval: 500
        repeat: false
        running: true
        onTriggered: {
            prod.start()
            consDefished.start()
        }
    }

    ColumnLayout {
        anchors.fill: parent

        RowLayout {
            Layout.fillWidth: true

            Label {
                text: qsTr("Graphics") + I18n.localeNotify
                Layout.fillWidth: true
            }
            // The dewarped pane and the snapshot show the view as the server streams it.
            Label {
                id: lblServedSize
                objectName: "lblServedSize"
                text: qsTr("Served at %1×%2").arg(localProps.served.width).arg(localProps.served.height)
                      + I18n.localeNotify
            }
        }

        RowLayout {
            Layout.fillWidth: true

            Rectangle {
                id: rcSourcePane
                objectName: "rcSourcePane"
                // The lens circle and the outline may reach past the frame.
                clip: true
                // The layout leaves an item without any size hint at 0x0, so the
                // pane needs an implicit width before it can fill the row.
                implicitWidth: 100
                Layout.fillWidth: true
                Layout.preferredHeight: width / localProps.ratio
                border.width: 1
                border.color: "green"

                GstGLVideoItem {
                    id: videoWidgetSource
                    objectName: "videoWidgetSource"
                    anchors.fill: parent
                }

                // Every stored view of the stream, each in its colour and with its name; the one being
                // edited stands out. Drawn with the lens of the overlay below, on the stored values.
                StreamViews {
                    id: storedViews
                    objectSerial: control.objectInstance ? control.objectInstance.serial : ""
                }

                Repeater {
                    id: rptOutlines
                    model: storedViews

                    delegate: DewrapArea {
                        id: outline
                        objectName: "viewOutline"
                        readonly property string viewName: model.viewName
                        readonly property bool highlighted: viewName === control.editedName
                        anchors.fill: parent
                        vidWidth: dewrapArea.vidWidth
                        vidHeight: dewrapArea.vidHeight
                        // A panorama's layout is in room angles, a perspective view's angles are the camera's.
                        lens: Utils.lens(viewEditor.lens.centerX, viewEditor.lens.centerY, viewEditor.lens.radius,
                                         viewEditor.lens.fov,
                                         model.viewMode === "perspective" ? "wall" : viewEditor.lens.mount,
                                         viewEditor.lens.projection)
                        viewAim: Utils.aim(model.viewRoll, model.viewTilt, model.viewPan, model.viewZoom,
                                           model.viewMode, model.viewLayout)
                        ratio: localProps.servedRatio
                        color: Config.theme.viewColor(index)
                        lineWidth: highlighted ? 4 : 1.5
                        arrowVisible: false

                        // Distance from pane point (x, y) to the outline, 0 on the name tag.
                        function hitDistance(x, y) {
                            if (tag.visible && x >= tag.x && x <= tag.x + tag.width && y >= tag.y
                                    && y <= tag.y + tag.height)
                                return 0
                            return distanceToOutline(x, y)
                        }

                        Rectangle {
                            id: tag
                            objectName: "viewTag"
                            visible: outline.vidWidth > 0 && !isNaN(outline.viewCentre.x)
                            x: outline.viewCentre.x * outline.width - width / 2
                            y: outline.viewCentre.y * outline.height - height / 2
                            width: lblTag.implicitWidth + 6
                            height: lblTag.implicitHeight + 2
                            radius: 3
                            color: Config.theme.tagBackground
                            border.width: outline.highlighted ? 2 : 1
                            border.color: outline.color

                            Label {
                                id: lblTag
                                anchors.centerIn: parent
                                text: outline.viewName
                                color: outline.color
                                font.bold: outline.highlighted
                            }
                        }
                    }
                }

                DewrapArea {
                    id: dewrapArea
                    objectName: "dewrapArea"
                    anchors.fill: parent
                    vidWidth: prod.videoInfo.width
                    vidHeight: prod.videoInfo.height
                    // The lens Ok stores, in video pixels, and the view on the sliders in room angles.
                    lens: viewEditor.lens
                    viewAim: Utils.aim(viewEditor.roll, viewEditor.tilt, viewEditor.pan, viewEditor.zoom,
                                       viewEditor.mode, viewEditor.layout)
                    // The arrow belongs to the view on the sliders; a panorama has none.
                    arrowVisible: !control.isPanorama
                    ratio: localProps.servedRatio
                }

                Rectangle {
                    id: rcVert
                    objectName: "rcVert"
                    width: 1
                    height: parent.height
                    x: localProps.shareX * parent.width
                    color: "yellow"
                }

                // Measured from the bottom of the pane.
                Rectangle {
                    id: rcHorz
                    objectName: "rcHorz"
                    width: parent.width
                    height: 1
                    y: (1 - localProps.shareY) * parent.height
                    color: "yellow"
                }

                // The lens circle: the radius slider gives its radius, so twice that across.
                Rectangle {
                    id: rcRadius
                    objectName: "rcRadius"
                    width: 2 * localProps.shareRadius * parent.width
                    height: width
                    radius: width / 2
                    x: rcVert.x - width / 2
                    y: rcHorz.y - height / 2
                    color: "transparent"
                    border.width: 1
                    border.color: "yellow"
                }

                PaneNotice {
                    id: lblSourceError
                    objectName: "lblSourceError"
                    text: prod.errorText
                }

                // A click on a stored view's outline or name selects it for editing; a double click
                // inside the lens circle brings that point to the centre of the view. A drag that starts
                // on the outline of the view being aimed, or inside it, moves that view: what was grabbed
                // follows the pointer (a panorama turns).
                MouseArea {
                    id: maSource
                    objectName: "maSource"
                    anchors.fill: parent
                    cursorShape: dragging ? Qt.ClosedHandCursor : Qt.ArrowCursor
                    property var grab: null
                    property point pressedAt
                    property bool dragging: false
                    onPressed: {
                        dragging = false
                        pressedAt = Qt.point(mouse.x, mouse.y)
                        grab = aiming.grabRawAt(mouse.x / width, mouse.y / height)
                    }
                    onPositionChanged: {
                        if (!grab || (!dragging && Math.hypot(mouse.x - pressedAt.x, mouse.y - pressedAt.y)
                                      < Qt.styleHints.startDragDistance))
                            return
                        dragging = true
                        aiming.dragRawTo(grab, mouse.x / width, mouse.y / height)
                    }
                    onReleased: grab = null
                    onClicked: {
                        if (!dragging)
                            control.selectOutlineAt(mouse.x, mouse.y)
                    }
                    onDoubleClicked: aiming.centreOn(mouse.x / width, mouse.y / height)
                }
            }

            Rectangle {
                id: rcDefishedPane
                objectName: "rcDefishedPane"
                // The layout leaves an item without any size hint at 0x0, so the
                // pane needs an implicit width before it can fill the row.
                implicitWidth: 100
                Layout.fillWidth: true
                Layout.preferredHeight: width / localProps.servedRatio
                border.width: 1
                border.color: "green"

                GstGLVideoItem {
                    id: videoWidgetDefished
                    objectName: "videoWidgetDefished"
                    anchors.fill: parent
                }

                PaneNotice {
                    id: lblVideoError
                    objectName: "lblVideoError"
                    text: prod.errorText
                }

                // Dragging moves the picture with the pointer: the fisheye point grabbed stays under it.
                MouseArea {
                    id: maDefished
                    objectName: "maDefished"
                    anchors.fill: parent
                    activeFocusOnTab: true
                    cursorShape: pressed ? Qt.ClosedHandCursor : Qt.OpenHandCursor
                    property var grab: null
                    onPressed: {
                        forceActiveFocus()
                        grab = aiming.grabViewAt(mouse.x / width, mouse.y / height)
                    }
                    // What the last press grabbed; the next one replaces it.
                    onPositionChanged: {
                        if (pressed)
                            aiming.dragViewTo(grab, mouse.x / width, mouse.y / height)
                    }
                    onWheel: aiming.zoomAbout(wheel.angleDelta.y / 120, wheel.x / width, wheel.y / height)
                    Keys.onPressed: event.accepted = aiming.handleKey(event.key, event.modifiers)
                }
            }
        }

        // How many video pixels stand behind one pixel of the served view at its centre and, at worst,
        // on its edges: green from 1 (the source holds every served pixel), amber down to a third
        // (magnified up to three times, soft), red below.
        Label {
            id: lblDensity
            objectName: "lblDensity"
            Layout.fillWidth: true
            property real centre: densityAt([[0.5, 0.5]])
            property real edges: densityAt([[0, 0.5], [1, 0.5], [0.5, 0], [0.5, 1], [0, 0], [1, 0], [0, 1], [1, 1]])
            readonly property string grade: centre >= 1.0 ? "sharp" : centre >= 1.0 / 3 ? "soft" : "blurred"
            function densityAt(points) {
                // Named so that the binding follows every change of the lens or the view.
                var changes = [dewrapArea.width, dewrapArea.height, dewrapArea.lens, dewrapArea.viewAim]
                var least = Infinity
                for (var i = 0; i < points.length; ++i)
                    least = Math.min(least, dewrapArea.sourcePixelsPerViewPixel(points[i][0], points[i][1],
                                                                                localProps.served.width))
                return changes.length > 0 && isFinite(least) ? least : 0
            }
            visible: videoSizeKnown && !control.isPanorama
            color: grade === "sharp" ? "green" : grade === "soft" ? "#b86e00" : "red"
            text: qsTr("Source pixels per view pixel: %1 at the centre, %2 at the edges")
                  .arg(centre.toFixed(2)).arg(edges.toFixed(2)) + I18n.localeNotify
        }

        RowLayout {
            Layout.fillWidth: true

            Button {
                id: btnFitLens
                objectName: "btnFitLens"
                text: qsTr("Fit lens") + I18n.localeNotify
                enabled: videoSizeKnown && !lensFitter.busy
                onClicked: lensFitter.start()
            }
            Button {
                id: btnSnapshot
                objectName: "btnSnapshot"
                text: qsTr("Snapshot") + I18n.localeNotify
                enabled: consDefished.state === Consumer.Playing
                onClicked: saveSnapshot(consDefished.defaultSnapshotPath())
            }
            Button {
                id: btnSnapshotAs
                objectName: "btnSnapshotAs"
                text: qsTr("Snapshot as...") + I18n.localeNotify
                enabled: consDefished.state === Consumer.Playing
                onClicked: {
                    var path = consDefished.defaultSnapshotPath()
                    dlgSnapshot.currentFile = "file://" + path
                    dlgSnapshot.open()
                    // Without a file dialog of the desktop's (or Qt Widgets) the dialog stays shut.
                    if (!dlgSnapshot.visible) {
                        var folder = path.substring(0, path.lastIndexOf("/"))
                        console.log("No file dialog available for snapshots")
                        showMessage(qsTr("This desktop offers no file dialog: \"Snapshot\" saves into %1")
                                    .arg(folder), true)
                    }
                }
            }
            Label {
                id: lblMessage
                objectName: "lblMessage"
                property bool failed: false
                Layout.fillWidth: true
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                color: failed ? "red" : palette.windowText
            }
        }

        DefishControls {
            id: controls
            Layout.fillWidth: true
            Layout.fillHeight: true
            editor: viewEditor
            frameWidth: localProps.width
            frameHeight: localProps.height
        }
    }
}
