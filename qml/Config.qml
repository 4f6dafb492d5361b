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
    }
}
