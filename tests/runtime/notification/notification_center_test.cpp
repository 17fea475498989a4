// Notification center: delivery order and case-less keys, changes made from
// inside a delivery (removal, addition, nested fires, a process step run by
// an observer), fires from other threads that block until the owner thread
// delivered them, delayed fires and the step's budget on the test clock, the
// interop reference counts and the forwarding hooks.
//
// The gtest thread is the owner ("main") thread: it flushes the main event
// queue and runs the process step itself. Run this program under ASan
// (removal and nested-step cases) and under TSan (the CrossThread groups).
#include "runtime/notification/notification_center.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center_internal.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/runtime.h"

namespace {

// Every call of a recording observer, as "label:type.name.instance".
std::vector<std::string> Calls;

struct Recorder {
    const char *Label;
    // Runs after the call was recorded (may be empty).
    void (*Then)(Recorder *Self, const char *Type, const char *Name, const char *Instance, Dictionary *Info);
    void *Context;
    static inline Dictionary *Shared = nullptr; // a payload delivered by reference
};

int32 Record(void *User, const char *Type, const char *Name, const char *Instance, Dictionary *Info) {
    auto *Self = static_cast<Recorder *>(User);
    Calls.push_back(std::string(Self->Label) + ":" + Type + "." + Name + "." + Instance);
    if (Self->Then != nullptr) Self->Then(Self, Type, Name, Instance, Info);
    return TRUE;
}

std::vector<std::string> TakeCalls() {
    std::vector<std::string> Taken;
    Taken.swap(Calls);
    return Taken;
}

// Flushes until no step of the center is left posted (every fire due now is
// delivered), within a generous deadline. One flush is not enough on a busy
// machine: a step delivers for at most 0.1 s, and so does a flush, and the
// core may be taken away in the middle of either.
void FlushAllDue() {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do EventQueue_Flush(nullptr);
    while (GlobalNotificationCenter->ProcessPosted && std::chrono::steady_clock::now() < Deadline);
}

uint32 ActiveRecords(Pool *Handle) {
    uint32 Count = 0;
    Pool_GetActiveCount(Handle, &Count);
    return Count;
}

class NotificationCenterTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
        // Every record from the general allocator, so that ASan sees a
        // record used after the center gave it back.
        NotificationCenter *Center = GlobalNotificationCenter;
        for (Pool *Records : {Center->KeyPool, Center->ObserverPool, Center->PendingPool, Center->RemovePool,
                              Center->ProcessPool})
            Pool_SetDebugMode(Records, TRUE);
        Calls.clear();
    }
    void TearDown() override {
        NotificationCenter_Remove();
        EventQueue_Remove();
        Thread_Remove();
        Time_TestClockStop();
        RuntimeTest::TearDown();
    }
};

// ---------------------------------------------------------------------------
// Delivery order and keys

