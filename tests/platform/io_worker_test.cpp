// IOWorker: jobs run concurrently, the stop waits for every posted job, and
// misuse stops the program.
#include "platform/io_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/support/runtime.h"

namespace {

struct Rendezvous {
    IOWorkerJob Job;
    std::atomic<int> *Arrived;
    std::atomic<int> *Passed;
};

// Waits until both jobs have arrived: only concurrent jobs get through.
int32 MeetOther(void *Object, IOWorkerJob *Job) {
    auto *Self = reinterpret_cast<Rendezvous *>(Job);
    EXPECT_EQ(Object, Self->Arrived);
    Self->Arrived->fetch_add(1);
    while (Self->Arrived->load() < 2) std::this_thread::yield();
    Self->Passed->fetch_add(1);
    return 1;
}

struct Slow {
    IOWorkerJob Job;
    std::promise<void> Started;
    std::shared_future<void> Release;
    std::atomic<bool> Returned{false};
};

int32 WaitForRelease(void *, IOWorkerJob *Job) {
    auto *Self = reinterpret_cast<Slow *>(Job);
    Self->Started.set_value();
    Self->Release.wait();
    Self->Returned = true;
    return 1;
}

class IOWorkerTest : public RuntimeTest {};

TEST_F(IOWorkerTest, JobsRunConcurrently) {
    ASSERT_EQ(IOWorker_Init(), 1);
    std::atomic<int> Arrived{0}, Passed{0};
    Rendezvous First{{nullptr, MeetOther}, &Arrived, &Passed}, Second{{nullptr, MeetOther}, &Arrived, &Passed};
    EXPECT_EQ(IOWorker_Post(nullptr, &Arrived, &First.Job), 1);
    EXPECT_EQ(IOWorker_Post(nullptr, &Arrived, &Second.Job), 1);
    EXPECT_EQ(IOWorker_Process(), 1);
    EXPECT_EQ(IOWorker_Remove(), 1);
    EXPECT_EQ(Passed.load(), 2);
}

TEST_F(IOWorkerTest, RemoveWaitsForARunningJob) {
    ASSERT_EQ(IOWorker_Init(), 1);
    std::promise<void> Gate;
    Slow Job;
    Job.Job.Function = WaitForRelease;
    Job.Release = Gate.get_future().share();
    IOWorker_Post(nullptr, nullptr, &Job.Job);
    Job.Started.get_future().wait();
    EXPECT_EQ(IOWorker_GetPendingCount(), 1);
    auto Removed = std::async(std::launch::async, [] { return IOWorker_Remove(); });
    EXPECT_EQ(Removed.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_FALSE(Job.Returned);
    Gate.set_value();
    EXPECT_EQ(Removed.get(), 1);
    EXPECT_TRUE(Job.Returned);
}

TEST_F(IOWorkerTest, ManyJobsAllRunBeforeRemoveReturns) {
    ASSERT_EQ(IOWorker_Init(), 1);
    static std::atomic<int> Count;
    Count = 0;
    std::vector<IOWorkerJob> Jobs(5000, IOWorkerJob{nullptr, [](void *, IOWorkerJob *) -> int32 {
                                                        Count++;
                                                        return 1;
                                                    }});
    for (IOWorkerJob &Job : Jobs) IOWorker_Post(nullptr, nullptr, &Job);
    EXPECT_EQ(IOWorker_Remove(), 1);
    EXPECT_EQ(Count.load(), 5000);
    EXPECT_EQ(IOWorker_GetPendingCount(), 0);
}

TEST_F(IOWorkerTest, RemoveWithoutInitDoesNothing) { EXPECT_EQ(IOWorker_Remove(), 1); }

using IOWorkerDeathTest = IOWorkerTest;

TEST_F(IOWorkerDeathTest, MisuseIsAFatalStop) {
    IOWorkerJob Job{nullptr, [](void *, IOWorkerJob *) -> int32 { return 1; }};
    EXPECT_DEATH(IOWorker_Post(nullptr, nullptr, &Job), "Pointer is NULL");
    EXPECT_DEATH(IOWorker_AssociateDevice(), "Not implemented");
    ASSERT_EQ(IOWorker_Init(), 1);
    EXPECT_DEATH(IOWorker_Init(), "IOWorker already initialized");
    IOWorker_Remove();
}

} // namespace
