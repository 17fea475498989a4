// Analytics: a process-wide queue of events posted in batches as a JSON
// array, with the "X-Api-Key" header, to the configured collector. Nothing is
// queued until analytics is enabled and both a key and an end point are set
// (configuration keys "analytics.enabled", "analytics.key",
// "analytics.endPoint", "analytics.maxEvents", "analytics.maxSendEvents",
// "analytics.sendInterval", "analytics.crashDump"). A global Dictionary is
// merged into every event. The queue is capped at maxEvents (the oldest go);
// Analytics_Process hands up to maxSendEvents to the sender every
// sendInterval seconds. Main thread only.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/streams/meter.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Sends one batch: the end point URL, the API key and the JSON array text.
// Answers 1 when the batch was taken (it is then no longer queued).
typedef int32 (*Analytics_SendFunc)(void *User, const char *Url, const char *Key, const char *Body, int32 Length);

int32 Analytics_Init(void);
int32 Analytics_Remove(void);
int32 Analytics_Process(void);
// Reads the "analytics" keys of a configuration Dictionary.
int32 Analytics_LoadConfigFromDictionary(Dictionary *Configuration);
int32 Analytics_IsEnabled(void);
int32 Analytics_IsCrashDumpEnabled(void);
// Queues {"event": Name, "time": seconds since the epoch} with the global
// entries and the arguments merged in; 0 while analytics is disabled.
int32 Analytics_SendEvent(const char *Name, Dictionary *Arguments);
int32 Analytics_SendEventXCache(Dictionary *Counts);
// Fills a crash record: "format", "version", then the record's own keys
// and the macros merged.
int32 Analytics_FillCrashEvent(const char *Format, const char *Version, Dictionary *Record, Dictionary *Macros);
int32 Analytics_GetGlobalDictionaryHandle(Dictionary **Global);
MeterRW *Analytics_GetRemoteMeterRWHandle(void);
int32 Analytics_GetQueuedCount(int32 *Count);
// The transport of batches (the HTTP client's POST); none keeps them queued.
// A taken batch stays queued until the transport reports it with
// Analytics_SendDone: delivered batches leave, failed ones go again at the
// next interval.
int32 Analytics_SetSendFunction(void *User, Analytics_SendFunc Function);
int32 Analytics_SendDone(int32 Delivered);
int32 Analytics_IsSending(void);
// Sends at the next Process whatever the interval says (tests, exit).
int32 Analytics_Flush(void);

RUNTIME_EXTERN_C_END
