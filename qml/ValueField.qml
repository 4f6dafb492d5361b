import QtQuick 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13

// A slider's exact value: a field showing it, with its unit, in which a value can be typed. Enter or
// leaving the field moves the slider, clamped to its range; text that is no number is refused.
RowLayout {
    id: control

    property Slider slider: null
    property string unit: ""
    property int decimals: 1
    // Shown after the unit, such as the value in video pixels.
    property string note: ""

    function shownValue() {
        return slider ? slider.value.toFixed(decimals) : ""
    }

    function apply(text) {
        var trimmed = String(text).trim()
        // Leaving the field unchanged must not round the slider to the digits shown.
        if (trimmed !== shownValue()) {
            var value = Number(trimmed.replace(",", "."))
            if (trimmed.length === 0 || !isFinite(value))
                console.log("Not a number: " + trimmed)
            else
                slider.value = Math.max(slider.from, Math.min(slider.to, value))
        }
        field.text = Qt.binding(function () {
            return control.shownValue()
        })
    }

    TextField {
        id: field
        objectName: "field"
        Layout.preferredWidth: 64
        selectByMouse: true
        horizontalAlignment: TextInput.AlignRight
        text: control.shownValue()
        onEditingFinished: control.apply(text)
    }

    Label {
        objectName: "unit"
        Layout.minimumWidth: 70
        text: control.note.length > 0 ? control.unit + " " + control.note : control.unit
    }
}
