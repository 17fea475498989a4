// Class header: reference counts, delete dispatch, handle checks, instance
// ids and the instance table with its overrides, and the shared print family.
#include "runtime/class.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

constexpr uint32 WidgetClassId = 0x5eed0001u;

struct Widget {
    ClassStruct Class;
    ClassPrintStruct Print;
    int32 *DeleteCount;
};

int32 Widget_Delete(void *HandleAddress) {
    Widget **Handle = static_cast<Widget **>(HandleAddress);
    Class_CheckHandle(*Handle, WidgetClassId);
    Widget *Object = *Handle;
    if (Object->DeleteCount != nullptr) ++*Object->DeleteCount;
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

Widget *Widget_New(int32 *DeleteCount = nullptr) {
    Widget *New = Memory_New(Widget);
    Class_InitHeader(New, WidgetClassId, Widget_Delete);
    New->DeleteCount = DeleteCount;
    return New;
}

CLASS_DEFINE_REFERENCE(Widget, Widget, WidgetClassId)
CLASSPRINT_DEFINE(Widget, Widget, WidgetClassId, "Widget", Print)

// A print callback that formats with the C library, independent of the
// runtime's engine, and keeps each line.
int32 CapturePrint(void *User, const char *Format, ...) {
    char Line[4096];
    va_list Arguments;
    va_start(Arguments, Format);
    vsnprintf(Line, sizeof(Line), Format, Arguments);
    va_end(Arguments);
    static_cast<std::vector<std::string> *>(User)->push_back(Line);
    return TRUE;
}

int32 PrintTo(Widget *Handle, int32 Indent, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Widget_VPrint(Handle, Indent, Format, Arguments);
    va_end(Arguments);
    return Result;
}

void CheckWidget(Widget *Handle) { Class_CheckHandle(Handle, WidgetClassId); }

class ClassTest : public RuntimeTest {};

} // namespace

TEST(ClassLayout, HeaderAndPrintRecordOffsets) {
    EXPECT_EQ(offsetof(ClassStruct, InstanceId), 0u);
    EXPECT_EQ(offsetof(ClassStruct, ClassId), 36u);
    EXPECT_EQ(offsetof(ClassStruct, RefCount), 40u);
    EXPECT_EQ(offsetof(ClassStruct, Delete), 48u);
    EXPECT_EQ(sizeof(ClassStruct), 56u);
    EXPECT_EQ(offsetof(ClassPrintStruct, ClassName), 8u);
    EXPECT_EQ(offsetof(ClassPrintStruct, PrintIdentifier), 16u);
    EXPECT_EQ(offsetof(ClassPrintStruct, Verbose), 24u);
    EXPECT_EQ(offsetof(ClassPrintStruct, VerboseLevel), 28u);
    EXPECT_EQ(offsetof(ClassPrintStruct, VerboseListed), 32u);
    EXPECT_EQ(offsetof(ClassPrintStruct, PrintUser), 40u);
    EXPECT_EQ(offsetof(Widget, Print), sizeof(ClassStruct));
}

TEST_F(ClassTest, CreateSetsIdAndCountTogether) {
    Widget *Handle = Widget_New();
    EXPECT_EQ(Handle->Class.ClassId, WidgetClassId);
    EXPECT_EQ(Handle->Class.RefCount, 1);
    EXPECT_EQ(Handle->Class.InstanceId[0], 0);
    EXPECT_TRUE(Class_HasOneRef(Handle));
    EXPECT_EQ(Widget_Release(&Handle), 0);
    EXPECT_EQ(Handle, nullptr);
}

TEST_F(ClassTest, ReleaseOfSharedObjectKeepsItForTheOtherHolder) {
    int32 Deleted = 0;
    Widget *Owner = Widget_New(&Deleted);
    Widget *Other = Widget_AddRef(Owner);
    EXPECT_EQ(Other, Owner);
    EXPECT_FALSE(Class_HasOneRef(Owner));
    EXPECT_EQ(Class_Release(&Owner), 1);
    EXPECT_EQ(Owner, nullptr);
    EXPECT_EQ(Deleted, 0);
    EXPECT_TRUE(Class_HasOneRef(Other));
    EXPECT_EQ(Class_Release(&Other), 0);
    EXPECT_EQ(Other, nullptr);
    EXPECT_EQ(Deleted, 1);
}

