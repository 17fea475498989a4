// WorkQueue: see work_queue.h.
#include "runtime/work_queue.h"

#include <pthread.h>

namespace {

// The queue whose job the current thread runs, so that Stop and the
// modules' close waits can tell a call from inside a job.
thread_local const WorkQueue *CurrentQueue = nullptr;

} // namespace

WorkQueue::WorkQueue(const char *QueueName, int Cap) : Name(QueueName), MaxThreads(Cap < 1 ? 1 : Cap) {
    if (Name.size() > 15) Name.resize(15);
}

WorkQueue::~WorkQueue() { Stop(); }

void WorkQueue::Post(std::function<void()> Job) {
    std::lock_guard Guard(Lock);
    Jobs.push_back(std::move(Job));
    // A thread is added only when none is waiting for work, so a burst of
    // jobs grows the pool while a steady trickle reuses one thread.
    if (!Stopping && Idle < (int)Jobs.size() && (int)Threads.size() < MaxThreads)
        Threads.emplace_back([this] { Run(); });
    Wake.notify_one();
}

void WorkQueue::Run() {
    CurrentQueue = this;
    pthread_setname_np(pthread_self(), Name.c_str());
    std::unique_lock Guard(Lock);
    for (;;) {
        Idle++;
        Wake.wait(Guard, [this] { return Stopping || !Jobs.empty(); });
        Idle--;
        if (Jobs.empty()) return; // stopping and drained
        std::function<void()> Job = std::move(Jobs.front());
        Jobs.pop_front();
        Guard.unlock();
        Job();
        Job = nullptr; // captured state goes before the lock is taken again
        Guard.lock();
    }
}

void WorkQueue::Stop() {
    std::vector<std::thread> Joined;
    {
        std::lock_guard Guard(Lock);
        Stopping = true;
        Wake.notify_all();
        Joined.swap(Threads);
    }
    for (std::thread &Thread : Joined) Thread.join();
    std::unique_lock Guard(Lock);
    // Jobs posted after the last thread left still run, here.
    while (!Jobs.empty()) {
        std::function<void()> Job = std::move(Jobs.front());
        Jobs.pop_front();
        Guard.unlock();
        Job();
        Guard.lock();
    }
    Stopping = false; // usable again
}

bool WorkQueue::IsWorkerThread() const { return CurrentQueue == this; }

int WorkQueue::ThreadCount() {
    std::lock_guard Guard(Lock);
    return (int)Threads.size();
}
