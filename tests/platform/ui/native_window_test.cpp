// Native windows on the headless model: frame styles and their names, the
// geometry round trips in top-left screen coordinates, title, state, cursor
// and the dock menu built from Dictionaries.
#include "platform/ui/native_window.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/posix/native_ui_backend.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/text/unicode.h"
#include "tests/support/log_capture.h"
#include "tests/support/native_ui.h"
#include "tests/support/temp_root.h"

namespace {

class NativeWindowTest : public NativeUITest {
  protected:
    NativeWindowRecord *Window = nullptr;
    void SetUp() override {
        NativeUITest::SetUp();
        Model->ScreenWidth = 1600;
        Model->ScreenHeight = 900;
        Window = NativeUIModel_CreateWindow(100, 200, 640, 480);
    }
    void TearDown() override {
        NativeUIModel_DeleteWindow(Window);
        NativeUITest::TearDown();
    }
    int32 X() { int32 V = -1; NativeWindow_GetX(Window, &V); return V; }
    int32 Y() { int32 V = -1; NativeWindow_GetY(Window, &V); return V; }
    int32 W() { int32 V = -1; NativeWindow_GetWidth(Window, &V); return V; }
    int32 H() { int32 V = -1; NativeWindow_GetHeight(Window, &V); return V; }
};

Dictionary *AddItem(Dictionary *List, int64 Id, const char *Text) {
    Dictionary *Item = nullptr;
    Dictionary_AddDictionary(List, nullptr, &Item, nullptr);
    if (Id >= 0) Dictionary_AddInt64(Item, "id", Id, nullptr);
    if (Text != nullptr) Dictionary_AddString(Item, "text", Text, nullptr);
    return Item;
}

} // namespace

TEST(NativeWindowNames, FrameAndCursorTables) {
    struct { const char *Name; int32 Number; } Frames[] = {
        {"Normal", 0}, {"popup", 2}, {"BORDERLESS", 1}, {"Resizable", 0}, {"", 0}};
    for (auto &Row : Frames) EXPECT_EQ(NativeWindow_TranslateFrameString(Row.Name), Row.Number) << Row.Name;
    EXPECT_STREQ(NativeWindow_TranslateFrame(2), "Popup");
    EXPECT_STREQ(NativeWindow_TranslateFrame(1), "Borderless");
    EXPECT_STREQ(NativeWindow_TranslateFrame(3), "Normal");
    EXPECT_STREQ(NativeWindow_TranslateFrame(-1), "Normal");
    const char *Order[] = {"Normal", "Popup", "Borderless"};
    for (int32 Row = 0; Row < NATIVEWINDOW_FRAME_NAMES; Row++) {
        EXPECT_STREQ(NativeWindow_FrameStringTable[Row].Name, Order[Row]);
        EXPECT_STREQ(NativeWindow_TranslateFrame(NativeWindow_FrameStringTable[Row].Number), Order[Row]);
    }

    EXPECT_STREQ(NativeWindow_TranslateCursor(0), "auto");
    EXPECT_STREQ(NativeWindow_TranslateCursor(23), "w-resize");
    EXPECT_STREQ(NativeWindow_TranslateCursor(40), "auto");
    EXPECT_EQ(NativeWindow_TranslateCursorString("NWSE-Resize"), 17);
    EXPECT_EQ(NativeWindow_TranslateCursorString("hand"), 0);
    for (int32 Number = 0; Number < 24; Number++)
        EXPECT_EQ(NativeWindow_TranslateCursorString(NativeWindow_TranslateCursor(Number)), Number);
}

