// IOWorker: the process-wide pool for work that must not run on the main
// thread (piece transforms, connection work, document parsing). Jobs run
// concurrently on the pool's threads in no guaranteed order and report back
// through their owner's event queue or notifications.
//
// Ownership: a job record belongs to the poster (normally a field of the
// object it works on); the poster keeps the object alive until the job has
// run. The module counts posted jobs that have not finished, and stopping it
// waits for every one of them.
#pragma once

#include "runtime/types.h"

#define GLOBALIOWORKER_CLASSID 0x0a5ceaf2u

RUNTIME_EXTERN_C_BEGIN

struct IOWorkerJob;
typedef int32 (*IOWorker_JobFunc)(void *Object, struct IOWorkerJob *Job);

// The head of a job record; the poster may embed it in a larger record.
typedef struct IOWorkerJob {
    void *Reserved;
    IOWorker_JobFunc Function; // called with (object, job record)
} IOWorkerJob;

// Makes the pool; a second call is a fatal stop.
int32 IOWorker_Init(void);
// Without the module: 1 and nothing. Otherwise waits (without limit) until no
// posted job is left, then stops the pool. Not to be called from a job.
int32 IOWorker_Remove(void);
// Queues Job->Function(Object, Job). Reserved is not used (callers pass 0).
// Always 1; posting before IOWorker_Init is a fatal stop.
int32 IOWorker_Post(void *Reserved, void *Object, IOWorkerJob *Job);
// The main-loop step: nothing to do. Always 1.
int32 IOWorker_Process(void);
// Jobs posted and not yet finished.
int32 IOWorker_GetPendingCount(void);
// Not supported: a fatal stop.
int32 IOWorker_AssociateDevice(void);

RUNTIME_EXTERN_C_END
