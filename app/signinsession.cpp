#include "app/signinsession.h"

#include "app/applogging.h"
#include "app/appstate.h"
#include "es/eventserver.h"
#include "repo/localdatabase.h"

SignInSession::SignInSession(QObject *parent) : QObject(parent)
{
    EventServer *server = EventServer::instance();
    if (server) {
        connect(server, &EventServer::connectedToEs, this, [this] {
            if (m_stage != Connecting)
                return;
            qCInfo(lcApp, "Connected to ES, going to login");
            setStage(SigningIn);
            EventServer::instance()->login();
        });
        connect(server, &EventServer::connectToEsError, this, [this](const QString &message) {
            if (m_stage == Connecting)
                fail(ConnectFailed, message);
        });
        connect(server, &EventServer::loginError, this, [this](const QString &message) {
            if (m_stage == SigningIn)
                fail(SignInFailed, message);
        });
        connect(server, &EventServer::disconnectedFromEs, this, [this] {
            if (busy())
                fail(ConnectionLost, QString());
            else
                emit connectionLost();
        });
        connect(server, &EventServer::loggedIn, this, [this] {
            if (m_stage == SigningIn)
                readSettings();
        });
    }
    if (LocalDatabase *database = LocalDatabase::instance())
        connect(database, &LocalDatabase::openFinished, this, [this](bool ok) {
            if (m_stage == ReadingSettings)
                onSettingsRead(ok);
        });
}

bool SignInSession::signIn()
{
    const AppState *state = AppState::instance();
    if (!state || state->host().isEmpty() || state->port() <= 0 || state->username().isEmpty() ||
        state->password().isEmpty()) {
        emit failed(MissingFields, QString());
        return false;
    }
    start(false);
    return true;
}

void SignInSession::reconnect()
{
    start(true);
}

void SignInSession::start(bool reconnect)
{
    EventServer *server = EventServer::instance();
    if (!server || busy())
        return;
    m_reconnecting = reconnect;
    if (server->isConnected() && !reconnect) {
        setStage(SigningIn);
        server->login();
        return;
    }
    setStage(Connecting);
    server->connectToES();
}

void SignInSession::retryReading()
{
    if (m_stage == WaitingForOperator)
        readSettings();
}

void SignInSession::continueReadOnly()
{
    if (m_stage != WaitingForOperator)
        return;
    // Whatever can be read without waiting still carries the stored switches and lenses over.
    LocalDatabase::instance()->openReadOnly();
    requestObjects();
}

void SignInSession::setStage(Stage stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    if (stage == Idle)
        m_reconnecting = false;
    emit stageChanged();
}

void SignInSession::fail(Failure failure, const QString &message)
{
    setStage(Idle);
    emit failed(failure, message);
}

// The file is read on a worker thread: another process may hold its lock for a while.
void SignInSession::readSettings()
{
    qCInfo(lcApp, "Loading database");
    setStage(ReadingSettings);
    LocalDatabase *database = LocalDatabase::instance();
    if (!database || !database->openInBackground())
        onSettingsRead(false);
}

void SignInSession::onSettingsRead(bool ok)
{
    if (ok) {
        requestObjects();
    } else if (m_reconnecting) {
        LocalDatabase::instance()->openReadOnly();
        requestObjects();
    } else {
        setStage(WaitingForOperator);
        emit settingsUnreadable(LocalDatabase::instance() ? LocalDatabase::instance()->openError() : QString());
    }
}

void SignInSession::requestObjects()
{
    qCInfo(lcApp, "Logged in, fetching objects");
    setStage(Idle);
    EventServer::instance()->fetchObjects();
    emit objectsRequested();
}
