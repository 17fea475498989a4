// The digest and HMAC macro providers on arbitrary names and arguments (the
// text of documents), into outputs of any size: the answer is taken or not,
// nothing is written past the output, and a written value is terminated;
// the OID selector on arbitrary text; a Hash fed arbitrary pieces before and
// after it is bound.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/digests/hash.h"
#include "crypto/digests/hmac.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 2 || Size > 1 << 14) return 0;
    const uint32 Selector = Data[0], Slack = Data[1];
    const std::string Bytes(reinterpret_cast<const char *>(Data + 2), Size - 2);
    // Name and argument: the text before and after the first ':'.
    const std::string Text(Bytes.c_str());
    const size_t Colon = Text.find(':');
    const std::string Name = Text.substr(0, Colon);
    const std::string Argument = Colon == std::string::npos ? "" : Text.substr(Colon + 1);
    const char *ArgumentText = (Selector & 1) ? nullptr : Argument.c_str();

    const int32 OutputSize = (Selector & 2) ? 8140 : (int32)Slack + 1;
    std::vector<char> Output((size_t)OutputSize + 16, '\x7f');
    for (auto Provider : {Hash_ExpandKey, HMAC_ExpandKey}) {
        Output[0] = 0;
        const int32 Taken = Provider(nullptr, Name.c_str(), ArgumentText, Output.data(), OutputSize);
        Check(Taken == 0 || Taken == 1);
        Check(strnlen(Output.data(), (size_t)OutputSize) < (size_t)OutputSize);
        for (size_t At = (size_t)OutputSize; At < Output.size(); At++) Check(Output[At] == '\x7f');
    }

    const HashInterface *Record = nullptr;
    Hash_InterfaceFromOid(Text.c_str(), &Record);
    if (Record == nullptr) Hash_InterfaceFromName(Name.c_str(), &Record);

    // Pieces before binding stay within the pending bound; after binding they
    // are hashed; the digest reads back at its size.
    Hash *Handle = nullptr;
    Hash_Create(&Handle);
    size_t At = 0;
    for (int Piece = 0; At < Bytes.size(); Piece++) {
        const size_t Length = std::min(Bytes.size() - At, (size_t)(Slack * 37 + Piece) % 5000 + 1);
        uint32 Processed = 0;
        if (Piece == (int)(Selector % 7) && Record != nullptr) Hash_SetInterface(Handle, Record);
        Hash_Process(Handle, Bytes.data() + At, (uint32)Length, &Processed);
        At += Length;
    }
    const HashInterface *Bound = nullptr;
    Hash_GetInterface(Handle, &Bound);
    if (Bound == nullptr) {
        if (Record == nullptr) Hash_InterfaceFromName("SHA256", &Record);
        Hash_SetInterface(Handle, Record);
    }
    Hash_Generate(Handle);
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    Check(Hash_GetDigest(Handle, Digest, sizeof(Digest)) == 1);
    Hash_Delete(&Handle);
    return 0;
}
