import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import Qt.labs.platform 1.0
import korvu.converter 1.0

// Modal message: stays until the operator presses "Close". With an actionText it
// offers a second button, which emits actionClicked() and leaves closing to the
// handler; with an otherText a third, between them, emitting otherClicked() alike.
Popup {
    id: control

    property alias text: lblMsg.text
    property string actionText: ""
    property string otherText: ""
    property string closeText: qsTr("Close") + I18n.localeNotify

    signal actionClicked
    signal otherClicked
    signal closeClicked

    modal: true
    dim: true
    closePolicy: Popup.NoAutoClose

    ColumnLayout {
        anchors.fill: parent

        Label {
            id: lblMsg
            Layout.fillWidth: true
            Layout.maximumWidth: 480
            wrapMode: Text.Wrap
        }

        RowLayout {
            Layout.alignment: Qt.AlignHCenter

            Button {
                id: btnAction
                objectName: "btnAction"
                visible: control.actionText.length > 0
                text: control.actionText
                onClicked: control.actionClicked()
            }

            Button {
                id: btnOther
                objectName: "btnOther"
                visible: control.otherText.length > 0
                text: control.otherText
                onClicked: control.otherClicked()
            }

            Button {
                id: btnClose
                objectName: "btnClose"
                text: control.closeText
                onClicked: {
                    control.close()
                    control.closeClicked()
                }
            }
        }
    }
}
