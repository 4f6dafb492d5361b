#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few threads, shared by all views, that take over parts of one frame's work: run() hands out
// the parts of a job one by one to the pool's idle threads and to its caller, and returns when all
// are done. Several callers may run jobs at the same time; a caller works on its own job until
// nothing of it is left to start, so a busy pool only costs it the parts that others took.
class SlicePool
{
public:
    // threads: the threads beside the callers (0: run() does everything on its caller's thread).
    explicit SlicePool(int threads);
    ~SlicePool();

    SlicePool(const SlicePool &) = delete;
    SlicePool &operator=(const SlicePool &) = delete;

    // One thread less than the machine has cores: the caller is the last one.
    static int threadsForThisMachine();

    int threads() const { return int(m_threads.size()); }

    // Calls part(0) .. part(parts - 1), each once, on any of the threads, and returns after the last.
    void run(int parts, const std::function<void(int)> &part);

private:
    struct Job
    {
        const std::function<void(int)> *part = nullptr;
        int parts = 0;
        int next = 0; // the next part to start
        int done = 0;
    };
    // Under m_mutex: the next part of job to start, taking the job off the queue with its last.
    int claim(Job *job);
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;     // a job came, or the pool stops
    std::condition_variable m_finished; // a part of a job is done
    std::deque<Job *> m_queue;          // jobs with parts not yet started
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
