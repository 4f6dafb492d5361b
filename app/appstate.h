#pragma once

#include "app/singleton.h"

#include <QObject>
#include <QString>
#include <mutex>

// Connection parameters, credentials and the outcome of signing in.
//
// The login window writes host, port and credentials, and the event-server
// connector the sign-in outcome, on the GUI thread; any thread may read or write
// all the same: every getter and setter holds the state mutex while it reads or
// compares and writes its value. A setter emits after releasing it, so that a
// receiver may read the state; a receiver on another thread gets the signal
// queued.
class AppState : public QObject, public Singleton<AppState>
{
    Q_OBJECT
    Q_PROPERTY(bool loggedIn READ loggedIn WRITE setLoggedIn NOTIFY loggedInChanged)
    Q_PROPERTY(QString host READ host WRITE setHost NOTIFY hostChanged)
    Q_PROPERTY(int port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)

public:
    explicit AppState(QObject *parent = nullptr);
    ~AppState() override;

    bool loggedIn() const;
    void setLoggedIn(bool loggedIn);

    QString host() const;
    void setHost(const QString &host);

    int port() const;
    void setPort(int port);

    QString username() const;
    void setUsername(const QString &username);

    QString password() const;
    void setPassword(const QString &password);

    qint64 currentUserId() const;
    void setCurrentUserId(const qint64 &id);

signals:
    void loggedInChanged();
    void hostChanged();
    void portChanged();
    void usernameChanged();
    void passwordChanged();
    void currentUserIdChanged();

private:
    template<typename T> T read(const T &member) const;
    // Whether value was new; it is stored then.
    template<typename T> bool write(T &member, const T &value);

    mutable std::mutex m_stateMutex;
    bool m_loggedIn = false;
    QString m_host;
    int m_port = 0;
    QString m_username;
    QString m_password;
    qint64 m_currentUserId = 0;
};
