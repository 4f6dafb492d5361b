#include "es/eventserver.h"

#include "app/appstate.h"
#include "es/eslogging.h"
#include "es/objectimport.h"

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

// A change notice does not fetch the tree again: signing in again imports the new one.
void EventServer::onObjectsChanged()
{
    qCDebug(lcEs, "TODO: Objects changed, fetching ...");
}

// The one point where a library callback reaches the connector: f runs queued on
// the connector's (the GUI) thread, and not at all once the connector is gone.
template<typename F> void EventServer::handOver(F f)
{
    QPointer<EventServer> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, f = std::move(f)] {
            if (self)
                f();
        },
        Qt::QueuedConnection);
}

void EventServer::onConnectionStateChanged(korvu::es::Connection::State newState, korvu::es::Connection::State oldState)
{
    Q_UNUSED(oldState)
    const bool disconnected = newState == korvu::es::Connection::Disconnected;
    handOver([this, disconnected] {
        if (disconnected)
            emit disconnectedFromEs();
        emit isConnectedChanged();
    });
}

void EventServer::connectToES()
{
    const AppState *state = AppState::instance();
    connectTo(state->host(), state->port());
}

void EventServer::connectTo(const QString &host, int port)
{
    m_d->connection.open(
        host.toStdString(), port,
        [this] {
            handOver([this] {
                emit connectedToEs();
                emit isConnectedChanged();
            });
        },
        [this](const korvu::es::ConnectionError &error) {
            const QString text = errorText(error);
            handOver([this, text] {
                emit connectToEsError(text);
                emit isConnectedChanged();
            });
        });
}

void EventServer::login()
{
    signIn(AppState::instance());
}

void EventServer::signIn(AppState *state)
{
    if (!state)
        return;
    QPointer<AppState> target(state);
    m_d->client.signIn(
        state->username().toStdString(), state->password().toStdString(),
        [this, target](long long userId) {
            handOver([this, target, userId] {
                if (target) {
                    target->setLoggedIn(true);
                    target->setCurrentUserId(userId);
                }
                emit loggedIn();
            });
        },
        [this, target](const korvu::es::HandlerError &error) {
            const QString text = errorText(error);
            handOver([this, target, text] {
                if (target) {
                    target->setLoggedIn(false);
                    target->setCurrentUserId(0);
                }
                emit loginError(text);
            });
        });
}

void EventServer::fetchObjects()
{
    m_d->client.getObjects(
        [this](const std::vector<korvu::es::Object> &objects, long long rootId) {
            // Copied here, on the library's thread; the GUI thread gets the map by value.
            const QHash<qint64, korvu::es::Object> byId = objectsById(objects);
            handOver([byId, rootId] { importObjects(byId, rootId); });
        },
        [this](const korvu::es::HandlerError &error) {
            const QString text = errorText(error);
            handOver([this, text] { emit fetchObjectsFailed(text); });
        });
}

void EventServer::terminate() {}
