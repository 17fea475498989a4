/* Duktape's configuration as Debian ships it, plus the execution-time check
 * that its shared library is built without: proxy auto-config scripts come
 * from the network, and an endless loop in one must not hold the proxy
 * resolver for ever. CMake copies this file as duk_config.h beside the copy
 * of the package's duktape.c and duktape.h that the engine's library
 * compiles; the check itself is duk_deadline.c. */
#ifndef RUNTIME_DUK_CONFIG_BOUNDED_H
#define RUNTIME_DUK_CONFIG_BOUNDED_H
#include "/usr/share/duktape/duk_config.h"
#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) PlatformJSCore_TimeoutCheck(udata)
#ifdef __cplusplus
extern "C"
#endif
    duk_bool_t
    PlatformJSCore_TimeoutCheck(void *udata);
#endif
