// Dispatcher of "TQX.Task" (see task_script.h).
#include "workflow/task_script.h"

#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"
#include "workflow/task.h"
#include "workflow/task_internal.h"

namespace {

constexpr int32 Size = APIGEN_TEXT_SIZE;

bool Dispatch(Task *Self, uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *A = nullptr, *B = nullptr;
    float64 Real = 0;
    int32 Number = 0;
    auto Flag = [&Out](int32 Answer) { Out.Number = Answer ? 1 : 0; };
    auto Text = [&Out](const char *Answer) {
        Out.Type = ApiGenAnswer::Text;
        if (Answer != nullptr) String_CopyLength(Out.Buffer, Answer, Size);
    };
    switch (Hash) {
    case Crc32Const("isCompleted"): Flag(Task_IsCompleted(Self)); return true;
    case Crc32Const("isCancelled"): Flag(Task_IsCancelled(Self)); return true;
    case Crc32Const("start"):
        // A completed task's part is over: started again from a page it would
        // run in a workflow that may be going (an event task made a new
        // event, whose tasks nothing would end), so it is refused.
        if (Task_IsCompleted(Self)) {
            Task_Print(Self, "start refused: the task has completed\n");
            Flag(FALSE);
        } else {
            Flag(Task_Start(Self));
        }
        return true;
    case Crc32Const("cancel"):
        // A task whose completion has begun has its outcome: a page's cancel
        // then would only add a cancel error that its parent, and the run,
        // would take for the task's own.
        if (Self->Completing) {
            Task_Print(Self, "cancel refused: the task is completing\n");
            Flag(FALSE);
        } else {
            Flag(Task_Cancel(Self));
        }
        return true;
    case Crc32Const("complete"):
        if (Get.Text("json", &A).Read) Flag(Task_CompleteInterop(Self, A));
        return true;
    case Crc32Const("print"):
        if (Get.Text("message", &A).Read) Flag(Task_Print(Self, "%s\n", A));
        return true;
    case Crc32Const("getName"): Text(Task_GetNamePtr(Self)); return true;
    case Crc32Const("getType"): Text(Task_GetType(Self)); return true;
    case Crc32Const("getTimeElapsed"):
        Out.Type = ApiGenAnswer::Float64;
        Task_GetTimeElapsed(Self, &Out.Real);
        return true;
    case Crc32Const("hasArgument"):
        if (Get.Text("name", &A).Read) Flag(Task_HasArgument(Self, A));
        return true;
    case Crc32Const("getStringArgument"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("name", &A).Read && !Task_GetStringArgument(Self, A, Out.Buffer, Size)) Out.Buffer[0] = 0;
        return true;
    case Crc32Const("getNumberArgument"):
        Out.Type = ApiGenAnswer::Float64;
        // A page that asks marks no task: what is no number reads as 0.
        if (Get.Text("name", &A).Read && TaskInt_ReadNumber(Self, A, &Real, false)) Out.Real = Real;
        return true;
    case Crc32Const("getBooleanArgument"): {
        Out.Type = ApiGenAnswer::Int32;
        uint32 Value = 0;
        if (Get.Text("name", &A).Read && Task_GetBooleanArgument(Self, A, &Value)) Out.Number = Value ? 1 : 0;
        return true;
    }
    case Crc32Const("setStatus"):
        if (Get.Text("status", &A).Read) Flag(Task_SetStatus(Self, A));
        return true;
    case Crc32Const("setStatusString"):
        if (Get.Text("name", &A).Text("value", &B).Read) Flag(Task_SetStatusString(Self, A, B));
        return true;
    case Crc32Const("setStatusNumber"):
        if (Get.Text("name", &A).Float64("value", &Real).Read) Flag(Task_SetStatusNumber(Self, A, Real));
        return true;
    case Crc32Const("setProgress"):
        if (Get.Float64("progress", &Real).Read) Flag(Task_SetProgress(Self, Real));
        return true;
    case Crc32Const("addError"):
        if (Get.Text("message", &A).Read) Flag(Task_AddError(Self, "%s", A));
        return true;
    case Crc32Const("addWarning"):
        if (Get.Text("message", &A).Read) Flag(Task_AddWarning(Self, "%s", A));
        return true;
    case Crc32Const("hasError"):
        if (Get.Text("errorId", &A).Read) Flag(Task_HasError(Self, A));
        return true;
    case Crc32Const("hasWarning"):
        if (Get.Text("warningId", &A).Read) Flag(Task_HasWarning(Self, A));
        return true;
    case Crc32Const("getErrorCount"):
        Out.Type = ApiGenAnswer::Int32;
        Task_GetErrorCount(Self, &Number);
        Out.Number = Number;
        return true;
    case Crc32Const("getWarningCount"):
        Out.Type = ApiGenAnswer::Int32;
        Task_GetWarningCount(Self, &Number);
        Out.Number = Number;
        return true;
    case Crc32Const("getError"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Int32("index", &Number).Read && Task_GetErrorPtr(Self, Number, &A)) Text(A);
        return true;
    case Crc32Const("getWarning"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Int32("index", &Number).Read && Task_GetWarningPtr(Self, Number, &A)) Text(A);
        return true;
    case Crc32Const("runSubAction"):
        if (Get.Text("name", &A).Text("callbackId", &B).Read) Flag(Task_RunSubActionInterop(Self, A, B));
        return true;
    default: return false;
    }
}

} // namespace

int32 Task_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    Task *Self = static_cast<Task *>(User);
    Class_CheckHandle(Self, TASK_CLASSID);
    return ApiGenInvoke(Request, Result, "Task", [Self](uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
        return Dispatch(Self, Hash, Get, Out);
    });
}
