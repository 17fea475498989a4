// Private to the Plist module (plist.cpp, plist_convert.cpp).
#pragma once

#include "formats/plist.h"

#define Plist_Check(Handle) Class_CheckHandle((Handle), PLIST_CLASSID)

struct Plist {
    ClassStruct Class;
    ClassPrintStruct Print;
    Dictionary *Dict; // attached, not owned
    int32 Minify;
    int64 ReadLimit; // bytes Plist_Load reads at most; 0: no limit
};

// Sets a Float64 item's text to the shortest form that reads back exactly.
int32 PlistInternal_SetReal(Dictionary *Owner, DictionaryItem *Item, float64 Value);
