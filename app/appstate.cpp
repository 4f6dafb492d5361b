#include "app/appstate.h"

AppState::AppState(QObject *parent) : QObject(parent), Singleton<AppState>(this) {}

AppState::~AppState() = default;

template<typename T> T AppState::read(const T &member) const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return member;
}

template<typename T> bool AppState::write(T &member, const T &value)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (member == value)
        return false;
    member = value;
    return true;
}

bool AppState::loggedIn() const
{
    return read(m_loggedIn);
}

void AppState::setLoggedIn(bool loggedIn)
{
    if (write(m_loggedIn, loggedIn))
        emit loggedInChanged();
}

QString AppState::host() const
{
    return read(m_host);
}

void AppState::setHost(const QString &host)
{
    if (write(m_host, host))
        emit hostChanged();
}

int AppState::port() const
{
    return read(m_port);
}

void AppState::setPort(int port)
{
    if (write(m_port, port))
        emit portChanged();
}

QString AppState::username() const
{
    return read(m_username);
}

void AppState::setUsername(const QString &username)
{
    if (write(m_username, username))
        emit usernameChanged();
}

QString AppState::password() const
{
    return read(m_password);
}

void AppState::setPassword(const QString &password)
{
    if (write(m_password, password))
        emit passwordChanged();
}

qint64 AppState::currentUserId() const
{
    return read(m_currentUserId);
}

void AppState::setCurrentUserId(const qint64 &id)
{
    if (write(m_currentUserId, id))
        emit currentUserIdChanged();
}
