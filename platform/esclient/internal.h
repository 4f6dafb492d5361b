#pragma once

// Shared parts behind the public handles of es/korvues.h.

#include "es/korvues.h"

#include <atomic>
#include <mutex>

namespace korvu::es::detail {

struct LoggerImpl
{
    LogCallback callback;
    LogLevel level = LogLevel::Error;
};

struct ObjectData
{
    long long id = 0;
    long long parent = 0;
    int type = 0;
    std::string name;
    std::string className;
    std::string serialNumber;
    NameValueMap settings;
};

// A pending asynchronous call as seen by its Request handles. `done` flips once:
// when the callback is about to run or when the request is cancelled.
struct RequestState
{
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};

    // True for the one caller that may complete the request.
    bool claim() { return !cancelled.load() && !done.exchange(true); }
};

// Lets the owner of callbacks stop them for good. Callbacks run with the gate
// held, so closing it waits for a running callback; the mutex is recursive
// because a callback may itself drop the last handle that closes the gate.
struct Gate
{
    std::recursive_mutex mutex;
    bool open = true;

    template<typename F> void run(F &&f)
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (open)
            f();
    }

    void close()
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        open = false;
    }
};

} // namespace korvu::es::detail
