import QtQuick 2.13
import QtQuick.Window 2.13
import QtTest 1.13
import korvu.converter 1.0
import "qrc:/"

Item {
    id: root
    width: 640
    height: 480

    Component {
        id: objectComponent
        Object {}
    }

    Component {
        id: viewComponent
        ObjView {}
    }

    Component {
        id: aimSliderComponent
        AimSlider {
            property var movedTo: []
            from: 10
            to: 150
            onMoved: movedTo.push(value)
        }
    }

    WinMessage {
        id: msg
        x: 10
        y: 10
        text: "Something went wrong"
    }

    TestCase {
        name: "Foundation"
        when: windowShown

        function test_singletonsAreReachable() {
            verify(AppState !== null)
            compare(AppState.loggedIn, false)
            compare(AppState.port, 0)
            compare(I18n.locale, "en_US")
            compare(I18n.localeNotify, "")
            verify(Utils.defishShader().indexOf("#version 120") > 0)
            verify(Utils.isFileUrl("/tmp/a.mp4"))
            verify(!Utils.isRtspUrl("RTSP://x"))
            verify(EventServer !== null)
            verify(RepoObjects !== null)
            verify(RepoObjViews !== null)
            verify(LocalDatabase !== null)
        }

        function test_isDebugIsTrue() {
            compare(isDebug, true)
        }

        function test_configSingleton() {
            compare(Config.languagesModel.count, 2)
            compare(Config.languagesModel.get(0).code, "en_US")
            compare(Config.languagesModel.get(1).code, "pt_BR")
            compare(Config.languagesModel.get(1).name, "Portuguese")
            compare(Config.theme.defaultMargin, 5)
        }

        function test_appStateWritesFromQml() {
            var changes = 0
            var handler = function() { changes++ }
            AppState.hostChanged.connect(handler)
            AppState.host = "127.0.0.1"
            AppState.host = "127.0.0.1"
            AppState.hostChanged.disconnect(handler)
            compare(changes, 1)
            compare(AppState.host, "127.0.0.1")
            AppState.host = ""
        }

        function test_objectsAndViewsCanBeCreated() {
            var object = createTemporaryObject(objectComponent, root)
            verify(object !== null)
            compare(object.isActive, true)
            compare(object.type, Object.UnknowType)
            object.type = Object.Device
            compare(object.type, 1)
            compare(Object.Stream, 2)
            object.name = "Gateway A"
            compare(object.name, "Gateway A")
            var view = createTemporaryObject(viewComponent, root)
            verify(view !== null)
        }

        function test_messageOnlyClosesThroughItsButton() {
            msg.open()
            tryCompare(msg, "opened", true)
            keyClick(Qt.Key_Escape)
            wait(50)
            verify(msg.visible)
            mouseClick(root, root.width - 5, root.height - 5)
            wait(50)
            verify(msg.visible)
            compare(msg.text, "Something went wrong")
            var closeButton = findChild(msg.contentItem, "btnClose")
            verify(closeButton !== null)
            mouseClick(closeButton)
            tryCompare(msg, "visible", false)
        }

        // A row's slider shows its value, clamped to its range without reporting a move; a move of the
        // slider or a typed value is reported, and the row follows value again after it.
        function test_aimSliderReportsOnlyTheOperatorsMoves() {
            var row = createTemporaryObject(aimSliderComponent, root, { "value": 5 })
            compare(row.slider.value, 10)
            row.value = 40
            compare(row.slider.value, 40)
            compare(row.movedTo, [])
            row.slider.value = 60
            compare(row.movedTo, [60])
            row.value = 60
            // The value field, beside the slider.
            row.children[2].apply("70")
            compare(row.movedTo, [60, 70])
            row.value = 20
            compare(row.slider.value, 20)
            compare(row.movedTo, [60, 70])
        }
    }
}
