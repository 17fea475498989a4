// The system's modal panels for choosing a file to open, a file name to save
// or a folder, optionally attached to a window. Main thread only.
//
// Titles may hold HTML character references; a leading "~" in a folder is the
// home folder. The file panels answer 1 when the user chose, and then split
// the choice into Directory (with a trailing "/") and Filename; otherwise, and
// when the choice does not fit the buffers, they answer 0 and leave both as
// they were. The folder panel makes a missing start folder for the user to
// choose and removes what it made again (only while empty) unless the user
// chose inside it.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 NativeChooser_GetLoadFilename(void *Window, const char *Title, char *Directory, int32 DirectoryLength,
                                    char *Filename, int32 FilenameLength);
int32 NativeChooser_GetSaveFilename(void *Window, const char *Title, char *Directory, int32 DirectoryLength,
                                    char *Filename, int32 FilenameLength);
int32 NativeChooser_GetNewDirectory(void *Window, const char *Title, char *Output, int32 OutputLength,
                                    const char *StartDirectory);

RUNTIME_EXTERN_C_END
