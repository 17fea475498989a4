// The application's dock menu, filled from Dictionaries (see native_window.h).
#include "platform/ui/native_window.h"
#include "platform/posix/native_ui_backend.h"
#include "runtime/class.h"
#include "runtime/debug.h"

namespace {

constexpr int32 MenuTextSize = 320;

NativeMenu *GlobalDockMenu = nullptr;

NativeWindowRecord *Resolve(void *Handle) {
    auto *Record = static_cast<NativeWindowRecord *>(Handle);
    Class_CheckTag(Record, ClassId, NATIVEWINDOW_CLASSID);
    return Record->Window != nullptr ? Record->Window : Record;
}

void Release(NativeMenu *Menu) {
    if (Menu != nullptr && --Menu->References == 0) delete Menu;
}

NativeMenuItem *FindById(NativeMenu *Menu, int32 Id) {
    for (NativeMenuItem *Item : Menu->Items) {
        if (Item->Tag == Id) return Item;
    }
    for (auto Item = Menu->Items.rbegin(); Item != Menu->Items.rend(); ++Item) {
        if ((*Item)->Submenu == nullptr) continue;
        if (NativeMenuItem *Found = FindById((*Item)->Submenu, Id)) return Found;
    }
    return nullptr;
}

} // namespace

NativeMenu *NativeWindow_DockMenu() {
    if (GlobalDockMenu == nullptr) GlobalDockMenu = new NativeMenu();
    return GlobalDockMenu;
}

void NativeWindow_RemoveDockMenu() {
    Release(GlobalDockMenu);
    GlobalDockMenu = nullptr;
}

int32 NativeWindow_CreateMenuFromDictionary(void *Window, Dictionary *Items, NativeMenu **Menu) {
    Debug_CheckPointer(Menu);
    NativeMenu *Target = NativeWindow_DockMenu();
    if (*Menu == nullptr) {
        Target->References++;
        *Menu = Target;
    }
    return NativeWindow_CreateSubMenuFromDictionary(Window, Target, Items);
}

int32 NativeWindow_CreateSubMenuFromDictionary(void *Window, NativeMenu *Menu, Dictionary *Items) {
    NativeWindowRecord *Record = Resolve(Window);
    Debug_CheckPointer(Menu);
    DictionaryItem *Entry = nullptr;
    Dictionary_ItemGetFirst(Items, &Entry);
    for (; Entry != nullptr; Dictionary_ItemGetNext(Items, Entry, &Entry)) {
        Dictionary *Fields = nullptr;
        int32 Type = 0;
        char Text[MenuTextSize] = "";
        int64 Id = 0;
        if (!Dictionary_ItemCompareType(Items, Entry, DICTIONARY_TYPE_DICTIONARY) ||
            !Dictionary_ItemGetDictionaryHandle(Items, Entry, &Fields))
            return FALSE;
        if (!Dictionary_GetTypeByKey(Fields, "id", &Type) || Type != DICTIONARY_TYPE_INT64 ||
            !Dictionary_GetInt64ByKey(Fields, "id", &Id))
            return FALSE;
        if (!Dictionary_GetTypeByKey(Fields, "text", &Type) || Type != DICTIONARY_TYPE_STRING ||
            !Dictionary_GetStringByKey(Fields, "text", Text, sizeof(Text)))
            return FALSE;

        auto *Item = new NativeMenuItem();
        Item->Title = Text;
        Item->Tag = (int32)Id;
        Item->Target = Record;
        Dictionary *Children = nullptr;
        if (Dictionary_GetTypeByKey(Fields, "subMenu", &Type) && Type == DICTIONARY_TYPE_LIST &&
            Dictionary_GetListByKey(Fields, "subMenu", &Children)) {
            Item->Submenu = new NativeMenu();
            Item->Submenu->Title = Text;
            if (!NativeWindow_CreateSubMenuFromDictionary(Record, Item->Submenu, Children)) {
                delete Item;
                continue;
            }
        } else if (Text[0] == '-') {
            Item->Separator = TRUE;
        } else {
            uint32 Checked = 0;
            Item->Action = "dockMenuAction:";
            if (Dictionary_GetBooleanByKey(Fields, "checked", &Checked)) Item->Checked = Checked ? TRUE : FALSE;
        }
        Menu->Items.push_back(Item);
    }
    return TRUE;
}

int32 NativeWindow_ClearDockItems(void *Window) {
    NativeWindowRecord *Record = Resolve(Window);
    if (GlobalDockMenu == nullptr) return TRUE;
    auto &Items = GlobalDockMenu->Items;
    for (size_t Index = Items.size(); Index-- > 0;) {
        if (Items[Index]->Target != Record) continue;
        delete Items[Index];
        Items.erase(Items.begin() + (ptrdiff_t)Index);
    }
    return TRUE;
}

int32 NativeWindow_SetMenuSelected(NativeMenu *Menu, int32 Id, int32 Selected) {
    NativeMenuItem *Item = NativeWindow_GetMenuItemById(Menu, Id);
    if (Item == nullptr) return FALSE;
    Item->Checked = Selected == 1 ? TRUE : FALSE;
    return TRUE;
}

NativeMenuItem *NativeWindow_GetMenuItemById(NativeMenu *Menu, int32 Id) {
    return Menu != nullptr ? FindById(Menu, Id) : nullptr;
}

int32 NativeWindow_DeleteMenu(NativeMenu **Menu) {
    Debug_CheckPointer(Menu);
    Release(*Menu);
    *Menu = nullptr;
    return TRUE;
}