TEST_F(ClassTest, AddRefOfNullIsNull) { EXPECT_EQ(Class_AddRef(nullptr), nullptr); }

TEST_F(ClassTest, DeleteCallbackCanBeReplaced) {
    Widget *Handle = Widget_New();
    Class_DeleteFunc Function = nullptr;
    Class_GetDeleteCallback(Handle, &Function);
    EXPECT_EQ(Function, &Widget_Delete);
    static int32 Calls;
    Calls = 0;
    Class_SetDeleteCallback(Handle, [](void *HandleAddress) -> int32 {
        Calls++;
        return Widget_Delete(HandleAddress);
    });
    Class_Release(&Handle);
    EXPECT_EQ(Calls, 1);
}

TEST_F(ClassTest, ConcurrentAddRefAndReleaseKeepTheCount) {
    int32 Deleted = 0;
    Widget *Shared = Widget_New(&Deleted);
    std::vector<std::thread> Threads;
    for (int Thread = 0; Thread < 8; Thread++) {
        Threads.emplace_back([Shared] {
            for (int Step = 0; Step < 20000; Step++) {
                Widget *Mine = Widget_AddRef(Shared);
                Widget *Again = static_cast<Widget *>(Class_AddRef(Mine));
                Class_Release(&Again);
                Class_Release(&Mine);
            }
        });
    }
    for (auto &Thread : Threads) Thread.join();
    EXPECT_EQ(Shared->Class.RefCount, 1);
    EXPECT_EQ(Deleted, 0);
    Class_Release(&Shared);
    EXPECT_EQ(Deleted, 1);
}

TEST_F(ClassTest, GetInstanceIdCopiesWithinTheBuffer) {
    Widget *Handle = Widget_New();
    Class_GenerateInstanceId(Handle);
    char Output[64];
    EXPECT_TRUE(Widget_GetInstanceId(Handle, Output, sizeof(Output)));
    EXPECT_STREQ(Output, Handle->Class.InstanceId);
    memset(Output, 'x', sizeof(Output));
    EXPECT_TRUE(Widget_GetInstanceId(Handle, Output, 10));
    EXPECT_EQ(std::string(Output), std::string(Handle->Class.InstanceId, 9));
    EXPECT_EQ(Output[10], 'x');
    EXPECT_TRUE(Widget_GetInstanceId(Handle, Output, 1));
    EXPECT_EQ(Output[0], 0);
    EXPECT_FALSE(Widget_GetInstanceId(Handle, Output, 0));
    Widget_Release(&Handle);
}

TEST_F(ClassTest, InstanceIdsAreDistinctLowerCaseHex) {
    Widget *First = Widget_New();
    Widget *Second = Widget_New();
    Class_GenerateInstanceId(First);
    Class_GenerateInstanceId(Second);
    for (Widget *Handle : {First, Second}) {
        std::string Id = Handle->Class.InstanceId;
        EXPECT_EQ(Id.size(), 32u);
        EXPECT_EQ(Id.find_first_not_of("0123456789abcdef"), std::string::npos) << Id;
    }
    EXPECT_STRNE(First->Class.InstanceId, Second->Class.InstanceId);
    Class_Release(&First);
    Class_Release(&Second);
}

