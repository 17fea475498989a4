// HTTP response framing on arbitrary bytes: status line, headers, chunked,
// length and close-delimited bodies, gzip. The first byte picks the piece
// size, so the same input is also read split across feeds. Invariants: the
// sink never receives more than the body limit, results are one of the
// defined ones, feeding in pieces never consumes more than it was given,
// and a failure marked final says why.
#include <stdint.h>
#include <string.h>

#include <initializer_list>

#include "net/web_get_response.h"

namespace {

constexpr int64 Limit = 1 << 16;

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Sink(void *User, const uint8 *, int32 Length) {
    int64 *Total = static_cast<int64 *>(User);
    Check(Length > 0);
    *Total += Length;
    Check(*Total <= Limit);
    return TRUE;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size == 0) return 0;
    size_t Piece = (size_t)(Data[0] % 17) + 1;
    Data++;
    Size--;
    WebGetResponse *Parser = nullptr;
    WebGetResponse_Create(&Parser);
    for (int32 Head : {0, 1}) {
        int64 Total = 0;
        WebGetResponse_Reset(Parser, Head);
        WebGetResponse_SetLimitBodySize(Parser, Limit);
        WebGetResponse_SetSink(Parser, &Total, Sink);
        int32 Result = WEBGETRESPONSE_MORE;
        size_t At = 0;
        while (At < Size && Result == WEBGETRESPONSE_MORE) {
            size_t Take = Size - At < Piece ? Size - At : Piece;
            int32 Consumed = -1;
            Result = WebGetResponse_Feed(Parser, Data + At, (int32)Take, &Consumed);
            Check(Consumed >= 0 && (size_t)Consumed <= Take);
            At += Take;
        }
        if (Result == WEBGETRESPONSE_MORE) Result = WebGetResponse_Finish(Parser);
        Check(Result >= WEBGETRESPONSE_DONE && Result <= WEBGETRESPONSE_SINKSTOP);
        Check(WebGetResponse_GetBodyBytes(Parser) == Total);
        Check(strlen(WebGetResponse_GetHeaderPtr(Parser)) <= WEBGETRESPONSE_HEADER_LIMIT + 2);
        // A failure that no retry can mend says why; a success is never one.
        const char *Why = nullptr;
        const int32 Final = WebGetResponse_GetFailure(Parser, &Why);
        Check(Why != nullptr && (Final == 0 || (Result != WEBGETRESPONSE_DONE && Why[0] != 0)));
    }
    WebGetResponse_Delete(&Parser);
    return 0;
}