TEST_F(NotificationCenterTest, DeliversToEverythingThenGlobalThenInstance) {
    Recorder Instance{"instance", nullptr, nullptr};
    Recorder Named{"global", nullptr, nullptr};
    Recorder All{"all", nullptr, nullptr};
    Recorder Partial{"partial", nullptr, nullptr};
    // Registered in the reverse of the delivery order.
    NotificationCenter_AddInstanceObserver("Task", "Status", "ABC", &Instance, Record);
    NotificationCenter_AddObserver("Task", "Status", &Named, Record);
    NotificationCenter_AddObserver(nullptr, nullptr, &All, Record);
    // Only the all-"Global" key is a wildcard.
    NotificationCenter_AddObserver("Global", "Status", &Partial, Record);
    NotificationCenter_AddObserver("Task", "Global", &Partial, Record);

    EXPECT_EQ(NotificationCenter_Fire("Task", "Status", "ABC", nullptr), 1);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:Task.Status.ABC", "global:Task.Status.ABC",
                                                     "instance:Task.Status.ABC"}));
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:Task.Status.Global", "global:Task.Status.Global"}));
    NotificationCenter_Fire("Task", "Status", "gLoBaL", nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:Task.Status.gLoBaL", "global:Task.Status.gLoBaL"}));
    NotificationCenter_Fire("Task", "Other", "XYZ", nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:Task.Other.XYZ"}));
}

// A fire reaches every observer whose key text equals its own, whatever the
// parts: names that differ in case, dots that move between parts, a key cut
// inside its instance; observers come and go between fires.
TEST_F(NotificationCenterTest, FindsObserversByWholeKeyTextWhateverThePartsHold) {
    // Keys are cut to 121 bytes: past the instance's start, and inside a name.
    const std::string Long(115, 'x'), LongTail = Long + "tail", Longer(118, 'x'), Wide(100, 'x');
    struct Case {
        const char *Observed[3];
        const char *Fired[3];
        size_t Calls; // a key cut inside its name is found under "Global" too
    } Cases[] = {
        {{"Task", "Status", "A1"}, {"TASK", "status", "a1"}, 1},
        {{"a", "b.c", "d"}, {"a.b", "c", "d"}, 1},
        {{"a.b", "c", "d"}, {"a", "b", "c.d"}, 1},
        {{"a", "b", "c.d"}, {"a.b", "c", "d"}, 1},
        {{"Task", "Status", "A1"}, {"Task", "Statu", "sA1"}, 0},
        {{"Task", "Status", "A1"}, {"Task", "Status", "A2"}, 0},
        {{"Task", "Status", Long.c_str()}, {"Task", "Status", LongTail.c_str()}, 1},
        {{Longer.c_str(), "Name", "A1"}, {Longer.c_str(), "Nail", "B2"}, 2},
        {{Wide.c_str(), "Name", "A1"}, {Wide.c_str(), "Other", "A1"}, 0},
    };
    for (const Case &Each : Cases) {
        Recorder Observer{"o", nullptr, nullptr};
        NotificationCenter_AddInstanceObserver(Each.Observed[0], Each.Observed[1], Each.Observed[2], &Observer,
                                               Record);
        NotificationCenter_Fire(Each.Fired[0], Each.Fired[1], Each.Fired[2], nullptr);
        EXPECT_EQ(TakeCalls().size(), Each.Calls) << Each.Observed[1] << " / " << Each.Fired[1];
        EXPECT_EQ(NotificationCenter_IsObserved(Each.Fired[0], Each.Fired[1], Each.Fired[2]),
                  Each.Calls > 0 ? TRUE : FALSE);
        NotificationCenter_RemoveInstanceObserver(Each.Observed[0], Each.Observed[1], Each.Observed[2], &Observer,
                                                  Record);
        NotificationCenter_Process();
        NotificationCenter_Fire(Each.Fired[0], Each.Fired[1], Each.Fired[2], nullptr);
        EXPECT_TRUE(TakeCalls().empty());
    }
}

// Keys built at random from dots, letters of both cases, "Global" and texts
// long enough to be cut: every fire, immediate or queued, reaches exactly
// the observers a plain comparison of whole key texts names (the cut,
// case-less "type.name.instance"), and IsObserved agrees. The center finds
// them through name-part slots and hashed probes; this is the slow path.
TEST_F(NotificationCenterTest, FiresReachWhatComparingWholeKeyTextsFinds) {
    const std::string Long(50, 'L');
    const std::vector<std::string> Parts = {"a", "A", "a.", ".a", "a.b", "b", "B.a", ".", "",
                                            "Global", "gLoBaL", "Global.Global", Long, Long + ".a"};
    auto Lower = [](std::string Text) {
        for (char &Each : Text) Each = (char)tolower((unsigned char)Each);
        return Text;
    };
    auto KeyOf = [&](const std::string &Type, const std::string &Name, const std::string &Instance) {
        return Lower((Type + "." + Name + "." + Instance).substr(0, NotificationKeySize - 1));
    };
    uint32 Seed = 2024;
    auto Pick = [&]() -> const std::string & {
        Seed = Seed * 1103515245u + 12345u;
        return Parts[(Seed >> 8) % Parts.size()];
    };
    std::vector<std::string> ObservedKeys;
    std::vector<std::array<std::string, 3>> Observed;
    std::vector<Recorder> Observers(60, Recorder{"o", nullptr, nullptr});
    for (Recorder &Observer : Observers) {
        Observed.push_back({Pick(), Pick(), Pick()});
        const auto &[Type, Name, Instance] = Observed.back();
        ObservedKeys.push_back(KeyOf(Type, Name, Instance));
        NotificationCenter_AddInstanceObserver(Type.c_str(), Name.c_str(), Instance.c_str(), &Observer, Record);
    }
    const std::string Wildcard = "global.global.global";
    for (int32 Round = 0; Round < 4000; Round++) {
        const bool Queued = Round % 2 == 1;
        std::string Type = Pick(), Name = Pick(), Instance = Pick();
        // Every other pair of rounds fires an observed key, its letters' cases flipped.
        if (Round % 4 >= 2) {
            const auto &Chosen = Observed[(Seed >> 4) % Observed.size()];
            Type = Chosen[0], Name = Chosen[1], Instance = Chosen[2];
            for (std::string *Part : {&Type, &Name, &Instance})
                for (char &Each : *Part) Each = (char)(isupper((unsigned char)Each) ? tolower(Each) : toupper(Each));
        }
        // A queued fire keeps 39 bytes of each name.
        if (Queued) Type.resize(std::min<size_t>(Type.size(), 39)), Name.resize(std::min<size_t>(Name.size(), 39)),
            Instance.resize(std::min<size_t>(Instance.size(), 39));
        const std::string Global = KeyOf(Type, Name, "Global"), Own = KeyOf(Type, Name, Instance);
        size_t Expected = 0;
        for (const std::string &Key : ObservedKeys)
            Expected += (Key == Wildcard) + (Key == Global && Key != Wildcard) +
                        (Lower(Instance) != "global" && Key == Own);
        if (Queued) {
            NotificationCenter_FireAfterDelay(Type.c_str(), Name.c_str(), Instance.c_str(), 0, nullptr);
            EventQueue_Flush(nullptr);
        } else {
            EXPECT_EQ(NotificationCenter_IsObserved(Type.c_str(), Name.c_str(), Instance.c_str()),
                      Expected > 0 ? TRUE : FALSE);
            NotificationCenter_Fire(Type.c_str(), Name.c_str(), Instance.c_str(), nullptr);
        }
        ASSERT_EQ(TakeCalls().size(), Expected) << Type << " / " << Name << " / " << Instance;
    }
}

// A fire's kept prefix and name part equal what printing and hashing its
// names gives, for pairs that share a memo place (same lengths, first and
// last bytes) and differ in one byte at a word's start, inside it or in a
// masked tail; queued names sit in fields whose bytes past the name differ.
TEST_F(NotificationCenterTest, KeptPrefixesEqualPrintedOnes) {
    const std::string Wide(39, 'w');
    std::string WideAt8 = Wide, WideAt37 = Wide;
    WideAt8[8] = 'v', WideAt37[37] = 'v';
    const std::vector<std::pair<std::string, std::string>> Pairs = {
        {"Task", "Status"}, {"Tusk", "Status"},  {"Task", "Stetus"},   {"TASK", "Status"},    {"a.b", "c"},
        {"a.c", "c"},       {"", ""},           {"Task", ""},         {Wide, Wide},         {WideAt8, Wide},
        {Wide, WideAt37},   {Wide, WideAt8},     {"Workflow", "Start"}, {"Workflow", "Stars"}, {"Workflows", "t"}};
    NotificationCenter *Center = GlobalNotificationCenter;
    for (int32 Round = 0; Round < 6; Round++)
        for (size_t At = 0; At < Pairs.size(); At++) {
            const auto &[Type, Name] = Pairs[Round % 2 == 0 ? At : Pairs.size() - 1 - At];
            char TypeField[NotificationNameSize], NameField[NotificationNameSize];
            memset(TypeField, Round % 3 == 0 ? 'x' : '\xff', sizeof(TypeField));
            memset(NameField, Round, sizeof(NameField));
            memcpy(TypeField, Type.c_str(), Type.size() + 1);
            memcpy(NameField, Name.c_str(), Name.size() + 1);
            const bool InFields = Round >= 3;
            const NotificationFireNames Fired{InFields ? TypeField : Type.c_str(),
                                              InFields ? NameField : Name.c_str(),
                                              "i",
                                              Type.size(),
                                              Name.size(),
                                              1,
                                              InFields};
            char Key[NotificationKeySize];
            const size_t Used = NotificationCenter_PrintKeyPrefix(Key, Type.c_str(), Type.size(), Name.c_str(),
                                                                  Name.size());
            const NotificationNamePart Part = NotificationCenter_NamePart(Key, Used);
            const NotificationPrefixMemo &Memo = NotificationCenter_PrefixMemo(Center, Fired);
            ASSERT_EQ(std::string(Memo.Prefix, Memo.Used), std::string(Key, Used)) << Round;
            EXPECT_EQ(Memo.Part.Length, Part.Length);
            EXPECT_EQ(Memo.Part.Hash, Part.Hash);
        }
    // A type cut at the key's end leaves no room for an instance: "Global"
    // fired there is not the rest of the key, which ends with the type.
    const std::string Cut(NotificationKeySize - 1, 'x');
    Recorder Observer{"o", nullptr, nullptr};
    NotificationCenter_AddInstanceObserver(Cut.c_str(), "n", "A1", &Observer, Record);
    NotificationCenter_Fire(Cut.c_str(), "m", "Global", nullptr);
    EXPECT_EQ(TakeCalls().size(), 1u);
    NotificationCenter_RemoveInstanceObserver(Cut.c_str(), "n", "A1", &Observer, Record);
}

// Queued names of every length a field holds, and longer ones cut, arrive
// as fired: the copies of short and 32-byte-or-longer names take other moves.
TEST_F(NotificationCenterTest, QueuedNamesOfEveryLengthArriveWhole) {
    Recorder All{"all", nullptr, nullptr};
    NotificationCenter_AddObserver(nullptr, nullptr, &All, Record);
    for (size_t Length = 0; Length <= 45; Length++) {
        std::string Type, Name, Instance;
        for (size_t At = 0; At < Length; At++)
            Type += (char)('a' + At % 26), Name += (char)('A' + (At * 7) % 26), Instance += (char)('0' + At % 10);
        NotificationCenter_FireAfterDelay(Type.c_str(), Name.c_str(), Instance.c_str(), 0, nullptr);
        EventQueue_Flush(nullptr);
        auto Kept = [](const std::string &Text) { return Text.substr(0, 39); };
        EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:" + Kept(Type) + "." + Kept(Name) + "." + Kept(Instance)}))
            << Length;
    }
    NotificationCenter_RemoveObserver(nullptr, nullptr, &All, Record);
}

// A memo holds names exactly when their bytes equal its prefix's, for every
// length a memo takes and a difference at every place (in the type or the
// name); names sit in blocks of their very length, so that ASan sees a read
// past them.
TEST(NotificationPrefixMemoTest, HoldsNamesExactlyWhenEveryByteIsEqual) {
    for (size_t Length = 0; Length < NotificationNameSize; Length++) {
        std::unique_ptr<char[]> Type(new char[Length + 1]), Name(new char[Length + 1]);
        for (size_t At = 0; At < Length; At++) Type[At] = (char)('a' + At % 26), Name[At] = (char)('A' + At % 26);
        NotificationFireNames Fired{Type.get(), Name.get(), "i", Length, Length, 1};
        NotificationPrefixMemo Memo{};
        NotificationCenter_MemoMake(Memo, Fired, NotificationCenter_MemoLengths(Length, Length));
        EXPECT_TRUE(NotificationCenter_MemoHolds(Memo, Fired)) << Length;
        for (size_t At = 0; At < 2 * Length; At++) {
            char &Byte = At < Length ? Type[At] : Name[At - Length];
            Byte ^= 0x40;
            EXPECT_FALSE(NotificationCenter_MemoHolds(Memo, Fired)) << Length << " at " << At;
            Byte ^= 0x40;
        }
    }
}

// A removal by the user's entries takes the entry of its very key, not one
// of a key that differs in any single byte of one part (its last one, or
// the last of a long id), whatever the order the user added them in.
TEST_F(NotificationCenterTest, RemovalTakesOnlyTheEntryOfItsKey) {
    const std::string Id(36, 'c');
    const std::vector<std::array<std::string, 3>> Keys = {
        {"Task", "Status", Id}, {"Tasl", "Status", Id}, {"Task", "Statut", Id}, {"Task", "Status", Id.substr(0, 35) + "d"},
        {"Task", "Status", "d" + Id.substr(1)}};
    for (size_t Removed = 0; Removed < Keys.size(); Removed++) {
        Recorder Observer{"o", nullptr, nullptr};
        for (const auto &Key : Keys)
            NotificationCenter_AddInstanceObserver(Key[0].c_str(), Key[1].c_str(), Key[2].c_str(), &Observer, Record);
        const auto &Gone = Keys[Removed];
        NotificationCenter_RemoveInstanceObserver(Gone[0].c_str(), Gone[1].c_str(), Gone[2].c_str(), &Observer, Record);
        for (const auto &Key : Keys) {
            NotificationCenter_Fire(Key[0].c_str(), Key[1].c_str(), Key[2].c_str(), nullptr);
            EXPECT_EQ(TakeCalls().size(), &Key == &Gone ? 0u : 1u) << Removed << ": " << Key[0] << "." << Key[1];
        }
        for (const auto &Key : Keys)
            NotificationCenter_RemoveInstanceObserver(Key[0].c_str(), Key[1].c_str(), Key[2].c_str(), &Observer, Record);
        NotificationCenter_Process();
    }
}

// As many instance keys as a large workflow has live tasks: the key table
// grows through them, and the keys whose last observer went are dropped from
// it while the others stay found, in any case, until they go too.
TEST_F(NotificationCenterTest, ManyInstanceKeysStayFoundWhileOthersGo) {
    constexpr int32 Count = 3000;
    NotificationCenter *Center = GlobalNotificationCenter;
    Recorder Observer{"o", nullptr, nullptr};
    auto Id = [](int32 Index, bool Upper) { return std::string(Upper ? "ID-" : "id-") + std::to_string(Index); };
    for (int32 Index = 0; Index < Count; Index++)
        NotificationCenter_AddInstanceObserver("Task", "Status", Id(Index, false).c_str(), &Observer, Record);
    std::vector<bool> Live(Count, true);
    for (int32 Step : {3, 2, 1}) {
        // Every Step-th key goes; its record is dropped at the flush.
        for (int32 Index = Step - 1; Index < Count; Index += Step) {
            NotificationCenter_RemoveInstanceObserver("Task", "Status", Id(Index, false).c_str(), &Observer, Record);
            Live[Index] = false;
        }
        NotificationCenter_Process();
        uint32 Wrong = 0;
        for (int32 Index = 0; Index < Count; Index++) {
            NotificationCenter_Fire("TASK", "status", Id(Index, true).c_str(), nullptr);
            Wrong += TakeCalls().size() != (Live[Index] ? 1u : 0u);
        }
        const auto Left = (size_t)std::count(Live.begin(), Live.end(), true);
        EXPECT_EQ(Wrong, 0u) << Step;
        EXPECT_EQ(Center->Observers->Size(), Left) << Step;
        EXPECT_EQ(ActiveRecords(Center->KeyPool), Left) << Step;
    }
    EXPECT_EQ(Center->Observers->Size(), 0u);
}

// Fires queued with measured names arrive as the same fires queued through
// the general entry: names of every length, with two-byte letters across
// the cut, the shared payload itself, and in order among other fires.
TEST_F(NotificationCenterTest, MeasuredNameFiresArriveAsGeneralOnes) {
    Recorder All{"all",
                 [](Recorder *, const char *, const char *, const char *, Dictionary *Info) {
                     int32 Value = -1;
                     if (Info != nullptr) Dictionary_GetInt32ByKey(Info, "n", &Value);
                     Calls.back() += "|" + std::to_string(Value) + (Info == Recorder::Shared ? "|shared" : "|other");
                 },
                 nullptr};
    NotificationCenter_AddObserver(nullptr, nullptr, &All, Record);
    for (size_t Length = 0; Length <= 45; Length++) {
        std::string Type, Name, Instance;
        for (size_t At = 0; Type.size() < Length; At++)
            Type += At % 5 == 4 ? "\xc3\xa9" : std::string(1, (char)('a' + At % 26));
        for (size_t At = 0; Name.size() < Length; At++)
            Name += At % 3 == 2 ? "\xce\xbb" : std::string(1, (char)('A' + At % 26));
        for (size_t At = 0; At < Length; At++) Instance += (char)('0' + At % 10);
        Type.resize(Length), Name.resize(Length);
        Dictionary *Payload = nullptr;
        Dictionary_Create(&Payload);
        Dictionary_AddInt32(Payload, "n", (int32)Length, nullptr);
        Recorder::Shared = Payload;
        NotificationCenter_FireAfterDelayShared(Type.c_str(), Name.c_str(), Instance.c_str(), 0, Payload);
        NotificationCenter_FireAfterDelay("Mixed", "In", "between", 0, nullptr);
        NotificationCenter_FireAfterDelaySharedNames({Type.c_str(), Name.c_str(), Instance.c_str(), Length, Length,
                                                      Length},
                                                     0, Payload);
        Dictionary_Release(&Payload);
        FlushAllDue();
        const std::vector<std::string> Seen = TakeCalls();
        ASSERT_EQ(Seen.size(), 3u) << Length;
        EXPECT_EQ(Seen[2], Seen[0]) << Length;
        EXPECT_EQ(Seen[1], "all:Mixed.In.between|-1|other");
        const std::string Tail = "|" + std::to_string(Length) + "|shared";
        EXPECT_EQ(Seen[0].substr(Seen[0].size() - std::min(Seen[0].size(), Tail.size())), Tail);
    }
    NotificationCenter_RemoveObserver(nullptr, nullptr, &All, Record);
}

// Names placed in the name counts ahead (constant names) find what the
// general entries find, fired queued and asked about, among keys that
// equal theirs only without case or with their dots moved, with and
// without a wildcard observer.
TEST_F(NotificationCenterTest, NamesWithAKnownSlotActAsGeneralOnes) {
    // A queued name is cut to 39 bytes: its fire reaches the cut name's key.
    const std::string Long(45, 'n'), Cut(39, 'n');
    const char *Observed[][3] = {{"Task", "SubActionStart", "A1"}, {"a", "b.c", "d"},
                                 {"TaskEvent", "Start", "Global"}, {"Queue", "NextTask", "Q"},
                                 {"Task", Cut.c_str(), "A1"}};
    const char *Fired[][3] = {{"task", "subactionstart", "a1"}, {"Task", "SubActionStart", "A2"},
                              {"a.b", "c", "d"},                {"a.b", "c", "e"},
                              {"TaskEvent", "Start", "x"},      {"TaskEvent", "Complete", "x"},
                              {"Queue", "NextTask", "q"},       {"WorkflowManager", "TaskStart", "m"},
                              {"Task", Long.c_str(), "A1"}};
    std::vector<Recorder> Observers(std::size(Observed) + 1, Recorder{"o", nullptr, nullptr});
    for (size_t At = 0; At < std::size(Observed); At++)
        NotificationCenter_AddInstanceObserver(Observed[At][0], Observed[At][1], Observed[At][2], &Observers[At],
                                               Record);
    for (int32 Round = 0; Round < 2; Round++) {
        if (Round == 1) NotificationCenter_AddObserver(nullptr, nullptr, &Observers.back(), Record);
        for (const auto &Names : Fired) {
            const NotificationFireNames Known{Names[0], Names[1], Names[2], strlen(Names[0]), strlen(Names[1]),
                                              strlen(Names[2]), false,
                                              NotificationCenter_NameSlotOf(Names[0], strlen(Names[0]), Names[1],
                                                                            strlen(Names[1]))};
            EXPECT_EQ(NotificationCenter_IsObservedNames(Known),
                      NotificationCenter_IsObserved(Names[0], Names[1], Names[2]))
                << Names[0] << "." << Names[1];
            NotificationCenter_FireAfterDelay(Names[0], Names[1], Names[2], 0, nullptr);
            EventQueue_Flush(nullptr);
            const std::vector<std::string> General = TakeCalls();
            NotificationCenter_FireAfterDelaySharedNames(Known, 0, nullptr);
            EventQueue_Flush(nullptr);
            EXPECT_EQ(TakeCalls(), General) << Names[0] << "." << Names[1];
        }
    }
    for (size_t At = 0; At < std::size(Observed); At++)
        NotificationCenter_RemoveInstanceObserver(Observed[At][0], Observed[At][1], Observed[At][2],
                                                  &Observers[At], Record);
    NotificationCenter_RemoveObserver(nullptr, nullptr, &Observers.back(), Record);
}

// An interop observer's addition and removal (one pass under the lock each)
// leave what retaining and adding, or unretaining and removing, the
// instance observer one after the other leave: instances in another case,
// a different one, or none, and users with a second entry elsewhere.
TEST_F(NotificationCenterTest, InteropObserverChangesActAsRetainAndObserverChanges) {
    const struct {
        const char *Added;
        const char *Removed;
    } Cases[] = {{"ab12", "ab12"}, {"ab12", "AB12"}, {"ab12", "cd34"}, {"Global", nullptr}, {"ab.12", "ab.12"}};
    for (const auto &Each : Cases) {
        std::vector<std::string> General;
        int32 GeneralRetained = -1;
        for (int32 Way = 0; Way < 2; Way++) {
            Recorder Observer{"o", nullptr, nullptr};
            if (Way == 0) {
                NotificationCenter_RetainInstance(Each.Added);
                NotificationCenter_AddInstanceObserver("NotificationCenter", "Interop", Each.Added, &Observer, Record);
            } else {
                NotificationCenter_AddInteropObserver(Each.Added, &Observer, Record);
            }
            NotificationCenter_AddInstanceObserver("Task", "Status", Each.Added, &Observer, Record);
            const int32 RetainedFirst = NotificationCenter_IsRetained(GlobalNotificationCenter, Each.Added);
            NotificationCenter_Fire("NotificationCenter", "Interop", Each.Added, nullptr);
            if (Way == 0) {
                NotificationCenter_UnretainInstance(Each.Removed);
                NotificationCenter_RemoveInstanceObserver("NotificationCenter", "Interop", Each.Removed, &Observer,
                                                          Record);
            } else {
                NotificationCenter_RemoveInteropObserver(Each.Removed, &Observer, Record);
            }
            const int32 Retained =
                RetainedFirst * 2 + NotificationCenter_IsRetained(GlobalNotificationCenter, Each.Added);
            NotificationCenter_Fire("NotificationCenter", "Interop", Each.Added, nullptr);
            NotificationCenter_Fire("Task", "Status", Each.Added, nullptr);
            if (Way == 0) {
                General = TakeCalls();
                GeneralRetained = Retained;
            } else {
                EXPECT_EQ(TakeCalls(), General) << Each.Added << " / " << (Each.Removed ? Each.Removed : "null");
                EXPECT_EQ(Retained, GeneralRetained) << Each.Added;
            }
            NotificationCenter_UnretainInstance(Each.Added);
            NotificationCenter_RemoveInstanceObserver("NotificationCenter", "Interop", Each.Added, &Observer, Record);
            NotificationCenter_RemoveInstanceObserver("Task", "Status", Each.Added, &Observer, Record);
            NotificationCenter_Process();
        }
    }
}

// The live-user counts behind the delete check agree with a plain map over
// many users added and taken in a scrambled order (the table grows, and its
// removals close the gaps of colliding runs).
TEST(NotificationUserCountsTest, AgreesWithAMap) {
    NotificationUserCounts Counts;
    std::map<const void *, uint32> Expected;
    std::vector<char> Users(3000);
    uint32 Seed = 12345;
    for (int32 Step = 0; Step < 200000; Step++) {
        Seed = Seed * 1103515245u + 12345u;
        const void *User = &Users[(Seed >> 8) % Users.size()];
        if ((Seed >> 28) < 9) {
            Counts.Add(User);
            Expected[User]++;
        } else {
            auto Found = Expected.find(User);
            EXPECT_EQ(Counts.Take(User), Found != Expected.end());
            if (Found != Expected.end() && --Found->second == 0) Expected.erase(Found);
        }
        if (Step % 997 == 0)
            for (const char &Each : Users) {
                auto Found = Expected.find(&Each);
                ASSERT_EQ(Counts.Count(&Each), Found == Expected.end() ? 0u : Found->second);
            }
    }
}

TEST_F(NotificationCenterTest, CallsOneKeyInRegistrationOrderOncePerRegistration) {
    Recorder First{"first", nullptr, nullptr};
    Recorder Second{"second", nullptr, nullptr};
    NotificationCenter_AddObserver("Task", "Status", &First, Record);
    NotificationCenter_AddObserver("Task", "Status", &Second, Record);
    NotificationCenter_AddObserver("Task", "Status", &First, Record);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"first:Task.Status.Global", "second:Task.Status.Global",
                                                     "first:Task.Status.Global"}));
    // One removal takes the first registration only.
    NotificationCenter_RemoveObserver("Task", "Status", &First, Record);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"second:Task.Status.Global", "first:Task.Status.Global"}));
    // Removing what is not registered changes nothing and answers 1.
    Recorder Stranger{"stranger", nullptr, nullptr};
    EXPECT_EQ(NotificationCenter_RemoveObserver("Task", "Status", &Stranger, Record), 1);
    EXPECT_EQ(NotificationCenter_RemoveObserver("No", "Such", &First, Record), 1);
}

