/* The execution-time check that duk_config_bounded.h builds into Duktape,
 * part of the engine's library so that any program linking the engine has
 * it. A heap made with user data carries its deadline first (monotonic
 * nanoseconds, 0 for none; proxy scripts and the host's page script both
 * do); a heap made without runs unbounded. */
#include <stdint.h>
#include <time.h>

#include "duktape.h"

duk_bool_t PlatformJSCore_TimeoutCheck(void *udata) {
    if (udata == NULL) return 0;
    const int64_t Deadline = *(const int64_t *)udata;
    if (Deadline == 0) return 0;
    struct timespec Now;
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return (int64_t)Now.tv_sec * 1000000000 + Now.tv_nsec > Deadline;
}
