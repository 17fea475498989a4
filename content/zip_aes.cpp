// WinZip AES entries (AE-1, AE-2) read with the system's own ciphers through
// the back end: the raw entry is salt (8, 12 or 16 bytes), a 2-byte password
// verifier, the enciphered data and a 10-byte authentication code. PBKDF2
// with HMAC-SHA-1 (1,000 iterations) derives the AES key, the HMAC key and
// the verifier; the data is AES in counter mode with a 16-byte little-endian
// counter from 1, authenticated by the first 10 bytes of HMAC-SHA-1 over the
// enciphered data. The key stream comes from the AES module's multi-block
// counter mode (eight blocks at a time on AES-NI) rather than the back end's
// one-block call, which would cost a call per 16 bytes.
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "content/zip_backend.h"
#include "content/zip_internal.h"
#include "crypto/ciphers/aes.h"
#include "crypto/crypt.h"

namespace {

constexpr int32 Iterations = 1000;
constexpr int32 VerifierLength = 2;
constexpr int32 CodeLength = 10;
constexpr size_t PieceSize = 64 * 1024;

// Owners of the back end's C contexts.
struct HmacOwner {
    void *Handle = nullptr;
    HmacOwner() { mz_crypt_hmac_create(&Handle); }
    ~HmacOwner() { mz_crypt_hmac_delete(&Handle); }
};
struct FileOwner {
    zip_file_t *Handle;
    ~FileOwner() {
        if (Handle != nullptr) zip_fclose(Handle);
    }
};
struct InflateOwner {
    z_stream Stream{};
    bool Started = false;
    ~InflateOwner() {
        if (Started) inflateEnd(&Stream);
    }
};

bool ReadExactly(zip_file_t *File, uint8 *Buffer, size_t Length) {
    size_t Done = 0;
    while (Done < Length) {
        const zip_int64_t Got = zip_fread(File, Buffer + Done, Length - Done);
        if (Got <= 0) return false;
        Done += (size_t)Got;
    }
    return true;
}

// Reads the code stored after an entry's data and compares it with the one
// the MAC computed over that data.
bool CodeMatches(zip_file_t *File, void *Mac, std::string &Error) {
    uint8 Stored[CodeLength], Computed[20];
    if (!ReadExactly(File, Stored, CodeLength)) {
        Error = "entry is truncated";
        return false;
    }
    if (mz_crypt_hmac_end(Mac, Computed, CodeLength) != MZ_OK ||
        !Crypt_CompareConstantTime(Computed, Stored, CodeLength)) {
        Error = "authentication code does not match";
        return false;
    }
    return true;
}

} // namespace

ZipAesCounter::ZipAesCounter() { AES_Create(&Cipher); }

ZipAesCounter::~ZipAesCounter() {
    explicit_bzero(Counter, sizeof(Counter));
    explicit_bzero(Stream, sizeof(Stream));
    AES_Delete(&Cipher);
}

bool ZipAesCounter::SetKey(const uint8 *Key, int32 Length) {
    memset(Counter, 0, sizeof(Counter));
    Used = sizeof(Stream);
    return AES_SetKey(Cipher, Key, Length) != 0;
}

void ZipAesCounter::Apply(uint8 *Data, size_t Length) {
    // The rest of a block begun by the previous piece.
    while (Length > 0 && Used < sizeof(Stream)) {
        *Data++ ^= Stream[Used++];
        Length--;
    }
    const size_t Whole = Length / 16;
    AES_CounterLittleEndian(Cipher, Counter, Data, Data, Whole);
    Data += 16 * Whole;
    Length -= 16 * Whole;
    if (Length == 0) return;
    memset(Stream, 0, sizeof(Stream));
    AES_CounterLittleEndian(Cipher, Counter, Stream, Stream, 1);
    for (Used = 0; Used < Length; Used++) Data[Used] ^= Stream[Used];
}

int32 ZipInt_AesKeyLength(uint16 EncryptionMethod) {
    switch (EncryptionMethod) {
    case ZIP_EM_AES_128:
        return 16;
    case ZIP_EM_AES_192:
        return 24;
    case ZIP_EM_AES_256:
        return 32;
    default:
        return 0;
    }
}