TEST_F(NotificationCenterTest, ComparesNamesWithoutCaseAndKeepsTheFirstSpelling) {
    Recorder Lower{"lower", nullptr, nullptr};
    Recorder Upper{"upper", nullptr, nullptr};
    Recorder Sender{"sender", nullptr, nullptr};
    Recorder All{"all", nullptr, nullptr};
    NotificationCenter_AddObserver("task", "STATUS", &Lower, Record);
    NotificationCenter_AddObserver("TASK", "status", &Upper, Record); // same key record
    NotificationCenter_AddInstanceObserver("Task", "Status", "abc", &Sender, Record);
    NotificationCenter_AddInstanceObserver("GLOBAL", "global", "Global", &All, Record);
    NotificationCenter_Fire("Task", "Status", "ABC", nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:Task.Status.ABC", "lower:task.STATUS.ABC",
                                                     "upper:task.STATUS.ABC", "sender:Task.Status.ABC"}));
    NotificationCenter_RemoveObserver("TaSk", "StAtUs", &Upper, Record);
    NotificationCenter_Fire("TASK", "STATUS", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"all:TASK.STATUS.Global", "lower:task.STATUS.Global"}));
}

TEST_F(NotificationCenterTest, KeepsLongNamesWholeInKeysAndCutInRecords) {
    const std::string Long45 = std::string(40, 'T') + "Alpha";
    const std::string Other45 = std::string(40, 'T') + "Omega";
    Recorder Observer{"long", nullptr, nullptr};
    NotificationCenter_AddObserver(Long45.c_str(), "Status", &Observer, Record);
    // Same first 39 characters, another key.
    NotificationCenter_Fire(Other45.c_str(), "Status", nullptr, nullptr);
    EXPECT_TRUE(TakeCalls().empty());
    NotificationCenter_Fire(Long45.c_str(), "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"long:" + std::string(39, 'T') + ".Status.Global"}));

    // A cut never ends inside a UTF-8 sequence: 38 bytes and a 2-byte letter.
    const std::string Accented = std::string(38, 'n') + "\xC3\xA9" + "x";
    NotificationCenter_AddObserver("Task", Accented.c_str(), &Observer, Record);
    NotificationCenter_Fire("Task", Accented.c_str(), nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"long:Task." + std::string(38, 'n') + ".Global"}));
}

TEST_F(NotificationCenterTest, WildcardRecordShowsTheLastFiredNames) {
    Recorder All{"all", nullptr, nullptr};
    NotificationCenter_AddObserver("Global", "Global", &All, Record);
    NotificationCenter_Fire("Repository", "UpToDate", nullptr, nullptr);
    NotificationKeyRecord *Wildcard = NotificationCenter_Find(GlobalNotificationCenter, "Global", "Global", "Global");
    ASSERT_NE(Wildcard, nullptr);
    EXPECT_STREQ(Wildcard->Type, "Repository");
    EXPECT_STREQ(Wildcard->Name, "UpToDate");
    // A fire named like the wildcard reaches its observers once.
    TakeCalls();
    NotificationCenter_Fire("Global", "Global", nullptr, nullptr);
    EXPECT_EQ(TakeCalls().size(), 1u);
}

// ---------------------------------------------------------------------------
// Changes from inside a delivery

