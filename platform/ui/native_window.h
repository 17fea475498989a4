// Native windows and menus: the thin layer through which the skinned user
// interface and the browser engines work a native window without knowing the
// windowing system. Every operation takes a window handle (a view stands for
// its window) and runs on the main thread after NativeUI_Init.
//
// Geometry is in integer screen points with the origin at the top left of the
// window's screen; Y is the top of the content area, Width and Height are the
// content's size. Frame styles: 0 "Normal", 2 "Popup", 1 "Borderless" and 3
// (resizable, without a name). The dock menu is filled from a Dictionary list
// of {"id", "text", "checked", "subMenu"} items; a chosen item reaches its
// window's dockMenuAction: with the item's id as its tag.
//
// Message boxes (native_window_message_box.cpp): the type word's low four
// bits choose the buttons (0 Ok; 1 Ok, Cancel; 3 Yes, No, Cancel; 4 Yes, No;
// other values the single default button), bits 4-7 the icon (0x10 stop, 0x30
// caution, else plain), higher bits are ignored. Answers: 1 Ok, 2 Cancel,
// 6 Yes, 7 No. The call blocks until the user answers (the headless model
// answers at once).
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define NATIVEWINDOW_FRAME_NORMAL 0
#define NATIVEWINDOW_FRAME_BORDERLESS 1
#define NATIVEWINDOW_FRAME_POPUP 2
#define NATIVEWINDOW_FRAME_RESIZABLE 3

#define NATIVEWINDOW_MB_OK 0x0
#define NATIVEWINDOW_MB_OKCANCEL 0x1
#define NATIVEWINDOW_MB_YESNOCANCEL 0x3
#define NATIVEWINDOW_MB_YESNO 0x4
#define NATIVEWINDOW_MB_ICONSTOP 0x10
#define NATIVEWINDOW_MB_ICONCAUTION 0x30

#define NATIVEWINDOW_ID_OK 1
#define NATIVEWINDOW_ID_CANCEL 2
#define NATIVEWINDOW_ID_YES 6
#define NATIVEWINDOW_ID_NO 7

RUNTIME_EXTERN_C_BEGIN

typedef struct NativeMenu NativeMenu;
typedef struct NativeMenuItem NativeMenuItem;

// Frame style names with their numbers, and cursor names by number with the
// system cursor each maps to (null: an image cursor from the resources).
#define NATIVEWINDOW_FRAME_NAMES 3
#define NATIVEWINDOW_CURSOR_NAMES 24
typedef struct NativeWindowFrameRow {
    const char *Name;
    int32 Number;
} NativeWindowFrameRow;
typedef struct NativeWindowCursorRow {
    const char *Name;
    const char *SystemCursor;
} NativeWindowCursorRow;
extern const NativeWindowFrameRow NativeWindow_FrameStringTable[NATIVEWINDOW_FRAME_NAMES];
extern const NativeWindowCursorRow NativeWindow_CursorStringTable[NATIVEWINDOW_CURSOR_NAMES];

// Title (UTF-16 units, or UTF-8 bytes; Length includes the terminator).
int32 NativeWindow_GetTitle(void *Window, uint16 *Output, int32 Length);
int32 NativeWindow_SetTitle(void *Window, const uint16 *Text);
int32 NativeWindow_GetTitleUtf8(void *Window, char *Output, int32 Length);
int32 NativeWindow_SetTitleUtf8(void *Window, const char *Text);

// Frame style.
int32 NativeWindow_SetFrame(void *Window, int32 Style);
int32 NativeWindow_GetFrame(void *Window, int32 *Style);
const char *NativeWindow_TranslateFrame(int32 Style);
int32 NativeWindow_TranslateFrameString(const char *Name);
int32 NativeWindow_GetFrameOffset(void *Window, int32 Width, int32 Height, int32 *DX, int32 *DY);
int32 NativeWindow_AdjustWindowSize(void *Window, int32 *X, int32 *Y, int32 *Width, int32 *Height);

