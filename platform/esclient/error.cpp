#include "es/korvues.h"

#include "platform/esclient/internal.h"

namespace korvu::es {

Exception::Exception(std::string message) : m_message(std::move(message)) {}

const std::string &Exception::message() const noexcept
{
    return m_message;
}

const char *Exception::what() const noexcept
{
    return m_message.c_str();
}

Error::Error(std::string message, int code) : Exception(std::move(message)), m_code(code) {}

int Error::code() const noexcept
{
    return m_code;
}

// ---------------------------------------------------------------------------

Logger::Logger() = default;

Logger::Logger(LogCallback callback, LogLevel level) : m_d(std::make_shared<detail::LoggerImpl>())
{
    m_d->callback = std::move(callback);
    m_d->level = level;
}

LogLevel Logger::level() const
{
    return m_d ? m_d->level : LogLevel::Error;
}

void Logger::log(LogLevel level, const std::string &message) const
{
    if (m_d && m_d->callback && int(level) >= int(m_d->level))
        m_d->callback(message, level);
}

// ---------------------------------------------------------------------------

Request::Request() = default;

Request::Request(std::shared_ptr<detail::RequestState> state) : m_d(std::move(state)) {}

bool Request::isNull() const
{
    return !m_d;
}

bool Request::isPending() const
{
    return m_d && !m_d->done.load() && !m_d->cancelled.load();
}

void Request::cancel()
{
    if (m_d)
        m_d->cancelled.store(true);
}

} // namespace korvu::es