TEST_F(NotificationCenterTest, ObserverRemovedDuringDeliveryIsSkippedAndFreedAtTheNextStep) {
    Recorder Second{"second", nullptr, nullptr};
    Recorder Third{"third", nullptr, nullptr};
    Recorder First{"first",
                   [](Recorder *Self, const char *, const char *, const char *, Dictionary *) {
                       NotificationCenter_RemoveObserver("Task", "Status", Self->Context, Record);
                       NotificationCenter_RemoveObserver("Task", "Status", Self, Record); // itself
                   },
                   &Second};
    NotificationCenter_AddObserver("Task", "Status", &First, Record);
    NotificationCenter_AddObserver("Task", "Status", &Second, Record);
    NotificationCenter_AddObserver("Task", "Status", &Third, Record);

    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"first:Task.Status.Global", "third:Task.Status.Global"}));
    NotificationCenter *Center = GlobalNotificationCenter;
    EXPECT_EQ(ActiveRecords(Center->ObserverPool), 3u); // still linked
    EXPECT_EQ(ActiveRecords(Center->RemovePool), 2u);
    NotificationCenter_Process();
    EXPECT_EQ(ActiveRecords(Center->ObserverPool), 1u);
    EXPECT_EQ(ActiveRecords(Center->RemovePool), 0u);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"third:Task.Status.Global"}));

    // The last observer of a key goes with its key record.
    NotificationCenter_RemoveObserver("Task", "Status", &Third, Record);
    NotificationCenter_Process();
    EXPECT_EQ(ActiveRecords(Center->KeyPool), 0u);
    EXPECT_EQ(NotificationCenter_Find(Center, "Task", "Status", nullptr), nullptr);
}

// Removals take their entry by the user's live entries where the names
// decide it, and by the key's look-up otherwise. Random additions, removals
// (also from inside deliveries) and fires over names that print the same key
// in several ways (case, dots, cut names) must call the same observers in
// the same order as a plain model of the rules: entries per key text in
// registration order, a removal flagging the first live one of its user and
// function, flagged entries skipped.
namespace model {

struct Entry {
    std::string Key; // folded key text
    int32 User, Function;
    bool Removed;
};
std::vector<Entry> Entries;
std::vector<std::string> Log;

std::string KeyOf(const std::string &Type, const std::string &Name, const std::string &Instance) {
    std::string Key = (Type + "." + Name + "." + Instance).substr(0, NotificationKeySize - 1);
    for (char &Each : Key)
        if (Each >= 'A' && Each <= 'Z') Each = (char)(Each - 'A' + 'a');
    return Key;
}

void Remove(const std::string &Key, int32 User, int32 Function) {
    for (Entry &Each : Entries)
        if (!Each.Removed && Each.Key == Key && Each.User == User && Each.Function == Function) {
            Each.Removed = true;
            return;
        }
}

} // namespace model

struct RandomCase {
    const char *Label;
    uint32 Seed;
};

// The names: spellings of one key in other cases and dot placements, names
// past a record field's 39 bytes, and one whose cut field (backed off to a
// whole character) equals a shorter name.
const std::string Prefix38(38, 'p');
const std::vector<std::array<std::string, 3>> RandomKeys = {
    {"Task", "Status", "id-1"},          {"TASK", "status", "ID-1"},
    {"Task", "Status", "Global"},        {"a.b", "c", "id-1"},
    {"a", "b.c", "id-1"},                {"a", "b", "c.id-1"},
    {Prefix38, "Status", "id-2"},        {Prefix38 + "\xc3\xa9" "x", "Status", "id-2"},
    {std::string(45, 'q'), "Status", "id-2"}, {std::string(45, 'q'), "Status", "Global"},
    {"Task", "Complete", "id-2"},        {"Task", "Complete", "Global"},
    {"Global", "Global", "Global"},      {"GLOBAL", "global", "Global"},
};

// The last user is a null pointer.
constexpr int32 RandomUsers = 4;
char RandomUserBytes[RandomUsers - 1];
void *RandomUser(int32 Index) { return Index == RandomUsers - 1 ? nullptr : &RandomUserBytes[Index]; }
int32 RandomUserIndex(void *User) {
    return User == nullptr ? RandomUsers - 1 : (int32)(static_cast<char *>(User) - RandomUserBytes);
}

// A removal an observer makes at the given call of a fire, and its turn.
struct PlannedRemoval {
    int32 AtCall = -1;
    size_t Key = 0;
    int32 User = 0, Function = 0;
};
PlannedRemoval Plan;
int32 CenterCalls = 0;

void RemoveFromCenter(size_t Key, int32 User, int32 Function);

template <int32 Function> int32 RandomObserverCall(void *User, const char *, const char *, const char *, Dictionary *) {
    model::Log.push_back(std::to_string(Function) + "/" + std::to_string(RandomUserIndex(User)));
    if (CenterCalls++ == Plan.AtCall) RemoveFromCenter(Plan.Key, Plan.User, Plan.Function);
    return TRUE;
}
const NotificationCenter_ObserverFunc RandomFunctions[2] = {RandomObserverCall<0>, RandomObserverCall<1>};

void RemoveFromCenter(size_t Key, int32 User, int32 Function) {
    const auto &Names = RandomKeys[Key];
    NotificationCenter_RemoveInstanceObserver(Names[0].c_str(), Names[1].c_str(), Names[2].c_str(), RandomUser(User),
                                              RandomFunctions[Function]);
}

TEST_F(NotificationCenterTest, RemovalsByUserAgreeWithAModelOfTheRules) {
    const std::vector<RandomCase> Cases = {{"a", 1}, {"b", 77}, {"c", 4242}, {"d", 90001}};
    NotificationCenter *Center = GlobalNotificationCenter;
    for (const RandomCase &Case : Cases) {
        SCOPED_TRACE(Case.Label);
        model::Entries.clear();
        uint32 Seed = Case.Seed;
        auto Next = [&Seed](uint32 Range) {
            Seed = Seed * 1103515245u + 12345u;
            return (Seed >> 8) % Range;
        };
        for (int32 Step = 0; Step < 3000; Step++) {
            const size_t Key = Next((uint32)RandomKeys.size());
            const auto &Names = RandomKeys[Key];
            const int32 User = (int32)Next(RandomUsers), Function = (int32)Next(2);
            const uint32 Action = Next(10);
            if (Action < 4) {
                NotificationCenter_AddInstanceObserver(Names[0].c_str(), Names[1].c_str(), Names[2].c_str(),
                                                       RandomUser(User), RandomFunctions[Function]);
                model::Entries.push_back({model::KeyOf(Names[0], Names[1], Names[2]), User, Function, false});
            } else if (Action < 8) {
                RemoveFromCenter(Key, User, Function);
                model::Remove(model::KeyOf(Names[0], Names[1], Names[2]), User, Function);
            } else {
                // A fire, with one removal planned at one of its calls.
                Plan = {(int32)Next(6), Next((uint32)RandomKeys.size()), (int32)Next(RandomUsers), (int32)Next(2)};
                CenterCalls = 0;
                model::Log.clear();
                NotificationCenter_Fire(Names[0].c_str(), Names[1].c_str(), Names[2].c_str(), nullptr);
                const std::vector<std::string> Seen = model::Log;
                std::vector<std::string> Expected;
                int32 Calls = 0;
                // Everything's, the type and name's under "Global", the instance's own: each key once.
                std::vector<std::string> Groups;
                for (const std::string &Group : {model::KeyOf("Global", "Global", "Global"),
                                                 model::KeyOf(Names[0], Names[1], "Global"),
                                                 model::KeyOf(Names[0], Names[1], Names[2])})
                    if (std::find(Groups.begin(), Groups.end(), Group) == Groups.end()) Groups.push_back(Group);
                for (const std::string &Group : Groups)
                    for (size_t At = 0; At < model::Entries.size(); At++) {
                        if (model::Entries[At].Removed || model::Entries[At].Key != Group) continue;
                        Expected.push_back(std::to_string(model::Entries[At].Function) + "/" +
                                           std::to_string(model::Entries[At].User));
                        if (Calls++ == Plan.AtCall) {
                            const auto &Gone = RandomKeys[Plan.Key];
                            model::Remove(model::KeyOf(Gone[0], Gone[1], Gone[2]), Plan.User, Plan.Function);
                        }
                    }
                ASSERT_EQ(Seen, Expected) << "step " << Step;
                Plan = {};
            }
            if (Step % 50 == 0) NotificationCenter_Process();
            for (int32 Each = 0; Each < RandomUsers; Each++) {
                uint32 Live = 0;
                for (const model::Entry &Entry : model::Entries) Live += !Entry.Removed && Entry.User == Each;
                ASSERT_EQ(Center->LiveUsers->Count(RandomUser(Each)), Live) << "step " << Step;
            }
        }
        // Everything left goes, by the same removals.
        for (const model::Entry &Each : model::Entries)
            if (!Each.Removed)
                for (size_t Key = 0; Key < RandomKeys.size(); Key++)
                    if (model::KeyOf(RandomKeys[Key][0], RandomKeys[Key][1], RandomKeys[Key][2]) == Each.Key) {
                        RemoveFromCenter(Key, Each.User, Each.Function);
                        break;
                    }
        NotificationCenter_Process();
        EXPECT_EQ(ActiveRecords(Center->ObserverPool), 0u);
        EXPECT_EQ(ActiveRecords(Center->KeyPool), 0u);
    }
}

TEST_F(NotificationCenterTest, ObserverAddedDuringDeliveryIsReachedOnlyBeforeTheLastSuccessorWasTaken) {
    auto AddOnce = [](Recorder *Self, const char *Type, const char *Name, const char *, Dictionary *) {
        if (Self->Context == nullptr) return;
        NotificationCenter_AddObserver(Type, Name, Self->Context, Record);
        Self->Context = nullptr;
    };
    // Added by an entry that has a successor: reached by the same fire.
    Recorder Added{"added", nullptr, nullptr};
    Recorder First{"first", AddOnce, &Added};
    Recorder Second{"second", nullptr, nullptr};
    NotificationCenter_AddObserver("Task", "Status", &First, Record);
    NotificationCenter_AddObserver("Task", "Status", &Second, Record);
    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"first:Task.Status.Global", "second:Task.Status.Global",
                                                     "added:Task.Status.Global"}));

    // Added by the last entry, whose successor (none) was taken first:
    // reached only by the next fire.
    Recorder Late{"late", nullptr, nullptr};
    Recorder Last{"last", AddOnce, &Late};
    NotificationCenter_AddObserver("Task", "Done", &Last, Record);
    NotificationCenter_Fire("Task", "Done", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"last:Task.Done.Global"}));
    NotificationCenter_Fire("Task", "Done", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"last:Task.Done.Global", "late:Task.Done.Global"}));
}

TEST_F(NotificationCenterTest, NestedFireDoesNotChangeWhatWildcardObserversOfTheOuterFireRead) {
    Recorder Second{"w2", nullptr, nullptr};
    Recorder First{"w1",
                   [](Recorder *Self, const char *Type, const char *, const char *, Dictionary *) {
                       if (strcmp(Type, "Task") == 0) NotificationCenter_Fire("Other", "Event", "X", nullptr);
                       (void)Self;
                   },
                   nullptr};
    NotificationCenter_AddObserver(nullptr, nullptr, &First, Record);
    NotificationCenter_AddObserver(nullptr, nullptr, &Second, Record);
    NotificationCenter_Fire("Task", "Status", "ABC", nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"w1:Task.Status.ABC", "w1:Other.Event.X", "w2:Other.Event.X",
                                                     "w2:Task.Status.ABC"}));
}

