#pragma once

#include "app/singleton.h"
#include "es/korvues.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <vector>

class EventServerPriv;

// The link to the event server: connects, signs in and fetches the object tree
// through the client library, reporting every outcome as a signal.
//
// The library calls back on its own thread. The callbacks only emit signals
// (QML receives them queued), write AppState's signed-in flag and user id (both
// mutex-guarded), and hand a fetched object set to the GUI thread, where the
// import runs. Destroying the connector releases the library handles, after
// which no callback of theirs runs; a hand-over already queued finds the
// connector gone and does nothing.
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
    void connectToES();
    void login();
    void fetchObjects();
    void terminate();

private:
    static void logMessage(const std::string &message, korvu::es::LogLevel level);
    void onObjectsChanged();
    void onConnectionStateChanged(korvu::es::Connection::State newState, korvu::es::Connection::State oldState);

    EventServerPriv *m_d;
};
