// Proxy auto-config evaluation in Duktape: see platform_proxy.h.
//
// One heap per process, made on first use and guarded by a mutex (the proxy
// resolver serialises its calls, the mutex keeps any other caller safe).
// Definitions of earlier scripts stay in the heap, as PAC hosts expect.
// Bounds: a deadline checked by the interpreter (duk_config_bounded.h) and a
// cap on the heap's memory, so neither an endless loop nor a runaway
// allocation in a script from the network holds or sinks the process.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "duktape.h"

#include "platform/posix/platform_proxy.h"
#include "platform/posix/script_heap.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/socket.h"
#include "runtime/text/string.h"
#include "runtime/text/url.h"

namespace {

constexpr int32 DefaultTimeLimitMs = 5000;
constexpr size_t HeapLimitBytes = 64u << 20;
constexpr size_t HostSize = 4096;

// The conventional PAC functions. Patterns of shExpMatch are shell patterns:
// every other character stands for itself.
constexpr const char UtilityScript[] = R"JS(
function dnsDomainIs(host, domain) {
    host = String(host); domain = String(domain);
    return host.length >= domain.length && host.substring(host.length - domain.length) == domain;
}
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
function isValidIpAddress(text) {
    var parts = String(text).split('.');
    if (parts.length != 4) return false;
    for (var i = 0; i < 4; i++)
        if (!/^[0-9]{1,3}$/.test(parts[i]) || parseInt(parts[i], 10) > 255) return false;
    return true;
}
function convert_addr(text) {
    var b = String(text).split('.');
    return (((b[0] & 0xff) << 24) | ((b[1] & 0xff) << 16) | ((b[2] & 0xff) << 8) | (b[3] & 0xff)) >>> 0;
}
function isInNet(address, pattern, mask) {
    if (!isValidIpAddress(pattern) || !isValidIpAddress(mask)) return false;
    if (!isValidIpAddress(address)) {
        address = dnsResolve(address);
        if (!address) return false;
    }
    var m = convert_addr(mask);
    return ((convert_addr(address) & m) >>> 0) == ((convert_addr(pattern) & m) >>> 0);
}
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function isResolvable(host) { var ip = dnsResolve(host); return typeof ip == 'string' && ip.length > 0; }
function isResolvableEx(host) { var ip = dnsResolveEx(host); return typeof ip == 'string' && ip.length > 0; }
function localHostOrDomainIs(host, hostdom) {
    host = String(host); hostdom = String(hostdom);
    return host == hostdom || hostdom.lastIndexOf(host + '.', 0) == 0;
}
function shExpMatch(text, pattern) {
    var source = '';
    pattern = String(pattern);
    for (var i = 0; i < pattern.length; i++) {
        var c = pattern.charAt(i);
        if (c == '*') source += '[\\s\\S]*';
        else if (c == '?') source += '[\\s\\S]';
        else if ('\\^$.|+()[]{}/'.indexOf(c) >= 0) source += '\\' + c;
        else source += c;
    }
    return new RegExp('^' + source + '$').test(String(text));
}
var __pacDays = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __pacMonths = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
function __pacWithin(start, now, end) { return start <= end ? start <= now && now <= end : now >= start || now <= end; }
function weekdayRange() {
    var argc = arguments.length;
    var gmt = argc > 0 && arguments[argc - 1] == 'GMT';
    if (gmt) argc--;
    if (argc < 1 || argc > 2) return false;
    var first = __pacDays.indexOf(arguments[0]);
    var last = argc == 2 ? __pacDays.indexOf(arguments[1]) : first;
    if (first < 0 || last < 0) return false;
    var now = new Date();
    return __pacWithin(first, gmt ? now.getUTCDay() : now.getDay(), last);
}
// A group of dateRange values: day (below 32), month name, year (32 and more),
// in that order; the answer is its kinds and its value as one ordered number.
function __pacDateGroup(values) {
    var kinds = '', key = 0;
    for (var i = 0; i < values.length; i++) {
        var v = values[i], month = __pacMonths.indexOf(v);
        if (month >= 0) { if (kinds.indexOf('M') >= 0 || kinds.indexOf('Y') >= 0) return null; kinds += 'M'; key += month * 100; }
        else if (typeof v == 'number' && v >= 32) { if (kinds.indexOf('Y') >= 0) return null; kinds += 'Y'; key += v * 10000; }
        else if (typeof v == 'number' && v >= 1) { if (kinds != '') return null; kinds += 'D'; key += v; }
        else return null;
    }
    return { kinds: kinds, key: key };
}
function __pacDateKey(kinds, now, gmt) {
    var key = 0;
    if (kinds.indexOf('D') >= 0) key += gmt ? now.getUTCDate() : now.getDate();
    if (kinds.indexOf('M') >= 0) key += (gmt ? now.getUTCMonth() : now.getMonth()) * 100;
    if (kinds.indexOf('Y') >= 0) key += (gmt ? now.getUTCFullYear() : now.getFullYear()) * 10000;
    return key;
}
function dateRange() {
    var args = Array.prototype.slice.call(arguments);
    var gmt = args.length > 0 && args[args.length - 1] == 'GMT';
    if (gmt) args.pop();
    if (args.length < 1 || args.length > 6 || (args.length > 1 && args.length % 2)) return false;
    var now = new Date();
    if (args.length == 1) {
        var one = __pacDateGroup(args);
        return one != null && __pacDateKey(one.kinds, now, gmt) == one.key;
    }
    var start = __pacDateGroup(args.slice(0, args.length / 2)), end = __pacDateGroup(args.slice(args.length / 2));
    if (start == null || end == null || start.kinds != end.kinds) return false;
    return __pacWithin(start.key, __pacDateKey(start.kinds, now, gmt), end.key);
}
function timeRange() {
    var args = Array.prototype.slice.call(arguments);
    var gmt = args.length > 0 && args[args.length - 1] == 'GMT';
    if (gmt) args.pop();
    var now = new Date();
    var hour = gmt ? now.getUTCHours() : now.getHours();
    var second = hour * 3600 + (gmt ? now.getUTCMinutes() : now.getMinutes()) * 60 + (gmt ? now.getUTCSeconds() : now.getSeconds());
    switch (args.length) {
    case 1: return hour == args[0];
    case 2: return __pacWithin(args[0] * 3600, second, args[1] * 3600 + 3599);
    case 4: return __pacWithin(args[0] * 3600 + args[1] * 60, second, args[2] * 3600 + args[3] * 60 + 59);
    case 6: return __pacWithin(args[0] * 3600 + args[1] * 60 + args[2], second, args[3] * 3600 + args[4] * 60 + args[5]);
    default: throw 'timeRange: bad number of arguments';
    }
}
)JS";

