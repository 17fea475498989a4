// Dispatcher of "TQX.NotificationCenter": parameters in their declared
// order, then one native operation; its answer becomes "returnValue".
#include "runtime/notification/notification_center_script.h"

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/script/interop.h"
#include "runtime/text/crc.h"

namespace {

constexpr const char *ClassName = "NotificationCenter";

} // namespace

int32 NotificationCenter_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    const char *Method = nullptr;
    uint32 Hash = 0;
    if (!ApiGen_GetMethod(Request, ClassName, &Method, &Hash)) return FALSE;

    ApiGenParameters Get{Request, ClassName, Method};
    const char *Type, *Name, *Sender, *CallbackId, *Info, *InstanceId;
    int32 Delay = 0;
    int32 Answer = 0;
    // A fire that the pages' queue could not take whole answers false.
    const uint32 Refused = Interop_IsInitialized() ? Interop_GetRefusedCount() : 0;
    const int64 BudgetRefused = MemoryBudget_GetRefusedCount();
    switch (Hash) {
    case Crc32Const("addObserver"):
        if (Get.Text("type", &Type).Text("notification", &Name).Text("callbackId", &CallbackId).Read)
            Answer = NotificationCenter_AddObserverInterop(Type, Name, CallbackId);
        break;
    case Crc32Const("addInstanceObserver"):
        if (Get.Text("type", &Type).Text("notification", &Name).Text("sender", &Sender)
                .Text("callbackId", &CallbackId).Read)
            Answer = NotificationCenter_AddInstanceObserverInterop(Type, Name, Sender, CallbackId);
        break;
    case Crc32Const("removeObserver"):
        if (Get.Text("type", &Type).Text("notification", &Name).Text("callbackId", &CallbackId).Read)
            Answer = NotificationCenter_RemoveObserverInterop(Type, Name, CallbackId);
        break;
    case Crc32Const("removeInstanceObserver"):
        if (Get.Text("type", &Type).Text("notification", &Name).Text("sender", &Sender)
                .Text("callbackId", &CallbackId).Read)
            Answer = NotificationCenter_RemoveInstanceObserverInterop(Type, Name, Sender, CallbackId);
        break;
    case Crc32Const("fire"):
        if (Get.Text("type", &Type).Text("notification", &Name).Text("sender", &Sender).Text("info", &Info).Read) {
            const int32 Echo = NotificationCenter_BeginPageFire();
            Answer = NotificationCenter_FireInterop(Type, Name, Sender, Info);
            NotificationCenter_EndPageFire(Echo);
        }
        break;
    case Crc32Const("fireAfterDelay"):
        if (Get.Text("type", &Type).Text("notification", &Name).Text("sender", &Sender).Int32("delay", &Delay)
                .Text("info", &Info).Read) {
            const int32 Echo = NotificationCenter_BeginPageFire();
            Answer = NotificationCenter_FireAfterDelayInterop(Type, Name, Sender, Delay, Info);
            NotificationCenter_EndPageFire(Echo);
        }
        break;
    case Crc32Const("addRefInteropReference"):
        if (Get.Text("instanceId", &InstanceId).Read) Answer = NotificationCenter_AddRefInteropReference(InstanceId);
        break;
    case Crc32Const("releaseInteropReference"):
        if (Get.Text("instanceId", &InstanceId).Read) Answer = NotificationCenter_ReleaseInteropReference(InstanceId);
        break;
    default:
        return FALSE;
    }
    // A refused fire says why beside its answer.
    const bool Fire = Hash == Crc32Const("fire") || Hash == Crc32Const("fireAfterDelay");
    const bool Interop = Interop_IsInitialized() && Interop_GetRefusedCount() != Refused;
    if (Fire && (Answer != 1 || Interop) && MemoryBudget_GetRefusedCount() != BudgetRefused) {
        Answer = 0;
        Dictionary_SetStringByKey(Result, "error", "refused: the info passes the memory budget of the host");
    } else if (Interop) {
        Answer = 0;
        Dictionary_SetStringByKey(Result, "error",
                                  "refused: what waits for the pages is bounded to " INTEROP_QUEUE_LIMIT_TEXT);
    } else if (Fire && Get.Read && Answer != 1) {
        Dictionary_SetStringByKey(Result, "error",
                                  "refused: the info is no JSON object of at most 31 levels, so no page could have it");
    }
    Dictionary_SetBooleanByKey(Result, "returnValue", Answer == 1);
    return Get.Read ? TRUE : FALSE;
}
