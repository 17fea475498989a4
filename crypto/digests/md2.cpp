// MD2. Slow by design (18 passes over 48 bytes per 16-byte block); only old
// certificates and stored digests still name it.
#include "crypto/digests/md2.h"

#include "crypto/digests/digest_internal.h"

struct MD2 {
    ClassStruct Class;
    uint8 State[48]; // 16 running bytes, then 32 working bytes
    uint8 Checksum[16];
    uint8 Block[16];
    int32 DigestReady;
    uint8 Digest[16];
    int32 Buffered;
};

namespace {

int32 DigestLength(const MD2 *) { return 16; }

// The substitution built from the digits of pi.
constexpr uint8 PiSubstitution[256] = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,   243, 192, 199,
    115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212, 224, 22,  103, 66,  111, 24,
    138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160, 251, 245, 142, 187, 47,  238, 122, 169, 104,
    121, 145, 21,  178, 7,   63,  148, 194, 16,  137, 11,  34,  95,  33,  128, 127, 93,  154, 90,  144, 50,  39,
    53,  62,  204, 231, 191, 247, 151, 3,   255, 25,  48,  179, 72,  165, 181, 209, 215, 94,  146, 42,  172, 86,
    170, 198, 79,  184, 56,  210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,
    100, 113, 135, 32,  134, 91,  207, 101, 230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246, 28,  70,
    97,  105, 52,  64,  126, 15,  85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249, 206, 186, 197, 234, 38,
    44,  83,  13,  110, 133, 40,  132, 9,   211, 223, 205, 244, 65,  129, 77,  82,  106, 220, 55,  200, 108, 193,
    171, 250, 36,  225, 123, 8,   12,  189, 177, 74,  120, 136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254,
    59,  0,   29,  57,  242, 239, 183, 14,  102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,  49,  68,
    80,  180, 143, 237, 31,  26,  219, 153, 141, 51,  159, 17,  131, 20,
};

void Compress(MD2 *Context, const uint8 *Block) {
    uint8 *X = Context->State;
    for (int Index = 0; Index < 16; Index++) {
        X[16 + Index] = Block[Index];
        X[32 + Index] = (uint8)(X[16 + Index] ^ X[Index]);
    }
    uint32 T = 0;
    for (uint32 Round = 0; Round < 18; Round++) {
        for (int Index = 0; Index < 48; Index++) T = X[Index] ^= PiSubstitution[T];
        T = (T + Round) & 0xFF;
    }
}

// The checksum chains the previous checksum byte into each step, as the
// corrected algorithm does.
void UpdateChecksum(MD2 *Context, const uint8 *Block) {
    uint8 Last = Context->Checksum[15];
    for (int Index = 0; Index < 16; Index++) Last = Context->Checksum[Index] ^= PiSubstitution[Block[Index] ^ Last];
}

void ProcessBlock(MD2 *Context, const uint8 *Block) {
    UpdateChecksum(Context, Block);
    Compress(Context, Block);
}

} // namespace

int32 MD2_Reset(MD2 *Handle) {
    Class_CheckHandle(Handle, MD2_CLASSID);
    digest::WipeFields(Handle);
    return TRUE;
}

DIGEST_DEFINE_COMMON(MD2, MD2, MD2_CLASSID, "MD2")
DIGEST_DEFINE_GETDIGEST_PREFIX(MD2, MD2, MD2_CLASSID)

int32 MD2_Process(MD2 *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, MD2_CLASSID);
    if (Length == 0) return TRUE;
    Debug_CheckPointer(Data);
    digest::Absorb<16>(Handle->Block, (size_t)Handle->Buffered, static_cast<const uint8 *>(Data), Length,
                       [Handle](const uint8 *Blocks, size_t Count) {
                           for (; Count != 0; Count--, Blocks += 16) ProcessBlock(Handle, Blocks);
                       });
    Handle->Buffered = (int32)(((uint64)Handle->Buffered + Length) % 16);
    return TRUE;
}

int32 MD2_Generate(MD2 *Handle) {
    Class_CheckHandle(Handle, MD2_CLASSID);
    const uint8 Padding = (uint8)(16 - Handle->Buffered);
    memset(Handle->Block + Handle->Buffered, Padding, Padding);
    ProcessBlock(Handle, Handle->Block);
    Handle->Buffered = 0;
    Compress(Handle, Handle->Checksum);
    memcpy(Handle->Digest, Handle->State, 16);
    Handle->DigestReady = TRUE;
    return TRUE;
}

DIGEST_DEFINE_INTERFACE(MD2_INTERFACE, "MD2", 16, 16, MD2, MD2, MD2)
