// Notification center: fires whose payload is given as JSON text (printed
// from a format, or as a page sends it). The text is parsed into a new
// Dictionary whose wrapping root is skipped; nothing is fired when it does
// not parse, and the parser's answer is the operation's.
//
// A page's text must be a JSON object: a payload is keyed members, and any
// other value (an array, a number, null) would reach every page's batch as
// "info" members without keys, which no page can parse. Such a text fires
// nothing and answers 0. A delayed fire holds its payload against the pages'
// bound while it waits, and answers 0 past it.
#include <string.h>

#include "runtime/containers/dictionary.h"
#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_center_internal.h"

namespace {

// Parses with Load and, when Accept(result, root, payload), hands the payload
// to Deliver; Accept may replace the result.
template <typename Load, typename Accept, typename Deliver>
int32 WithParsedPayload(Load &&Loader, Accept &&Accepted, Deliver &&Deliverer) {
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Root);
    int32 Result = Loader(Json);
    Dictionary *Payload = nullptr;
    Dictionary_SkipRoot(Root, &Payload);
    if (Accepted(Result, Root, Payload)) Deliverer(Payload);
    JSON_Delete(&Json);
    Dictionary_Release(&Root);
    return Result;
}

// A page's text: refused while it is read when its tree would pass the
// memory budget, before anything is fired.
int32 LoadCharged(JSON *Json, const char *Text) {
    int32 Refused = FALSE;
    const int32 Result = JSON_LoadBufferCharged(Json, Text, (int32)strlen(Text), &Refused);
    if (Refused)
        Log_Warning("NotificationCenter - A page's fire was refused: its info passes the memory budget of %lld MiB\n",
                    (long long)(MemoryBudget_GetLimit() >> 20));
    return Result;
}

bool Parsed(int32 &Result, Dictionary *, Dictionary *) { return Result != 0; }
// Page texts are fired only on a clean parse of an object (the root is
// skipped only for an object).
bool ParsedObject(int32 &Result, Dictionary *Root, Dictionary *Payload) {
    if (Result == 1 && Payload == Root) Result = 0;
    return Result == 1;
}

} // namespace

int32 NotificationCenter_FireWithJSON(const char *Type, const char *Name, const char *Instance, const char *Format,
                                      ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = NotificationCenter_FireWithJSONV(Type, Name, Instance, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 NotificationCenter_FireWithJSONV(const char *Type, const char *Name, const char *Instance,
                                       const char *Format, va_list Arguments) {
    if (Format == nullptr) return NotificationCenter_Fire(Type, Name, Instance, nullptr);
    return WithParsedPayload([&](JSON *Json) { return JSON_LoadStringV(Json, Format, Arguments); }, Parsed,
                             [&](Dictionary *Payload) { NotificationCenter_Fire(Type, Name, Instance, Payload); });
}

int32 NotificationCenter_FireInterop(const char *Type, const char *Name, const char *Instance,
                                     const char *JsonText) {
    if (JsonText == nullptr) return FALSE;
    return WithParsedPayload(
        [&](JSON *Json) { return LoadCharged(Json, JsonText); }, ParsedObject,
        [&](Dictionary *Payload) { NotificationCenter_Fire(Type, Name, Instance, Payload); });
}

int32 NotificationCenter_FireAfterDelayWithJSON(const char *Type, const char *Name, const char *Instance,
                                                int32 DelayMilliseconds, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result =
        NotificationCenter_FireAfterDelayWithJSONV(Type, Name, Instance, DelayMilliseconds, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 NotificationCenter_FireAfterDelayWithJSONV(const char *Type, const char *Name, const char *Instance,
                                                 int32 DelayMilliseconds, const char *Format, va_list Arguments) {
    if (Format == nullptr) return NotificationCenter_FireAfterDelay(Type, Name, Instance, DelayMilliseconds, nullptr);
    return WithParsedPayload([&](JSON *Json) { return JSON_LoadStringV(Json, Format, Arguments); }, Parsed,
                             [&](Dictionary *Payload) {
                                 NotificationCenter_FireAfterDelay(Type, Name, Instance, DelayMilliseconds, Payload);
                             });
}

int32 NotificationCenter_FireAfterDelayInterop(const char *Type, const char *Name, const char *Instance,
                                               int32 DelayMilliseconds, const char *JsonText) {
    if (JsonText == nullptr) return FALSE;
    int32 Held = TRUE;
    const int32 Result = WithParsedPayload(
        [&](JSON *Json) { return LoadCharged(Json, JsonText); }, ParsedObject,
        [&](Dictionary *Payload) {
            Held = NotificationCenter_FireAfterDelayHeld(Type, Name, Instance, DelayMilliseconds, Payload);
        });
    return Held ? Result : FALSE;
}
