// Zip: extraction of zip archives, the one entry point through which the
// unzip task and skin packages unpack. Archives are read by libzip through
// the system's back end (zip_backend.h): the archive file through the OS
// stream, traditional PKWARE entries decrypted by libzip, WinZip AES entries
// (AE-1 and AE-2, 128/192/256-bit) by the system's own PBKDF2, HMAC-SHA-1 and
// AES.
//
// Extraction is all or nothing:
// - Every name is checked before anything is written: absolute names, ".."
//   components, paths over 319 bytes once joined to the destination or a
//   component over 255, names that would pass through a link leaving the
//   destination, link entries whose target is absolute or, resolved
//   through the archive's links and those already in the destination,
//   leads outside it, and archive links that would make a link already in
//   the destination, inside until then, lead outside refuse the whole
//   archive. A name through a link already there that stays inside goes
//   where that link leads. Names and targets are compared as bytes: the
//   checks assume a file system that tells case apart.
// - Bounds, checked before anything is written: each entry's bytes (local
//   header and data, placed by the archive's own records) apart from every
//   other entry's and before the central directory, every file entry's
//   size together at most 256 times the archive's size plus 1 MiB, the
//   files that stand no larger than the destination's free space, at most
//   65,536 folders, at most 40 links on one link's way and 262,144 path
//   steps plus 32 per link to resolve them all, passing no path over 1,343
//   bytes.
// - Each file is written, readable by this user only, under a temporary
//   name (".unzip-MARK-N.tmp") in its own folder, given its mode and
//   swapped in only after every file of the archive checked out (size, CRC
//   and, for AES entries, the authentication code, checked before any byte
//   is deciphered and compared in constant time). A wrong password, a
//   corrupt or truncated entry, a full disk or a failure while swapping in
//   puts back what was replaced and removes the temporary files and the
//   folders this call made that hold nothing, so no output file and no
//   partial plaintext remain.
// - Only what planning saw at a path is replaced: a file, folder or link
//   put there meanwhile (by another extraction, say) stays and fails the
//   call. A roll-back that finds a path it replaced taken over meanwhile
//   leaves the path alone and keeps what stood there before as
//   "NAME.unzip-kept" beside it ("-2" and on where that is taken,
//   ".unzip-kept" alone for a name too long for it).
// - While it runs an extraction holds a lock file ".unzip-MARK.lock" in the
//   destination. The temporary files and lock files of this user's
//   extractions that no longer run (killed) are removed from each folder a
//   later extraction writes into; those of running ones and other users'
//   stay.
// - Links are made last, so nothing is ever written through one.
// - Of several files or links with one path the last one stands; the files
//   before it are checked like any other entry but never written.
// The destination's own path may pass through links; what it resolves to
// is where everything goes.
// Files keep their modification time; an entry with a Unix execute bit
// becomes executable. Nothing is made read-only.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Extracts the archive at Path (read from StartOffset on, for an archive
// appended to another file) into Destination, created when missing.
// Password may be null for archives without encrypted entries. 1 when every
// entry was extracted; 0 with a logged reason and nothing written otherwise.
int32 Zip_Extract(const char *Path, int64 StartOffset, const char *Destination, const char *Password);

RUNTIME_EXTERN_C_END
