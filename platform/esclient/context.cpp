#include "platform/esclient/contextimpl.h"

#include <algorithm>

namespace korvu::es {

namespace detail {

ContextImpl::ContextImpl(const Logger &logger_, const ContextOptions &options_) : logger(logger_.m_d), options(options_)
{
    options.connectTimeoutMs = std::max(1, options.connectTimeoutMs);
    options.heartbeatIntervalMs = std::max(1, options.heartbeatIntervalMs);
    options.heartbeatTimeoutMs = std::max(options.heartbeatIntervalMs, options.heartbeatTimeoutMs);
    options.requestTimeoutMs = std::max(1, options.requestTimeoutMs);
    options.maxFrameSize = std::max<std::size_t>(1024, std::min<std::size_t>(options.maxFrameSize, 0xffffffffu));
}

ContextImpl::~ContextImpl()
{
    std::shared_ptr<IoThread> t;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        t = std::move(m_thread);
    }
    if (!t)
        return;
    t->work.reset();
    t->io.stop();
    if (std::this_thread::get_id() == t->threadId)
        t->thread.detach(); // released from a callback: the thread ends once the callback returns
    else if (t->thread.joinable())
        t->thread.join();
}

std::shared_ptr<IoThread> ContextImpl::ioThread()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread) {
        auto t = std::make_shared<IoThread>();
        t->work.emplace(t->io.get_executor());
        // Nothing reaches the thread before this function returns (nobody has the
        // io_context yet), so the id is in place before any handler compares it.
        t->thread = std::thread([t] { t->io.run(); });
        t->threadId = t->thread.get_id();
        m_thread = std::move(t);
    }
    return m_thread;
}

asio::io_context &ContextImpl::io()
{
    return ioThread()->io;
}

bool ContextImpl::onIoThread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_thread && std::this_thread::get_id() == m_thread->threadId;
}

void ContextImpl::log(LogLevel level, const std::string &message) const
{
    if (logger && logger->callback && int(level) >= int(logger->level))
        logger->callback(message, level);
}

} // namespace detail

Context::Context() = default;

Context::Context(const Logger &logger, const ContextOptions &options)
    : m_d(std::make_shared<detail::ContextImpl>(logger, options))
{
}

bool Context::isNull() const
{
    return !m_d;
}

ContextOptions Context::options() const
{
    return m_d ? m_d->options : ContextOptions();
}

} // namespace korvu::es
