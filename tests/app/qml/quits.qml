import QtQuick 2.13
import QtQuick.Window 2.13
import korvu.converter 1.0

Window {
    visible: true
    width: 200
    height: 100
    title: isDebug ? "debug" : "release"
    Component.onCompleted: {
        // Read a singleton first thing, then quit normally from the event loop.
        console.log("AppState port", AppState.port)
        quitTimer.start()
    }
    Timer {
        id: quitTimer
        interval: 50
        onTriggered: Qt.quit()
    }
}