bool ZipInt_ReadAesEntry(zip_t *Archive, zip_uint64_t Index, const zip_stat_t &Stat, const char *Password,
                         const ZipSink &Sink, std::string &Error) {
    const int32 KeyLength = ZipInt_AesKeyLength(Stat.encryption_method);
    const int32 SaltLength = KeyLength / 2;
    if (KeyLength == 0) {
        Error = "not an AES entry";
        return false;
    }
    if (Password == nullptr) {
        Error = "a password is needed";
        return false;
    }
    if (Stat.comp_method != ZIP_CM_STORE && Stat.comp_method != ZIP_CM_DEFLATE) {
        Error = "unsupported compression method";
        return false;
    }
    const zip_uint64_t Overhead = (zip_uint64_t)(SaltLength + VerifierLength + CodeLength);
    if (!(Stat.valid & ZIP_STAT_COMP_SIZE) || Stat.comp_size < Overhead) {
        Error = "entry is truncated";
        return false;
    }
    FileOwner Raw{zip_fopen_index(Archive, Index, ZIP_FL_ENCRYPTED)};
    if (Raw.Handle == nullptr) {
        Error = zip_strerror(Archive);
        return false;
    }
    uint8 Salt[16], Verifier[VerifierLength];
    if (!ReadExactly(Raw.Handle, Salt, (size_t)SaltLength) || !ReadExactly(Raw.Handle, Verifier, VerifierLength)) {
        Error = "entry is truncated";
        return false;
    }
    // AES key, HMAC key and verifier.
    std::vector<uint8> Derived((size_t)(2 * KeyLength + VerifierLength));
    std::vector<uint8> Secret(Password, Password + strlen(Password));
    Secret.push_back(0); // the back end wants an address even for an empty password
    const int32 Derive = mz_crypt_pbkdf2(Secret.data(), (int32)Secret.size() - 1, Salt, SaltLength, Iterations,
                                         Derived.data(), (int32)Derived.size());
    explicit_bzero(Secret.data(), Secret.size());
    auto WipeDerived = [&]() { explicit_bzero(Derived.data(), Derived.size()); };
    if (Derive != MZ_OK) {
        WipeDerived();
        Error = "key derivation failed";
        return false;
    }
    if (!Crypt_CompareConstantTime(Derived.data() + 2 * KeyLength, Verifier, VerifierLength)) {
        WipeDerived();
        Error = "wrong password";
        return false;
    }
    HmacOwner Mac, FirstMac;
    ZipAesCounter Counter;
    mz_crypt_hmac_set_algorithm(Mac.Handle, MZ_HASH_SHA1);
    mz_crypt_hmac_set_algorithm(FirstMac.Handle, MZ_HASH_SHA1);
    const bool Keyed = mz_crypt_hmac_init(Mac.Handle, Derived.data() + KeyLength, KeyLength) == MZ_OK &&
                       mz_crypt_hmac_init(FirstMac.Handle, Derived.data() + KeyLength, KeyLength) == MZ_OK &&
                       Counter.SetKey(Derived.data(), KeyLength);
    WipeDerived();
    if (!Keyed) {
        Error = "cipher set-up failed";
        return false;
    }
    std::unique_ptr<uint8[]> Piece(new uint8[PieceSize]), Plain(new uint8[PieceSize]);
    const zip_uint64_t DataSize = Stat.comp_size - Overhead;
    // The code covers the enciphered data: it is checked over a first pass
    // before a byte is deciphered, so no unauthenticated plaintext ever
    // reaches Sink. The second pass checks it again, for an archive that
    // changed in between.
    {
        FileOwner First{zip_fopen_index(Archive, Index, ZIP_FL_ENCRYPTED)};
        if (First.Handle == nullptr || !ReadExactly(First.Handle, Piece.get(), (size_t)(SaltLength + VerifierLength))) {
            Error = "entry is truncated";
            return false;
        }
        for (zip_uint64_t Left = DataSize; Left > 0;) {
            const size_t Size = (size_t)std::min<zip_uint64_t>(Left, PieceSize);
            if (!ReadExactly(First.Handle, Piece.get(), Size) ||
                mz_crypt_hmac_update(FirstMac.Handle, Piece.get(), (int32)Size) != MZ_OK) {
                Error = "entry is truncated";
                return false;
            }
            Left -= Size;
        }
        if (!CodeMatches(First.Handle, FirstMac.Handle, Error)) return false;
    }
    InflateOwner Inflater;
    const bool Deflated = Stat.comp_method == ZIP_CM_DEFLATE;
    if (Deflated) {
        if (inflateInit2(&Inflater.Stream, -15) != Z_OK) {
            Error = "inflate set-up failed";
            return false;
        }
        Inflater.Started = true;
    }
    zip_uint64_t Left = DataSize;
    bool Ended = !Deflated;
    while (Left > 0) {
        const size_t Size = (size_t)std::min<zip_uint64_t>(Left, PieceSize);
        if (!ReadExactly(Raw.Handle, Piece.get(), Size)) {
            Error = "entry is truncated";
            return false;
        }
        Left -= Size;
        if (mz_crypt_hmac_update(Mac.Handle, Piece.get(), (int32)Size) != MZ_OK) {
            Error = "cipher failed";
            return false;
        }
        Counter.Apply(Piece.get(), Size);
        if (!Deflated) {
            if (!Sink(Piece.get(), Size)) {
                Error = "write failed";
                return false;
            }
            continue;
        }
        Inflater.Stream.next_in = Piece.get();
        Inflater.Stream.avail_in = (uInt)Size;
        while (Inflater.Stream.avail_in > 0) {
            if (Ended) {
                Error = "data after the end of the compressed stream";
                return false;
            }
            Inflater.Stream.next_out = Plain.get();
            Inflater.Stream.avail_out = (uInt)PieceSize;
            const int Status = inflate(&Inflater.Stream, Z_NO_FLUSH);
            if (Status != Z_OK && Status != Z_STREAM_END) {
                Error = "corrupt compressed data";
                return false;
            }
            Ended = Status == Z_STREAM_END;
            const size_t Produced = PieceSize - Inflater.Stream.avail_out;
            if (Produced > 0 && !Sink(Plain.get(), Produced)) {
                Error = "write failed";
                return false;
            }
            if (Status == Z_OK && Produced == 0 && Inflater.Stream.avail_in > 0) {
                Error = "corrupt compressed data";
                return false;
            }
        }
    }
    // Drain what the inflater still holds once all input is in.
    while (Deflated && !Ended) {
        Inflater.Stream.next_in = nullptr;
        Inflater.Stream.avail_in = 0;
        Inflater.Stream.next_out = Plain.get();
        Inflater.Stream.avail_out = (uInt)PieceSize;
        const int Status = inflate(&Inflater.Stream, Z_NO_FLUSH);
        const size_t Produced = PieceSize - Inflater.Stream.avail_out;
        if ((Status != Z_OK && Status != Z_STREAM_END) || (Status == Z_OK && Produced == 0)) {
            Error = "compressed data ends early";
            return false;
        }
        if (Produced > 0 && !Sink(Plain.get(), Produced)) {
            Error = "write failed";
            return false;
        }
        Ended = Status == Z_STREAM_END;
    }
    return CodeMatches(Raw.Handle, Mac.Handle, Error);
}