TEST_F(NativeWindowTest, FrameStylesReadBack) {
    struct { int32 Set, Read, Titled, Shadow; } Rows[] = {
        {0, 0, 1, 1}, {1, 1, 0, 0}, {2, 1, 0, 0}, {3, 3, 1, 1}, {7, 0, 1, 1}};
    for (auto &Row : Rows) {
        int32 Style = -1;
        EXPECT_EQ(NativeWindow_SetFrame(Window, Row.Set), 1);
        EXPECT_EQ(NativeWindow_GetFrame(Window, &Style), 1);
        EXPECT_EQ(Style, Row.Read) << Row.Set;
        EXPECT_EQ((Window->StyleMask & NATIVE_STYLE_TITLED) != 0, Row.Titled != 0) << Row.Set;
        EXPECT_EQ(Window->HasShadow, Row.Shadow) << Row.Set;
        EXPECT_NE(Window->StyleMask & NATIVE_STYLE_CLOSABLE, 0u);
    }
}

TEST_F(NativeWindowTest, GeometryRoundTrips) {
    // 480-point frame with a 22-point title bar: content 458 high.
    EXPECT_EQ(W(), 640);
    EXPECT_EQ(H(), 458);
    EXPECT_EQ(Y(), 900 - 200 - 458);
    struct { int32 X, Y; } Moves[] = {{0, 0}, {10, 20}, {-50, 700}, {1599, 899}};
    for (auto &Move : Moves) {
        EXPECT_EQ(NativeWindow_Move(Window, Move.X, Move.Y), 1);
        EXPECT_EQ(X(), Move.X);
        EXPECT_EQ(Y(), Move.Y);
    }
    // Size keeps the left edge and the top of the frame.
    NativeWindow_Move(Window, 30, 40);
    int32 Top = Window->FrameY + Window->FrameHeight;
    EXPECT_EQ(NativeWindow_Size(Window, 300, 200), 1);
    EXPECT_EQ(X(), 30);
    EXPECT_EQ(Y(), 40);
    EXPECT_EQ(Window->FrameY + Window->FrameHeight, Top);
    EXPECT_EQ(W(), 300);
    EXPECT_EQ(H(), 178);

    // Without a title bar the content is the whole frame.
    NativeWindow_SetFrame(Window, 1);
    EXPECT_EQ(H(), 200);
    NativeWindow_Move(Window, 5, 6);
    EXPECT_EQ(Y(), 6);

    int32 Width = 0, Height = 0;
    NativeWindow_GetScreenWidth(Window, &Width);
    NativeWindow_GetScreenHeight(Window, &Height);
    EXPECT_EQ(Width, 1600);
    EXPECT_EQ(Height, 900);
}

TEST_F(NativeWindowTest, FrameOffsetAndAdjustedSize) {
    int32 DX = -1, DY = -1, X = 1, Y = 2, Width = 300, Height = 200;
    NativeWindow_GetFrameOffset(Window, 300, 200, &DX, &DY);
    EXPECT_EQ(DX, 0);
    EXPECT_EQ(DY, 22);
    NativeWindow_AdjustWindowSize(Window, &X, &Y, &Width, &Height);
    EXPECT_EQ(Height, 222);
    EXPECT_EQ(Width, 300);
    NativeWindow_SetFrame(Window, 2);
    NativeWindow_GetFrameOffset(Window, 300, 200, &DX, &DY);
    EXPECT_EQ(DY, 0);
    Height = 200;
    NativeWindow_AdjustWindowSize(Window, &X, &Y, &Width, &Height);
    EXPECT_EQ(Height, 200);
}

TEST_F(NativeWindowTest, CentresOnScreenAndOnAnotherWindow) {
    NativeWindow_Center(Window, nullptr);
    EXPECT_EQ(Window->FrameX, (1600 - 640) / 2);
    EXPECT_EQ(Window->FrameY, (900 - 480) / 2);

    NativeWindowRecord *Other = NativeUIModel_CreateWindow(0, 0, 101, 51);
    NativeWindow_Move(Other, 300, 100);
    NativeWindow_Center(Window, Other);
    // Offsets are half the differences, rounded toward zero: (101-640)/2 = -269, (29-458)/2 = -214.
    EXPECT_EQ(X(), 300 - 269);
    EXPECT_EQ(Y(), 100 - 214);
    NativeUIModel_DeleteWindow(Other);
}

