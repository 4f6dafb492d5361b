import QtQuick 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13

// One row of the defish controls: a label, a slider and a field with its exact value. The slider shows
// value whenever it changes (clamped to the slider's range, which leaves value as it is); moved(value)
// says the slider or the field changed it. The rows of one column line up on labelWidth.
RowLayout {
    id: row

    property alias text: label.text
    property alias from: slider.from
    property alias to: slider.to
    property real value: 0
    property alias unit: field.unit
    property alias note: field.note
    // The objectNames of the slider and of the field.
    property alias sliderName: slider.objectName
    property alias fieldName: field.objectName
    property real labelWidth: label.implicitWidth
    readonly property real labelImplicitWidth: label.implicitWidth
    readonly property alias pressed: slider.pressed
    readonly property alias slider: slider

    signal moved(real value)

    // Set while the slider takes value: a slider clamping it to its range is no move of the operator's,
    // nor is one that takes its range as it is created.
    property bool syncing: false
    property bool ready: false

    function sync() {
        syncing = true
        slider.value = value
        syncing = false
    }

    onValueChanged: sync()
    Component.onCompleted: {
        sync()
        ready = true
    }

    Label {
        id: label
        Layout.preferredWidth: row.labelWidth
    }
    Slider {
        id: slider
        Layout.fillWidth: true
        onValueChanged: {
            if (row.ready && !row.syncing && value !== row.value)
                row.moved(value)
        }
    }
    ValueField {
        id: field
        slider: slider
    }
}
