// The folder tests, fuzz targets and benchmarks write their scratch files in:
// $TMPDIR when it is set (./test.sh gives each stage a fresh one and fails
// the stage on whatever is left in it), else /tmp. Header-only, so that fuzz
// targets and benchmarks, which link no test support, use it as well.
#pragma once

#include <stdlib.h>

#include <string>

inline std::string TempRoot() {
    const char *Folder = getenv("TMPDIR");
    return Folder != nullptr && Folder[0] != 0 ? Folder : "/tmp";
}