// Observers tell the program's own fires from those anyone may make, the
// queued ones too, and a plain fire nested in an Own one is not Own.
TEST_F(NotificationCenterTest, OwnFiresAreToldApartFromPlainOnes) {
    static std::vector<std::string> Seen;
    Seen.clear();
    auto Note = [](void *, const char *Type, const char *, const char *, Dictionary *) -> int32 {
        Seen.push_back(std::string(Type) + (NotificationCenter_IsOwnFire() ? ":own" : ":plain"));
        if (strcmp(Type, "Outer") == 0) NotificationCenter_Fire("Inner", "Event", "X", nullptr);
        if (strcmp(Type, "Outer") == 0) Seen.push_back(NotificationCenter_IsOwnFire() ? "after:own" : "after:plain");
        return TRUE;
    };
    int32 Token = 0;
    NotificationCenter_AddObserver(nullptr, nullptr, &Token, Note);
    NotificationCenter_FireOwn("Outer", "Event", "X", nullptr);
    NotificationCenter_Fire("Plain", "Event", "X", nullptr);
    NotificationCenter_FireAfterDelayOwn("Queued", "Event", "X", 0, nullptr);
    NotificationCenter_FireAfterDelay("QueuedPlain", "Event", "X", 0, nullptr);
    NotificationCenter_Process();
    NotificationCenter_RemoveObserver(nullptr, nullptr, &Token, Note);
    EXPECT_EQ(Seen, (std::vector<std::string>{"Outer:own", "Inner:plain", "after:own", "Plain:plain", "Queued:own",
                                              "QueuedPlain:plain"}));
    EXPECT_FALSE(NotificationCenter_IsOwnFire());
}

TEST_F(NotificationCenterTest, ProcessStepInsideAnObserverFreesNothingInUse) {
    NotificationCenter *Center = GlobalNotificationCenter;
    Recorder Third{"third", nullptr, nullptr};
    Recorder Second{"second", nullptr, nullptr};
    // Removes its successor, then runs the step as a nested main loop would.
    Recorder First{"first",
                   [](Recorder *Self, const char *, const char *, const char *, Dictionary *) {
                       NotificationCenter_RemoveObserver("Task", "Status", Self->Context, Record);
                       NotificationCenter_Process();
                       EventQueue_Flush(nullptr);
                   },
                   &Second};
    NotificationCenter_AddObserver("Task", "Status", &First, Record);
    NotificationCenter_AddObserver("Task", "Status", &Second, Record);
    NotificationCenter_AddObserver("Task", "Status", &Third, Record);

    NotificationCenter_Fire("Task", "Status", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"first:Task.Status.Global", "third:Task.Status.Global"}));
    // The nested step left the removal alone and posted a step for later.
    EXPECT_EQ(ActiveRecords(Center->RemovePool), 1u);
    EXPECT_EQ(Center->ProcessPosted, 1u);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(ActiveRecords(Center->RemovePool), 0u);
    EXPECT_EQ(ActiveRecords(Center->ObserverPool), 2u);
}

TEST_F(NotificationCenterTest, ProcessStepInsideAQueuedDeliveryLeavesQueuedFiresAlone) {
    NotificationCenter *Center = GlobalNotificationCenter;
    Recorder Nested{"nested",
                    [](Recorder *, const char *, const char *, const char *Instance, Dictionary *) {
                        if (strcmp(Instance, "one") == 0) NotificationCenter_Process();
                    },
                    nullptr};
    NotificationCenter_AddObserver("Queue", "Item", &Nested, Record);
    NotificationCenter_FireAfterDelay("Queue", "Item", "one", 0, nullptr);
    NotificationCenter_FireAfterDelay("Queue", "Item", "two", 0, nullptr);
    NotificationCenter_FireAfterDelay("Queue", "Item", "three", 0, nullptr);
    NotificationCenter_Process();
    // Each queued fire once, in order; none delivered by the nested step.
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"nested:Queue.Item.one", "nested:Queue.Item.two",
                                                     "nested:Queue.Item.three"}));
    EXPECT_EQ(Center->Pending.Count, 0u);
    EXPECT_EQ(ActiveRecords(Center->PendingPool), 0u);
    EventQueue_Flush(nullptr);
    EXPECT_TRUE(TakeCalls().empty());
}

TEST_F(NotificationCenterTest, RemoveInsideADeliveryIsAFatalStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Recorder Remover{"remover",
                     [](Recorder *, const char *, const char *, const char *, Dictionary *) {
                         NotificationCenter_Remove();
                     },
                     nullptr};
    NotificationCenter_AddObserver("Task", "Status", &Remover, Record);
    EXPECT_EXIT(NotificationCenter_Fire("Task", "Status", nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(Center->DeliveryDepth == 0\\)");
}

// ---------------------------------------------------------------------------
// Payloads

TEST_F(NotificationCenterTest, OwnerThreadObserversReceiveTheCallersDictionary) {
    static Dictionary *Seen = nullptr;
    Recorder Observer{"observer",
                      [](Recorder *, const char *, const char *, const char *, Dictionary *Info) { Seen = Info; },
                      nullptr};
    NotificationCenter_AddObserver("Task", "Status", &Observer, Record);
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    NotificationCenter_Fire("Task", "Status", nullptr, Info);
    EXPECT_EQ(Seen, Info);
    Dictionary_Release(&Info);
}

TEST_F(NotificationCenterTest, QueuedFiresDeliverACopyTheCallerNeedNotKeep) {
    static int32 SeenCount = -1;
    static Dictionary *Seen = nullptr;
    Recorder Observer{"observer",
                      [](Recorder *, const char *, const char *, const char *, Dictionary *Info) {
                          Seen = Info;
                          SeenCount = -1;
                          if (Info != nullptr) Dictionary_GetInt32ByKey(Info, "count", &SeenCount);
                      },
                      nullptr};
    NotificationCenter_AddObserver("Task", "Status", &Observer, Record);
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_SetInt32ByKey(Info, "count", 7);
    NotificationCenter_FireAfterDelay("Task", "Status", nullptr, 0, Info);
    Dictionary *Original = Info;
    Dictionary_SetInt32ByKey(Info, "count", 8); // later changes are not seen
    Dictionary_Release(&Info);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"observer:Task.Status.Global"}));
    EXPECT_NE(Seen, Original);
    EXPECT_EQ(SeenCount, 7);
}

// ---------------------------------------------------------------------------
// Delayed fires and the budget (test clock)

TEST_F(NotificationCenterTest, DelayedFireWaitsForAStepAfterItsDelay) {
    Time_TestClockStart(5000000);
    Recorder Observer{"observer", nullptr, nullptr};
    NotificationCenter_AddObserver("Timer", "Due", &Observer, Record);
    NotificationCenter_FireAfterDelay("Timer", "Due", "late", 250, nullptr);
    EventQueue_Flush(nullptr); // a delayed fire posts no event
    NotificationCenter_Process();
    Time_TestClockAdvance(249);
    NotificationCenter_Process();
    EXPECT_TRUE(TakeCalls().empty());
    Time_TestClockAdvance(1);
    NotificationCenter_Process();
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"observer:Timer.Due.late"}));
    NotificationCenter_Process();
    EXPECT_TRUE(TakeCalls().empty());

    // Clock readings whose difference in seconds falls a hair short of the
    // delay (0.282 - 0.032 < 0.25 in binary) still count in milliseconds.
    struct Case {
        uint64 Start;
        int32 Delay;
    };
    for (Case Each : {Case{32, 250}, Case{2, 100}, Case{502, 1500}}) {
        Time_TestClockStart(Each.Start);
        NotificationCenter_FireAfterDelay("Timer", "Due", "odd", Each.Delay, nullptr);
        Time_TestClockAdvance((uint64)Each.Delay - 1);
        NotificationCenter_Process();
        EXPECT_TRUE(Calls.empty()) << Each.Start;
        Time_TestClockAdvance(1);
        NotificationCenter_Process();
        EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"observer:Timer.Due.odd"})) << Each.Start;
    }
}

TEST_F(NotificationCenterTest, ZeroAndNegativeDelaysAreDeliveredAtTheNextQueueFlush) {
    Time_TestClockStart(5000000);
    Recorder Observer{"observer", nullptr, nullptr};
    NotificationCenter_AddObserver("Timer", "Due", &Observer, Record);
    NotificationCenter_FireAfterDelay("Timer", "Due", "zero", 0, nullptr);
    NotificationCenter_FireAfterDelay("Timer", "Due", "negative", -5000, nullptr);
    EXPECT_TRUE(Calls.empty());
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"observer:Timer.Due.zero", "observer:Timer.Due.negative"}));
}

// One process event is queued at a time and serves every fire queued before
// its step: fires queued between steps, and by observers inside a step, are
// all delivered by the flushes that follow, and none is left waiting.
TEST_F(NotificationCenterTest, EveryQueuedFireIsDeliveredByTheNextFlushes) {
    Recorder Refire{"refire",
                    [](Recorder *, const char *, const char *, const char *Instance, Dictionary *) {
                        if (strcmp(Instance, "outer") == 0)
                            NotificationCenter_FireAfterDelay("Batch", "Item", "inner", 0, nullptr);
                    },
                    nullptr};
    NotificationCenter_AddObserver("Batch", "Item", &Refire, Record);
    for (int32 Round = 0; Round < 3; Round++) {
        NotificationCenter_FireAfterDelay("Batch", "Item", "a", 0, nullptr);
        NotificationCenter_FireAfterDelay("Batch", "Item", "b", 0, nullptr);
        EXPECT_EQ(GlobalNotificationCenter->ProcessPosted, 1u);
        EventQueue_Flush(nullptr);
        EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"refire:Batch.Item.a", "refire:Batch.Item.b"}));
        EXPECT_EQ(GlobalNotificationCenter->ProcessPosted, 0u);
    }
    NotificationCenter_FireAfterDelay("Batch", "Item", "outer", 0, nullptr);
    EventQueue_Flush(nullptr);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"refire:Batch.Item.outer", "refire:Batch.Item.inner"}));
    EXPECT_EQ(GlobalNotificationCenter->Pending.Count, 0u);
    EXPECT_EQ(GlobalNotificationCenter->ProcessPosted, 0u);
}

// The queued fires' records come from the center's pool in its own mode
// (the inline take and give) as they come in debug mode, one allocation
// each through the whole path: the same deliveries and the same counts
// after every step of a random run of fires and flushes.
TEST_F(NotificationCenterTest, QueuedFireRecordsCountAsInDebugMode) {
    Recorder Observer{"seen", nullptr, nullptr};
    NotificationCenter_AddObserver("Batch", "Item", &Observer, Record);
    Pool *Pending = GlobalNotificationCenter->PendingPool;
    auto Run = [&](uint32 Debug) {
        Pool_RemoveAll(Pending);
        Pool_SetDebugMode(Pending, Debug);
        std::mt19937 Random(7);
        std::vector<std::string> Trace;
        for (int32 Step = 0; Step < 300; Step++) {
            if (Random() % 3 == 0)
                FlushAllDue();
            else
                NotificationCenter_FireAfterDelay("Batch", "Item", std::to_string(Step).c_str(), 0, nullptr);
            uint32 Maximum = 0;
            Pool_GetMaximumCount(Pending, &Maximum);
            Trace.push_back(std::to_string(ActiveRecords(Pending)) + "/" + std::to_string(Maximum));
        }
        FlushAllDue();
        EXPECT_EQ(ActiveRecords(Pending), 0u);
        for (std::string &Call : TakeCalls()) Trace.push_back(Call);
        return Trace;
    };
    const std::vector<std::string> Reference = Run(TRUE);
    EXPECT_EQ(Run(FALSE), Reference);
    NotificationCenter_RemoveObserver("Batch", "Item", &Observer, Record);
}

