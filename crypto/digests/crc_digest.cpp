// The CRC object: CRC-32 behind the digest layer. See crc_digest.h.
#include "crypto/digests/crc_digest.h"

#include "crypto/digests/digest_internal.h"
#include "runtime/debug.h"
#include "runtime/text/crc.h"

// The running value is kept in big-endian order, which is the digest, so a
// digest read after more data sees the running value, as it always has.
struct CRC {
    ClassStruct Class;
    int32 DigestReady;
    uint8 Digest[4];
};

namespace {

static_assert(sizeof(CRC) == 64, "a CRC context is 64 bytes");

int32 DigestLength(const CRC *) { return 4; }

} // namespace

int32 CRC_Reset(CRC *Handle) {
    Class_CheckHandle(Handle, CRC_CLASSID);
    Handle->DigestReady = FALSE;
    memset(Handle->Digest, 0, sizeof(Handle->Digest));
    return TRUE;
}

DIGEST_DEFINE_COMMON(CRC, CRC, CRC_CLASSID, "CRC")
DIGEST_DEFINE_GETDIGEST_PREFIX(CRC, CRC, CRC_CLASSID)

int32 CRC_Process(CRC *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, CRC_CLASSID);
    digest::Store32Be(Handle->Digest, CRC_Update(digest::Load32Be(Handle->Digest), Data, Length));
    return TRUE;
}

int32 CRC_Generate(CRC *Handle) {
    Class_CheckHandle(Handle, CRC_CLASSID);
    Handle->DigestReady = TRUE;
    return TRUE;
}

DIGEST_DEFINE_INTERFACE(CRC_INTERFACE, "CRC", 4, 4, CRC, CRC, CRC)
