// A Duktape heap with a cap on its bytes and a deadline, shared by the proxy
// auto-config engine and the host's page script. The record is the heap's
// user data: its deadline comes first, where the interpreter's check between
// instructions reads it (duk_deadline.c). Pass ScriptHeap_Allocate,
// _Reallocate and _Free with it to duk_create_heap; one record serves one
// heap, on that heap's thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "duktape.h"

struct ScriptHeap {
    // Monotonic nanoseconds; 0: none; 1: at once.
    int64_t Deadline = 0;
    size_t InUse = 0;
    size_t Limit = 0;
    // Set when an allocation was refused for the cap (not for the deadline);
    // the owner clears it.
    bool Refused = false;
    // Set by the owner while the heap goes: every allocation is refused, so
    // that no finalizer can make more for the heap to finalize.
    bool Closing = false;
};
static_assert(offsetof(ScriptHeap, Deadline) == 0);

int64_t ScriptHeap_Now(void);
void *ScriptHeap_Allocate(void *User, duk_size_t Size);
void *ScriptHeap_Reallocate(void *User, void *Pointer, duk_size_t Size);
void ScriptHeap_Free(void *User, void *Pointer);