TEST_F(ClassTest, InstanceTableTracksConvertsAndUntracks) {
    std::vector<Widget *> Handles;
    for (int Index = 0; Index < 600; Index++) {
        Widget *Handle = Widget_New();
        Class_GenerateInstanceId(Handle);
        EXPECT_TRUE(Class_TrackInstance(Handle, Handle->Class.InstanceId));
        Handles.push_back(Handle);
    }
    for (Widget *Handle : Handles) {
        // The id text is the object pointer itself; a copy of the text finds it too.
        EXPECT_EQ(Class_ConvertToInstanceId(Handle), reinterpret_cast<const char *>(Handle));
        std::string Copy = Handle->Class.InstanceId;
        EXPECT_EQ(Class_ConvertFromInstanceId(Copy.c_str()), Handle);
    }
    std::string Upper = Handles[0]->Class.InstanceId;
    for (char &Character : Upper) Character = (char)toupper((unsigned char)Character);
    EXPECT_EQ(Class_ConvertFromInstanceId(Upper.c_str()), nullptr);
    EXPECT_EQ(Class_ConvertFromInstanceId(nullptr), nullptr);
    EXPECT_EQ(Class_ConvertFromInstanceId("not-an-id"), nullptr);
    for (Widget *&Handle : Handles) {
        std::string Id = Handle->Class.InstanceId;
        EXPECT_TRUE(Class_UntrackInstance(Handle->Class.InstanceId));
        EXPECT_EQ(Class_ConvertFromInstanceId(Id.c_str()), nullptr);
        Class_Release(&Handle);
    }
}

// An object is untracked through its own id text or through a copy of it,
// and only its entry goes.
TEST_F(ClassTest, UntrackThroughTheOwnIdOrACopyRemovesOnlyThatEntry) {
    for (bool ThroughCopy : {false, true}) {
        Widget *Gone = Widget_New(), *Kept = Widget_New();
        for (Widget *Handle : {Gone, Kept}) {
            Class_GenerateInstanceId(Handle);
            ASSERT_TRUE(Class_TrackInstance(Handle, Handle->Class.InstanceId));
        }
        const std::string GoneId = Gone->Class.InstanceId, KeptId = Kept->Class.InstanceId;
        EXPECT_TRUE(Class_UntrackInstance(ThroughCopy ? GoneId.c_str() : Gone->Class.InstanceId)) << ThroughCopy;
        EXPECT_EQ(Class_ConvertFromInstanceId(GoneId.c_str()), nullptr) << ThroughCopy;
        EXPECT_EQ(Class_ConvertFromInstanceId(KeptId.c_str()), Kept) << ThroughCopy;
        EXPECT_TRUE(Class_UntrackInstance(Kept->Class.InstanceId));
        Class_Release(&Gone);
        Class_Release(&Kept);
    }
}

// Ids of every length around the hash's eight-byte steps, and ids that
// differ from one another in a single byte at every place, each find their
// own object and nothing else.
TEST_F(ClassTest, InstanceIdsOfEveryLengthAndOneByteApartFindTheirOwn) {
    std::vector<std::string> Ids;
    for (size_t Length = 1; Length <= 40; Length++) {
        const std::string Base(Length, 'a');
        Ids.push_back(Base);
        for (size_t At = 0; At < Length; At++) {
            std::string Other = Base;
            Other[At] = 'b';
            Ids.push_back(Other);
        }
    }
    std::vector<Widget *> Handles;
    for (const std::string &Id : Ids) {
        Handles.push_back(Widget_New());
        ASSERT_TRUE(Class_TrackInstance(Handles.back(), Id.c_str())) << Id;
    }
    for (size_t Index = 0; Index < Ids.size(); Index++) {
        const std::string Copy = Ids[Index];
        EXPECT_EQ(Class_ConvertFromInstanceId(Copy.c_str()), Handles[Index]) << Copy;
    }
    EXPECT_EQ(Class_ConvertFromInstanceId(std::string(41, 'a').c_str()), nullptr);
    for (size_t Index = 0; Index < Ids.size(); Index++) {
        EXPECT_TRUE(Class_UntrackInstance(Ids[Index].c_str()));
        Class_Release(&Handles[Index]);
    }
}

