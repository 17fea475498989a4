// The skin window's view of the application's dock tile: a progress value
// (-2 no bar, -1 moving stripes, 0-100 percent), an overlay image and the
// refresh that every skin window's tick calls (the tile redraws only when
// something changed, at most every 0.125 seconds). Main thread.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 1 when the value is in range, else 0 and nothing changes.
int32 NativeTaskbar_SetProgress(void *Window, int32 Value);
// A null image removes the overlay.
int32 NativeTaskbar_SetOverlayIcon(void *Window, void *Image);
int32 NativeTaskbar_Refresh(void);

RUNTIME_EXTERN_C_END
