// Zip layout: where each entry of a zip archive keeps its bytes, read
// strictly from the archive's own records (end record, ZIP64 locator and
// record, central headers, local headers). libzip does not say where an
// entry's data starts, so this is what lets extraction refuse entries that
// share bytes (one stream inflated under many names) or reach outside the
// archive before anything is read through libzip. The archive is seen only
// through ReadAt; work and memory grow with its directory, never past its
// size.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/types.h"

// Fills Data with exactly Length bytes found at Offset, counted from the
// archive's first byte; false when it cannot.
using ZipReadAt = std::function<bool(uint64 Offset, uint8 *Data, size_t Length)>;

struct ZipLayoutEntry {
    std::string Name; // the bytes the central header holds, not decoded
    uint64 CompressedSize;
    uint64 Size;
    uint32 Crc;
    uint64 Start; // the local header
    uint64 End;   // past the stored data (a data descriptor not counted)
};

// Reads the layout of an archive of Size bytes, entries in directory order.
// False, with why in Error, when the records are malformed, when more than
// one end record could be the archive's, or when two entries' bytes (local
// header and data) overlap or one reaches past the start of the directory.
bool ZipLayout_Read(uint64 Size, const ZipReadAt &ReadAt, std::vector<ZipLayoutEntry> &Entries, std::string &Error);
