import QtQuick 2.13
import QtQuick.Window 2.13
import korvu.converter 1.0

// Runs the streaming server as the main window does, by its bare name, with the
// program's arguments (after the document's URL) as the server's arguments.
Window {
    visible: true
    width: 200
    height: 100

    ProcessManager {
        id: procManager
        program: "ostrevan"
        arguments: Qt.application.arguments.slice(1)
        onStatusChanged: console.log("server status", status, lastError)
        Component.onCompleted: start()
        Component.onDestruction: {
            if (isRunning)
                stop()
        }
    }
}