// The heap comes first, so that the engine record is the heap's user data.
struct Engine {
    ScriptHeap Heap{0, 0, HeapLimitBytes};
    duk_context *Context = nullptr;
};

std::mutex EngineLock;
Engine State;
std::atomic<int32> TimeLimitMs{DefaultTimeLimitMs};

void Fatal(void *, const char *Message) { Debug_Abort("Script engine failure: %s\n", Message ? Message : ""); }

// myIpAddress(): the address this machine would send from (a UDP socket
// connected without sending), else the first up adapter that is not the
// loopback, else "127.0.0.1". PAC scripts compare it with isInNet.
duk_ret_t MyIpAddress(duk_context *Context) {
    char Text[INET_ADDRSTRLEN] = "127.0.0.1";
    int Socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in Peer{};
    Peer.sin_family = AF_INET;
    Peer.sin_port = htons(53);
    inet_pton(AF_INET, "192.0.2.1", &Peer.sin_addr); // never sent to
    sockaddr_in Local{};
    socklen_t Size = sizeof(Local);
    bool Known = Socket >= 0 && connect(Socket, reinterpret_cast<sockaddr *>(&Peer), sizeof(Peer)) == 0 &&
                 getsockname(Socket, reinterpret_cast<sockaddr *>(&Local), &Size) == 0 && Local.sin_addr.s_addr != 0;
    if (Socket >= 0) close(Socket);
    if (Known) inet_ntop(AF_INET, &Local.sin_addr, Text, sizeof(Text));
    else {
        PlatformAdapter Adapter;
        for (int32 Index = 0; Platform_GetAdapterByIndex(Index, 0, &Adapter); Index++)
            if (Adapter.Up && !Adapter.Loopback) {
                memcpy(Text, Adapter.AddressText, sizeof(Text) - 1);
                break;
            }
    }
    duk_push_string(Context, Text);
    return 1;
}

// The error text of the value on top (an Error's stack or the value as text).
std::string ErrorText(duk_context *Context) {
    if (duk_is_error(Context, -1)) {
        duk_get_prop_string(Context, -1, "message");
        std::string Text = duk_safe_to_string(Context, -1);
        duk_pop(Context);
        return Text;
    }
    return duk_safe_to_string(Context, -1);
}

int MyIpAddressNative(duk_context *Context) { return MyIpAddress(Context); }

} // namespace

extern "C" int32 PlatformJSCore_InitGlobalFunction(struct duk_hthread *Context, const char *Name,
                                                  int (*Function)(struct duk_hthread *)) {
    duk_push_c_function(Context, Function, DUK_VARARGS);
    return duk_put_global_string(Context, Name) ? 1 : 0;
}

extern "C" int32 PlatformJSCore_EvaluateScript(struct duk_hthread *Context, const char *Script) {
    if (duk_peval_string(Context, Script) != 0) {
        Log_Error("PAC script failed: %s\n", ErrorText(Context).c_str());
        duk_pop(Context);
        return 0;
    }
    duk_pop(Context);
    return 1;
}

