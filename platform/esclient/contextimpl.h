#pragma once

#include "platform/esclient/internal.h"

#include <asio.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace korvu::es::detail {

// The I/O thread of a context. The thread keeps its IoThread alive while it runs,
// so the io_context is never destroyed underneath it, even when the last context
// handle is released on the I/O thread itself.
struct IoThread
{
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
    std::thread::id threadId;
};

struct ContextImpl
{
    ContextImpl(const Logger &logger, const ContextOptions &options);
    ~ContextImpl();

    // Starts the I/O thread on first use.
    asio::io_context &io();
    std::shared_ptr<IoThread> ioThread();
    bool onIoThread() const;

    void log(LogLevel level, const std::string &message) const;

    std::shared_ptr<LoggerImpl> logger;
    ContextOptions options;

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<IoThread> m_thread;
};

} // namespace korvu::es::detail
