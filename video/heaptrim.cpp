#include "video/heaptrim.h"

#include "video/videologging.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
std::atomic<bool> g_pending{false};
} // namespace

void HeapTrim::schedule(std::chrono::milliseconds delay)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        trimNow();
        return;
    }
    if (g_pending.exchange(true))
        return;
    QTimer::singleShot(delay, app, [] {
        g_pending = false;
        trimNow();
    });
}

void HeapTrim::limitArenas()
{
#if defined(__GLIBC__)
    if (qEnvironmentVariableIsSet("MALLOC_ARENA_MAX"))
        return;
    if (mallopt(M_ARENA_MAX, kArenas) != 1)
        qCWarning(lcHeapTrim, "could not limit the malloc arenas to %d", kArenas);
#endif
}

bool HeapTrim::trimNow()
{
#if defined(__GLIBC__)
    const bool released = malloc_trim(0) != 0;
    qCDebug(lcHeapTrim, "heap trimmed: %s", released ? "memory released" : "nothing to release");
    return released;
#else
    return false;
#endif
}
