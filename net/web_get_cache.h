// Named in-memory caches of HTTP responses: URL -> body and content type.
// A store answers a URL without a request while its entry is younger than
// the store's minimum age; hits and misses are counted. Stores are reference
// counted and found by name (without case); main thread only.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef struct WebGetCacheStore WebGetCacheStore;

int32 WebGetCache_Init(void);
// Drops every store's entries and the table (stores still referenced live on
// until their last release).
int32 WebGetCache_Remove(void);
// Drops entries older than their store's minimum age.
int32 WebGetCache_Expire(void);
// The named store (created when absent) with a new reference; null without
// Init or for a name longer than 59 characters.
WebGetCacheStore *WebGetCache_AddStore(const char *Name);
int32 WebGetCacheStore_Release(WebGetCacheStore **Handle);
int32 WebGetCacheStore_SetMinAge(WebGetCacheStore *Handle, int32 Seconds);
int32 WebGetCacheStore_Put(WebGetCacheStore *Handle, const char *Url, const char *ContentType, const uint8 *Body,
                           int32 Length);
// 1 and a copy of the body (Memory_Free with the length) when fresh.
int32 WebGetCacheStore_Get(WebGetCacheStore *Handle, const char *Url, char *ContentType, int32 TypeSize,
                           uint8 **Body, int32 *Length);
int32 WebGetCacheStore_GetCounts(WebGetCacheStore *Handle, int32 *Hits, int32 *Misses);

RUNTIME_EXTERN_C_END
