import QtQuick 2.13
import QtQuick.Window 2.13
import korvu.converter 1.0

// An operator's change that is never saved: a view added. Then the program waits for its end.
Window {
    visible: true
    width: 200
    height: 100

    Component.onCompleted: {
        RepoObjViews.appendView("Entrance", "S-LOBBY", 0, 0, 0, 40)
        console.log("changed:", UnsavedChanges.count)
    }
}