// dnsResolve(host): the first IPv4 address of the name as dotted text;
// undefined for anything but one string argument or a failed resolution.
extern "C" int PlatformJSCore_DnsResolve(struct duk_hthread *Context) {
    if (duk_get_top(Context) != 1 || !duk_is_string(Context, 0)) return 0;
    const char *Name = duk_get_string(Context, 0);
    // An empty host (a URL whose host could not be taken) must not turn
    // into this machine's own address.
    MachineStruct Machine;
    if (Name[0] == 0 || !Socket_GetMachineByName(&Machine, Name)) return 0;
    char Text[48];
    String_ConvertFromIP(&Machine.Address, 0, Text, sizeof(Text));
    duk_push_string(Context, Text);
    return 1;
}


namespace {

bool MakeHeap() {
    State.Heap.InUse = 0;
    State.Context = duk_create_heap(ScriptHeap_Allocate, ScriptHeap_Reallocate, ScriptHeap_Free, &State.Heap, Fatal);
    if (State.Context == nullptr) return false;
    // The heap lives until the platform stops, or until a test frees it.
    Platform_SetRemoveStep(PlatformJSCore_Remove);
    if (!PlatformJSCore_InitGlobalFunction(State.Context, "dnsResolve", PlatformJSCore_DnsResolve) ||
        !PlatformJSCore_InitGlobalFunction(State.Context, "myIpAddress", MyIpAddressNative) ||
        !PlatformJSCore_EvaluateScript(State.Context, UtilityScript)) {
        duk_destroy_heap(State.Context);
        State.Context = nullptr;
        return false;
    }
    return true;
}

} // namespace

extern "C" int32 PlatformJSCore_Init(void) { return 1; }

extern "C" int32 PlatformJSCore_Remove(void) {
    std::lock_guard Guard(EngineLock);
    if (State.Context != nullptr) duk_destroy_heap(State.Context);
    State.Context = nullptr;
    return 1;
}

extern "C" const char *PlatformJSCore_GetUtilityScript(void) { return UtilityScript; }

extern "C" int32 PlatformJSCore_SetTimeLimit(int32 Milliseconds) {
    TimeLimitMs = Milliseconds > 0 ? Milliseconds : DefaultTimeLimitMs;
    return 1;
}

extern "C" int32 PlatformJSCore_ProxyGetForURLWithScript(const char *Script, void *Ignored, const char *URL,
                                                         char *Buffer, int32 Length) {
    (void)Ignored;
    Debug_CheckPointer(Script);
    Debug_CheckPointer(URL);
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    std::lock_guard Guard(EngineLock);
    if (State.Context == nullptr && !MakeHeap()) return 0;
    duk_context *Context = State.Context;
    State.Heap.Deadline = ScriptHeap_Now() + (int64_t)TimeLimitMs.load() * 1000000;

    int32 Result = 0;
    if (PlatformJSCore_EvaluateScript(Context, Script)) {
        char Host[HostSize];
        URL_ParseHostWithoutPort(URL, Host, sizeof(Host));
        // The URL and host reach the function as values: a URL can hold
        // quotes, and source built from it could redefine the function. The
        // pushes run protected too: a script may have left the heap full,
        // and a failed allocation outside protection would end the process.
        const char *Arguments[2] = {URL, Host};
        auto Call = [](duk_context *Inner, void *User) -> duk_ret_t {
            const char *const *Values = static_cast<const char *const *>(User);
            duk_get_global_string(Inner, "FindProxyForURL");
            duk_push_string(Inner, Values[0]);
            duk_push_string(Inner, Values[1]);
            duk_call(Inner, 2);
            return 1;
        };
        if (duk_safe_call(Context, Call, Arguments, 0, 1) != DUK_EXEC_SUCCESS) {
            Log_Error("FindProxyForURL failed: %s\n", ErrorText(Context).c_str());
        } else if (!duk_is_string(Context, -1)) {
            Log_Error("FindProxyForURL answered a %s, not a string\n",
                      duk_is_undefined(Context, -1) ? "undefined value" : "value other than a string");
        } else if (Length > 0) {
            duk_size_t Size = 0;
            const char *Answer = duk_get_lstring(Context, -1, &Size);
            const size_t Count = std::min((size_t)Size, (size_t)Length - 1);
            memcpy(Buffer, Answer, Count);
            Buffer[Count] = 0;
            Result = 1;
        }
        duk_pop(Context);
    }
    State.Heap.Deadline = 0;
    duk_gc(Context, 0);
    // A heap that stays nearly full after collection (a script keeps what it
    // allocated) would fail every later evaluation: it is dropped, and the
    // next evaluation starts a fresh one.
    if (State.Heap.InUse > HeapLimitBytes / 4 * 3) {
        Log_Error("PAC engine memory exhausted; the script context is reset\n");
        duk_destroy_heap(Context);
        State.Context = nullptr;
    }
    return Result;
}

extern "C" int32 Platform_ProxyGetForURLWithScript(const char *Script, void *Ignored, const char *URL, char *Buffer,
                                                   int32 Length) {
    return PlatformJSCore_ProxyGetForURLWithScript(Script, Ignored, URL, Buffer, Length);
}
