// The end point's message reader on arbitrary deciphered bytes. The first
// byte picks the piece size, so the same bytes are also read split. Every
// message handed out starts with "{" and ends with "}", and reading in
// pieces gives exactly the messages of reading in one block.
#include <stdint.h>
#include <stddef.h>

#include <algorithm>
#include <string>
#include <vector>

#include "workflow/notification_end_point.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size == 0) return 0;
    size_t Piece = (size_t)(Data[0] % 17) + 1;
    const char *Bytes = reinterpret_cast<const char *>(Data + 1);
    size_t Length = Size - 1;
    NotificationEndPointChunkReader Whole, Split;
    std::vector<std::string> One, Many;
    Whole.Feed(Bytes, Length, &One);
    for (size_t At = 0; At < Length; At += Piece) Split.Feed(Bytes + At, std::min(Piece, Length - At), &Many);
    Check(One == Many);
    for (const std::string &Message : One) Check(Message.size() >= 2 && Message.front() == '{' && Message.back() == '}');
    return 0;
}
