#pragma once

#include "app/singleton.h"
#include "es/korvues.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <vector>

class AppState;
class EventServerPriv;

// The link to the event server: connects, signs in and fetches the object tree
// through the client library, reporting every outcome as a signal.
//
// The library calls back on its own thread. Every callback hands what it
// reports over at one point, handOver(): one call queued to the connector on the
// GUI thread, which emits the signals, writes the signed-in flag and user id,
// and runs the import of a fetched object set. The connector keeps one set of
// library handles for its whole life, so the hand-over is guarded by the
// connector alone: destroying it releases the handles, after which no callback
// of theirs runs, and a hand-over already queued finds the connector gone and
// does nothing.
class EventServer : public QObject, public Singleton<EventServer>
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)

public:
    // The options set the library's time limits; every request (sign-in, fetch)
    // unanswered within options.requestTimeoutMs fails through its error signal.
    explicit EventServer(const korvu::es::ContextOptions &options = korvu::es::ContextOptions(),
                         QObject *parent = nullptr);
    ~EventServer() override;

    // Asks the library; true exactly when the connection state is 2 (connected).
    bool isConnected() const;

    // The text a failure signal carries: the message, a line break when the
    // message is not empty, then "Code: " and the code.
    static QString errorText(const korvu::es::Error &error);

    // The fetched set keyed by object id; of objects sharing an id the later one stays.
    static QHash<qint64, korvu::es::Object> objectsById(const std::vector<korvu::es::Object> &objects);

    // What connectToES() and login() do, with the address and the credentials
    // given; the sign-in outcome is written to state (if it still exists) before
    // loggedIn or loginError is emitted.
    void connectTo(const QString &host, int port);
    void signIn(AppState *state);

signals:
    void isConnectedChanged();
    void connectedToEs();
    void disconnectedFromEs();
    void connectToEsError(QString message);
    void loggedIn();
    void loginError(QString message);
    void fetchedObject();
    void fetchObjectsFailed(QString message);

public slots:
    // With AppState's host and port.
    void connectToES();
    // With AppState's credentials; the outcome is written to AppState.
    void login();
    void fetchObjects();
    // Part of the QML interface; changes nothing: the connection, the sign-in and AppState stay
    // as they are until the program ends.
    void terminate();

private:
    template<typename F> void handOver(F f);
    static void logMessage(const std::string &message, korvu::es::LogLevel level);
    void onObjectsChanged();
    void onConnectionStateChanged(korvu::es::Connection::State newState, korvu::es::Connection::State oldState);

    EventServerPriv *m_d;
};