// A fire due at once is stamped with no clock reading of its own: outside
// a walk it is due for every later step, inside one the walk's newest
// reading stands in. Each case is the step by step delivery a reading per
// fire gives. Instances are scripts, run by the observer after it recorded
// the label before the first '/': "tick" moves the test clock 1 ms,
// "fire:x" queues x at once, "fire:x@5" after 5 ms.
int32 RunScript(void *, const char *, const char *, const char *Instance, Dictionary *) {
    std::string Script = Instance;
    size_t At = Script.find('/');
    Calls.push_back(Script.substr(0, At));
    while (At != std::string::npos) {
        const size_t End = Script.find('/', At + 1);
        const std::string Step = Script.substr(At + 1, End == std::string::npos ? End : End - At - 1);
        if (Step == "tick") Time_TestClockAdvance(1);
        if (Step.rfind("fire:", 0) == 0) {
            const size_t Delay = Step.find('@');
            NotificationCenter_FireAfterDelay("Walk", "Step", Step.substr(5, Delay - 5).c_str(),
                                              Delay == std::string::npos ? 0 : atoi(Step.c_str() + Delay + 1), nullptr);
        }
        At = End;
    }
    return TRUE;
}

TEST_F(NotificationCenterTest, FiresDueAtOnceLandInTheStepsAReadingPerFireGives) {
    struct Step {
        uint64 Advance; // ms the clock moves before the step
        std::vector<std::string> Delivered;
    };
    struct Case {
        std::vector<const char *> Queued; // before the first step, outside any walk
        std::vector<Step> Steps;
    };
    const std::vector<Case> Cases = {
        {{"a"}, {{3, {"a"}}}},
        {{"a", "b"}, {{0, {"a", "b"}}, {5, {}}}},
        // Queued by an observer in the walk's first millisecond, reached.
        {{"a/fire:x", "b"}, {{0, {"a", "b", "x"}}}},
        {{"a/fire:x/tick", "b"}, {{0, {"a", "b", "x"}}}},
        // The last fire's successor was taken before x was queued.
        {{"a/fire:x"}, {{0, {"a"}}, {0, {"x"}}}},
        // Queued after the walk saw the clock move: the next step.
        {{"a/tick", "b/fire:x", "c"}, {{0, {"a", "b", "c"}}, {0, {"x"}}}},
        {{"a/tick", "b/fire:x/fire:y", "c/fire:z", "d"}, {{0, {"a", "b", "c", "d"}}, {0, {"x", "y", "z"}}}},
        // Fires with a delay keep their own reading.
        {{"a/fire:x@5", "b"}, {{0, {"a", "b"}}, {4, {}}, {1, {"x"}}}},
        {{"a/tick/fire:x@2", "b/tick", "c"}, {{0, {"a", "b", "c"}}, {0, {}}, {1, {"x"}}}},
    };
    int32 Observer = 0;
    NotificationCenter_AddObserver("Walk", "Step", &Observer, RunScript);
    for (size_t Index = 0; Index < Cases.size(); Index++) {
        Time_TestClockStart(1000);
        for (const char *Script : Cases[Index].Queued)
            NotificationCenter_FireAfterDelay("Walk", "Step", Script, 0, nullptr);
        for (const Step &Each : Cases[Index].Steps) {
            Time_TestClockAdvance(Each.Advance);
            NotificationCenter_Process();
            EXPECT_EQ(TakeCalls(), Each.Delivered) << "case " << Index;
        }
        EXPECT_EQ(GlobalNotificationCenter->Pending.Count, 0u) << "case " << Index;
        while (GlobalNotificationCenter->Pending.Count != 0) NotificationCenter_Process();
        TakeCalls();
    }
    NotificationCenter_RemoveObserver("Walk", "Step", &Observer, RunScript);
}

// Fires that call no observer read the clock for the budget only now and
// then: on a clock that moves a whole budget per reading, a walk of such
// fires stops after a few, not after the first (as a reading per fire would)
// and not never. What it leaves reaches an observer added since.
TEST_F(NotificationCenterTest, WalkOfQuietFiresStopsSoonAfterItsBudget) {
    static uint64 Now;
    Now = 1000;
    Time_SetCycleCountOverride([]() -> uint64 { return Now += 1000; });
    constexpr uint32 Fired = 100;
    for (uint32 Index = 0; Index < Fired; Index++)
        NotificationCenter_FireAfterDelay("Quiet", "Fire", std::to_string(Index).c_str(), 0, nullptr);
    NotificationCenter_Process();
    const uint32 Left = GlobalNotificationCenter->Pending.Count;
    EXPECT_LT(Left, Fired - 1);
    EXPECT_GE(Left, Fired - 16);
    Recorder Late{"late", nullptr, nullptr};
    NotificationCenter_AddObserver("Quiet", "Fire", &Late, Record);
    while (GlobalNotificationCenter->Pending.Count != 0) NotificationCenter_Process();
    const std::vector<std::string> Delivered = TakeCalls();
    ASSERT_EQ(Delivered.size(), Left);
    EXPECT_EQ(Delivered.front(), "late:Quiet.Fire." + std::to_string(Fired - Left));
    EXPECT_EQ(Delivered.back(), "late:Quiet.Fire." + std::to_string(Fired - 1));
    NotificationCenter_RemoveObserver("Quiet", "Fire", &Late, Record);
}

TEST_F(NotificationCenterTest, StepStopsAfterATenthOfASecondAndPostsItselfForTheRest) {
    Time_TestClockStart(5000000);
    // Each delivery takes 40 ms of test time.
    Recorder Slow{"slow",
                  [](Recorder *, const char *, const char *, const char *, Dictionary *) {
                      Time_TestClockAdvance(40);
                  },
                  nullptr};
    NotificationCenter_AddObserver("Batch", "Item", &Slow, Record);
    const char *Items[] = {"1", "2", "3", "4", "5"};
    for (const char *Item : Items) NotificationCenter_FireAfterDelay("Batch", "Item", Item, 0, nullptr);
    NotificationCenter_Process();
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"slow:Batch.Item.1", "slow:Batch.Item.2", "slow:Batch.Item.3"}));
    EXPECT_EQ(GlobalNotificationCenter->Pending.Count, 2u);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"slow:Batch.Item.4", "slow:Batch.Item.5"}));
}

TEST_F(NotificationCenterTest, ProcessEventOfARemovedCenterDoesNothing) {
    NotificationCenter *Old = GlobalNotificationCenter;
    NotificationCenter_Remove();
    EXPECT_EQ(NotificationCenter_ProcessEvent(Old), 0);
    NotificationCenter_Init();
    EXPECT_EQ(NotificationCenter_ProcessEvent(Old == GlobalNotificationCenter ? nullptr : Old), 0);
    EXPECT_EQ(NotificationCenter_ProcessEvent(GlobalNotificationCenter), 1);
}

TEST_F(NotificationCenterTest, ProcessObserversRunNewestKeyFirstWithoutPayload) {
    static int32 SawPayload = 0;
    auto NoPayload = [](Recorder *, const char *, const char *, const char *, Dictionary *Info) {
        SawPayload |= Info != nullptr;
    };
    Recorder A1{"a1", NoPayload, nullptr};
    Recorder A2{"a2", NoPayload, nullptr};
    Recorder B{"b", NoPayload, nullptr};
    NotificationCenter_AddProcessObserver("A", &A1, Record);
    NotificationCenter_AddProcessObserver("B", &B, Record);
    NotificationCenter_AddProcessObserver("A", &A2, Record);
    NotificationCenter_Process();
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"b:NotificationCenter.Process.B",
                                                     "a1:NotificationCenter.Process.A",
                                                     "a2:NotificationCenter.Process.A"}));
    EXPECT_EQ(SawPayload, 0);
    NotificationCenter_RemoveProcessObserver("B", &B, Record);
    NotificationCenter_Process();
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"a1:NotificationCenter.Process.A",
                                                     "a2:NotificationCenter.Process.A"}));
    EXPECT_EQ(GlobalNotificationCenter->ProcessObservers.Count, 1u);
    // Only the exact spelling makes a process key.
    Recorder Lower{"lower", nullptr, nullptr};
    NotificationCenter_AddInstanceObserver("notificationcenter", "process", "C", &Lower, Record);
    NotificationCenter_Process();
    EXPECT_EQ(TakeCalls().size(), 2u);
}

// ---------------------------------------------------------------------------
// Fires from other threads

struct FireJob {
    const char *Instance;
    int32 Result;
    std::atomic<int32> Returned;
};

int32 FireFromThread(void *User) {
    auto *Job = static_cast<FireJob *>(User);
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_SetInt32ByKey(Info, "count", 7);
    Job->Result = NotificationCenter_Fire("Worker", "Done", Job->Instance, Info);
    Job->Returned.store(1);
    Dictionary_Release(&Info);
    return 0;
}

// Runs the owner thread's loop until Done() holds; false when it did not
// within a minute.
template <typename Condition> bool RunMainLoopUntil(Condition &&Done) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > Deadline) return false;
        Thread_Wait(100);
        EventQueue_Flush(nullptr);
    }
    return true;
}

TEST_F(NotificationCenterTest, CrossThreadFireBlocksUntilTheOwnerThreadDelivered) {
    static uint32 ObserverThread = 0;
    static uint32 WorkerId = 0;
    static int32 BlockedDuringDelivery = -1;
    static int32 ReturnedBeforeDelivery = -1;
    static int32 SeenCount = -1;
    static FireJob Job{"worker-1", -1, {0}};
    Recorder Observer{"observer",
                      [](Recorder *, const char *, const char *, const char *, Dictionary *Info) {
                          ObserverThread = Thread_GetCurrentId();
                          BlockedDuringDelivery = NotificationCenter_IsThreadBlockedInFire(WorkerId);
                          ReturnedBeforeDelivery = Job.Returned.load();
                          if (Info != nullptr) Dictionary_GetInt32ByKey(Info, "count", &SeenCount);
                      },
                      nullptr};
    NotificationCenter_AddInstanceObserver("Worker", "Done", "worker-1", &Observer, Record);
    Job.Result = -1;
    Job.Returned = 0;
    Thread *Worker = nullptr;
    ASSERT_EQ(Thread_Begin(&Worker, &Job, FireFromThread), 1);
    WorkerId = Thread_GetId(Worker);
    ASSERT_TRUE(RunMainLoopUntil([] { return !Calls.empty(); })) << "the fire was not delivered";
    ASSERT_EQ(Thread_Join(-1, &Worker), 1);
    EXPECT_EQ(BlockedDuringDelivery, 1);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"observer:Worker.Done.worker-1"}));
    EXPECT_EQ(ObserverThread, Thread_GetCurrentId());
    EXPECT_EQ(ReturnedBeforeDelivery, 0);
    EXPECT_EQ(SeenCount, 7);
    EXPECT_EQ(Job.Result, 1);
    EXPECT_EQ(NotificationCenter_IsThreadBlockedInFire(WorkerId), 0);
}

