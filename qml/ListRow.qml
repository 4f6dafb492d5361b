import QtQuick 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13

// One row of the main window's lists: a check box that alone switches the row's object on and off,
// and its name, which selects the row and opens the row's menu. By keyboard, once Tab has reached
// the row: Space switches, the Menu key or Shift+F10 opens the menu, Enter activates and Delete
// asks to delete. A ring shows the row that has the keyboard.
FocusScope {
    id: control

    // The name shown; also the check box's text, for the tests and accessibility.
    property alias label: chk.text
    property alias checked: chk.checked
    // Object names of the check box, the name's mouse area and the menu, for the tests.
    property string checkBoxName: ""
    property string areaName: ""
    property string menuName: ""
    // The menu's entries.
    property alias menuItems: menu.contentData
    readonly property alias menu: menu

    // The operator switched the check box; checked is its new state.
    signal toggled(bool checked)
    signal activated
    signal deleteRequested

    implicitWidth: chk.implicitWidth + lblName.implicitWidth
    implicitHeight: chk.implicitHeight
    activeFocusOnTab: true

    // Opens the menu at point (x, y) of the row, kept inside the window.
    function openMenu(x, y) {
        control.forceActiveFocus(Qt.MouseFocusReason)
        menu.popup(control, x, y)
    }

    Keys.onPressed: {
        if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
            openMenu(lblName.x, control.height)
        } else if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            control.activated()
        } else if (event.key === Qt.Key_Delete) {
            control.deleteRequested()
        } else if (event.key === Qt.Key_Space) {
            chk.toggle()
            control.toggled(chk.checked)
        } else {
            return
        }
        event.accepted = true
    }

    Rectangle {
        id: rcFocusRing
        objectName: "focusRing"
        anchors.fill: parent
        visible: control.activeFocus
        radius: 2
        color: Qt.rgba(chk.palette.highlight.r, chk.palette.highlight.g, chk.palette.highlight.b, 0.15)
        border.width: 2
        border.color: chk.palette.highlight
    }

    RowLayout {
        anchors.fill: parent
        spacing: 4

        CheckBox {
            id: chk
            objectName: control.checkBoxName
            // The name is the label beside it: only the box itself switches.
            contentItem: Item {}
            // Without text of its own the box's size hint leaves out its indicator.
            Layout.preferredWidth: indicator.width + leftPadding + rightPadding
            focusPolicy: Qt.NoFocus
            onToggled: control.toggled(checked)
        }

        Label {
            id: lblName
            Layout.fillWidth: true
            Layout.fillHeight: true
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            text: chk.text

            MouseArea {
                id: area
                objectName: control.areaName
                anchors.fill: parent
                acceptedButtons: Qt.LeftButton | Qt.RightButton
                onClicked: control.openMenu(lblName.x + mouse.x, mouse.y)

                Menu {
                    id: menu
                    objectName: control.menuName
                    // The keyboard comes back to the row.
                    onClosed: control.forceActiveFocus(Qt.PopupFocusReason)
                }
            }
        }
    }
}
