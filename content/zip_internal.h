// Shared by the zip modules: opening an archive through the back end's OS
// stream, and reading WinZip AES entries with the system's own ciphers.
#pragma once

#include <zip.h>

#include <functional>
#include <string>

#include "runtime/types.h"

// Receives the plain bytes of an entry, piece by piece; false stops reading.
using ZipSink = std::function<bool(const uint8 *Data, size_t Length)>;

// Opens the archive read-only through a libzip source over mz_stream_os,
// positions counted from StartOffset. Null with a reason in Error.
zip_t *ZipInt_Open(const char *Path, int64 StartOffset, std::string &Error);

struct AES;

// WinZip AES counter mode: the key stream is AES of a 128-bit little-endian
// counter that starts at 1. Pieces of any length follow one another.
class ZipAesCounter {
  public:
    ZipAesCounter();
    ~ZipAesCounter();
    ZipAesCounter(const ZipAesCounter &) = delete;
    ZipAesCounter &operator=(const ZipAesCounter &) = delete;
    // Key length in bytes (16, 24 or 32); restarts the counter.
    bool SetKey(const uint8 *Key, int32 Length);
    // Enciphers or deciphers in place.
    void Apply(uint8 *Data, size_t Length);

  private:
    AES *Cipher = nullptr;
    uint8 Counter[16] = {0};
    uint8 Stream[16] = {0};
    size_t Used = 16;
};

// Key length in bytes of a WinZip AES method, 0 for any other method.
int32 ZipInt_AesKeyLength(uint16 EncryptionMethod);

// Authenticates, deciphers and inflates a WinZip AES entry into Sink. The
// authentication code is checked over the enciphered data before the first
// byte reaches Sink, and once more after the last (for an archive that
// changed meanwhile), so Sink must still hold what it received until the
// call answers true. False with a reason in Error.
bool ZipInt_ReadAesEntry(zip_t *Archive, zip_uint64_t Index, const zip_stat_t &Stat, const char *Password,
                         const ZipSink &Sink, std::string &Error);

// Called before each file or link of an extraction is moved into place, with
// its path relative to the destination; false fails that move as a refused
// rename would. Null but in tests: it is the one point where another
// extraction or a failing commit can be put between planning and commit on
// demand.
extern bool (*ZipInt_BeforePlace)(const char *Relative);
