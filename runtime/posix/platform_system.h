// System facts: read-only answers about the operating system, the machine and
// the user. Text answers are UTF-8 copied into the caller's buffer (emptied
// first, cut to fit); a failure is 0 with an empty buffer, and nothing is
// logged. The platform macros (SystemName, CPUCount, UserName, DiskSerial,
// ...) answer from here.
//
// Linux sources, each steerable through the stand-in seam
// (platform_stand_in.h): os-release for the name (NAME) and version
// (VERSION_ID), cached on first success; uname for the bitness; sysconf for
// memory, page size and processors; /proc/cpuinfo and cpufreq under /sys for
// the processor's brand and clock; PCI display devices (class 0x03) under
// /sys for the display adapters; the password database for the user; the
// locale variables (LC_ALL, LC_MESSAGES, LANG) for the user's locale and the
// system locale file for the current one; the udev database and /sys for a
// disk's serial and a loop device's backing file.
//
// What this machine cannot tell answers the "unknown" values: no graphics
// library version (0), no DirectX (0), no installed security products (0, a
// count of 0) and no modifier-key state at start (0).
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// "mac": texts and workflows branch on the short name, and this host runs
// the same content as its macOS counterpart.
int32 Platform_GetShortName(char *Buffer, int32 Length);
int32 Platform_GetName(char *Buffer, int32 Length);
int32 Platform_GetVersion(char *Buffer, int32 Length);
// 64 when the kernel's machine type is "x86_64" (without case), else 32;
// 0 (and *Bitness 0) when the kernel query fails.
int32 Platform_GetSystemBitness(int32 *Bitness);
// Physical memory in bytes; 0 on failure.
int32 Platform_GetSystemMemory(int64 *Bytes);
int32 Platform_GetPageSize(int32 *Bytes);
int32 Platform_GetCPUCount(int32 *Count);
// The nominal clock in MHz (0 when the kernel shows none); 1.
int32 Platform_GetCPUSpeed(int32 *MHz);
// The brand string's first word, cut before the first blank or "("; 0 when
// it has neither.
int32 Platform_GetCPUVendor(char *Buffer, int32 Length);
int32 Platform_GetCPUDescription(char *Buffer, int32 Length);
int32 Platform_GetDirectXVersion(char *Buffer, int32 Length);
int32 Platform_GetOpenGLVersion(char *Buffer, int32 Length);
// The Index-th display adapter as "vendor:device" PCI ids ("8086:1912").
int32 Platform_GetVideoCardType(int32 Index, char *Buffer, int32 Length);
// The Index-th memory range of the display adapters (their PCI memory
// regions, in order); 0 when none.
int32 Platform_GetVideoCardMemory(int32 Index, int64 *Bytes);
int32 Platform_GetAntiVirus(int32 Index, char *Buffer, int32 Length);
int32 Platform_GetAntiVirusCount(int32 *Count);
// "light" unless the appearance is set (first ASCII capital lowered); 1.
int32 Platform_GetSystemTheme(char *Buffer, int32 Length);
int32 Platform_GetUserName(char *Buffer, int32 Length);
// The user's locale as language_COUNTRY ("fr_CA" of "fr_CA.UTF-8@euro"); 0
// for none and for "C"/"POSIX".
int32 Platform_GetUserLocale(char *Buffer, int32 Length);
// The locale's part before / after "_"; without a locale or without "_", the
// current system locale's ("en"/"US" for none or "C"). Always 1.
int32 Platform_GetUserLang(char *Buffer, int32 Length);
int32 Platform_GetUserCountry(char *Buffer, int32 Length);
// The serial of the disk holding Path (1 with an empty text when the disk
// has none); 0 when Path has no status or lies on no block device (tmpfs).
int32 Platform_GetDiskSerialFromPath(const char *Path, char *Buffer, int32 Length);
// The image file behind the loop device holding Path; 0 otherwise.
int32 Platform_GetDiskImageFromPath(const char *Path, char *Buffer, int32 Length);
// Adds 0x40004 to *Flags and answers 1 when a debug modifier key is held at
// start. No keyboard state is readable here, so it always answers 0.
int32 Platform_GetDebugFlagsFromKey(uint32 *Flags);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
#include <string_view>
// Parsers of the system files, shared with the fuzz targets.
// The value of Key in an os-release text (quotes and escapes removed).
std::string PlatformSystem_OsReleaseValue(std::string_view Text, std::string_view Key);
// The value of the first "Key<blanks>: value" line of a cpuinfo text.
bool PlatformSystem_CpuInfoValue(std::string_view Text, std::string_view Key, std::string &Value);
// The LANG value of a locale file (os-release syntax), without codeset.
std::string PlatformSystem_LocaleOf(std::string_view Value);
#endif
