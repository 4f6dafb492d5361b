#pragma once

// Helpers for tests of the event-server client library: its callbacks run on the
// library's thread, so outcomes are collected under a mutex and awaited with a
// bound.

#include "es/korvues.h"

#include <QTcpServer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Recorder
{
public:
    void add(const std::string &entry)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back(entry);
            m_threads.push_back(std::this_thread::get_id());
        }
        m_changed.notify_all();
    }

    std::vector<std::string> entries() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

    std::vector<std::thread::id> threads() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

    // Waits until at least `count` entries are there; false after `timeoutMs`.
    bool waitFor(std::size_t count, int timeoutMs = 5000) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_entries.size() >= count; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_entries;
    std::vector<std::thread::id> m_threads;
};

inline std::string describe(const korvu::es::Error &error)
{
    return std::to_string(error.code()) + ":" + error.message();
}

// A port on 127.0.0.1 where nothing listens (taken, then given back).
inline int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const int port = server.serverPort();
    server.close();
    return port;
}
