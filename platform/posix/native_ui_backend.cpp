// The backend's out-of-line default. Kept apart from native_ui.cpp so that
// the GTK module, which cannot reach the program's hidden symbols, compiles
// its own copy (and with it the base class's type information).
#include "platform/posix/native_ui_backend.h"

#include <poll.h>

int32 NativeUIBackend::Poll(int32 Descriptor, int32 TimeoutMS) {
    pollfd Wait{Descriptor, POLLIN, 0};
    return poll(&Wait, 1, TimeoutMS) > 0 && (Wait.revents & POLLIN) != 0 ? TRUE : FALSE;
}
