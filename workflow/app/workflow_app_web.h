// The workflow application's share of the HTTP client: the connection pool
// and the caches it starts, ticks and removes, the cache stores "alias" and
// "workflow" it holds, and the host's handlers that may carry HTTP requests
// instead of the pool. The application's start, tick and removal call the
// three steps below; every document loader's requests go through
// WorkflowApp_WebGetRequestAdd/Remove once started.
#pragma once

#include "net/web_get_cache.h"
#include "net/web_get_request.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 1 when the handler took the request.
typedef int32 (*WorkflowApp_WebRequestFunc)(WebGetRequest *Request);

// Starts the pool and the caches, routes the loaders' requests here and
// applies the configuration's pool limits and cache stores. 0 when already
// started.
int32 WorkflowApp_WebStart(void);
// The tick's steps: the pool, then cache expiry.
int32 WorkflowApp_WebProcess(void);
// Releases the stores, removes the pool and the caches.
int32 WorkflowApp_WebStop(void);

// Both handlers, or both null to clear them; one without the other is 0.
int32 WorkflowApp_SetWebRequestHandler(WorkflowApp_WebRequestFunc Add, WorkflowApp_WebRequestFunc Remove);
// Offered to the host's handler first, else to the connection pool.
int32 WorkflowApp_WebGetRequestAdd(WebGetRequest *Request);
int32 WorkflowApp_WebGetRequestRemove(WebGetRequest *Request);
// Holds the cache store "alias" or "workflow" (created or found) and, for a
// minimum age of 0 or more, sets it; 0 when stopped or for another name.
int32 WorkflowApp_WebHoldCache(const char *Name, int32 MinAge);
// The cache store "alias" or "workflow" (no new reference); null when stopped
// or not held.
WebGetCacheStore *WorkflowApp_GetCacheStore(const char *Name);

RUNTIME_EXTERN_C_END
