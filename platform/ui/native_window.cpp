// Native windows: title, frame style, geometry, state, icons and cursor (see
// native_window.h). The record keeps the framework's view of the window; the
// backend shows it after every change.
#include "platform/ui/native_window.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "platform/ui/native_ui.h"
#include "platform/posix/native_dock_tile.h"
#include "platform/posix/native_ui_backend.h"
#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode.h"

const NativeWindowFrameRow NativeWindow_FrameStringTable[NATIVEWINDOW_FRAME_NAMES] = {
    {"Normal", 0}, {"Popup", 2}, {"Borderless", 1}};

// A null system cursor means the cursor is an image "<name>.png" among the
// resources.
const NativeWindowCursorRow NativeWindow_CursorStringTable[NATIVEWINDOW_CURSOR_NAMES] = {
    {"auto", "arrow"},         {"default", "arrow"},          {"crosshair", "crosshair"},
    {"allscroll", nullptr},    {"help", nullptr},             {"move", "closedHand"},
    {"nodrop", "operationNotAllowed"}, {"not-allowed", "operationNotAllowed"}, {"pointer", "pointingHand"},
    {"progress", nullptr},     {"text", "IBeam"},             {"wait", nullptr},
    {"n-resize", "resizeUp"},  {"ne-resize", nullptr},        {"nesw-resize", nullptr},
    {"ns-resize", "resizeUpDown"}, {"nw-resize", nullptr},    {"nwse-resize", nullptr},
    {"e-resize", "resizeRight"}, {"ew-resize", "resizeLeftRight"}, {"s-resize", "resizeDown"},
    {"se-resize", nullptr},    {"sw-resize", nullptr},        {"w-resize", "resizeLeft"},
};

namespace {

NativeWindowRecord *Resolve(void *Handle) {
    auto *Record = static_cast<NativeWindowRecord *>(Handle);
    Class_CheckTag(Record, ClassId, NATIVEWINDOW_CLASSID);
    return Record->Window != nullptr ? Record->Window : Record;
}

void Apply(NativeWindowRecord *Window) {
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->WindowApply(Window);
}

int32 TitleBar(const NativeWindowRecord *Window) {
    if ((Window->StyleMask & NATIVE_STYLE_TITLED) == 0 || NativeUI_Backend() == nullptr) return 0;
    return NativeUI_Backend()->TitleBarHeight();
}

int32 ContentHeight(const NativeWindowRecord *Window) { return Window->FrameHeight - TitleBar(Window); }

int32 ScreenHeight(NativeWindowRecord *Window) {
    int32 Width = 0, Height = 0;
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->ScreenSize(Window, &Width, &Height);
    return Height;
}

int32 Out(int32 *Output, int32 Value) {
    Debug_CheckPointer(Output);
    *Output = Value;
    return TRUE;
}

} // namespace

int32 NativeWindow_GetTitle(void *Window, uint16 *Output, int32 Length) {
    Debug_CheckPointer(Output);
    return StringUtf8_CopyToUtf16(Output, Resolve(Window)->Title.c_str(), Length) ? TRUE : FALSE;
}

int32 NativeWindow_SetTitle(void *Window, const uint16 *Text) {
    Debug_CheckPointer(Text);
    char *Copy = nullptr;
    if (!StringUtf16_CreateUtf8(Text, &Copy)) return FALSE;
    int32 Result = NativeWindow_SetTitleUtf8(Window, Copy);
    StringUtf16_DeleteUtf8(&Copy);
    return Result;
}

int32 NativeWindow_GetTitleUtf8(void *Window, char *Output, int32 Length) {
    Debug_CheckPointer(Output);
    if (Length < 1) return FALSE;
    // Cut at a character boundary: half a character is no title.
    const std::string &Title = Resolve(Window)->Title;
    size_t Count = std::min(Title.size(), (size_t)Length - 1);
    while (Count > 0 && Count < Title.size() && ((uint8)Title[Count] & 0xC0) == 0x80) Count--;
    memcpy(Output, Title.data(), Count);
    Output[Count] = 0;
    return TRUE;
}

