// IOWorker: see io_worker.h. The pending count and the wait for it share one
// mutex, so the stop cannot miss the last job's finish.
#include "platform/io_worker.h"

#include <condition_variable>
#include <mutex>

#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/work_queue.h"

namespace {

constexpr int MaxThreads = 64;

struct GlobalIOWorkerStruct {
    ClassStruct Class;
    WorkQueue Queue{"com.velmarsh.worker", MaxThreads};
    std::mutex Lock;
    std::condition_variable Finished;
    int32 Pending = 0;
};

GlobalIOWorkerStruct *GlobalIOWorker = nullptr;

} // namespace

int32 IOWorker_Init(void) {
    if (GlobalIOWorker != nullptr) Debug_Abort("Assertion failed (GlobalIOWorker == NULL)\nIOWorker already initialized");
    GlobalIOWorker = new GlobalIOWorkerStruct();
    Class_InitHeader(GlobalIOWorker, GLOBALIOWORKER_CLASSID, nullptr);
    return TRUE;
}

int32 IOWorker_Remove(void) {
    GlobalIOWorkerStruct *State = GlobalIOWorker;
    if (State == nullptr) return TRUE;
    {
        std::unique_lock Guard(State->Lock);
        State->Finished.wait(Guard, [State] { return State->Pending == 0; });
    }
    State->Queue.Stop();
    GlobalIOWorker = nullptr;
    delete State;
    return TRUE;
}

int32 IOWorker_Post(void *Reserved, void *Object, IOWorkerJob *Job) {
    (void)Reserved;
    GlobalIOWorkerStruct *State = GlobalIOWorker;
    Debug_CheckPointer(State);
    Debug_CheckPointer(Job);
    Debug_CheckPointer(Job->Function);
    {
        std::lock_guard Guard(State->Lock);
        State->Pending++;
    }
    State->Queue.Post([State, Object, Job] {
        Job->Function(Object, Job);
        std::lock_guard Guard(State->Lock);
        if (--State->Pending == 0) State->Finished.notify_all();
    });
    return TRUE;
}

int32 IOWorker_Process(void) { return TRUE; }

int32 IOWorker_GetPendingCount(void) {
    GlobalIOWorkerStruct *State = GlobalIOWorker;
    if (State == nullptr) return 0;
    std::lock_guard Guard(State->Lock);
    return State->Pending;
}

int32 IOWorker_AssociateDevice(void) { Debug_Abort("Not implemented"); }
