import QtQuick 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import korvu.converter 1.0

// The defish window's controls: the view's name, mode and the camera's mount, then the view's sliders
// (a panorama's band, or the aim of the view or of a quad's quarter) and the lens's. They show and set
// what editor holds; the lens sliders show the lens as shares of a frame of frameWidth x frameHeight.
ColumnLayout {
    id: control

    property ViewEditor editor: null
    property int frameWidth: 0
    property int frameHeight: 0
    // Whether a slider is held.
    readonly property bool pressed: rowAzimuth.pressed || rowUpper.pressed || rowLower.pressed || rowRoll.pressed
                                    || rowTilt.pressed || rowPan.pressed || rowZoom.pressed || rowCenterX.pressed
                                    || rowCenterY.pressed || rowRadius.pressed || rowFov.pressed
    // The lens sliders as shares of the frame (the radius of its width).
    readonly property real shareX: rowCenterX.slider.value / 100
    readonly property real shareY: rowCenterY.slider.value / 100
    readonly property real shareRadius: rowRadius.slider.value / 100
    readonly property bool lensPlaced: editor && editor.lensPlaced && frameWidth > 0 && frameHeight > 0

    // A lens slider moved by hand or by a typed value: the lens in pixels follows it. Read from the
    // sliders, as the shares above may not have followed the move yet.
    function lensSliderMoved() {
        editor.setLensShares(rowCenterX.slider.value / 100, rowCenterY.slider.value / 100,
                             rowRadius.slider.value / 100, frameWidth, frameHeight)
    }

    // The index of value in a combo's model of {"value", "text"}.
    function indexIn(model, value) {
        for (var i = 0; i < model.length; ++i) {
            if (model[i].value === value)
                return i
        }
        return -1
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
            text: control.editor ? control.editor.name : ""
            onTextChanged: control.editor.name = text
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
            currentIndex: control.indexIn(model, control.editor.mode)
            onActivated: control.editor.mode = model[index].value
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
            currentIndex: control.indexIn(model, control.editor.mount)
            onActivated: control.editor.mount = model[index].value
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
        contentHeight: colParams.implicitHeight
        ScrollBar.vertical: ScrollBar {
            policy: ScrollBar.AlwaysOn
        }

        ColumnLayout {
            id: colParams
            // Clear of the scroll bar.
            width: flkParams.width - 12
            // The rows' sliders line up behind the widest label.
            readonly property real labelWidth: {
                var widest = 0
                for (var i = 0; i < children.length; ++i) {
                    if (children[i].labelImplicitWidth !== undefined && children[i].visible)
                        widest = Math.max(widest, children[i].labelImplicitWidth)
                }
                return widest
            }

            Label {
                text: qsTr("Params") + I18n.localeNotify
                font.bold: true
            }

            RowLayout {
                visible: control.editor.mode === "quad"
                readonly property real labelImplicitWidth: lblQuarter.implicitWidth

                Label {
                    id: lblQuarter
                    Layout.preferredWidth: colParams.labelWidth
                    text: qsTr("Quarter") + I18n.localeNotify
                }
                // Which of the quad's four views the sliders below aim.
                ComboBox {
                    id: cbQuarter
                    objectName: "cbQuarter"
                    model: [qsTr("Top left") + I18n.localeNotify, qsTr("Top right") + I18n.localeNotify,
                        qsTr("Bottom left") + I18n.localeNotify, qsTr("Bottom right") + I18n.localeNotify]
                    currentIndex: control.editor.quadIndex
                    onActivated: control.editor.selectQuarter(index)
                }
            }

            // Where the panorama starts at its left edge, the way pan turns a view.
            AimSlider {
                id: rowAzimuth
                visible: control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Azimuth") + I18n.localeNotify
                sliderName: "sldAzimuth"
                fieldName: "valAzimuth"
                from: -180
                to: 180
                unit: "°"
                value: control.editor.azimuth
                onMoved: control.editor.azimuth = value
            }
            // Elevations above the horizon of the panorama's upper and lower edges.
            AimSlider {
                id: rowUpper
                visible: control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Upper edge") + I18n.localeNotify
                sliderName: "sldUpper"
                fieldName: "valUpper"
                from: -90
                to: 90
                unit: "°"
                value: control.editor.upper
                onMoved: control.editor.upper = value
            }
            AimSlider {
                id: rowLower
                visible: control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Lower edge") + I18n.localeNotify
                sliderName: "sldLower"
                fieldName: "valLower"
                from: -90
                to: 90
                unit: "°"
                value: control.editor.lower
                onMoved: control.editor.lower = value
            }
            AimSlider {
                id: rowRoll
                visible: !control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Roll") + I18n.localeNotify
                sliderName: "sldRoll"
                fieldName: "valRoll"
                from: -180
                to: 180
                unit: "°"
                value: control.editor.roll
                onMoved: control.editor.roll = value
            }
            AimSlider {
                id: rowTilt
                visible: !control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Tilt") + I18n.localeNotify
                sliderName: "sldTilt"
                fieldName: "valTilt"
                from: -180
                to: 180
                unit: "°"
                value: control.editor.tilt
                onMoved: control.editor.tilt = value
            }
            AimSlider {
                id: rowPan
                visible: !control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Pan") + I18n.localeNotify
                sliderName: "sldPan"
                fieldName: "valPan"
                from: -180
                to: 180
                unit: "°"
                value: control.editor.pan
                onMoved: control.editor.pan = value
            }
            // Beyond its range the perspective picture no longer holds: stretched past use at the wide
            // end, magnified past any source at the narrow one.
            AimSlider {
                id: rowZoom
                visible: !control.editor.isPanorama
                labelWidth: colParams.labelWidth
                text: qsTr("Zoom") + I18n.localeNotify
                sliderName: "sldZoom"
                fieldName: "valZoom"
                from: control.editor.minZoom
                to: control.editor.maxZoom
                unit: "°"
                value: control.editor.zoom
                onMoved: control.editor.zoom = value
            }

            Label {
                text: qsTr("Camera specs (global)") + I18n.localeNotify
                font.bold: true
            }

            AimSlider {
                id: rowCenterX
                labelWidth: colParams.labelWidth
                text: qsTr("Center X") + I18n.localeNotify
                sliderName: "sldCenterX"
                fieldName: "valCenterX"
                from: 0
                to: 100
                unit: "%"
                note: qsTr("(%1 px)").arg(control.editor.lens.centerX) + I18n.localeNotify
                value: control.lensPlaced ? control.editor.lens.centerX / control.frameWidth * 100 : 50
                onMoved: control.lensSliderMoved()
            }
            AimSlider {
                id: rowCenterY
                labelWidth: colParams.labelWidth
                text: qsTr("Center Y") + I18n.localeNotify
                sliderName: "sldCenterY"
                fieldName: "valCenterY"
                from: 0
                to: 100
                unit: "%"
                note: qsTr("(%1 px)").arg(control.editor.lens.centerY) + I18n.localeNotify
                value: control.lensPlaced ? control.editor.lens.centerY / control.frameHeight * 100 : 50
                onMoved: control.lensSliderMoved()
            }
            AimSlider {
                id: rowRadius
                labelWidth: colParams.labelWidth
                text: qsTr("Radius") + I18n.localeNotify
                sliderName: "sldRadius"
                fieldName: "valRadius"
                from: 1
                to: 200
                unit: "%"
                note: qsTr("(%1 px)").arg(control.editor.lens.radius) + I18n.localeNotify
                value: control.lensPlaced ? control.editor.lens.radius / control.frameWidth * 100 : 50
                onMoved: control.lensSliderMoved()
            }
            AimSlider {
                id: rowFov
                labelWidth: colParams.labelWidth
                text: qsTr("FOV") + I18n.localeNotify
                sliderName: "sldFOV"
                fieldName: "valFOV"
                from: 1
                to: 270
                unit: "°"
                value: control.editor.fov
                onMoved: control.editor.fov = value
            }

            RowLayout {
                readonly property real labelImplicitWidth: lblProjection.implicitWidth

                Label {
                    id: lblProjection
                    Layout.preferredWidth: colParams.labelWidth
                    text: qsTr("Projection") + I18n.localeNotify
                }
                // How the lens maps angles to the picture: the maker's data sheet names it.
                ComboBox {
                    id: cbProjection
                    objectName: "cbProjection"
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
                    currentIndex: control.indexIn(model, control.editor.projection)
                    onActivated: control.editor.projection = model[index].value
                }
            }
        }
    }
}
