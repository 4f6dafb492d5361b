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
Item {
    id: control
    objectName: "elementDefish"

    property var objectInstance: null
    // The stored view of the stream that Ok updates; empty while the window makes a new one.
    property string editedName: ""

    // The view in room angles of the mount (for a wall camera, the camera's own); cameraAngles() gives
    // what is stored.
    property alias roll: sldRoll.value
    property alias tilt: sldTilt.value
    property alias pan: sldPan.value
    property alias zoom: sldZoom.value
    property alias name: txtName.text
    // The lens in whole video pixels, as Ok stores it.
    property alias centerX: localProps.centerX
    property alias centerY: localProps.centerY
    property alias radius: localProps.radius
    property alias fov: sldFOV.value
    // How the camera hangs: "wall", "ceiling" or "floor"; the stream's, until the operator picks another.
    property string mount: "wall"
    // The lens projection, the stream's until the operator picks another.
    property string projection: "equidistant"
    // What the view shows: "perspective", "panorama", "double-panorama", "quad" or "half-panorama".
    property string mode: "perspective"
    // A quad's four views in room angles ({"roll", "tilt", "pan", "zoom"}); the one at quadIndex is on the
    // Roll, Tilt, Pan and Zoom sliders.
    property var quadAims: [{ "roll": 0, "tilt": 20, "pan": -45, "zoom": 70 }, { "roll": 0, "tilt": 20, "pan": 45, "zoom": 70 },
                            { "roll": 0, "tilt": -20, "pan": -135, "zoom": 70 }, { "roll": 0, "tilt": -20, "pan": 135, "zoom": 70 }]
    property int quadIndex: 0
    readonly property bool isPanorama: mode === "panorama" || mode === "double-panorama" || mode === "half-panorama"
    // Until the producer knows the frame size the lens in pixels is the stream's own (0 for none).
    readonly property bool videoSizeKnown: localProps.width > 0 && localProps.height > 0
    // Whether the window holds a lens of its own yet: the stream's, or the defaults for a stream
    // without one, placed once the frame size is known.
    readonly property bool lensPlaced: localProps.placed

    // The view's camera angles ({"roll", "tilt", "pan"}): what the shader draws and Ok stores.
    function cameraAngles() {
        return Utils.cameraAngles(mount, sldRoll.value, sldTilt.value, sldPan.value)
    }

    // The quad's views in room angles, the one on the sliders as they stand.
    function currentQuad() {
        var quad = []
        for (var i = 0; i < 4; ++i) {
            quad.push(i === quadIndex ? { "roll": sldRoll.value, "tilt": sldTilt.value, "pan": sldPan.value,
                                          "zoom": sldZoom.value }
                                      : quadAims[i])
        }
        return quad
    }

    // The picture's layout as stored (LayoutCodec's map): the panorama's azimuth and elevations, the quad's
    // views in camera angles.
    function layoutMap() {
        var quad = currentQuad()
        var stored = []
        for (var i = 0; i < 4; ++i) {
            var camera = Utils.cameraAngles(mount, quad[i].roll, quad[i].tilt, quad[i].pan)
            stored.push({ "roll": camera.roll, "tilt": camera.tilt, "pan": camera.pan, "zoom": quad[i].zoom })
        }
        return { "azimuth": sldAzimuth.value, "upper": sldUpper.value, "lower": sldLower.value, "quad": stored }
    }

    // Another quarter of a quad onto the sliders; the one there keeps what it was given.
    function selectQuarter(index) {
        if (index === quadIndex)
            return
        var quad = currentQuad()
        quadAims = quad
        quadIndex = index
        sldRoll.value = quad[index].roll
        sldTilt.value = quad[index].tilt
        sldPan.value = quad[index].pan
        sldZoom.value = quad[index].zoom
    }

    // A panorama's band where the mount's camera sees the room: from the horizon to near the lens axis for
    // a camera looking down or up, about the horizon for one on a wall.
    function placeBand() {
        sldUpper.value = mount === "ceiling" ? 0 : mount === "floor" ? 70 : 45
        sldLower.value = mount === "ceiling" ? -70 : mount === "floor" ? 0 : -45
    }

    // Another mode; a panorama's band starts where the mount's camera sees the room.
    function setMode(newMode) {
        if (newMode === mode)
            return
        var wasPanorama = isPanorama
        if (newMode === "quad") {
            // Four directions a quarter turn apart, where the mount's camera sees the room.
            var tilt = mount === "ceiling" ? -35 : mount === "floor" ? 35 : 0
            var pans = mount === "wall" ? [-60, -20, 20, 60] : [-135, -45, 45, 135]
            var quad = []
            for (var i = 0; i < 4; ++i)
                quad.push({ "roll": 0, "tilt": tilt, "pan": pans[i], "zoom": 70 })
            quadAims = quad
            quadIndex = 0
            sldRoll.value = quad[0].roll
            sldTilt.value = quad[0].tilt
            sldPan.value = quad[0].pan
            sldZoom.value = quad[0].zoom
        }
        mode = newMode
        if (isPanorama && !wasPanorama)
            placeBand()
        updateParams()
    }

    // Another mount keeps where the view looks and levels its horizon for the new mount.
    function setMount(newMount) {
        if (newMount === mount)
            return
        var camera = cameraAngles()
        mount = newMount
        if (isPanorama)
            placeBand()
        var room = Utils.roomAngles(mount, camera.roll, camera.tilt, camera.pan)
        sldRoll.value = 0
        sldTilt.value = room.tilt
        sldPan.value = room.pan
    }

    // Puts a lens in video pixels into the window; the sliders show it as shares of the frame, and
    // their range never changes it.
    function placeLens(centerX, centerY, radius) {
        localProps.placing = true
        localProps.centerX = centerX
        localProps.centerY = centerY
        localProps.radius = radius
        sldCenterX.value = centerX / localProps.width * 100
        sldCenterY.value = centerY / localProps.height * 100
        sldRadius.value = radius / localProps.width * 100
        localProps.placing = false
        localProps.placed = true
        updateParams()
    }

    // Once the frame size is known: the stream's stored lens, or the defaults for a stream without one
    // (centre in the middle, radius half the frame's width).
    function placeStreamLens() {
        if (localProps.placed || !videoSizeKnown)
            return
        var obj = objectInstance
        if (obj && obj.radius > 0)
            placeLens(obj.centerX, obj.centerY, obj.radius)
        else
            placeLens(Utils.lensPixels(localProps.width * 0.5), Utils.lensPixels(localProps.height * 0.5),
                      Utils.lensPixels(localProps.width * 0.5))
    }

    // A lens slider moved by hand, by a typed value or by "Fit lens": the lens in pixels follows it.
    function lensSliderMoved(slider) {
        if (localProps.placing || !localProps.placed)
            return
        if (slider === sldCenterX)
            localProps.centerX = Utils.lensPixels(slider.value / 100 * localProps.width)
        else if (slider === sldCenterY)
            localProps.centerY = Utils.lensPixels(slider.value / 100 * localProps.height)
        else
            localProps.radius = Utils.lensPixels(slider.value / 100 * localProps.width)
        updateParams()
    }

    // The lens placed once the frame size is known is where the history starts: no step of the operator's.
    onVideoSizeKnownChanged: {
        if (localProps.placed || !videoSizeKnown)
            return
        placeStreamLens()
        startHistory()
    }

    // Sends the camera and view to the shader; called on every slider move and
    // when the dewarped picture starts playing.
    function updateParams() {
        var w = prod.videoInfo.width
        var h = prod.videoInfo.height
        // Sliders set before the first frame (a stored view loaded on opening) reach the shader
        // when the dewarped picture starts playing.
        if (!(w > 0 && h > 0))
            return
        var camera = cameraAngles()
        var lens = Utils.lens(localProps.centerX, localProps.centerY, localProps.radius, sldFOV.value, mount,
                              projection)
        var aim = Utils.aim(camera.roll, camera.tilt, camera.pan, sldZoom.value, mode, layoutMap())
        consDefished.setUniforms(Utils.uniforms(lens, aim, w, h, localProps.servedRatio))
    }

    // Puts a stored view's values ({"roll", "tilt", "pan", "zoom"}, camera angles) and name into the
    // window; with editing, Ok updates that view.
    function loadView(name, values, editing) {
        var layout = values.layout || {}
        if (layout.azimuth !== undefined) {
            sldAzimuth.value = layout.azimuth
            sldUpper.value = layout.upper
            sldLower.value = layout.lower
        }
        if (layout.quad !== undefined) {
            var quad = []
            for (var i = 0; i < 4; ++i) {
                var q = layout.quad[i]
                var r = Utils.roomAngles(mount, q.roll, q.tilt, q.pan)
                quad.push({ "roll": r.roll, "tilt": r.tilt, "pan": r.pan, "zoom": q.zoom })
            }
            quadAims = quad
            quadIndex = 0
        }
        mode = values.mode || "perspective"
        if (mode === "quad")
            values = quadAims[0]
        var room = mode === "quad" ? values : Utils.roomAngles(mount, values.roll, values.tilt, values.pan)
        sldRoll.value = room.roll
        sldTilt.value = room.tilt
        sldPan.value = room.pan
        sldZoom.value = values.zoom
        txtName.text = name
        editedName = editing ? name : ""
        markUnmodified()
        startHistory()
    }

    // The aim, zoom and name as loaded (or as the window opened); the lens and mount belong to the
    // stream and stay when another view is loaded.
    property var loaded: ({})
    function viewState() {
        return { "roll": sldRoll.value, "tilt": sldTilt.value, "pan": sldPan.value, "zoom": sldZoom.value,
                 "name": txtName.text, "mode": mode, "layout": JSON.stringify(layoutMap()) }
    }
    function markUnmodified() {
        loaded = viewState()
    }
    // Whether loading another view would lose what the operator did to this one.
    function isModified() {
        var now = viewState()
        for (var key in now) {
            var was = loaded[key]
            if (typeof now[key] === "number" ? !(Math.abs(now[key] - was) < 1e-6) : now[key] !== was)
                return true
        }
        return false
    }

    // Undo and redo step through what the operator set: the aim, the panorama's band, the quad's quarters,
    // the mode, the lens and the mount (not the name: its field keeps its own). A change is one step once
    // it settles: nothing held (a slider, a pane) and nothing changed for a moment, so that a whole drag
    // is one step. Loading a view starts the history afresh.
    readonly property var editState: ({
        "mount": mount, "mode": mode, "projection": projection,
        "roll": sldRoll.value, "tilt": sldTilt.value, "pan": sldPan.value, "zoom": sldZoom.value,
        "azimuth": sldAzimuth.value, "upper": sldUpper.value, "lower": sldLower.value,
        "quadAims": quadAims, "quadIndex": quadIndex, "fov": sldFOV.value, "lensPlaced": localProps.placed,
        "centerX": localProps.centerX, "centerY": localProps.centerY, "radius": localProps.radius
    })
    readonly property bool handsOn: sldRoll.pressed || sldTilt.pressed || sldPan.pressed || sldZoom.pressed
                                    || sldAzimuth.pressed || sldUpper.pressed || sldLower.pressed
                                    || sldCenterX.pressed || sldCenterY.pressed || sldRadius.pressed
                                    || sldFOV.pressed || maSource.pressed || maDefished.pressed
    readonly property alias canUndo: history.canUndo
    readonly property alias canRedo: history.canRedo
    onEditStateChanged: tmrSettle.restart()
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
                history.record(control.editState)
        }
    }

    function settle() {
        tmrSettle.stop()
        history.record(editState)
    }

    function startHistory() {
        tmrSettle.stop()
        history.reset(editState)
    }

    function undo() {
        settle()
        var state = history.undo()
        if (state.mode !== undefined)
            applyEditState(state)
    }

    function redo() {
        settle()
        var state = history.redo()
        if (state.mode !== undefined)
            applyEditState(state)
    }

    // Puts a recorded state back as it was, without the side effects setMode() and setMount() have.
    function applyEditState(state) {
        mount = state.mount
        projection = state.projection
        quadAims = state.quadAims
        quadIndex = state.quadIndex
        mode = state.mode
        sldRoll.value = state.roll
        sldTilt.value = state.tilt
        sldPan.value = state.pan
        sldZoom.value = state.zoom
        sldAzimuth.value = state.azimuth
        sldUpper.value = state.upper
        sldLower.value = state.lower
        sldFOV.value = state.fov
        if (state.lensPlaced && localProps.placed)
            placeLens(state.centerX, state.centerY, state.radius)
        updateParams()
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

    // Loads the stream's stored view name for editing; false where it is gone.
    function switchTo(viewName) {
        var values = RepoObjViews.viewOf(objectInstance.serial, viewName)
        if (values.name === undefined)
            return false
        loadView(values.name, values, true)
        return true
    }

    // Selects the stored view whose outline (or name tag) lies under pane point (x, y); false where
    // none does.
    // How near, in pane pixels, a press must come to an outline to take it.
    readonly property real outlineReach: 6
    function selectOutlineAt(x, y) {
        var reach = outlineReach
        var best = null
        var bestDistance = Infinity
        for (var i = 0; i < rptOutlines.count; ++i) {
            var outline = rptOutlines.itemAt(i)
            if (!outline)
                continue
            var d = outline.hitDistance(x, y)
            if (d <= reach && d < bestDistance) {
                best = outline
                bestDistance = d
            }
        }
        if (!best)
            return false
        if (best.viewName === editedName)
            return true
        if (isModified()) {
            switchRequested(best.viewName)
            return true
        }
        return switchTo(best.viewName)
    }

    // Aiming by hand. The pan and tilt come from the lens model behind the overlay (dewrapArea),
    // so the dewarped picture, the outline and the pointer agree.

    // Turns the view so that fisheye position (x, y) shows at view point (u, v), both normalised;
    // false where no pan and tilt do.
    function aimAt(x, y, u, v) {
        var turned = dewrapArea.aim(x, y, u, v)
        if (turned.pan === undefined)
            return false
        sldPan.value = turned.pan
        sldTilt.value = turned.tilt
        return true
    }

    // An angle in degrees brought within -180 to 180.
    function wrapDegrees(angle) {
        return ((angle % 360) + 540) % 360 - 180
    }

    // The room direction ({"azimuth", "elevation"}, degrees) the lens sees at fisheye position (x, y),
    // normalised; null where none.
    function roomDirection(x, y) {
        var turned = dewrapArea.aim(x, y, 0.5, 0.5)
        if (turned.pan === undefined)
            return null
        // Of the two pan and tilt pairs that look that way, the one with the tilt within -90 to 90.
        if (Math.abs(turned.tilt) <= 90)
            return { "azimuth": turned.pan, "elevation": turned.tilt }
        return { "azimuth": wrapDegrees(turned.pan + 180), "elevation": (turned.tilt > 0 ? 180 : -180) - turned.tilt }
    }

    // What a press on the raw pane at fisheye position (x, y), normalised, grabs of the view being aimed,
    // on its outline or inside it: the view point there ({"u", "v"}) or, for a panorama, the room
    // azimuth there and the band's azimuth then ({"azimuth", "start"}); null where it grabs nothing.
    function grabViewAt(x, y) {
        var onOutline = dewrapArea.distanceToOutline(x * dewrapArea.width, y * dewrapArea.height) <= outlineReach
        if (isPanorama) {
            var under = roomDirection(x, y)
            if (!under)
                return null
            var inside = under.elevation >= sldLower.value && under.elevation <= sldUpper.value
                         && (mode !== "half-panorama" || wrapDegrees(under.azimuth - sldAzimuth.value) >= 0)
            return inside || onOutline ? { "azimuth": under.azimuth, "start": sldAzimuth.value } : null
        }
        var uv = dewrapArea.mapFromFisheye(x, y)
        // A quad's other quarters are not on the sliders: only the one that is can be grabbed.
        var margin = 0.05
        if (isNaN(uv.x) || uv.x < -margin || uv.x > 1 + margin || uv.y < -margin || uv.y > 1 + margin)
            return null
        var within = uv.x >= 0 && uv.x <= 1 && uv.y >= 0 && uv.y <= 1
        return within || onOutline ? { "u": uv.x, "v": uv.y } : null
    }

    // Moves the view grabbed by grabViewAt() so that what was grabbed lies under fisheye position (x, y).
    function dragViewTo(grab, x, y) {
        if (grab.azimuth === undefined) {
            aimAt(x, y, grab.u, grab.v)
            return
        }
        var under = roomDirection(x, y)
        if (under)
            sldAzimuth.value = wrapDegrees(grab.start + under.azimuth - grab.azimuth)
    }

    // Narrows (notches > 0) or widens the view by a tenth per notch, within the zoom slider's range.
    function zoomBy(notches) {
        sldZoom.value = Math.max(sldZoom.from, Math.min(sldZoom.to, sldZoom.value * Math.pow(0.9, notches)))
    }

    // Zooms as zoomBy() does and turns the view so that what lay under view point (u, v), normalised,
    // stays there.
    function zoomAbout(notches, u, v) {
        var held = dewrapArea.mapToFisheye(u, v)
        zoomBy(notches)
        if (!isNaN(held.x))
            aimAt(held.x, held.y, u, v)
    }

    // Arrow keys turn by a degree (ten with Shift), + and - zoom.
    function handleAimKey(event) {
        var step = (event.modifiers & Qt.ShiftModifier) ? 10 : 1
        switch (event.key) {
        case Qt.Key_Left:
            sldPan.value -= step
            break
        case Qt.Key_Right:
            sldPan.value += step
            break
        case Qt.Key_Up:
            sldTilt.value += step
            break
        case Qt.Key_Down:
            sldTilt.value -= step
            break
        case Qt.Key_Plus:
        case Qt.Key_Equal:
            zoomBy(1)
            break
        case Qt.Key_Minus:
            zoomBy(-1)
            break
        default:
            return
        }
        event.accepted = true
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
        if (!objectInstance)
            return
        mount = objectInstance.mount
        projection = objectInstance.projection
        // A new view of a camera on the ceiling or the floor starts halfway between the horizon and the
        // lens axis, where the picture holds; a stored view loaded next replaces it.
        if (mount === "ceiling")
            sldTilt.value = -45
        else if (mount === "floor")
            sldTilt.value = 45
        placeBand()
        // The lens angle needs no frame size; the stream's is kept where it has a lens.
        if (objectInstance.radius > 0 && objectInstance.fov > 0)
            sldFOV.value = objectInstance.fov
        placeStreamLens()
        markUnmodified()
        startHistory()
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

    // Lens geometry in video pixels.
    QtObject {
        id: localProps

        // The lens in whole video pixels (placeLens, lensSliderMoved).
        property int centerX: control.objectInstance ? control.objectInstance.centerX : 0
        property int centerY: control.objectInstance ? control.objectInstance.centerY : 0
        property int radius: control.objectInstance ? control.objectInstance.radius : 0
        // Set while placeLens moves the sliders; placed once the window holds a lens of its own.
        property bool placing: false
        property bool placed: false
        // The lens as shares of the frame, for the overlay and the guides: from the sliders until the
        // lens is placed.
        property real shareX: placed ? centerX / width : sldCenterX.value / 100
        property real shareY: placed ? centerY / height : sldCenterY.value / 100
        property real shareRadius: placed ? radius / width : sldRadius.value / 100

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
        readonly property size served: Utils.servedSize(control.mode)
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
            sldCenterX.value = centerX
            sldCenterY.value = centerY
            sldRadius.value = radius
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
                        centerX: dewrapArea.centerX
                        centerY: dewrapArea.centerY
                        radius: dewrapArea.radius
                        fov: dewrapArea.fov
                        roll: model.viewRoll
                        tilt: model.viewTilt
                        pan: model.viewPan
                        zoom: model.viewZoom
                        // A panorama's layout is in room angles, a perspective view's angles are the camera's.
                        mount: model.viewMode === "perspective" ? "wall" : control.mount
                        lensProjection: control.projection
                        mode: model.viewMode
                        layout: model.viewLayout
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
                    centerX: localProps.shareX * width
                    centerY: localProps.shareY * height
                    radius: localProps.shareRadius * width
                    fov: sldFOV.value
                    mount: control.mount
                    lensProjection: control.projection
                    mode: control.mode
                    layout: control.layoutMap()
                    // The arrow belongs to the view on the sliders; a panorama has none.
                    arrowVisible: !control.isPanorama
                    ratio: localProps.servedRatio
                    roll: sldRoll.value
                    tilt: sldTilt.value
                    pan: sldPan.value
                    zoom: sldZoom.value
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
                        grab = control.grabViewAt(mouse.x / width, mouse.y / height)
                    }
                    onPositionChanged: {
                        if (!grab || (!dragging && Math.hypot(mouse.x - pressedAt.x, mouse.y - pressedAt.y)
                                      < Qt.styleHints.startDragDistance))
                            return
                        dragging = true
                        control.dragViewTo(grab, mouse.x / width, mouse.y / height)
                    }
                    onReleased: grab = null
                    onClicked: {
                        if (!dragging)
                            control.selectOutlineAt(mouse.x, mouse.y)
                    }
                    onDoubleClicked: {
                        var x = mouse.x / width
                        var y = mouse.y / height
                        if (!dewrapArea.isInsideLens(x, y)) {
                            console.log("Double click outside the lens circle ignored")
                            return
                        }
                        if (!control.aimAt(x, y, 0.5, 0.5))
                            console.log("No view reaches the clicked point")
                    }
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
                    property point grabbed: Qt.point(NaN, NaN)

                    property real lastX: 0
                    // The pointer in the view on the sliders: a quad's quarter has a unit square of its own.
                    function local(x, y) {
                        if (control.mode !== "quad")
                            return Qt.point(x / width, y / height)
                        return Qt.point(2 * x / width - control.quadIndex % 2,
                                        2 * y / height - Math.floor(control.quadIndex / 2))
                    }

                    onPressed: {
                        forceActiveFocus()
                        lastX = mouse.x
                        if (control.mode === "quad")
                            control.selectQuarter((mouse.x >= width / 2 ? 1 : 0) + (mouse.y >= height / 2 ? 2 : 0))
                        var p = local(mouse.x, mouse.y)
                        grabbed = control.isPanorama ? Qt.point(NaN, NaN) : dewrapArea.mapToFisheye(p.x, p.y)
                    }
                    onPositionChanged: {
                        if (!pressed)
                            return
                        if (control.isPanorama) {
                            // The room turns with the pointer.
                            var span = control.mode === "panorama" ? 360 : 180
                            sldAzimuth.value = control.wrapDegrees(sldAzimuth.value - (mouse.x - lastX) / width * span)
                            lastX = mouse.x
                        } else if (!isNaN(grabbed.x)) {
                            var p = local(mouse.x, mouse.y)
                            control.aimAt(grabbed.x, grabbed.y, p.x, p.y)
                        }
                    }
                    onWheel: {
                        if (control.isPanorama)
                            return
                        var p = local(wheel.x, wheel.y)
                        control.zoomAbout(wheel.angleDelta.y / 120, p.x, p.y)
                    }
                    Keys.onPressed: control.handleAimKey(event)
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
                var changes = [dewrapArea.width, dewrapArea.height, dewrapArea.centerX, dewrapArea.centerY,
                               dewrapArea.radius, dewrapArea.fov, dewrapArea.roll, dewrapArea.tilt,
                               dewrapArea.pan, dewrapArea.zoom]
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

        RowLayout {
            Layout.fillWidth: true

            Label {
                text: qsTr("Name") + I18n.localeNotify
            }
            TextField {
                id: txtName
                objectName: "txtName"
                Layout.fillWidth: true
            }
            Label {
                text: qsTr("Mode") + I18n.localeNotify
            }
            // One perspective view, a panorama of the ring around the camera, or four views in one picture.
            ComboBox {
                id: cbMode
                objectName: "cbMode"
                // Wide enough for the longest mode's name.
                Layout.preferredWidth: Math.max(implicitWidth, 200)
                textRole: "text"
                model: [{
                        "value": "perspective",
                        "text": qsTr("Perspective") + I18n.localeNotify
                    }, {
                        "value": "panorama",
                        "text": qsTr("360° panorama") + I18n.localeNotify
                    }, {
                        "value": "double-panorama",
                        "text": qsTr("Double 180° panorama") + I18n.localeNotify
                    }, {
                        "value": "quad",
                        "text": qsTr("Quad") + I18n.localeNotify
                    }, {
                        "value": "half-panorama",
                        "text": qsTr("180° panorama") + I18n.localeNotify
                    }]
                currentIndex: {
                    for (var i = 0; i < model.length; ++i) {
                        if (model[i].value === control.mode)
                            return i
                    }
                    return -1
                }
                onActivated: control.setMode(model[index].value)
            }
            Label {
                text: qsTr("Mount") + I18n.localeNotify
            }
            // Views stay upright for the way the camera hangs; the stored angles are the camera's.
            ComboBox {
                id: cbMount
                objectName: "cbMount"
                Layout.preferredWidth: implicitWidth
                textRole: "text"
                model: [{
                        "value": "ceiling",
                        "text": qsTr("Ceiling") + I18n.localeNotify
                    }, {
                        "value": "wall",
                        "text": qsTr("Wall") + I18n.localeNotify
                    }, {
                        "value": "floor",
                        "text": qsTr("Floor") + I18n.localeNotify
                    }]
                currentIndex: {
                    for (var i = 0; i < model.length; ++i) {
                        if (model[i].value === control.mount)
                            return i
                    }
                    return -1
                }
                onActivated: control.setMount(model[index].value)
                ToolTip.visible: hovered
                ToolTip.delay: 500
                ToolTip.text: qsTr("How the camera hangs: views stay upright for it") + I18n.localeNotify
            }
        }

        Flickable {
            id: flkParams
            objectName: "flkParams"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: gridParams.implicitHeight
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AlwaysOn
            }

            GridLayout {
                id: gridParams
                columns: 3
                // Clear of the scroll bar.
                width: flkParams.width - 12

                Label {
                    text: qsTr("Params") + I18n.localeNotify
                    font.bold: true
                    Layout.columnSpan: 3
                }

                Label {
                    visible: control.mode === "quad"
                    text: qsTr("Quarter") + I18n.localeNotify
                }
                // Which of the quad's four views the sliders below aim.
                ComboBox {
                    id: cbQuarter
                    objectName: "cbQuarter"
                    visible: control.mode === "quad"
                    Layout.columnSpan: 2
                    model: [qsTr("Top left") + I18n.localeNotify, qsTr("Top right") + I18n.localeNotify,
                        qsTr("Bottom left") + I18n.localeNotify, qsTr("Bottom right") + I18n.localeNotify]
                    currentIndex: control.quadIndex
                    onActivated: control.selectQuarter(index)
                }

                Label {
                    visible: control.isPanorama
                    text: qsTr("Azimuth") + I18n.localeNotify
                }
                // Where the panorama starts at its left edge, the way pan turns a view.
                Slider {
                    id: sldAzimuth
                    objectName: "sldAzimuth"
                    visible: control.isPanorama
                    Layout.fillWidth: true
                    from: -180
                    to: 180
                    value: -180
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valAzimuth"
                    visible: control.isPanorama
                    slider: sldAzimuth
                    unit: "°"
                }

                Label {
                    visible: control.isPanorama
                    text: qsTr("Upper edge") + I18n.localeNotify
                }
                // Elevations above the horizon of the panorama's upper and lower edges.
                Slider {
                    id: sldUpper
                    objectName: "sldUpper"
                    visible: control.isPanorama
                    Layout.fillWidth: true
                    from: -90
                    to: 90
                    value: 45
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valUpper"
                    visible: control.isPanorama
                    slider: sldUpper
                    unit: "°"
                }

                Label {
                    visible: control.isPanorama
                    text: qsTr("Lower edge") + I18n.localeNotify
                }
                Slider {
                    id: sldLower
                    objectName: "sldLower"
                    visible: control.isPanorama
                    Layout.fillWidth: true
                    from: -90
                    to: 90
                    value: -45
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valLower"
                    visible: control.isPanorama
                    slider: sldLower
                    unit: "°"
                }

                Label {
                    visible: !control.isPanorama
                    text: qsTr("Roll") + I18n.localeNotify
                }
                Slider {
                    id: sldRoll
                    objectName: "sldRoll"
                    visible: !control.isPanorama
                    Layout.fillWidth: true
                    from: -180
                    to: 180
                    value: 0
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valRoll"
                    visible: !control.isPanorama
                    slider: sldRoll
                    unit: "°"
                }

                Label {
                    visible: !control.isPanorama
                    text: qsTr("Tilt") + I18n.localeNotify
                }
                Slider {
                    id: sldTilt
                    objectName: "sldTilt"
                    visible: !control.isPanorama
                    Layout.fillWidth: true
                    from: -180
                    to: 180
                    value: 0
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valTilt"
                    visible: !control.isPanorama
                    slider: sldTilt
                    unit: "°"
                }

                Label {
                    visible: !control.isPanorama
                    text: qsTr("Pan") + I18n.localeNotify
                }
                Slider {
                    id: sldPan
                    objectName: "sldPan"
                    visible: !control.isPanorama
                    Layout.fillWidth: true
                    from: -180
                    to: 180
                    value: 0
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valPan"
                    visible: !control.isPanorama
                    slider: sldPan
                    unit: "°"
                }

                Label {
                    visible: !control.isPanorama
                    text: qsTr("Zoom") + I18n.localeNotify
                }
                Slider {
                    id: sldZoom
                    objectName: "sldZoom"
                    visible: !control.isPanorama
                    Layout.fillWidth: true
                    // Beyond these the perspective picture no longer holds: stretched past use at the
                    // wide end, magnified past any source at the narrow one.
                    from: 10
                    to: 150
                    value: 20
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valZoom"
                    visible: !control.isPanorama
                    slider: sldZoom
                    unit: "°"
                }

                Label {
                    text: qsTr("Camera specs (global)") + I18n.localeNotify
                    font.bold: true
                    Layout.columnSpan: 3
                }

                Label {
                    text: qsTr("Center X") + I18n.localeNotify
                }
                Slider {
                    id: sldCenterX
                    objectName: "sldCenterX"
                    Layout.fillWidth: true
                    from: 0
                    to: 100
                    value: 50
                    onValueChanged: lensSliderMoved(this)
                }
                ValueField {
                    objectName: "valCenterX"
                    slider: sldCenterX
                    unit: "%"
                    note: qsTr("(%1 px)").arg(localProps.centerX) + I18n.localeNotify
                }

                Label {
                    text: qsTr("Center Y") + I18n.localeNotify
                }
                Slider {
                    id: sldCenterY
                    objectName: "sldCenterY"
                    Layout.fillWidth: true
                    from: 0
                    to: 100
                    value: 50
                    onValueChanged: lensSliderMoved(this)
                }
                ValueField {
                    objectName: "valCenterY"
                    slider: sldCenterY
                    unit: "%"
                    note: qsTr("(%1 px)").arg(localProps.centerY) + I18n.localeNotify
                }

                Label {
                    text: qsTr("Radius") + I18n.localeNotify
                }
                Slider {
                    id: sldRadius
                    objectName: "sldRadius"
                    Layout.fillWidth: true
                    from: 1
                    to: 200
                    value: 50
                    onValueChanged: lensSliderMoved(this)
                }
                ValueField {
                    objectName: "valRadius"
                    slider: sldRadius
                    unit: "%"
                    note: qsTr("(%1 px)").arg(localProps.radius) + I18n.localeNotify
                }

                Label {
                    text: qsTr("FOV") + I18n.localeNotify
                }
                Slider {
                    id: sldFOV
                    objectName: "sldFOV"
                    Layout.fillWidth: true
                    from: 1
                    to: 270
                    value: 163
                    onValueChanged: updateParams()
                }
                ValueField {
                    objectName: "valFOV"
                    slider: sldFOV
                    unit: "°"
                }

                Label {
                    text: qsTr("Projection") + I18n.localeNotify
                }
                // How the lens maps angles to the picture: the maker's data sheet names it.
                ComboBox {
                    id: cbProjection
                    objectName: "cbProjection"
                    Layout.columnSpan: 2
                    textRole: "text"
                    model: [{
                            "value": "equidistant",
                            "text": qsTr("Equidistant") + I18n.localeNotify
                        }, {
                            "value": "equisolid",
                            "text": qsTr("Equisolid") + I18n.localeNotify
                        }, {
                            "value": "stereographic",
                            "text": qsTr("Stereographic") + I18n.localeNotify
                        }, {
                            "value": "orthographic",
                            "text": qsTr("Orthographic") + I18n.localeNotify
                        }]
                    currentIndex: {
                        for (var i = 0; i < model.length; ++i) {
                            if (model[i].value === control.projection)
                                return i
                        }
                        return -1
                    }
                    onActivated: {
                        control.projection = model[index].value
                        updateParams()
                    }
                }
            }
        }
    }
}
