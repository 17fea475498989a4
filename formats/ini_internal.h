// Private to the Ini module (ini.cpp, ini_read.cpp, ini_write.cpp,
// ini_file.cpp): the object's record.
#pragma once

#include "formats/ini.h"

#define Ini_Check(Handle) Class_CheckHandle((Handle), INI_CLASSID)

struct Ini {
    ClassStruct Class;
    ClassPrintStruct Print;
    Dictionary *Dict;       // attached, not owned
    const char *LineEnding; // the caller's text
};
