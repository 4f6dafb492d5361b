#include "defish/slicepool.h"

#include <algorithm>

SlicePool::SlicePool(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

SlicePool::~SlicePool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

int SlicePool::threadsForThisMachine()
{
    return std::max(1, int(std::thread::hardware_concurrency())) - 1;
}

int SlicePool::claim(Job *job)
{
    const int part = job->next++;
    if (job->next == job->parts)
        m_queue.erase(std::find(m_queue.begin(), m_queue.end(), job));
    return part;
}

void SlicePool::run(int parts, const std::function<void(int)> &part)
{
    if (parts <= 0)
        return;
    if (m_threads.empty() || parts == 1) {
        for (int i = 0; i < parts; ++i)
            part(i);
        return;
    }
    Job job;
    job.part = &part;
    job.parts = parts;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_queue.push_back(&job);
    m_wake.notify_all();
    while (job.next < job.parts) {
        const int i = claim(&job);
        lock.unlock();
        part(i);
        lock.lock();
        ++job.done;
    }
    // The job is off the queue: only the parts already started remain.
    m_finished.wait(lock, [&job] { return job.done == job.parts; });
}

void SlicePool::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        Job *job = m_queue.front();
        const int i = claim(job);
        lock.unlock();
        (*job->part)(i);
        lock.lock();
        // The caller returns once the count is full; after this the job is not touched again.
        if (++job->done == job->parts)
            m_finished.notify_all();
    }
}
