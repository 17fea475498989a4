// The skin window's view of the dock tile (see native_taskbar.h).
#include "platform/ui/native_taskbar.h"

#include "platform/ui/native_ui.h"
#include "platform/posix/native_dock_tile.h"
#include "runtime/debug.h"

namespace {

NativeDockTileView *Tile() {
    Debug_CheckPointer(GlobalNativeUI);
    return static_cast<NativeDockTileView *>(GlobalNativeUI->DockTileView);
}

} // namespace

int32 NativeTaskbar_SetProgress(void *Window, int32 Value) {
    (void)Window;
    return Tile()->setProgress(Value);
}

int32 NativeTaskbar_SetOverlayIcon(void *Window, void *Image) {
    (void)Window;
    Tile()->setOverlayImage(Image);
    Tile()->setDirty(TRUE);
    return TRUE;
}

int32 NativeTaskbar_Refresh(void) {
    Tile()->refresh();
    return TRUE;
}
