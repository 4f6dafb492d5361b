import QtQuick 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13

// One gateway of the main window's list: its name beside the box that switches it on and off.
ItemDelegate {
    id: control

    property string name: ""
    // Follows the model: stored settings read after the row was made show.
    property bool active: false

    // The operator switched the box; checked is its new state.
    signal activeToggled(bool checked)

    background: Rectangle {
        color: control.down ? "white" : "transparent"
    }
    contentItem: RowLayout {
        CheckBox {
            objectName: "chkGateway"
            text: control.name
            checked: control.active
            onToggled: control.activeToggled(checked)
        }
    }
}