TEST_F(NativeWindowTest, ViewStandsForItsWindow) {
    NativeWindowRecord *View = NativeUIModel_CreateView(Window);
    NativeWindow_SetTitleUtf8(View, "Viewed");
    NativeWindow_SetMinimumWidth(View, 120);
    NativeWindow_SetMinimumHeight(Window, 90);
    int32 Width = 0, Height = 0;
    NativeWindow_GetMinimumWidth(Window, &Width);
    NativeWindow_GetMinimumHeight(View, &Height);
    EXPECT_EQ(Width, 120);
    EXPECT_EQ(Height, 90);
    EXPECT_EQ(Window->Title, "Viewed");
    NativeUIModel_DeleteWindow(View);
}

TEST_F(NativeWindowTest, TitleInUtf8AndUtf16) {
    NativeWindow_SetTitleUtf8(Window, "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80");
    uint16 Units[32] = {};
    ASSERT_EQ(NativeWindow_GetTitle(Window, Units, 32), 1);
    const uint16 Expected[] = {'G', 'r', 0xFC, 0xDF, 'e', ' ', 0xD83D, 0xDE00, 0};
    for (size_t Index = 0; Index < sizeof(Expected) / 2; Index++) EXPECT_EQ(Units[Index], Expected[Index]);
    const uint16 Title[] = {'A', 0x20AC, 0};
    NativeWindow_SetTitle(Window, Title);
    char Utf8[16] = "";
    NativeWindow_GetTitleUtf8(Window, Utf8, sizeof(Utf8));
    EXPECT_STREQ(Utf8, "A\xE2\x82\xAC");
    NativeWindow_GetTitleUtf8(Window, Utf8, 3);
    EXPECT_STREQ(Utf8, "A");
}

TEST_F(NativeWindowTest, ShowHideMinimiseZoom) {
    EXPECT_EQ(NativeWindow_IsVisible(Window), 0);
    NativeWindow_Show(Window);
    EXPECT_EQ(NativeWindow_IsVisible(Window), 1);
    EXPECT_EQ(Window->Key, 1);
    NativeWindow_Minimize(Window);
    EXPECT_EQ(NativeWindow_IsMinimized(Window), 1);
    NativeWindow_Restore(Window);
    EXPECT_EQ(NativeWindow_IsMinimized(Window), 0);
    // Zoom counts as maximised only for a resizable window.
    NativeWindow_Maximize(Window);
    EXPECT_EQ(NativeWindow_IsMaximized(Window), 0);
    NativeWindow_SetFrame(Window, 3);
    EXPECT_EQ(NativeWindow_IsMaximized(Window), 1);
    NativeWindow_Hide(Window);
    EXPECT_EQ(NativeWindow_IsVisible(Window), 0);
    NativeWindow_Show(Window);
    NativeWindow_Close(Window);
    EXPECT_EQ(NativeWindow_IsVisible(Window), 0);
    EXPECT_EQ(Window->Closed, 1);
}

TEST_F(NativeWindowTest, CursorsFromTheSystemOrTheResources) {
    std::string Resources = TempRoot() + "/native-window-XXXXXX";
    ASSERT_NE(mkdtemp(Resources.data()), nullptr);
    NativeUI_SetResourceDirectory((Resources + "/").c_str());
    std::string Help = Resources + "/help.png";

    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    struct { int32 Number; const char *Cursor; bool Logged; } Rows[] = {
        {8, "pointingHand", false}, {10, "IBeam", false}, {2, "crosshair", false},
        {4, "arrow", true}, {40, "arrow", true}, {-1, "arrow", true}};
    for (auto &Row : Rows) {
        Captured.clear();
        NativeWindow_SetCursor(Window, Row.Number);
        EXPECT_EQ(Window->Cursor, Row.Cursor) << Row.Number;
        EXPECT_EQ(Captured.find("Unsupported cursor (") != std::string::npos, Row.Logged) << Row.Number;
    }
    NativeWindow_SetCursor(Window, 4);
    EXPECT_NE(Captured.find("Unsupported cursor (help) using default instead. To implement this cursor add "
                            "help.png to the Resources directory\n"),
              std::string::npos);
    NativeWindow_SetCursor(Window, 40);
    EXPECT_NE(Captured.find("Unsupported cursor (auto)"), std::string::npos);

    FILE *File = fopen(Help.c_str(), "w");
    ASSERT_NE(File, nullptr);
    fclose(File);
    Captured.clear();
    NativeWindow_SetCursor(Window, 4);
    EXPECT_EQ(Window->Cursor, Help);
    EXPECT_EQ(Captured.find("Unsupported"), std::string::npos);
    Debug_PrintCallback(nullptr);
    unlink(Help.c_str());
    rmdir(Resources.c_str());
    NativeUI_SetResourceDirectory(nullptr);
}

