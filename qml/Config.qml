pragma Singleton
import QtQuick 2.13
import korvu.converter 1.0

Item {
    id: control
    visible: false

    property alias languagesModel: _languagesModel
    property alias theme: _theme

    ListModel {
        id: _languagesModel
        // The row index is what settings.ini stores: keep the order.
        ListElement { name: "English"; code: "en_US" }
        ListElement { name: "Portuguese"; code: "pt_BR" }
    }

    QtObject {
        id: _theme
        property int defaultMargin: 5
        // Tallest a stream's list of views grows before it scrolls.
        property int maxViewsHeight: 200

        // The outline colour of a stream's index-th stored view: hues a golden angle apart, clear
        // of the red of the view being aimed and the yellow of the lens guides.
        function viewColor(index) {
            var turn = (index * 0.618034) % 1
            return Qt.hsva(0.2 + turn * 0.72, 0.85, 1.0, 1.0)
        }
    }
}