TEST_F(ClassTest, InstanceTableFromManyThreads) {
    std::vector<std::thread> Threads;
    std::atomic<int> Failures{0};
    for (int Thread = 0; Thread < 8; Thread++) {
        Threads.emplace_back([&Failures] {
            for (int Step = 0; Step < 500; Step++) {
                Widget *Handle = Widget_New();
                Class_GenerateInstanceId(Handle);
                Class_TrackInstance(Handle, Handle->Class.InstanceId);
                if (Class_ConvertFromInstanceId(Handle->Class.InstanceId) != Handle) Failures++;
                Class_UntrackInstance(Handle->Class.InstanceId);
                Class_Release(&Handle);
            }
        });
    }
    for (auto &Thread : Threads) Thread.join();
    EXPECT_EQ(Failures.load(), 0);
}

namespace {
std::vector<std::string> HookCalls;
void *FakeFrom(const char *Id) {
    HookCalls.push_back(std::string("from:") + Id);
    return reinterpret_cast<void *>(0x1000);
}
const char *FakeTo(void *) {
    HookCalls.push_back("to");
    return "fake";
}
int32 FakeTrack(void *, const char *Id) {
    HookCalls.push_back(std::string("track:") + Id);
    return 7;
}
int32 FakeUntrack(const char *Id) {
    HookCalls.push_back(std::string("untrack:") + Id);
    return 9;
}
} // namespace

TEST_F(ClassTest, OverridesReplaceTheOperations) {
    HookCalls.clear();
    Widget *Handle = Widget_New();
    Class_ConvertFromInstanceIdOverride(FakeFrom);
    Class_ConvertToInstanceIdOverride(FakeTo);
    Class_TrackInstanceOverride(FakeTrack);
    Class_UntrackInstanceOverride(FakeUntrack);
    EXPECT_EQ(Class_TrackInstance(Handle, "id1"), 7);
    EXPECT_EQ(Class_ConvertFromInstanceId("id1"), reinterpret_cast<void *>(0x1000));
    EXPECT_STREQ(Class_ConvertToInstanceId(Handle), "fake");
    // The local table never saw the id, yet no fatal stop: the hook answers.
    EXPECT_EQ(Class_UntrackInstance("id1"), 9);
    EXPECT_EQ(HookCalls, (std::vector<std::string>{"track:id1", "from:id1", "to", "untrack:id1"}));
    Class_ConvertFromInstanceIdOverride(nullptr);
    Class_ConvertToInstanceIdOverride(nullptr);
    Class_TrackInstanceOverride(nullptr);
    Class_UntrackInstanceOverride(nullptr);
    EXPECT_EQ(Class_ConvertFromInstanceId("id1"), nullptr);
    EXPECT_EQ(Class_ConvertToInstanceId(Handle), reinterpret_cast<const char *>(Handle));
    Class_Release(&Handle);
}

TEST_F(ClassTest, RemoveClearsOverrides) {
    Class_ConvertToInstanceIdOverride(FakeTo);
    Class_Remove();
    Class_Init();
    int Object = 0;
    EXPECT_EQ(Class_ConvertToInstanceId(&Object), reinterpret_cast<const char *>(&Object));
}

TEST(ClassDeath, HandleChecks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            CheckWidget(nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Widget *Handle = Widget_New();
            Handle->Class.ClassId = 0x12345678;
            CheckWidget(Handle);
        },
        ::testing::KilledBySignal(SIGILL),
        "Class mismatch pointer \\(0x(0x)?[0-9a-fA-F]+: expected 0x5eed0001 but was 0x12345678\\)");
}

TEST(ClassDeath, ReleaseChecks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Class_Release(nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Widget *Empty = nullptr;
            Class_Release(&Empty);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Widget *Handle = Widget_New();
            strcpy(Handle->Class.InstanceId, "abc");
            Class_SetDeleteCallback(Handle, nullptr);
            Class_Release(&Handle);
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(FALSE\\)\nClass delete function pointer is null \\[abc\\]");
}

TEST(ClassDeath, TableChecks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Class_UntrackInstance("0123456789abcdef0123456789abcdef");
        },
        ::testing::KilledBySignal(SIGILL), "Unable to remove instance from class instance hash table");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Class_Init();
        },
        ::testing::KilledBySignal(SIGILL), "Assertion failed \\(GlobalClass == NULL\\)\nClass already initialized");
}

