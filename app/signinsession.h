#pragma once

#include <QObject>
#include <QString>

// Signing in to the event server, as the login window and the main window's "Reconnect" run it:
// connect (unless connected), sign in with AppState's address and credentials, read the stored
// settings of objects.data in the background, then ask for the objects, which the import applies
// the settings to. Each step starts when the event server or the database reports the one before,
// and a session reacts to those reports only while it runs, so that two sessions (the login window's
// and the main window's) never both act on one.
//
// The first sign-in leaves an unreadable objects.data to the operator (settingsUnreadable(): retry or
// go on read-only); a reconnect goes on read-only by itself, as the operator chose once already.
class SignInSession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Stage stage READ stage NOTIFY stageChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY stageChanged)
    Q_PROPERTY(bool reconnecting READ reconnecting NOTIFY stageChanged)

public:
    enum Stage {
        Idle,
        Connecting,
        SigningIn,
        ReadingSettings,
        // objects.data could not be read: retryReading() or continueReadOnly().
        WaitingForOperator
    };
    Q_ENUM(Stage)

    enum Failure {
        MissingFields, // host, port, user name or password empty: nothing was sent
        ConnectFailed,
        SignInFailed,
        ConnectionLost
    };
    Q_ENUM(Failure)

    explicit SignInSession(QObject *parent = nullptr);

    Stage stage() const { return m_stage; }
    bool busy() const { return m_stage != Idle; }
    bool reconnecting() const { return m_reconnecting; }

    // Starts a sign-in; false (and failed(MissingFields)) where a field is empty.
    Q_INVOKABLE bool signIn();
    // Connects and signs in again with the same settings, reads the stored settings again and asks
    // for the objects anew.
    Q_INVOKABLE void reconnect();
    Q_INVOKABLE void retryReading();
    Q_INVOKABLE void continueReadOnly();

signals:
    void stageChanged();
    // The session ended without asking for the objects; message is the event server's own text.
    void failed(SignInSession::Failure failure, const QString &message);
    void settingsUnreadable(const QString &error);
    // The event server's connection was lost while no session ran.
    void connectionLost();
    // Signed in and the settings read (or read-only): the objects were asked for; the session ended.
    void objectsRequested();

private:
    void start(bool reconnect);
    void setStage(Stage stage);
    void fail(Failure failure, const QString &message);
    void readSettings();
    void onSettingsRead(bool ok);
    void requestObjects();

    Stage m_stage = Idle;
    bool m_reconnecting = false;
};
