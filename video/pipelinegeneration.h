#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>

// The one hand-over from GStreamer's threads to an object of the GUI thread. Each pipeline the
// object builds starts a new generation; what a streaming thread reports is queued to the object
// and runs only while the object lives and the pipeline that reported is still its current one.
class PipelineGeneration
{
public:
    // Any thread.
    unsigned current() const { return m_value.load(); }
    // On the owner's thread, when a pipeline is released or replaced: reports of earlier ones are dropped.
    void next() { ++m_value; }

    // Any thread: f runs in a call queued to owner, unless owner is gone or the generation has moved on
    // from reporting by then.
    template<typename F> void handOver(QObject *owner, unsigned reporting, F f) const
    {
        QPointer<QObject> guard(owner);
        const std::atomic<unsigned> *value = &m_value;
        QMetaObject::invokeMethod(
            owner,
            [guard, value, reporting, f = std::move(f)] {
                if (guard && value->load() == reporting)
                    f();
            },
            Qt::QueuedConnection);
    }

private:
    std::atomic<unsigned> m_value{0};
};
