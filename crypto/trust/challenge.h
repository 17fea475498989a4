// The credential challenge broker: parts of the system that need a
// password, a client certificate or web credentials fire a request; the
// broker answers from a remembered answer when it can, otherwise asks the
// user interface with "Challenge"/"PromptRequest", one prompt at a time,
// and hands its "PromptResponse" to every waiting request of that filter as
// "Challenge"/"Response" on the requester's instance id.
//
// Requests and answers are Dictionaries keyed by "filter" ("webgetserver",
// "webgetproxy", "clientcert", "storagedecrypt", without case), the
// filter's matching keys and the credentials. A request or prompt answer
// with a missing or unknown filter is logged and dropped: pages can fire
// these notifications. Answers are remembered for the process only.
//
// One broker per process, made and removed with the workflow application;
// in an elevated worker it observes nothing (the windowed process answers).
// Everything runs on the main thread under the broker's critical section,
// which the HTTP connection also takes through Challenge_Lock.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Challenge_Init(uint32 Worker);
int32 Challenge_Remove(void);
// Fires "Challenge"/"Request" for the requester's instance id after a delay
// of 0; the requester observes "Challenge"/"Response" on that id.
int32 Challenge_Request(Dictionary *Request, const char *Requester);
// Marks the remembered answer for the request refused, so that the next
// request prompts; 1 when there was one.
int32 Challenge_ResponseInvalidate(Dictionary *Request);
// Merges the remembered answer for the request into Answer; 1 when found.
int32 Challenge_ResponseFind(Dictionary *Request, Dictionary *Answer);
int32 Challenge_Lock(void);
int32 Challenge_Unlock(void);

RUNTIME_EXTERN_C_END