int32 NativeWindow_SetTitleUtf8(void *Window, const char *Text) {
    Debug_CheckPointer(Text);
    NativeWindowRecord *Record = Resolve(Window);
    Record->Title = Text;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_SetFrame(void *Window, int32 Style) {
    NativeWindowRecord *Record = Resolve(Window);
    constexpr uint32 Controls = NATIVE_STYLE_CLOSABLE | NATIVE_STYLE_MINIATURIZABLE;
    if (Style == NATIVEWINDOW_FRAME_BORDERLESS || Style == NATIVEWINDOW_FRAME_POPUP) {
        Record->StyleMask = Controls;
        Record->ClearBackground = TRUE;
        Record->HasShadow = FALSE;
    } else {
        Record->StyleMask = NATIVE_STYLE_TITLED | Controls | (Style == 3 ? NATIVE_STYLE_RESIZABLE : 0);
        Record->ClearBackground = FALSE;
        Record->HasShadow = TRUE;
    }
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_GetFrame(void *Window, int32 *Style) {
    NativeWindowRecord *Record = Resolve(Window);
    if (Record->StyleMask & NATIVE_STYLE_RESIZABLE) return Out(Style, NATIVEWINDOW_FRAME_RESIZABLE);
    return Out(Style, (Record->StyleMask & NATIVE_STYLE_TITLED) ? NATIVEWINDOW_FRAME_NORMAL : NATIVEWINDOW_FRAME_BORDERLESS);
}

const char *NativeWindow_TranslateFrame(int32 Style) {
    for (const NativeWindowFrameRow &Row : NativeWindow_FrameStringTable) {
        if (Row.Number == Style) return Row.Name;
    }
    return "Normal";
}

int32 NativeWindow_TranslateFrameString(const char *Name) {
    Debug_CheckPointer(Name);
    for (const NativeWindowFrameRow &Row : NativeWindow_FrameStringTable) {
        if (String_CompareWithoutCase(Row.Name, Name)) return Row.Number;
    }
    return 0;
}

int32 NativeWindow_GetFrameOffset(void *Window, int32 Width, int32 Height, int32 *DX, int32 *DY) {
    (void)Width;
    (void)Height;
    Out(DX, 0);
    return Out(DY, TitleBar(Resolve(Window)));
}

int32 NativeWindow_AdjustWindowSize(void *Window, int32 *X, int32 *Y, int32 *Width, int32 *Height) {
    (void)X;
    (void)Y;
    (void)Width;
    Debug_CheckPointer(Height);
    *Height += TitleBar(Resolve(Window));
    return TRUE;
}

int32 NativeWindow_GetX(void *Window, int32 *X) { return Out(X, Resolve(Window)->FrameX); }

int32 NativeWindow_GetY(void *Window, int32 *Y) {
    NativeWindowRecord *Record = Resolve(Window);
    return Out(Y, ScreenHeight(Record) - Record->FrameY - ContentHeight(Record));
}

int32 NativeWindow_GetWidth(void *Window, int32 *Width) { return Out(Width, Resolve(Window)->FrameWidth); }
int32 NativeWindow_GetHeight(void *Window, int32 *Height) { return Out(Height, ContentHeight(Resolve(Window))); }

int32 NativeWindow_GetScreenWidth(void *Window, int32 *Width) {
    int32 Height = 0;
    Debug_CheckPointer(Width);
    *Width = 0;
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->ScreenSize(Resolve(Window), Width, &Height);
    return TRUE;
}

int32 NativeWindow_GetScreenHeight(void *Window, int32 *Height) { return Out(Height, ScreenHeight(Resolve(Window))); }

int32 NativeWindow_Move(void *Window, int32 X, int32 Y) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->FrameX = X;
    Record->FrameY = ScreenHeight(Record) - Y - ContentHeight(Record);
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_Size(void *Window, int32 Width, int32 Height) {
    NativeWindowRecord *Record = Resolve(Window);
    int32 Top = Record->FrameY + Record->FrameHeight;
    Record->FrameWidth = Width;
    Record->FrameHeight = Height;
    Record->FrameY = Top - Height;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_Center(void *Window, void *RelativeTo) {
    NativeWindowRecord *Record = Resolve(Window);
    if (RelativeTo == nullptr) {
        int32 Width = 0, Height = 0;
        if (NativeUI_Backend() != nullptr) NativeUI_Backend()->ScreenSize(Record, &Width, &Height);
        Record->FrameX = (Width - Record->FrameWidth) / 2;
        Record->FrameY = (Height - Record->FrameHeight) / 2;
        Apply(Record);
        return TRUE;
    }
    NativeWindowRecord *Other = Resolve(RelativeTo);
    int32 OtherX = 0, OtherY = 0;
    NativeWindow_GetX(Other, &OtherX);
    NativeWindow_GetY(Other, &OtherY);
    return NativeWindow_Move(Record, OtherX + (Other->FrameWidth - Record->FrameWidth) / 2,
                             OtherY + (ContentHeight(Other) - ContentHeight(Record)) / 2);
}

int32 NativeWindow_SetMinimumWidth(void *Window, int32 Width) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->MinimumWidth = Width;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_SetMinimumHeight(void *Window, int32 Height) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->MinimumHeight = Height;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_GetMinimumWidth(void *Window, int32 *Width) { return Out(Width, Resolve(Window)->MinimumWidth); }
int32 NativeWindow_GetMinimumHeight(void *Window, int32 *Height) {
    return Out(Height, Resolve(Window)->MinimumHeight);
}

int32 NativeWindow_Show(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->Visible = TRUE;
    Record->Key = TRUE;
    Record->Closed = FALSE;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_Hide(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->Visible = FALSE;
    Record->Key = FALSE;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_Close(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->Visible = FALSE;
    Record->Closed = TRUE;
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->WindowClose(Record);
    return TRUE;
}

int32 NativeWindow_Minimize(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->Minimized = TRUE;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_IsMinimized(void *Window) { return Resolve(Window)->Minimized; }

int32 NativeWindow_Restore(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->Minimized = FALSE;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_Maximize(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    Record->Zoomed = TRUE;
    Apply(Record);
    return TRUE;
}

int32 NativeWindow_IsMaximized(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    return (Record->StyleMask & NATIVE_STYLE_RESIZABLE) != 0 && Record->Zoomed ? TRUE : FALSE;
}

int32 NativeWindow_IsVisible(void *Window) { return Resolve(Window)->Visible; }

int32 NativeWindow_SetBigIcon(void *Window, void *Image) {
    Resolve(Window);
    Debug_CheckPointer(GlobalNativeUI);
    auto *Tile = static_cast<NativeDockTileView *>(GlobalNativeUI->DockTileView);
    Tile->setApplicationIcon(Image);
    Tile->setDirty(TRUE);
    NativeUI_Backend()->SetApplicationIcon(Image);
    return TRUE;
}

int32 NativeWindow_GetBigIcon(void *Window, void **Image) { return NativeWindow_GetDefaultIcon(Window, Image); }

int32 NativeWindow_GetDefaultIcon(void *Window, void **Image) {
    (void)Window;
    Debug_CheckPointer(Image);
    Debug_CheckPointer(GlobalNativeUI);
    *Image = static_cast<NativeDockTileView *>(GlobalNativeUI->DockTileView)->applicationIcon();
    return TRUE;
}

int32 NativeWindow_SetCursor(void *Window, int32 Cursor) {
    NativeWindowRecord *Record = Resolve(Window);
    bool Known = Cursor >= 0 && Cursor < NATIVEWINDOW_CURSOR_NAMES;
    if (Known && NativeWindow_CursorStringTable[Cursor].SystemCursor != nullptr) {
        Record->Cursor = NativeWindow_CursorStringTable[Cursor].SystemCursor;
    } else {
        const char *Name = NativeWindow_CursorStringTable[Known ? Cursor : 0].Name;
        std::string Image = NativeUI_ResourceDirectory() + Name + ".png";
        if (Path_Exists(Image.c_str())) {
            Record->Cursor = Image;
        } else {
            Log_Print(LOG_DEBUG,
                      "Unsupported cursor (%s) using default instead. To implement this cursor add %s.png to the "
                      "Resources directory\n",
                      Name, Name);
            Record->Cursor = "arrow";
        }
    }
    Apply(Record);
    return TRUE;
}

const char *NativeWindow_TranslateCursor(int32 Cursor) {
    if (Cursor < 0 || Cursor >= NATIVEWINDOW_CURSOR_NAMES) return "auto";
    return NativeWindow_CursorStringTable[Cursor].Name;
}

int32 NativeWindow_TranslateCursorString(const char *Name) {
    Debug_CheckPointer(Name);
    for (int32 Index = 0; Index < NATIVEWINDOW_CURSOR_NAMES; Index++) {
        if (String_CompareWithoutCase(NativeWindow_CursorStringTable[Index].Name, Name)) return Index;
    }
    return 0;
}

int32 NativeWindow_SetSmallIcon(void *, void *) { return TRUE; }
int32 NativeWindow_SetCanActivate(void *, int32) { return TRUE; }
int32 NativeWindow_SetProperty(void *, const char *, void *) { return TRUE; }
int32 NativeWindow_GetProperty(void *, const char *, void **) { return TRUE; }
int32 NativeWindow_BringToForeground(void *) { return TRUE; }
int32 NativeWindow_GetScreenDPI(void *, int32 *) { return TRUE; }

int32 NativeWindow_SendData(void *, const char *) {
    Log_Print(LOG_ERROR, "NativeWindow_SendDataJSON not supported on macOS\n");
    return FALSE;
}