// Geometry.
int32 NativeWindow_GetX(void *Window, int32 *X);
int32 NativeWindow_GetY(void *Window, int32 *Y);
int32 NativeWindow_GetWidth(void *Window, int32 *Width);
int32 NativeWindow_GetHeight(void *Window, int32 *Height);
int32 NativeWindow_GetScreenWidth(void *Window, int32 *Width);
int32 NativeWindow_GetScreenHeight(void *Window, int32 *Height);
int32 NativeWindow_Move(void *Window, int32 X, int32 Y);
int32 NativeWindow_Size(void *Window, int32 Width, int32 Height);
int32 NativeWindow_Center(void *Window, void *RelativeTo);
int32 NativeWindow_SetMinimumWidth(void *Window, int32 Width);
int32 NativeWindow_SetMinimumHeight(void *Window, int32 Height);
int32 NativeWindow_GetMinimumWidth(void *Window, int32 *Width);
int32 NativeWindow_GetMinimumHeight(void *Window, int32 *Height);

// State.
int32 NativeWindow_Show(void *Window);
int32 NativeWindow_Hide(void *Window);
int32 NativeWindow_Close(void *Window);
int32 NativeWindow_Minimize(void *Window);
int32 NativeWindow_IsMinimized(void *Window);
int32 NativeWindow_Restore(void *Window);
int32 NativeWindow_Maximize(void *Window);
int32 NativeWindow_IsMaximized(void *Window);
int32 NativeWindow_IsVisible(void *Window);

// Icons and cursor.
int32 NativeWindow_SetBigIcon(void *Window, void *Image);
int32 NativeWindow_GetBigIcon(void *Window, void **Image);
int32 NativeWindow_GetDefaultIcon(void *Window, void **Image);
int32 NativeWindow_SetCursor(void *Window, int32 Cursor);
const char *NativeWindow_TranslateCursor(int32 Cursor);
int32 NativeWindow_TranslateCursorString(const char *Name);

// Dock menu.
int32 NativeWindow_CreateMenuFromDictionary(void *Window, Dictionary *Items, NativeMenu **Menu);
int32 NativeWindow_CreateSubMenuFromDictionary(void *Window, NativeMenu *Menu, Dictionary *Items);
int32 NativeWindow_ClearDockItems(void *Window);
int32 NativeWindow_SetMenuSelected(NativeMenu *Menu, int32 Id, int32 Selected);
NativeMenuItem *NativeWindow_GetMenuItemById(NativeMenu *Menu, int32 Id);
int32 NativeWindow_DeleteMenu(NativeMenu **Menu);

// Without effect here (1), and the one that is not supported (0).
int32 NativeWindow_SetSmallIcon(void *Window, void *Image);
int32 NativeWindow_SetCanActivate(void *Window, int32 CanActivate);
int32 NativeWindow_SetProperty(void *Window, const char *Name, void *Value);
int32 NativeWindow_GetProperty(void *Window, const char *Name, void **Value);
int32 NativeWindow_BringToForeground(void *Window);
int32 NativeWindow_GetScreenDPI(void *Window, int32 *DPI);
int32 NativeWindow_SendData(void *Window, const char *Data);

// Message boxes.
int32 NativeWindow_MessageBox(void *Window, const char *Text, const char *Caption, uint32 Type);
int32 NativeWindow_MessageBoxDefault(void *Window, const char *Text, const char *Caption, uint32 Type);

// The standard alert under the default box: a record of button titles and
// numbers, an alert made from it, run modally with the framework's answer
// (1000 + button index) in *Item.
typedef struct NativeAlertParameters {
    uint32 Version;
    uint8 Movable;
    uint8 HelpButton;
    const char *DefaultText;
    const char *CancelText;
    const char *OtherText;
    int16 DefaultButton;
    int16 CancelButton;
    uint16 Position;
    uint32 Flags;
} NativeAlertParameters;

int32 CreateStandardAlert(int32 AlertType, const char *Headline, const char *InformativeText,
                          const NativeAlertParameters *Parameters, void **Alert);
int32 RunStandardAlert(void *Alert, void *Filter, int16 *Item);

RUNTIME_EXTERN_C_END
