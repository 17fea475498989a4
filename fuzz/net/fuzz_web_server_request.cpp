// The server's request reader on arbitrary bytes, fed as one block and again
// as growing prefixes. Invariants: results are one of the defined ones, a
// parsed request never consumes more than it was given nor a header block
// over the limit, its path starts with "/", and a prefix of a parsed block
// never parses as a different request.
#include <stdint.h>
#include <stddef.h>

#include <string>

#include "net/web_server.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const char *Bytes = reinterpret_cast<const char *>(Data);
    WebServerRequest Whole;
    size_t WholeConsumed = 0;
    int32 Result = WebServer_ParseRequest(Bytes, Size, &Whole, &WholeConsumed);
    Check(Result >= WEBSERVER_PARSE_MORE && Result <= WEBSERVER_PARSE_UNSUPPORTED);
    if (Result != WEBSERVER_PARSE_DONE) return 0;
    Check(WholeConsumed <= Size && WholeConsumed <= WEBSERVER_HEADER_LIMIT + 4 + Size);
    Check(!Whole.Path.empty() && Whole.Path[0] == '/');
    Check(Whole.BodyLength >= 0);
    for (size_t Cut = 0; Cut < WholeConsumed; Cut += 7) {
        WebServerRequest Part;
        size_t Consumed = 0;
        Check(WebServer_ParseRequest(Bytes, Cut, &Part, &Consumed) != WEBSERVER_PARSE_DONE || Consumed <= Cut);
    }
    return 0;
}
