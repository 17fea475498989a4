// Macro expansion on arbitrary text in a buffer of exactly the size given
// (tight sizes, so a write past it is caught), with a callback that answers a
// few names the way hostile configuration would: a cycle, an empty value, a
// value that fills its whole output without a terminator, one that echoes or
// grows its argument. The expansion must end, answer 1 or 0, leave the text
// untouched on 0 and keep it terminated within the size.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/text/string_expand.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Answer(void *, const char *Name, const char *Argument, char *Output, int32 Size) {
    Check(Size == STRING_EXPAND_RESULT_SIZE);
    std::string Value;
    if (strcmp(Name, "A") == 0) Value = "{B}";
    else if (strcmp(Name, "B") == 0) Value = "{A}";
    else if (strcmp(Name, "E") == 0) Value = "";
    else if (strcmp(Name, "Self") == 0) Value = "{Self}";
    else if (strcmp(Name, "Echo") == 0 && Argument != nullptr) Value = Argument;
    else if (strcmp(Name, "Twice") == 0 && Argument != nullptr) Value = std::string(Argument) + Argument;
    else if (strcmp(Name, "Fill") == 0) {
        memset(Output, 'f', (size_t)Size);
        return 1;
    } else {
        return 0;
    }
    if (Value.size() >= (size_t)Size) Value.resize((size_t)Size - 1);
    memcpy(Output, Value.c_str(), Value.size() + 1);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
    // Every provider the program has: the modules above the runtime add theirs.
    static const bool Registered = Crypto_Register() && PlatformServices_Register() && Content_Register() &&
                                   Net_Register();
    (void)Registered;
    if (Length < 2) return 0;
    // The first two bytes choose the buffer size: from 1 byte to past the
    // working buffer's 8,192.
    int32 Size = 1 + ((Data[0] | (Data[1] << 8)) % 9000);
    std::string Text(reinterpret_cast<const char *>(Data + 2), Length - 2);
    Text.resize(strnlen(Text.c_str(), Text.size()));
    if (Text.size() >= (size_t)Size) Text.resize((size_t)Size - 1);

    std::vector<char> Buffer((size_t)Size);
    memcpy(Buffer.data(), Text.c_str(), Text.size() + 1);
    int32 Result = String_Expand(Buffer.data(), Size, nullptr, Answer);
    Check(Result == 0 || Result == 1);
    size_t Expanded = strnlen(Buffer.data(), (size_t)Size);
    Check(Expanded < (size_t)Size);
    if (Result == 0) Check(Text == std::string(Buffer.data(), Expanded));
    return 0;
}
