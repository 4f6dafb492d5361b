#include "app/appstate.h"

AppState::AppState(QObject *parent) : QObject(parent), Singleton<AppState>(this) {}

AppState::~AppState() = default;

bool AppState::loggedIn() const
{
    return m_loggedIn;
}

void AppState::setLoggedIn(bool loggedIn)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_loggedIn == loggedIn)
        return;
    m_loggedIn = loggedIn;
    emit loggedInChanged();
}

QString AppState::host() const
{
    return m_host;
}

void AppState::setHost(const QString &host)
{
    if (m_host == host)
        return;
    m_host = host;
    emit hostChanged();
}

int AppState::port() const
{
    return m_port;
}

void AppState::setPort(int port)
{
    if (m_port == port)
        return;
    m_port = port;
    emit portChanged();
}

QString AppState::username() const
{
    return m_username;
}

void AppState::setUsername(const QString &username)
{
    if (m_username == username)
        return;
    m_username = username;
    emit usernameChanged();
}

QString AppState::password() const
{
    return m_password;
}

void AppState::setPassword(const QString &password)
{
    if (m_password == password)
        return;
    m_password = password;
    emit passwordChanged();
}

qint64 AppState::currentUserId() const
{
    return m_currentUserId;
}

void AppState::setCurrentUserId(const qint64 &id)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_currentUserId == id)
        return;
    m_currentUserId = id;
    emit currentUserIdChanged();
}
