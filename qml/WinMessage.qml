import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import Qt.labs.platform 1.0
import korvu.converter 1.0

// Modal message: stays until the operator presses "Close".
Popup {
    id: control

    property alias text: lblMsg.text

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

        Button {
            id: btnClose
            objectName: "btnClose"
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Close") + I18n.localeNotify
            onClicked: control.close()
        }
    }
}