// Line splitting of the diagnostic print.
class ClassPrintTest : public RuntimeTest {
  protected:
    Widget *Handle = nullptr;
    std::vector<std::string> Lines;
    std::string Prefix;
    void SetUp() override {
        RuntimeTest::SetUp();
        Handle = Widget_New();
        Class_GenerateInstanceId(Handle);
        Widget_SetPrintCallback(Handle, &Lines, CapturePrint);
        Prefix = std::string("Widget.") + Handle->Class.InstanceId + " - ";
    }
    void TearDown() override {
        Widget_Release(&Handle);
        RuntimeTest::TearDown();
    }
};

TEST_F(ClassPrintTest, SplitsAtLineBreaks) {
    struct Case {
        const char *Message;
        std::vector<std::string> Expected;
    } Cases[] = {
        {"alpha\r\n\r\nbeta", {"alpha", "beta"}},
        {"word\n", {"word"}},
        {"", {""}},
        {"whole line", {"whole line"}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"\n\n\rx", {"x"}},
        {"\r\n", {}},
        {"tail\n\nend", {"tail", "end"}},
    };
    for (const Case &Each : Cases) {
        Lines.clear();
        Widget_Print(Handle, "%s", Each.Message);
        std::vector<std::string> Expected;
        for (const std::string &Line : Each.Expected) Expected.push_back(Prefix + Line + "\n");
        EXPECT_EQ(Lines, Expected) << "message: " << Each.Message;
    }
}

TEST_F(ClassPrintTest, LinesCarryIdentifierAndIndent) {
    Widget_SetPrintIdentifier(Handle, "conn7");
    Widget_PrintTabbed(Handle, 2, "value %d", 42);
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], std::string("Widget.") + Handle->Class.InstanceId + ".conn7 -         value 42\n");
    Lines.clear();
    Widget_SetPrintIdentifier(Handle, nullptr);
    Widget_PrintTabbed(Handle, 1000, "deep");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], Prefix + std::string(79, ' ') + "deep\n");
    Lines.clear();
    // A line holding a conversion is passed as an argument, never as a format.
    Widget_Print(Handle, "%s", "100% %s %d");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], Prefix + "100% %s %d\n");
    Lines.clear();
    // A negative indent is no indent.
    PrintTo(Handle, -3, "%d-%s", 7, "x");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], Prefix + "7-x\n");
}

TEST_F(ClassPrintTest, ObjectWithoutIdPrintsItsAddress) {
    Widget *Plain = Widget_New();
    Widget_SetPrintCallback(Plain, &Lines, CapturePrint);
    Widget_Print(Plain, "hi");
    char Expected[64];
    snprintf(Expected, sizeof(Expected), "Widget.%08x - hi\n", (uint32)reinterpret_cast<uintptr>(Plain));
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], Expected);
    Widget_Release(&Plain);
}

TEST_F(ClassPrintTest, CallbackAndVerboseAccessors) {
    void *User = nullptr;
    ClassPrint_Func Function = nullptr;
    Widget_GetPrintCallback(Handle, &User, &Function);
    EXPECT_EQ(User, &Lines);
    EXPECT_EQ(Function, &CapturePrint);
    int32 Verbose = -1;
    Widget_GetVerbose(Handle, &Verbose);
    EXPECT_EQ(Verbose, 0);
    // Not listed and not verbose: nothing.
    EXPECT_FALSE(Widget_IsVerboseLevel(Handle, 0));
    // Verbose alone admits level 0 and below only.
    Widget_SetVerbose(Handle, 1);
    Widget_GetVerbose(Handle, &Verbose);
    EXPECT_EQ(Verbose, 1);
    EXPECT_TRUE(Widget_IsVerboseLevel(Handle, 0));
    EXPECT_TRUE(Widget_IsVerboseLevel(Handle, -1));
    EXPECT_FALSE(Widget_IsVerboseLevel(Handle, 1));
    EXPECT_EQ(Handle->Print.Looked, 1);
    EXPECT_STREQ(Handle->Print.ClassName, "Widget");
}

