// WorkQueue: a named pool of threads that runs posted jobs concurrently, in
// no guaranteed order. It starts with no thread and adds one whenever a job
// arrives while every thread is busy, up to a cap; threads then stay until
// the queue is stopped. The asynchronous files and the I/O worker each own
// one, so that a job waiting for a file completion never starves it.
//
// Stop waits for every posted job (also those posted while stopping) and
// joins the threads; it must not be called from one of them.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WorkQueue {
public:
    // Name is given to every thread, cut to the system's 15 bytes.
    WorkQueue(const char *Name, int MaxThreads);
    ~WorkQueue();
    WorkQueue(const WorkQueue &) = delete;
    WorkQueue &operator=(const WorkQueue &) = delete;

    void Post(std::function<void()> Job);
    void Stop();
    // True on one of this queue's threads.
    bool IsWorkerThread() const;
    int ThreadCount();

private:
    void Run();

    std::string Name;
    int MaxThreads;
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<std::function<void()>> Jobs;
    std::vector<std::thread> Threads;
    int Idle = 0;
    bool Stopping = false;
};
