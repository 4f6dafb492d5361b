import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import korvu.converter 1.0

ApplicationWindow {
    id: winMain
    visible: true
    width: 1024
    height: 720
    title: "Quillon"
}
