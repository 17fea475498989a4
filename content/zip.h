// Zip: extraction of zip archives, the one entry point through which the
// unzip task and skin packages unpack. Archives are read by libzip through
// the system's back end (zip_backend.h): the archive file through the OS
// stream, traditional PKWARE entries decrypted by libzip, WinZip AES entries
// (AE-1 and AE-2, 128/192/256-bit) by the system's own PBKDF2, HMAC-SHA-1 and
// AES.
//
// Extraction is all or nothing:
// - Every name is checked before anything is written: absolute names, ".."
//   components, paths over 319 bytes once joined to the destination, names
//   that would pass through a link leaving the destination, and link entries
//   whose target is absolute or resolves outside the destination refuse the
//   whole archive.
// - Each file is written under a temporary name in the destination and
//   renamed to its own name only after every file of the archive checked out
//   (size, CRC and, for AES entries, the authentication code, compared in
//   constant time). A wrong password, a corrupt or truncated entry or a full
//   disk removes the temporary files and the folders this call made, so no
//   output file and no partial plaintext remain.
// - Links are made last, so nothing is ever written through one.
// - Of several files with one path the last one stands; the ones before it
//   are checked like any other entry but never written.
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
