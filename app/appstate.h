#pragma once

#include "app/singleton.h"

#include <QObject>
#include <QString>
#include <mutex>

// Connection parameters, credentials and the outcome of signing in.
//
// The login window writes host, port and credentials on the GUI thread. The
// event-server connector writes loggedIn and currentUserId from the client
// library's thread; those two setters hold the state mutex for their whole body,
// signal emission included, and QML receives the signals queued.
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
    std::mutex m_stateMutex;
    bool m_loggedIn = false;
    QString m_host;
    int m_port = 0;
    QString m_username;
    QString m_password;
    qint64 m_currentUserId = 0;
};
