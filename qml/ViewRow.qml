import QtQuick 2.13
import QtQuick.Controls 2.13
import korvu.converter 1.0

// One stored view of a stream in the main window: the name offers Edit, Duplicate and Delete; Enter
// edits it, Delete asks to delete it. Editing and duplicating need a stream that can be dewarped.
ListRow {
    id: control
    objectName: "viewDelegate"

    property string name: ""
    property bool canDefish: false

    // Edit (duplicate false) or Duplicate the view in the defish window.
    signal openRequested(bool duplicate)

    checkBoxName: "chkView"
    areaName: "areaViewMenu"
    menuName: "viewCtxMenu"
    label: name
    onActivated: {
        if (canDefish)
            openRequested(false)
    }

    menuItems: [
        MenuItem {
            objectName: "menuEditView"
            text: qsTr("Edit") + I18n.localeNotify
            enabled: control.canDefish
            onTriggered: control.openRequested(false)
        },
        MenuItem {
            objectName: "menuDuplicateView"
            text: qsTr("Duplicate") + I18n.localeNotify
            enabled: control.canDefish
            onTriggered: control.openRequested(true)
        },
        MenuItem {
            objectName: "menuDeleteView"
            text: qsTr("Delete") + I18n.localeNotify
            onTriggered: control.deleteRequested()
        }
    ]
}
