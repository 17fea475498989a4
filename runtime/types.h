// Basic types shared by every module of the runtime.
//
// The public API is C-callable (interop libraries receive plain function
// pointers), so headers wrap their declarations in RUNTIME_EXTERN_C_BEGIN/END.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

typedef int8_t int8;
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;
typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef intptr_t intptr;
typedef uintptr_t uintptr;
typedef float float32;
typedef double float64;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#ifdef __cplusplus
#define RUNTIME_EXTERN_C_BEGIN extern "C" {
#define RUNTIME_EXTERN_C_END }
#else
#define RUNTIME_EXTERN_C_BEGIN
#define RUNTIME_EXTERN_C_END
#endif

// Size of every path buffer in the system, terminator included.
#define MAX_PATH_SIZE 320