TEST(ClassPrintVerbose, VerboseAllAnswersLevelEight) {
    RuntimeScope Scope(DEBUG_FLAG_VERBOSEALL);
    Widget *Handle = Widget_New();
    EXPECT_TRUE(Widget_IsVerboseLevel(Handle, 8));
    EXPECT_FALSE(Widget_IsVerboseLevel(Handle, 9));
    EXPECT_EQ(Handle->Print.VerboseListed, 1);
    EXPECT_EQ(Handle->Print.VerboseLevel, 8);
    Widget_Release(&Handle);
}

namespace {
std::vector<std::string> LogLines;
int32 CaptureLog(const char *Text) {
    LogLines.push_back(Text);
    return TRUE;
}
} // namespace

TEST(ClassPrintDefault, DefaultPrinterWritesDebugLines) {
    RuntimeScope Scope(DEBUG_FLAG_EXTERNALPRINT);
    LogLines.clear();
    Debug_PrintCallback(CaptureLog);
    Widget *Handle = Widget_New();
    Class_GenerateInstanceId(Handle);
    Widget_Print(Handle, "one\ntwo");
    Debug_PrintCallback(nullptr);
    EXPECT_EQ(Handle->Print.PrintUser, Handle);
    EXPECT_EQ(Handle->Print.InstanceIdText, reinterpret_cast<const char *>(Handle));
    std::vector<std::string> Expected = {std::string("DEBUG - Widget.") + Handle->Class.InstanceId + " - one\n",
                                         std::string("DEBUG - Widget.") + Handle->Class.InstanceId + " - two\n"};
    EXPECT_EQ(LogLines, Expected);
    Widget_Release(&Handle);
}

namespace {
// Stands for a forwarder that reaches only the log while its target says so.
int32 ForwardAnswer = 0;
int32 AskForward(void *) { return ForwardAnswer; }
int32 ForwardToLog(void *, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, TRUE, Arguments);
    va_end(Arguments);
    LogLines.push_back("forwarded");
    return Result;
}
} // namespace

// A printer marked as log-only is not even called while the log is off; in
// every other case the lines are the same as from an unmarked printer.
TEST(ClassPrintLogOnly, SkippedOnlyWhileTheLogIsOff) {
    ASSERT_TRUE(ClassPrint_MarkLogOnly(ForwardToLog, AskForward));
    struct Case {
        uint32 Flags;
        int32 Answer;
        int32 Lines;
    };
    const Case Cases[] = {{0, 1, 0}, {0, 0, 1}, {DEBUG_FLAG_EXTERNALPRINT, 1, 2}, {DEBUG_FLAG_EXTERNALPRINT, 0, 2}};
    for (const Case &Each : Cases) {
        RuntimeScope Scope;
        Debug_SetFlags(Each.Flags);
        LogLines.clear();
        ForwardAnswer = Each.Answer;
        Debug_PrintCallback(CaptureLog);
        Widget *Handle = Widget_New();
        Class_GenerateInstanceId(Handle);
        Widget_SetPrintCallback(Handle, nullptr, ForwardToLog);
        EXPECT_TRUE(Widget_Print(Handle, "line %d", 7));
        Debug_SetFlags(DEBUG_FLAG_EXTERNALPRINT);
        Debug_PrintCallback(nullptr);
        std::vector<std::string> Expected;
        if (Each.Lines > 0) Expected.push_back("forwarded");
        if (Each.Lines > 1)
            Expected.insert(Expected.begin(), std::string("DEBUG - Widget.") + Handle->Class.InstanceId + " - line 7\n");
        EXPECT_EQ(LogLines, Expected) << Each.Flags << "/" << Each.Answer;
        Widget_Release(&Handle);
    }
}