int32 FireMany(void *User) {
    auto *Count = static_cast<std::atomic<int32> *>(User);
    static Recorder Quiet{"quiet", nullptr, nullptr};
    for (int32 Index = 0; Index < 50; Index++) {
        // Observer changes from foreign threads race with the deliveries.
        NotificationCenter_AddObserver("Stress", "Noise", &Quiet, Record);
        if (NotificationCenter_Fire("Stress", "Tick", nullptr, nullptr) == 1) Count->fetch_add(1);
        NotificationCenter_FireAfterDelay("Stress", "Later", nullptr, 0, nullptr);
        NotificationCenter_RemoveObserver("Stress", "Noise", &Quiet, Record);
    }
    return 0;
}

TEST_F(NotificationCenterTest, CrossThreadFiresFromEightThreadsAreAllDelivered) {
    static std::atomic<int32> Ticks{0};
    static std::atomic<int32> Laters{0};
    Ticks = 0;
    Laters = 0;
    auto Count = [](void *User, const char *, const char *, const char *, Dictionary *) -> int32 {
        static_cast<std::atomic<int32> *>(User)->fetch_add(1);
        return TRUE;
    };
    NotificationCenter_AddObserver("Stress", "Tick", &Ticks, Count);
    NotificationCenter_AddObserver("Stress", "Later", &Laters, Count);
    std::atomic<int32> Returned{0};
    Thread *Workers[8] = {};
    for (Thread *&Worker : Workers) ASSERT_EQ(Thread_Begin(&Worker, &Returned, FireMany), 1);
    ASSERT_TRUE(RunMainLoopUntil([&] {
        NotificationCenter_Process();
        return Returned.load() == 400 && Laters.load() == 400;
    })) << Returned.load() << " fires returned, " << Laters.load() << " delayed fires delivered";
    for (Thread *&Worker : Workers) ASSERT_EQ(Thread_Join(-1, &Worker), 1);
    EXPECT_EQ(Ticks.load(), 400);
    NotificationCenter_Process();
    EXPECT_EQ(GlobalNotificationCenter->Pending.Count, 0u);
}

TEST_F(NotificationCenterTest, CrossThreadFireIsWokenWhenTheCenterIsRemoved) {
    static FireJob Job{"orphan", -1, {0}};
    Job.Result = -1;
    Thread *Worker = nullptr;
    ASSERT_EQ(Thread_Begin(&Worker, &Job, FireFromThread), 1);
    uint32 WorkerId = Thread_GetId(Worker);
    // Waits for the queued fire without delivering it.
    for (int32 Pass = 0; !NotificationCenter_IsThreadBlockedInFire(WorkerId); Pass++) {
        ASSERT_LT(Pass, 100000);
        Thread_Wait(1000);
    }
    NotificationCenter_Remove();
    ASSERT_EQ(Thread_Join(-1, &Worker), 1);
    EXPECT_EQ(Job.Result, 0);
    EXPECT_EQ(NotificationCenter_IsThreadBlockedInFire(WorkerId), 0);
    NotificationCenter_Init(); // for TearDown
}

TEST_F(NotificationCenterTest, ProcessOnAnotherThreadIsAFatalStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto Step = [](void *) -> int32 { return NotificationCenter_Process(); };
    EXPECT_EXIT(
        {
            Thread *Worker = nullptr;
            Thread_Begin(&Worker, nullptr, Step);
            Thread_Join(-1, &Worker);
        },
        ::testing::KilledBySignal(SIGILL), "NotificationCenter - Process not on its owner thread");
}

// ---------------------------------------------------------------------------
// Interop references, instance checks, absent center

TEST_F(NotificationCenterTest, InteropReferencesAnnounceTheFirstAndTheLast) {
    static std::vector<uint32> Announced;
    Announced.clear();
    auto Watch = [](void *, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        uint32 Flag = 2;
        Dictionary_GetBooleanByKey(Info, "addRef", &Flag);
        Announced.push_back(Flag);
        return TRUE;
    };
    const char *Id = "0123456789abcdef0123456789abcdef";
    NotificationCenter_AddInteropObserver(Id, nullptr, Watch);
    EXPECT_EQ(NotificationCenter_IsRetained(GlobalNotificationCenter, Id), 1);
    EXPECT_EQ(NotificationCenter_AddRefInteropReference(Id), 1);
    EXPECT_EQ(NotificationCenter_AddRefInteropReference(Id), 1);
    EXPECT_EQ(Announced, (std::vector<uint32>{1}));
    EXPECT_EQ(NotificationCenter_ReleaseInteropReference(Id), 1);
    EXPECT_EQ(NotificationCenter_ReleaseInteropReference(Id), 1);
    EXPECT_EQ(Announced, (std::vector<uint32>{1, 0}));
    // A release without a reference is refused and announces nothing; the
    // next first reference is announced again.
    EXPECT_EQ(NotificationCenter_ReleaseInteropReference(Id), 0);
    EXPECT_EQ(NotificationCenter_AddRefInteropReference(Id), 1);
    EXPECT_EQ(Announced, (std::vector<uint32>{1, 0, 1}));
    NotificationCenter_ReleaseInteropReference(Id);
    NotificationCenter_RemoveInteropObserver(Id, nullptr, Watch);
    EXPECT_EQ(NotificationCenter_IsRetained(GlobalNotificationCenter, Id), 0);
}

struct Tracked {
    ClassStruct Class;
};

TEST_F(NotificationCenterTest, AssertInstanceStopsWhileAnObserverStillUsesTheObject) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Tracked Object{};
    Class_InitHeader(&Object, 0x5eed0140u, nullptr);
    memcpy(Object.Class.InstanceId, "feedfacefeedfacefeedfacefeedface", 33);
    NotificationCenter_AddObserver("Task", "Status", &Object, Record);
    NotificationCenter_AddInstanceObserver("Task", "Status", "x", &Object, Record);
    EXPECT_EXIT(NotificationCenter_AssertInstance(&Object), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(RefCount == 0\\)\nNotificationCenter - Instance still has 2 references - "
                "feedfacefeedfacefeedfacefeedface");
    NotificationCenter_RemoveObserver("Task", "Status", &Object, Record);
    NotificationCenter_RemoveInstanceObserver("Task", "Status", "x", &Object, Record);
    // Removed entries no longer count, before and after the flush.
    EXPECT_EQ(NotificationCenter_AssertInstance(&Object), 1);
    NotificationCenter_Process();
    EXPECT_EQ(NotificationCenter_AssertInstance(&Object), 1);
}

// The live entries of each user pointer, found by walking every key record:
// the reference the center's per-user counts must always agree with.
std::map<const void *, uint32> WalkLiveUsers() {
    NotificationCenter *Center = GlobalNotificationCenter;
    std::map<const void *, uint32> Live;
    Center->Observers->ForEach([&Live](NotificationKeyRecord *Key) {
        for (NotificationObserverRecord *Entry = Key->Observers.Head; Entry != nullptr; Entry = Entry->Next)
            if (!Entry->Removed) Live[Entry->User]++;
    });
    return Live;
}

// The tracked object is no Recorder: its observers do nothing.
int32 Ignore(void *, const char *, const char *, const char *, Dictionary *) { return TRUE; }

std::map<const void *, uint32> CountedLiveUsers() {
    std::map<const void *, uint32> Counts;
    GlobalNotificationCenter->LiveUsers->ForEach([&](const void *User, uint32 Count) { Counts[User] = Count; });
    return Counts;
}

TEST_F(NotificationCenterTest, LiveObserverCountsFollowEveryAdditionAndRemoval) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Tracked Object{};
    Class_InitHeader(&Object, 0x5eed0141u, nullptr);
    memcpy(Object.Class.InstanceId, "0badc0de0badc0de0badc0de0badc0de", 33);
    // An observer that removes itself (and a second registration of the same
    // user elsewhere) while it is being called.
    Recorder Self{"self",
                  [](Recorder *Me, const char *, const char *, const char *, Dictionary *) {
                      NotificationCenter_RemoveObserver("Task", "Status", Me, Record);
                      NotificationCenter_RemoveInstanceObserver("Task", "Status", "y", Me, Record);
                  },
                  nullptr};
    auto Check = [] { EXPECT_EQ(CountedLiveUsers(), WalkLiveUsers()); };
    const struct {
        const char *Step;
        void (*Change)(Tracked *Object, Recorder *Self);
        int32 Expected; // live entries of Object afterwards
    } Steps[] = {
        {"two registrations of one key", [](Tracked *O, Recorder *) {
             NotificationCenter_AddObserver("Task", "Status", O, Ignore);
             NotificationCenter_AddObserver("Task", "Status", O, Ignore);
         }, 2},
        {"process and interop observers", [](Tracked *O, Recorder *) {
             NotificationCenter_AddProcessObserver("p", O, Ignore);
             NotificationCenter_AddInteropObserver("i", O, Ignore);
         }, 4},
        {"one of the two removed (flagged)", [](Tracked *O, Recorder *) {
             NotificationCenter_RemoveObserver("Task", "Status", O, Ignore);
         }, 3},
        {"a removal that matches nothing", [](Tracked *O, Recorder *) {
             NotificationCenter_RemoveObserver("Task", "Status", O, nullptr);
             NotificationCenter_RemoveObserver("Task", "Other", O, Ignore);
         }, 3},
        {"re-added before the flush", [](Tracked *O, Recorder *) {
             NotificationCenter_AddObserver("Task", "Status", O, Ignore);
         }, 4},
        {"self-removing observers fired", [](Tracked *, Recorder *S) {
             NotificationCenter_AddObserver("Task", "Status", S, Record);
             NotificationCenter_AddInstanceObserver("Task", "Status", "y", S, Record);
             NotificationCenter_Fire("Task", "Status", "y", nullptr);
         }, 4},
        {"the flush", [](Tracked *, Recorder *) { NotificationCenter_Process(); }, 4},
        {"removed twice: the second finds no live entry", [](Tracked *O, Recorder *) {
             NotificationCenter_RemoveProcessObserver("p", O, Ignore);
             NotificationCenter_RemoveProcessObserver("p", O, Ignore);
             NotificationCenter_RemoveInteropObserver("i", O, Ignore);
         }, 2},
        {"the rest removed, then flushed", [](Tracked *O, Recorder *) {
             NotificationCenter_RemoveObserver("Task", "Status", O, Ignore);
             NotificationCenter_RemoveObserver("Task", "Status", O, Ignore);
             NotificationCenter_Process();
         }, 0},
        {"re-added after the flush", [](Tracked *O, Recorder *) {
             NotificationCenter_AddInstanceObserver("Task", "Status", "x", O, Ignore);
         }, 1},
    };
    for (const auto &Step : Steps) {
        SCOPED_TRACE(Step.Step);
        Step.Change(&Object, &Self);
        Check();
        EXPECT_EQ(CountedLiveUsers().count(&Self), 0u);
        auto Live = CountedLiveUsers();
        EXPECT_EQ(Live.count(&Object) ? (int32)Live[&Object] : 0, Step.Expected);
        if (Step.Expected == 0) {
            EXPECT_EQ(NotificationCenter_AssertInstance(&Object), 1);
        } else {
            std::string Expected = "Instance still has " + std::to_string(Step.Expected) +
                                   " references - 0badc0de0badc0de0badc0de0badc0de";
            EXPECT_EXIT(NotificationCenter_AssertInstance(&Object), ::testing::KilledBySignal(SIGILL), Expected);
        }
    }
    TakeCalls();
    NotificationCenter_RemoveInstanceObserver("Task", "Status", "x", &Object, Ignore);
    EXPECT_EQ(NotificationCenter_AssertInstance(&Object), 1);
    Check();
}

