// Special folders and module paths: where the user's and the system's
// well-known folders are, where the program's own files are, and the folder
// its logs go to. Answers are UTF-8 paths copied into the caller's buffer (cut
// to fit, always terminated); folder answers end with "/", file answers do
// not. Every operation first empties its buffer; a missing answer is 0 with
// an empty buffer.
//
// Linux stand-ins: the user folders follow the XDG base-directory and
// user-dirs conventions ($XDG_DATA_HOME, $XDG_STATE_HOME, user-dirs.dirs);
// there is no application bundle, so bundle answers are 0.
#pragma once

#include "runtime/types.h"

// Special-path ids of Platform_GetSpecialPath.
#define PLATFORM_PATH_USERSTARTMENU 1
#define PLATFORM_PATH_COMMONSTARTMENU 2
#define PLATFORM_PATH_PROGRAMFILES 3
#define PLATFORM_PATH_PROGRAMFILES64 4
#define PLATFORM_PATH_USERHOME 5
#define PLATFORM_PATH_USERDOCUMENTS 6
#define PLATFORM_PATH_USERDESKTOP 7
#define PLATFORM_PATH_COMMONDESKTOP 8
#define PLATFORM_PATH_USERAPPDATA 9
#define PLATFORM_PATH_USERAPPDATAROAMING 10
#define PLATFORM_PATH_COMMONAPPDATA 11
#define PLATFORM_PATH_TEMP 12
#define PLATFORM_PATH_ADMINTEMP 13
#define PLATFORM_PATH_SYSTEMDIRECTORY 14
#define PLATFORM_PATH_SYSTEMDRIVE 15
#define PLATFORM_PATH_MODULEPATH 16
#define PLATFORM_PATH_MODULEDIRECTORY 17
#define PLATFORM_PATH_MODULEAPPPATH 18
#define PLATFORM_PATH_MODULEAPPDIRECTORY 19
#define PLATFORM_PATH_MODULEDLLPATH 20
#define PLATFORM_PATH_MODULEDLLDIRECTORY 21
#define PLATFORM_PATH_PIPEPATH 22
#define PLATFORM_PATH_WORKINGDIRECTORY 23
#define PLATFORM_PATH_USERDOWNLOADS 24
#define PLATFORM_PATH_APPLICATIONSUPPORT 25

RUNTIME_EXTERN_C_BEGIN

// 1 with the folder, 0 when the system has no answer. An id outside 1..25 is
// the fatal stop "Unsupported directory [Type: %d]".
int32 Platform_GetSpecialPath(int32 Id, char *Buffer, int32 Length);
// The user's home directory with a trailing "/" ($HOME, else the user database).
int32 Platform_GetUserHome(char *Buffer, int32 Length);
// The per-user temporary directory, one no other user can write in or move
// (see TempDirectory in platform_folder.cpp); the pipe directory is the same.
int32 Platform_GetTempDirectory(char *Buffer, int32 Length);
int32 Platform_GetPipeDirectory(char *Buffer, int32 Length);
int32 Platform_GetCurrentDirectory(char *Buffer, int32 Length);
// Changes the working directory ("~" resolved); 1 when the change succeeded.
int32 Platform_SetCurrentDirectory(const char *Path);
// The system's own folder (special path 14) and the drive it is on (15).
int32 Platform_GetPlatformDirectory(char *Buffer, int32 Length);
int32 Platform_GetSystemDirectory(char *Buffer, int32 Length);
int32 Platform_GetSystemDrive(char *Buffer, int32 Length);
// There are no short names here: the path comes back unchanged.
int32 Platform_GetLongPath(const char *Path, char *Buffer, int32 Length);
// The application bundle's path; 0 as there are no bundles on this platform.
int32 Platform_GetAppFilename(char *Buffer, int32 Length);

// Modules. A module handle is a dlopen handle; null stands for "none".
// With Name null: the main program's handle; with a name: the loaded image
// whose file name (after the last "/") equals Name, newest first; null when
// none.
void *Platform_GetModuleHandle(const char *Name);
void *Platform_GetCurrentModuleHandle(void);
// Module = the main program's handle: the file of the image holding this code;
// Module null: the main executable's file; another handle: that image's file.
int32 Platform_GetModuleFilename(void *Module, char *Buffer, int32 Length);
// That file's directory with a trailing "/".
int32 Platform_GetModuleDirectory(void *Module, char *Buffer, int32 Length);
// The folder the module's logs go to, with a trailing "/" (not created here).
// Module null: $XDG_STATE_HOME (default ~/.local/state) + the main
// executable's name without extension + "/".
int32 Platform_GetModuleLogDirectory(void *Module, char *Buffer, int32 Length);

// Shared libraries, opened with lazy binding and local symbols so nothing in
// one interposes with the host or another library. Load resolves "~" (a path
// that does not fit 1,024 bytes is refused) and answers the handle, or null,
// logging "Unable to load library (%s) (%s)\n" with the loader's text when
// LogFailure is 1. Free answers 1 when the library was closed; a null handle
// answers 0. GetProcAddress answers the symbol's address or null.
void *Platform_LoadLibrary(const char *Path, int32 LogFailure);
// Loads the open regular file Descriptor (kept by the caller), what was
// checked through it and nothing at any name; Shown names it in the log.
void *Platform_LoadLibraryOpened(int32 Descriptor, const char *Shown, int32 LogFailure);
void *Platform_LoadSystemLibrary(const char *Path, int32 LogFailure);
int32 Platform_FreeLibrary(void *Handle);
void *Platform_GetProcAddress(void *Handle, const char *Symbol);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
// An XDG base directory with a trailing "/": the variable when it holds an
// absolute path, else the home directory followed by HomeDefault; empty when
// there is no home.
std::string PlatformFolder_BaseDirectory(const char *Variable, const char *HomeDefault);
// Says Text on stderr after the program's name, once for each text however
// often it is asked (also without --debug): for what the user must know
// although nothing fails, such as a folder or file set aside.
void PlatformFolder_TellOnce(const std::string &Text);
#endif