namespace {
// Both write the log's stamped debug line of what they are handed, as a
// type's default printer does; only the first is marked so, and counts the
// lines that still reach it.
int32 DirectCalls = 0;
int32 MarkedLogPrinter(void *, const char *Format, ...) {
    DirectCalls++;
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, TRUE, Arguments);
    va_end(Arguments);
    return Result;
}
int32 UnmarkedLogPrinter(void *, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, TRUE, Arguments);
    va_end(Arguments);
    return Result;
}
} // namespace

// A marked printer's common lines are composed straight into the log's line:
// the print callback and the file must get the same text, stamps aside, as
// through the printer itself, and only lines the short way cannot take may
// still reach the printer.
TEST(ClassPrintLogLine, ComposedLinesMatchThePrinters) {
    ASSERT_TRUE(ClassPrint_MarkLogLine(MarkedLogPrinter, nullptr));
    TempDirectory Directory;
    const std::string Path = Directory / "lines.log";
    Debug_Init(Path.c_str(), nullptr, DEBUG_FLAG_FILE | DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(CaptureLog);
    Widget *Handle = Widget_New();
    Class_GenerateInstanceId(Handle);
    // The longest message behind "Widget.<id> - " in the 2,048-byte line.
    const size_t Fill = 2047 - strlen("Widget. - ") - strlen(Handle->Class.InstanceId);
    const std::string Long(2100, 'i');
    struct Case {
        const char *Identifier;
        int32 Indent;
        const char *Format;
        size_t Length;
        bool Direct;
    };
    const Case Cases[] = {
        {nullptr, 0, "%s\n", 10, true},          {"io", 0, "Compare %s to %s = %d\n", 3, true},
        {"io", 3, "%s", 0, true},                  {nullptr, 100, "%s\r\n\n", 5, true},
        {nullptr, 0, "\n", 0, true},               {nullptr, 0, "%s\n", Fill - 1, true},
        {nullptr, 0, "%s", Fill, true},            {nullptr, 0, "%s", Fill + 1, false},        {nullptr, 0, "%s\n", Fill, false},
        {nullptr, 1, "%s\n", Fill - 4, false},     {nullptr, 0, "%s\n", 3000, false},
        {nullptr, 0, "a%s\nb %s %d\n", 4, false},     {Long.c_str(), 0, "%s\n", 4, false},
        {"io", 2, "%s = %f\n", 20, true},
    };
    const std::regex Stamp("(^|\n)\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d ");
    for (const Case &Each : Cases) {
        const std::string Text(Each.Length, 'x');
        Widget_SetPrintIdentifier(Handle, Each.Identifier);
        std::vector<std::string> Got[2];
        std::string File[2];
        for (int32 Way = 0; Way < 2; Way++) {
            Widget_SetPrintCallback(Handle, nullptr, Way == 0 ? MarkedLogPrinter : UnmarkedLogPrinter);
            LogLines.clear();
            DirectCalls = 0;
            const size_t Before = ReadFile(Path).size();
            if (strstr(Each.Format, "%f") != nullptr)
                Widget_PrintTabbed(Handle, Each.Indent, Each.Format, Text.c_str(), 1.5);
            else
                Widget_PrintTabbed(Handle, Each.Indent, Each.Format, Text.c_str(), "two", -7);
            Got[Way] = LogLines;
            File[Way] = ReadFile(Path).substr(Before);
            // Every debug line is stamped (the report of a cut message is not).
            EXPECT_EQ(std::count_if(Got[Way].begin(), Got[Way].end(),
                                    [](const std::string &Line) { return Line.rfind("DEBUG - ", 0) == 0; }),
                      std::distance(std::sregex_iterator(File[Way].begin(),
                                                                                   File[Way].end(), Stamp),
                                                              std::sregex_iterator()));
            File[Way] = std::regex_replace(File[Way], Stamp, "$1");
            if (Way == 0) {
                EXPECT_EQ(DirectCalls == 0, Each.Direct) << Each.Format << " " << Each.Length;
            }
        }
        EXPECT_EQ(Got[0], Got[1]) << Each.Format << " " << Each.Length;
        EXPECT_EQ(File[0], File[1]) << Each.Format << " " << Each.Length;
    }
    Widget_Release(&Handle);
    Debug_Remove();
    Debug_PrintCallback(nullptr);
}

// Ids shorter than eight characters are padded, and lines of any length up
// to the message buffer come through whole, whichever way the line is made.
TEST_F(ClassPrintTest, ShortIdsAndLongLinesPrintAlike) {
    struct Case {
        const char *Id;
        size_t Length;
    };
    const Case Cases[] = {{nullptr, 0}, {nullptr, 1900}, {nullptr, 2040}, {"ab", 5}, {"abcdefgh", 5}};
    // The id is tracked by its text: it is put back before the release.
    const std::string Tracked = Handle->Class.InstanceId;
    for (const Case &Each : Cases) {
        if (Each.Id != nullptr) strcpy(Handle->Class.InstanceId, Each.Id);
        const std::string Body(Each.Length, 'x');
        Lines.clear();
        Widget_Print(Handle, "%s", Body.c_str());
        const std::string Id = Each.Id == nullptr ? std::string(Handle->Class.InstanceId)
                                                  : std::string(8 - std::min<size_t>(8, strlen(Each.Id)), ' ') + Each.Id;
        ASSERT_EQ(Lines.size(), 1u) << Each.Length;
        EXPECT_EQ(Lines[0], "Widget." + Id + " - " + Body + "\n") << Each.Length;
    }
    strcpy(Handle->Class.InstanceId, Tracked.c_str());
}

// Lines of one message around the 2,048-byte buffers, with and without line
// ends, a NUL and an indent: each line the message makes (cut to 2,047 bytes
// like any printed text) arrives once, whole, after its prefix.
TEST_F(ClassPrintTest, LinesNearTheBufferEndArriveWhole) {
    Widget_SetPrintIdentifier(Handle, "io");
    const std::string Head = std::string("Widget.") + Handle->Class.InstanceId + ".io - " + std::string(8, ' ');
    const char *Ends[] = {"", "\n", "\r\n\n", "\nz", "\n\n"};
    std::vector<size_t> Lengths = {0, 1, 100};
    for (size_t Length = 2048 - Head.size() - 6; Length <= 2049; Length++) Lengths.push_back(Length);
    for (const char *End : Ends)
        for (const size_t Length : Lengths) {
            const std::string Body(Length, 'y');
            std::string Message = (Body + End).substr(0, 2047);
            std::vector<std::string> Expected;
            if (Message.find_first_of("\r\n") == std::string::npos) Expected.push_back(Head + Message + "\n");
            else for (size_t At = 0; At < Message.size();) {
                const size_t Break = std::min(Message.find_first_of("\r\n", At), Message.size());
                if (Break > At) Expected.push_back(Head + Message.substr(At, Break - At) + "\n");
                At = Break + 1;
            }
            Lines.clear();
            Widget_PrintTabbed(Handle, 2, "%s%s", Body.c_str(), End);
            EXPECT_EQ(Lines, Expected) << Length << " " << strlen(End);
        }
    // Text behind a NUL the format made is not part of the line.
    Lines.clear();
    Widget_PrintTabbed(Handle, 2, "ab%ccd\n", 0);
    EXPECT_EQ(Lines, std::vector<std::string>{Head + "ab\n"});
}

// Around the eight characters from which an id needs no padding: the short
// way takes only ids of eight or more, the rest are padded by the general one.
TEST_F(ClassPrintTest, IdsAroundEightCharactersPadAlike) {
    const char *Ids[] = {"abcdefg", "abcdefgh", "abcdefghi"};
    const std::string Tracked = Handle->Class.InstanceId;
    for (const char *Id : Ids) {
        strcpy(Handle->Class.InstanceId, Id);
        Lines.clear();
        Widget_Print(Handle, "%s\n", "m");
        ASSERT_EQ(Lines.size(), 1u) << Id;
        EXPECT_EQ(Lines[0], "Widget." + std::string(8 - std::min<size_t>(8, strlen(Id)), ' ') + Id + " - m\n");
    }
    strcpy(Handle->Class.InstanceId, Tracked.c_str());
}
