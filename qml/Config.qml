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

    // The row of languagesModel with that code; -1 where there is none.
    function languageIndex(code) {
        for (var i = 0; i < _languagesModel.count; ++i) {
            if (_languagesModel.get(i).code === code)
                return i
        }
        return -1
    }

    QtObject {
        id: _theme
        property int defaultMargin: 5
        // Tallest a stream's list of views grows before it scrolls.
        property int maxViewsHeight: 200
        // The server panel's list of views.
        property int maxServedHeight: 120

        // The outline colour of a stream's index-th stored view: hues a golden angle apart between
        // green and magenta (108° to 317°), well clear of the red of the view being aimed and the
        // yellow of the lens guides.
        function viewColor(index) {
            var turn = (index * 0.618034) % 1
            return Qt.hsva(0.3 + turn * 0.58, 0.85, 1.0, 1.0)
        }
        // Behind the name of a stored view on the video: dark enough to read any colour on any picture.
        property color tagBackground: Qt.rgba(0, 0, 0, 0.78)
    }
}
