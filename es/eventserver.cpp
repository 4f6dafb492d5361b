#include "es/eventserver.h"

#include "app/appstate.h"
#include "es/eslogging.h"
#include "es/objectimport.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QtGlobal>

class EventServerPriv
{
public:
    korvu::es::Client client;
    korvu::es::Context context;
    korvu::es::Connection connection;
};

EventServer::EventServer(const korvu::es::ContextOptions &options, QObject *parent)
    : QObject(parent), Singleton<EventServer>(this), m_d(new EventServerPriv)
{
    korvu::es::Logger logger(&EventServer::logMessage, korvu::es::LogLevel::Debug);
    m_d->context = korvu::es::Context(logger, options);

    korvu::es::ConnectionCallbacks connectionCallbacks;
    connectionCallbacks.onStateChanged = [this](korvu::es::Connection::State newState,
                                                korvu::es::Connection::State oldState) {
        onConnectionStateChanged(newState, oldState);
    };
    connectionCallbacks.onError = [](const korvu::es::ConnectionError &) {};
    m_d->connection = korvu::es::Connection(connectionCallbacks, m_d->context);

    korvu::es::ClientCallbacks clientCallbacks;
    clientCallbacks.onObjectsChanged = [this] { onObjectsChanged(); };
    clientCallbacks.onEvent = [](const korvu::es::Event &) {};
    clientCallbacks.onEventUpdated = [](const korvu::es::Event &) {};
    clientCallbacks.onObjectStateChanged = [](long long, korvu::es::ValuePtr) {};
    clientCallbacks.onObjectValueChanged = [](long long, korvu::es::ValuePtr) {};
    m_d->client = korvu::es::Client(clientCallbacks, m_d->connection);
}

// Releasing the last handles stops the library's callbacks for good (waiting for
// one that is running), so none reaches the half-destroyed connector.
EventServer::~EventServer()
{
    m_d->connection = korvu::es::Connection();
    m_d->context = korvu::es::Context();
    m_d->client = korvu::es::Client();
    delete m_d;
}

bool EventServer::isConnected() const
{
    return m_d->connection.state() == korvu::es::Connection::Connected;
}

QString EventServer::errorText(const korvu::es::Error &error)
{
    QString text = QString::fromStdString(error.message());
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    return text + tr("Code: %1").arg(error.code());
}

QHash<qint64, korvu::es::Object> EventServer::objectsById(const std::vector<korvu::es::Object> &objects)
{
    QHash<qint64, korvu::es::Object> byId;
    byId.reserve(int(objects.size()));
    for (const korvu::es::Object &object : objects)
        byId.insert(object.id(), object);
    return byId;
}

void EventServer::logMessage(const std::string &message, korvu::es::LogLevel level)
{
    Q_UNUSED(level)
    qCDebug(lcEs, "logMessage: %s", message.c_str());
}

void EventServer::onObjectsChanged()
{
    qCDebug(lcEs, "TODO: Objects changed, fetching ...");
}

void EventServer::onConnectionStateChanged(korvu::es::Connection::State newState, korvu::es::Connection::State oldState)
{
    Q_UNUSED(oldState)
    if (newState == korvu::es::Connection::Disconnected)
        emit disconnectedFromEs();
    emit isConnectedChanged();
}

void EventServer::connectToES()
{
    AppState *state = AppState::instance();
    const std::string host = state->host().toStdString();
    const int port = state->port();
    m_d->connection.open(
        host, port,
        [this] {
            emit connectedToEs();
            emit isConnectedChanged();
        },
        [this](const korvu::es::ConnectionError &error) {
            emit connectToEsError(errorText(error));
            emit isConnectedChanged();
        });
}

void EventServer::login()
{
    AppState *state = AppState::instance();
    const std::string username = state->username().toStdString();
    const std::string password = state->password().toStdString();
    m_d->client.signIn(
        username, password,
        [this](long long userId) {
            AppState::instance()->setLoggedIn(true);
            AppState::instance()->setCurrentUserId(userId);
            emit loggedIn();
        },
        [this](const korvu::es::HandlerError &error) {
            AppState::instance()->setLoggedIn(false);
            AppState::instance()->setCurrentUserId(0);
            emit loginError(errorText(error));
        });
}

void EventServer::fetchObjects()
{
    m_d->client.getObjects(
        [this](const std::vector<korvu::es::Object> &objects, long long rootId) {
            // Copied here, on the library's thread; the GUI thread gets the map by value.
            const QHash<qint64, korvu::es::Object> byId = objectsById(objects);
            QPointer<EventServer> self(this);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, byId, rootId] {
                    if (self)
                        importObjects(byId, rootId);
                },
                Qt::QueuedConnection);
        },
        [this](const korvu::es::HandlerError &error) { emit fetchObjectsFailed(errorText(error)); });
}

void EventServer::terminate() {}
