// HandOverFile: hands the parent's end-point URL, and the arguments of the
// elevated run, to the elevated worker without putting them where another
// user can read them (a command line is readable by all in /proc). The parent writes the
// URL into a file "endpoint" of its own (0600) inside a fresh folder of its
// own (0700) named "velmarsh-handover-<pid>.<start time>-<6 letters>" and
// names only the file on the worker's command line; the worker reads it
// once, after checking that it is such a file and that folder and file
// belong to the user who launched it (or root) and that nobody else may
// open or replace them, and removes both. The parent removes them too when
// the worker never came, through the folder it holds open, never through a
// name someone may have replaced since.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef struct HandOverFile HandOverFile;

// Makes the folder and the file holding Text. The folder goes under $TMPDIR,
// else $XDG_RUNTIME_DIR, else /tmp: the first that is an absolute path to a
// folder owned by this user or root that no other user may write (unless it
// is sticky). Folders left there by earlier parents of this user that no
// longer run are removed first. 0, with the reason in Reason, when no place
// is usable or the folder or file cannot be made.
int32 HandOverFile_Write(const char *Text, HandOverFile **Handle, char *Reason, int32 ReasonSize);
// The file's path, for the worker's command line.
int32 HandOverFile_GetPath(HandOverFile *Handle, char *Path, int32 Size);
// Removes the file and the folder when they are still there and the name
// still is the folder Write made; frees the handle. 1.
int32 HandOverFile_Remove(HandOverFile **Handle);
// Reads the file at Path into Text (cut to Size - 1 bytes) when it is a
// hand-over file (the names above, the folder holding nothing else), the
// file and its folder are owned by Owner or root, are no links, and neither
// group nor others have any right on them; then removes both. 0, with a log
// line naming the reason (never the file's text), otherwise; nothing is
// removed then.
int32 HandOverFile_Read(const char *Path, uint32 Owner, char *Text, int32 Size);
// The worker's side at its start, before its command line is read: reads
// the file as HandOverFile_Read does and keeps its first line (the parent's
// URL) and the rest (the arguments of the elevated run, which stand on no
// command line). 0 when the file was refused; then nothing is kept.
int32 HandOverFile_Claim(const char *Path, uint32 Owner);
// What Claim kept (cut to the sizes); 0 when nothing was claimed, and the
// first call then logs why the file was refused.
int32 HandOverFile_GetClaimed(char *Url, int32 UrlSize, char *Arguments, int32 ArgumentsSize);

RUNTIME_EXTERN_C_END