TEST(NotificationCenterAbsent, OperationsWithoutACenterStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RuntimeScope Runtime;
    EXPECT_EXIT(NotificationCenter_Fire("Task", "Status", nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    EXPECT_EXIT(NotificationCenter_AddObserver("Task", "Status", nullptr, Record), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    EXPECT_EQ(NotificationCenter_Remove(), 1);
}

// ---------------------------------------------------------------------------
// JSON payloads

TEST_F(NotificationCenterTest, JsonFiresParseThePayloadOrFireNothing) {
    static std::vector<std::string> Payloads;
    Payloads.clear();
    auto Capture = [](void *, const char *, const char *, const char *Instance, Dictionary *Info) -> int32 {
        std::string Text = Instance;
        if (Info == nullptr) {
            Text += "=none";
        } else {
            int32 Count = 0;
            Dictionary_ItemGetCount(Info, &Count);
            int32 A = 0;
            if (Dictionary_GetInt32ByKey(Info, "a", &A)) Text += "=a" + std::to_string(A);
            Text += "#" + std::to_string(Count);
        }
        Payloads.push_back(Text);
        return TRUE;
    };
    NotificationCenter_AddObserver("Json", "Fire", nullptr, Capture);
    EXPECT_EQ(NotificationCenter_FireWithJSON("Json", "Fire", "printed", "{\"a\":%d,\"b\":\"%js\"}", 5, "q\""), 1);
    EXPECT_EQ(NotificationCenter_FireWithJSON("Json", "Fire", "plain", nullptr), 1);
    EXPECT_EQ(NotificationCenter_FireWithJSON("Json", "Fire", "broken", "{\"a\":"), 0);
    EXPECT_EQ(NotificationCenter_FireInterop("Json", "Fire", "page", "{}"), 1);
    EXPECT_EQ(NotificationCenter_FireInterop("Json", "Fire", "bad", "{\"a\":1"), 0);
    EXPECT_EQ(NotificationCenter_FireInterop("Json", "Fire", "null", nullptr), 0);
    // A page's payload is an object; other JSON values parse but fire nothing.
    for (const char *Text : {"[1,2]", "5", "null", "\"text\""})
        EXPECT_EQ(NotificationCenter_FireInterop("Json", "Fire", "notObject", Text), 0) << Text;
    EXPECT_EQ(Payloads, (std::vector<std::string>{"printed=a5#2", "plain=none", "page#0"}));

    Payloads.clear();
    EXPECT_EQ(NotificationCenter_FireAfterDelayWithJSON("Json", "Fire", "later", 0, "{\"a\":%d}", 9), 1);
    EXPECT_EQ(NotificationCenter_FireAfterDelayInterop("Json", "Fire", "pageLater", 0, "{\"a\":3}"), 1);
    EXPECT_EQ(NotificationCenter_FireAfterDelayInterop("Json", "Fire", "badLater", 0, "]"), 0);
    EXPECT_EQ(NotificationCenter_FireAfterDelayInterop("Json", "Fire", "arrayLater", 0, "[{\"a\":1}]"), 0);
    EXPECT_TRUE(Payloads.empty());
    EventQueue_Flush(nullptr);
    EXPECT_EQ(Payloads, (std::vector<std::string>{"later=a9#1", "pageLater=a3#1"}));
}

// ---------------------------------------------------------------------------
// Forwarding hooks

struct HookLog {
    std::string Text;
    const void *Pointer = nullptr;
};
HookLog Hooked;

int32 HookAdd(const char *Type, const char *Name, const char *Instance, void *User,
              NotificationCenter_ObserverFunc Function) {
    Hooked.Text = std::string("add ") + Type + "." + Name + "." + Instance;
    Hooked.Pointer = User;
    return Function == Record ? 11 : -1;
}
int32 HookRemove(const char *Type, const char *Name, const char *Instance, void *User,
                 NotificationCenter_ObserverFunc Function) {
    Hooked.Text = std::string("remove ") + Type + "." + Name + "." + Instance;
    Hooked.Pointer = User;
    return Function == Record ? 12 : -1;
}
int32 HookAssert(void *Object) {
    Hooked.Text = "assert";
    Hooked.Pointer = Object;
    return 13;
}
int32 HookFire(const char *Type, const char *Name, const char *Instance, Dictionary *Info) {
    Hooked.Text = std::string("fire ") + Type + "." + Name + "." + (Instance != nullptr ? Instance : "(null)");
    Hooked.Pointer = Info;
    return 14;
}
int32 HookFireAfterDelay(const char *Type, const char *Name, const char *Instance, int32 Delay, Dictionary *Info) {
    Hooked.Text = std::string("delay ") + Type + "." + Name + "." + (Instance != nullptr ? Instance : "(null)") +
                  " " + std::to_string(Delay);
    Hooked.Pointer = Info;
    return 15;
}

TEST(NotificationCenterOverride, HooksReceiveTheArgumentsUnchangedWithoutACenter) {
    RuntimeScope Runtime;
    NotificationCenter_AddInstanceObserverOverride(HookAdd);
    NotificationCenter_RemoveInstanceObserverOverride(HookRemove);
    NotificationCenter_AssertInstanceOverride(HookAssert);
    NotificationCenter_FireOverride(HookFire);
    NotificationCenter_FireAfterDelayOverride(HookFireAfterDelay);
    int Marker = 0;
    Dictionary *Info = reinterpret_cast<Dictionary *>(&Marker);

    EXPECT_EQ(NotificationCenter_AddInstanceObserver("T", "N", "I", &Marker, Record), 11);
    EXPECT_EQ(Hooked.Text, "add T.N.I");
    EXPECT_EQ(Hooked.Pointer, &Marker);
    EXPECT_EQ(NotificationCenter_AddObserver("T", "N", &Marker, Record), 11);
    EXPECT_EQ(Hooked.Text, "add T.N.Global");
    EXPECT_EQ(NotificationCenter_AddProcessObserver("P", &Marker, Record), 11);
    EXPECT_EQ(Hooked.Text, "add NotificationCenter.Process.P");
    EXPECT_EQ(NotificationCenter_RemoveInstanceObserver("T", "N", "I", &Marker, Record), 12);
    EXPECT_EQ(Hooked.Text, "remove T.N.I");
    EXPECT_EQ(NotificationCenter_RemoveObserver("T", "N", &Marker, Record), 12);
    EXPECT_EQ(Hooked.Text, "remove T.N.Global");
    EXPECT_EQ(NotificationCenter_AssertInstance(&Marker), 13);
    EXPECT_EQ(Hooked.Pointer, &Marker);
    EXPECT_EQ(NotificationCenter_Fire("T", "N", nullptr, Info), 14);
    EXPECT_EQ(Hooked.Text, "fire T.N.(null)");
    EXPECT_EQ(Hooked.Pointer, Info);
    EXPECT_EQ(NotificationCenter_FireAfterDelay("T", "N", "I", -3, Info), 15);
    EXPECT_EQ(Hooked.Text, "delay T.N.I -3");
    EXPECT_EQ(NotificationCenter_FireAfterDelaySharedNames({"T", "Na", "I", 1, 2, 1}, 0, Info), 15);
    EXPECT_EQ(Hooked.Text, "delay T.Na.I 0");
    EXPECT_EQ(Hooked.Pointer, Info);
    EXPECT_EQ(NotificationCenter_FireWithJSON("T", "N", "I", nullptr), 14);
    EXPECT_EQ(Hooked.Text, "fire T.N.I");

    NotificationCenter_AddInstanceObserverOverride(nullptr);
    NotificationCenter_RemoveInstanceObserverOverride(nullptr);
    NotificationCenter_AssertInstanceOverride(nullptr);
    NotificationCenter_FireOverride(nullptr);
    NotificationCenter_FireAfterDelayOverride(nullptr);
}

TEST_F(NotificationCenterTest, ClearedHooksGiveTheOwnCenterBack) {
    NotificationCenter_FireOverride(HookFire);
    Recorder Observer{"observer", nullptr, nullptr};
    NotificationCenter_AddObserver("T", "N", &Observer, Record);
    Hooked = {};
    NotificationCenter_Fire("T", "N", nullptr, nullptr);
    EXPECT_TRUE(Calls.empty());
    EXPECT_EQ(Hooked.Text, "fire T.N.(null)");
    NotificationCenter_FireOverride(nullptr);
    NotificationCenter_Fire("T", "N", nullptr, nullptr);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"observer:T.N.Global"}));
}

TEST_F(NotificationCenterTest, VerboseLinesDescribeObserversAndFires) {
    NotificationCenter_SetVerbose(1);
    Recorder Observer{"observer", nullptr, nullptr};
    testing::internal::CaptureStderr();
    NotificationCenter_AddInstanceObserver("Task", "Status", "ABC", &Observer, Record);
    NotificationCenter_Fire("Task", "Status", "ABC", nullptr);
    NotificationCenter_RemoveInstanceObserver("Task", "Status", "ABC", &Observer, Record);
    NotificationCenter_FireAfterDelay("Task", "Status", "ABC", 1000, nullptr);
    NotificationCenter_Remove();
    std::string Log = testing::internal::GetCapturedStderr();
    EXPECT_NE(Log.find("NotificationCenter - Add observer - Task.Status - ABC [0x"), std::string::npos) << Log;
    EXPECT_NE(Log.find("NotificationCenter - Fire event - Task.Status - ABC"), std::string::npos) << Log;
    EXPECT_NE(Log.find("NotificationCenter - Remove observer - Task.Status - ABC [0x"), std::string::npos) << Log;
    EXPECT_NE(Log.find("NotificationCenter - Skipping pending fire - Task.Status - ABC"), std::string::npos) << Log;
    NotificationCenter_Init();
}

TEST_F(NotificationCenterTest, RemoveReportsObserversLeftRegistered) {
    Recorder Observer{"observer", nullptr, nullptr};
    NotificationCenter_AddInstanceObserver("Task", "Status", "ABC", &Observer, Record);
    testing::internal::CaptureStderr();
    NotificationCenter_Remove();
    std::string Log = testing::internal::GetCapturedStderr();
    EXPECT_NE(Log.find("NotificationCenter - Callback not removed Task.Status - ABC"), std::string::npos) << Log;
    NotificationCenter_Init();
}

} // namespace
