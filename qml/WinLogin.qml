import QtQuick 2.13
import QtQuick.Window 2.13
import QtQuick.Controls 2.13
import QtQuick.Layouts 1.13
import Qt.labs.settings 1.0
import korvu.converter 1.0

// Sign-in dialog: language, event-server address and credentials. Closing it
// before signing in ends the application.
Window {
    id: control
    objectName: "winLogin"

    // True from the start of a sign-in until it fails or the objects were asked for.
    readonly property bool processing: session.busy

    title: qsTr("Login") + I18n.localeNotify
    modality: Qt.ApplicationModal
    flags: Qt.Dialog | Qt.WindowTitleHint | Qt.WindowCloseButtonHint | Qt.MSWindowsFixedSizeDialogHint
    width: 350
    height: contents.implicitHeight + 2 * Config.theme.defaultMargin

    function doLogin() {
        console.assert(!AppState.loggedIn, "doLogin: already logged in")
        session.signIn()
    }

    function error(msg) {
        messager.text = msg
        messager.open()
    }

    // The user name and password are kept in the settings file only while
    // "Remember credentials" is checked; unchecking it removes them from the file.
    // They go through settingsStore, never through the Settings type, whose debug
    // output prints every value it is handed.
    function storeCredential(key, value) {
        if (chkRemember.checked)
            settingsStore.setValue(settingsStore.fileName, "credentials", key, value)
    }

    function storeCredentials() {
        storeCredential("username", txtUsername.text)
        storeCredential("password", txtPassword.text)
    }

    function forgetCredentials() {
        credentialsSettings.sync()
        settingsStore.removeKeys(settingsStore.fileName, "credentials", ["username", "password"])
    }

    onVisibleChanged: {
        if (visible) {
            console.log("WinLogin::show")
        } else {
            console.log("WinLogin::hide")
        }
    }

    onClosing: {
        if (!AppState.loggedIn)
            Qt.quit()
    }

    Component.onCompleted: {
        // The file may hold a password: readable and writable by its owner only.
        settingsStore.protect(settingsStore.fileName)
        if (chkRemember.checked) {
            txtUsername.text = settingsStore.value(settingsStore.fileName, "credentials", "username")
            txtPassword.text = settingsStore.value(settingsStore.fileName, "credentials", "password")
        } else {
            forgetCredentials()
        }
    }

    GridLayout {
        id: contents
        objectName: "contents"
        columns: 2
        x: Config.theme.defaultMargin
        y: Config.theme.defaultMargin
        width: control.width - 2 * Config.theme.defaultMargin

        Keys.onEnterPressed: doLogin()
        Keys.onReturnPressed: doLogin()

        Label {
            text: qsTr("Language") + I18n.localeNotify
        }
        ComboBox {
            id: cbLanguage
            objectName: "cbLanguage"
            model: Config.languagesModel
            textRole: "name"
            Layout.fillWidth: true
            // Follows a change made in the main window, so that the setting below keeps it.
            Connections {
                target: I18n
                function onLocaleChanged() {
                    var index = Config.languageIndex(I18n.locale)
                    if (index >= 0)
                        cbLanguage.currentIndex = index
                }
            }
            onCurrentIndexChanged: {
                if (currentIndex < 0)
                    return
                var code = Config.languagesModel.get(currentIndex).code
                console.log("Changing language to:", code)
                I18n.locale = code
            }
        }

        Label {
            text: qsTr("Host") + I18n.localeNotify
        }
        TextField {
            id: txtHost
            objectName: "txtHost"
            Layout.fillWidth: true
            enabled: !processing
            onTextChanged: AppState.host = text.trim()
        }

        Label {
            text: qsTr("Port") + I18n.localeNotify
        }
        TextField {
            id: txtPort
            objectName: "txtPort"
            Layout.fillWidth: true
            enabled: !processing
            validator: RegExpValidator {
                regExp: /[0-9]+/
            }
            onTextChanged: AppState.port = parseInt(text.trim())
        }

        Label {
            text: qsTr("Username") + I18n.localeNotify
        }
        TextField {
            id: txtUsername
            objectName: "txtUsername"
            Layout.fillWidth: true
            enabled: !processing
            onTextChanged: {
                AppState.username = text.trim()
                storeCredential("username", text)
            }
        }

        Label {
            text: qsTr("Password") + I18n.localeNotify
        }
        TextField {
            id: txtPassword
            objectName: "txtPassword"
            Layout.fillWidth: true
            enabled: !processing
            echoMode: TextField.Password
            onTextChanged: {
                AppState.password = text
                storeCredential("password", text)
            }
        }

        RowLayout {
            Layout.columnSpan: 2

            Item {
                Layout.fillWidth: true
            }
            Label {
                text: qsTr("Remember credentials") + I18n.localeNotify
            }
            CheckBox {
                id: chkRemember
                objectName: "chkRemember"
                checked: true
                enabled: !processing
                onToggled: {
                    if (checked)
                        storeCredentials()
                    else
                        forgetCredentials()
                }
            }
        }

        // Reading objects.data, which may wait for another program's lock.
        RowLayout {
            Layout.columnSpan: 2
            visible: LocalDatabase.opening

            BusyIndicator {
                objectName: "busyReading"
                running: LocalDatabase.opening
                Layout.preferredHeight: btnLogin.height
                Layout.preferredWidth: btnLogin.height
            }
            Label {
                objectName: "lblReading"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Reading objects.data…") + I18n.localeNotify
            }
        }

        RowLayout {
            Layout.columnSpan: 2
            Layout.alignment: Qt.AlignRight

            Button {
                id: btnExit
                objectName: "btnExit"
                text: qsTr("Exit") + I18n.localeNotify
                enabled: !processing
                onClicked: control.close()
                Keys.onEnterPressed: control.close()
                Keys.onReturnPressed: control.close()
            }
            Button {
                id: btnLogin
                objectName: "btnLogin"
                text: qsTr("Login") + I18n.localeNotify
                highlighted: true
                focus: true
                enabled: !processing
                onClicked: doLogin()
            }
        }
    }

    Settings {
        id: applicationSettings
        category: "application"
        fileName: settingsStore.fileName
        property alias language: cbLanguage.currentIndex
    }

    Settings {
        id: credentialsSettings
        category: "credentials"
        fileName: settingsStore.fileName
        property alias host: txtHost.text
        property alias port: txtPort.text
        property alias remember: chkRemember.checked
    }

    WinMessage {
        id: messager
        objectName: "messager"
        // A fixed width lets long messages wrap inside the dialog.
        width: control.width - 2 * Config.theme.defaultMargin
        x: (control.width - width) / 2
        y: (control.height - height) / 2
    }

    WinMessage {
        id: dbFailure
        objectName: "dbFailure"
        width: control.width - 2 * Config.theme.defaultMargin
        x: (control.width - width) / 2
        y: (control.height - height) / 2
        actionText: qsTr("Retry") + I18n.localeNotify
        closeText: qsTr("Continue read-only") + I18n.localeNotify
        onActionClicked: {
            close()
            session.retryReading()
        }
        onCloseClicked: session.continueReadOnly()
    }

    // Connects, signs in, reads the stored settings (before the objects are fetched, since the
    // import applies them) and asks for the objects. When the settings cannot be read the operator
    // retries or goes on read-only: the database then refuses every save of this session.
    SignInSession {
        id: session
        objectName: "signInSession"
        onFailed: {
            dbFailure.close()
            if (failure === SignInSession.MissingFields)
                error(qsTr("All fields are required!"))
            else if (failure === SignInSession.ConnectFailed)
                error(qsTr("Connect error: %1").arg(message))
            else if (failure === SignInSession.SignInFailed)
                error(qsTr("Login error: %1").arg(message))
            else
                error(qsTr("Lost connection to ES"))
        }
        onSettingsUnreadable: {
            var text = qsTr("The stored gateways, streams and views could not be read from objects.data:\n%1\n\nRetry, or continue read-only: nothing will be saved in this session.")
            dbFailure.text = text.arg(error)
            dbFailure.open()
        }
        onConnectionLost: error(qsTr("Lost connection to ES"))
        onObjectsRequested: control.close()
    }
}