TEST_F(NativeWindowTest, IconGoesToTheDockTile) {
    int Image = 0;
    void *Read = nullptr;
    NativeWindow_SetBigIcon(Window, &Image);
    NativeWindow_GetBigIcon(Window, &Read);
    EXPECT_EQ(Read, &Image);
    NativeWindow_GetDefaultIcon(Window, &Read);
    EXPECT_EQ(Read, &Image);
    EXPECT_EQ(Model->ApplicationIcon, &Image);
}

TEST_F(NativeWindowTest, NoOpsAndSendData) {
    int32 DPI = 77;
    EXPECT_EQ(NativeWindow_SetSmallIcon(Window, nullptr), 1);
    EXPECT_EQ(NativeWindow_SetCanActivate(Window, 0), 1);
    EXPECT_EQ(NativeWindow_BringToForeground(Window), 1);
    EXPECT_EQ(NativeWindow_GetScreenDPI(Window, &DPI), 1);
    EXPECT_EQ(DPI, 77);
    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    EXPECT_EQ(NativeWindow_SendData(Window, "{}"), 0);
    EXPECT_NE(Captured.find("NativeWindow_SendDataJSON not supported on macOS"), std::string::npos);
    Debug_PrintCallback(nullptr);
}

TEST_F(NativeWindowTest, MenuFromDictionary) {
    Dictionary *Items = nullptr;
    Dictionary_Create(&Items);
    AddItem(Items, 1, "Open");
    Dictionary_AddBoolean(AddItem(Items, 2, "Pinned"), "checked", 1, nullptr);
    AddItem(Items, 3, "-");
    Dictionary *More = AddItem(Items, 4, "More");
    Dictionary *Children = nullptr;
    Dictionary_AddList(More, "subMenu", &Children, nullptr);
    AddItem(Children, 41, "Deep");
    Dictionary_AddBoolean(AddItem(Children, 42, "Checked deep"), "checked", 1, nullptr);

    NativeMenu *Menu = nullptr;
    ASSERT_EQ(NativeWindow_CreateMenuFromDictionary(Window, Items, &Menu), 1);
    ASSERT_EQ(Menu, NativeWindow_DockMenu());
    ASSERT_EQ(Menu->Items.size(), 4u);
    EXPECT_EQ(Menu->Items[0]->Title, "Open");
    EXPECT_EQ(Menu->Items[0]->Action, "dockMenuAction:");
    EXPECT_EQ(Menu->Items[0]->Target, Window);
    EXPECT_EQ(Menu->Items[1]->Checked, 1);
    EXPECT_EQ(Menu->Items[2]->Separator, 1);
    EXPECT_EQ(Menu->Items[2]->Tag, 3);
    EXPECT_EQ(Menu->Items[3]->Action, "");
    ASSERT_NE(Menu->Items[3]->Submenu, nullptr);
    EXPECT_EQ(Menu->Items[3]->Submenu->Title, "More");
    EXPECT_EQ(Menu->Items[3]->Submenu->Items.size(), 2u);

    EXPECT_EQ(NativeWindow_GetMenuItemById(Menu, 42)->Title, "Checked deep");
    EXPECT_EQ(NativeWindow_GetMenuItemById(Menu, 99), nullptr);
    EXPECT_EQ(NativeWindow_GetMenuItemById(nullptr, 1), nullptr);
    EXPECT_EQ(NativeWindow_SetMenuSelected(Menu, 42, 0), 1);
    EXPECT_EQ(NativeWindow_GetMenuItemById(Menu, 42)->Checked, 0);
    EXPECT_EQ(NativeWindow_SetMenuSelected(Menu, 1, 2), 1);
    EXPECT_EQ(NativeWindow_GetMenuItemById(Menu, 1)->Checked, 0);
    EXPECT_EQ(NativeWindow_SetMenuSelected(Menu, 1, 1), 1);
    EXPECT_EQ(NativeWindow_GetMenuItemById(Menu, 1)->Checked, 1);

    NativeWindow_DeleteMenu(&Menu);
    EXPECT_EQ(Menu, nullptr);
    Dictionary_Delete(&Items);
}

