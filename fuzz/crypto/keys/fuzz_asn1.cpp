// The DER decoder on arbitrary bytes (certificates, keys, signatures from the
// network): the decode answers 1 or 0 and never reads outside the buffer;
// every node of the tree lies inside the buffer, its content inside its
// element; the typed readers answer on every node without overrunning their
// outputs; a decoded INTEGER encodes again and reads back equal.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "crypto/keys/asn1.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

void Walk(ASN1 *Node, const uint8_t *Start, size_t Size, int Depth) {
    Check(Depth <= 2 * ASN1_MAX_DEPTH + 2);
    int32 Count = 0;
    ASN1_GetElementCount(Node, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        ASN1 *Child = ASN1_GetElement(Node, Index);
        const uint8 *At = ASN1_GetNodePtr(Child);
        const uint8 *Value = ASN1_GetValuePtr(Child);
        Check(At >= Start && At + ASN1_GetNodeSize(Child) <= Start + Size);
        Check(Value >= At && Value + ASN1_GetValueSize(Child) <= At + ASN1_GetNodeSize(Child));
        char Text[48];
        ASN1_ParseOid(Child, Text, sizeof(Text));
        Check(strnlen(Text, sizeof(Text)) < sizeof(Text));
        ASN1_ParseString(Child, Text, sizeof(Text));
        Check(strnlen(Text, sizeof(Text)) < sizeof(Text));
        float64 Time;
        ASN1_ParseUTCTime(Child, &Time);
        uint32 Small;
        ASN1_ParseInt32(Child, &Small);
        BigIntLocal Number;
        if (ASN1_ParseBigInt(Child, Number) && ASN1_GetValueSize(Child) < 600) {
            std::vector<uint8_t> Out(700);
            ASN1 *Again = nullptr;
            ASN1_Create(&Again);
            Check(ASN1_EncodeBigInt(Again, Number, Out.data(), (int32)Out.size()) > 0);
            BigIntLocal Back;
            Check(ASN1_ParseBigInt(ASN1_GetElement(Again, 0), Back) == 1 && BigInt_Equal(Back, Number));
            ASN1_Delete(&Again);
        }
        Walk(Child, Start, Size, Depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-asn1.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 16) return 0;
    // A copy of exactly Size bytes, so that a read past the end is caught.
    std::vector<uint8_t> Bytes(Data, Data + Size);
    ASN1 *Root = nullptr;
    ASN1_Create(&Root);
    const int32 Result = ASN1_Decode(Root, Bytes.data(), (int32)Bytes.size());
    Check(Result == 0 || Result == 1);
    Walk(Root, Bytes.data(), Bytes.size(), 0);
    ASN1 *Found = nullptr;
    ASN1_Find(Root, "2.5.4.3", 0xffffffffu, &Found);
    ASN1_Delete(&Root);
    return 0;
}