TEST_F(NativeWindowTest, MenuStopsAtTheFirstBadItem) {
    struct { int64 Id; const char *Text; } Second[] = {{2, nullptr}, {-1, "No id"}};
    for (auto &Bad : Second) {
        Dictionary *Items = nullptr;
        Dictionary_Create(&Items);
        AddItem(Items, 1, "First");
        AddItem(Items, Bad.Id, Bad.Text);
        AddItem(Items, 3, "Third");
        NativeMenu *Menu = nullptr;
        EXPECT_EQ(NativeWindow_CreateMenuFromDictionary(Window, Items, &Menu), 0);
        ASSERT_EQ(Menu->Items.size(), 1u);
        EXPECT_EQ(Menu->Items[0]->Title, "First");
        NativeWindow_ClearDockItems(Window);
        NativeWindow_DeleteMenu(&Menu);
        Dictionary_Delete(&Items);
    }
    // A submenu whose fill fails is left out; the walk goes on.
    Dictionary *Items = nullptr;
    Dictionary_Create(&Items);
    Dictionary *Children = nullptr;
    Dictionary_AddList(AddItem(Items, 5, "Broken"), "subMenu", &Children, nullptr);
    AddItem(Children, 51, nullptr);
    AddItem(Items, 6, "After");
    NativeMenu *Menu = nullptr;
    EXPECT_EQ(NativeWindow_CreateMenuFromDictionary(Window, Items, &Menu), 1);
    ASSERT_EQ(Menu->Items.size(), 1u);
    EXPECT_EQ(Menu->Items[0]->Title, "After");
    NativeWindow_DeleteMenu(&Menu);
    Dictionary_Delete(&Items);
}

TEST_F(NativeWindowTest, ClearingDockItemsKeepsOtherWindows) {
    NativeWindowRecord *Other = NativeUIModel_CreateWindow(0, 0, 10, 10);
    Dictionary *Items = nullptr;
    Dictionary_Create(&Items);
    AddItem(Items, 1, "Mine");
    AddItem(Items, 2, "Mine too");
    Dictionary *OtherItems = nullptr;
    Dictionary_Create(&OtherItems);
    AddItem(OtherItems, 7, "Theirs");
    NativeMenu *Menu = nullptr;
    NativeWindow_CreateMenuFromDictionary(Window, Items, &Menu);
    NativeWindow_CreateMenuFromDictionary(Other, OtherItems, &Menu);
    NativeWindow_CreateMenuFromDictionary(Window, Items, &Menu);
    ASSERT_EQ(Menu->Items.size(), 5u);
    NativeWindow_ClearDockItems(Window);
    ASSERT_EQ(Menu->Items.size(), 1u);
    EXPECT_EQ(Menu->Items[0]->Title, "Theirs");
    NativeWindow_DeleteMenu(&Menu);
    Dictionary_Delete(&Items);
    Dictionary_Delete(&OtherItems);
    NativeUIModel_DeleteWindow(Other);
}
