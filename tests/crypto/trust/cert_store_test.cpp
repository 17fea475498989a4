// Certificate stores and the trust registry: names without case, permanent
// and replaceable entries, the fail-closed unknown name, the switch that
// answers every trust question while authentication is off, and lists that
// ask their members in order.
#include "crypto/trust/cert_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

class CertStoreTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_TRUE(Authenticate_Init());
    }
    void TearDown() override {
        Authenticate_Remove();
        Authenticate_EnabledOverride(nullptr);
        RuntimeTest::TearDown();
    }
};

// A member store with a fixed answer that counts its questions.
struct Answering {
    int32 Answer;
    uint32 Stop;
    int32 Asked = 0;
};

int32 Ask(CertStoreInterface *, void *User, X509 *, uint32 *Stop) {
    Answering *Self = static_cast<Answering *>(User);
    Self->Asked++;
    *Stop = Self->Stop;
    return Self->Answer;
}

TEST_F(CertStoreTest, BuiltInNamesArePermanentAndCaseless) {
    CertStoreTable *Table = Authenticate_GetCertStoreTableHandle();
    CertStoreInterface *Interface = nullptr;
    EXPECT_TRUE(CertStoreTable_GetInterfaceHandle(Table, "APP", &Interface));
    CertStoreInterface_Release(&Interface);
    EXPECT_EQ(Interface, nullptr);
    CertStoreNull *Null = nullptr;
    CertStoreNull_Create(&Null);
    CertStoreNull_GetInterfaceHandle(Null, &Interface);
    EXPECT_FALSE(CertStoreTable_Add(Table, "null", 1, Interface));
    EXPECT_FALSE(CertStoreTable_Add(Table, "Platform", 1, Interface));
    int32 Members = 0;
    CertStoreList_GetCount(Authenticate_GetCertStoreAppListHandle(), &Members);
    EXPECT_EQ(Members, 1); // the platform store
    EXPECT_FALSE(CertStoreTable_Remove(Table, "NULL"));
    EXPECT_TRUE(CertStoreTable_Add(Table, "mine", 1, Interface));
    EXPECT_TRUE(CertStoreTable_Add(Table, "MINE", 1, Interface));
    EXPECT_TRUE(CertStoreTable_Remove(Table, "mine"));
    EXPECT_FALSE(CertStoreTable_Remove(Table, "mine"));
    CertStoreInterface_Release(&Interface);
    CertStoreNull_Release(&Null);
    EXPECT_FALSE(Authenticate_Init());
}

TEST_F(CertStoreTest, UnknownNameFailsClosed) {
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    CertStoreInterface *Interface = Authenticate_CertStoreGet("nowhere");
    EXPECT_NE(Captured.find("Unable to find certificate store (nowhere)"), std::string::npos);
    uint32 Stop = 9;
    EXPECT_FALSE(CertStoreInterface_X509IsTrusted(Interface, nullptr, &Stop));
    EXPECT_EQ(Stop, 0u);
    const uint8 *Key = nullptr;
    uint32 Size = 0;
    EXPECT_FALSE(CertStoreInterface_GetKey(Interface, &Key, &Size));
    Authenticate_SetEnabled(0);
    EXPECT_TRUE(CertStoreInterface_X509IsTrusted(Interface, nullptr, &Stop));
    CryptAsymmetric *Public = reinterpret_cast<CryptAsymmetric *>(1);
    EXPECT_TRUE(CertStoreInterface_X509IsTrustedJWS(Interface, nullptr, &Public, &Stop));
    EXPECT_EQ(Public, nullptr);
    Authenticate_SetEnabled(1);
    Authenticate_CertStoreRelease(&Interface);
    EXPECT_TRUE(Authenticate_CertStoreRelease(nullptr));
}

TEST_F(CertStoreTest, SwitchOverride) {
    EXPECT_TRUE(Authenticate_Enabled());
    Authenticate_EnabledOverride([]() -> int32 { return 0; });
    EXPECT_FALSE(Authenticate_Enabled());
    Authenticate_EnabledOverride(nullptr);
    EXPECT_TRUE(Authenticate_Enabled());
}

TEST_F(CertStoreTest, ListAsksMembersInOrderUntilAnAnswer) {
    struct Case {
        Answering First, Second;
        int32 Trusted;
        int32 SecondAsked;
    } Cases[] = {
        {{1, 0}, {1, 0}, 1, 0},
        {{0, 0}, {1, 0}, 1, 1},
        {{0, 1}, {1, 0}, 0, 0},
        {{0, 0}, {0, 0}, 0, 1},
    };
    for (Case &Each : Cases) {
        CertStoreList *List = nullptr;
        CertStoreList_Create(&List);
        CertStoreInterface *Members[2] = {};
        Answering *Answers[2] = {&Each.First, &Each.Second};
        for (int Index = 0; Index < 2; Index++) {
            // Members without a store of their own: adding and releasing
            // references changes nothing, the test deletes them.
            CertStoreInterface_Create(&Members[Index]);
            CertStoreInterface_SetX509IsTrustedCallback(Members[Index], Answers[Index], Ask);
            CertStoreInterface_SetAddRefCallback(Members[Index], nullptr,
                                                 [](CertStoreInterface *Self, void *) { return Self; });
            CertStoreInterface_SetReleaseCallback(Members[Index], nullptr,
                                                  [](CertStoreInterface **, void *) -> int32 { return TRUE; });
            CertStoreList_Add(List, Members[Index]);
        }
        int32 Count = 0;
        CertStoreList_GetCount(List, &Count);
        EXPECT_EQ(Count, 2);
        CertStoreInterface *Interface = nullptr;
        CertStoreList_GetInterfaceHandle(List, &Interface);
        uint32 Stop = 0;
        EXPECT_EQ(CertStoreInterface_X509IsTrusted(Interface, nullptr, &Stop), Each.Trusted);
        EXPECT_EQ(Each.First.Asked, 1);
        EXPECT_EQ(Each.Second.Asked, Each.SecondAsked);
        CertStoreInterface_Release(&Interface);
        CertStoreList_Release(&List);
        for (CertStoreInterface *&Member : Members) CertStoreInterface_Delete(&Member);
    }
}

// A list may hold another list, but never itself at any depth.
TEST_F(CertStoreTest, ListRefusesToHoldItself) {
    CertStoreList *Lists[3] = {};
    CertStoreInterface *Faces[3] = {};
    for (int Index = 0; Index < 3; Index++) {
        CertStoreList_Create(&Lists[Index]);
        CertStoreList_GetInterfaceHandle(Lists[Index], &Faces[Index]);
    }
    struct Case {
        int To, Member, Added;
    } Cases[] = {{0, 0, 0}, {0, 1, 1}, {1, 2, 1}, {2, 0, 0}, {2, 1, 0}, {1, 0, 0}, {0, 2, 1}};
    for (const Case &Each : Cases)
        EXPECT_EQ(CertStoreList_Add(Lists[Each.To], Faces[Each.Member]), Each.Added) << Each.To << Each.Member;
    int32 Counts[3] = {};
    for (int Index = 0; Index < 3; Index++) CertStoreList_GetCount(Lists[Index], &Counts[Index]);
    EXPECT_EQ(Counts[0], 2);
    EXPECT_EQ(Counts[1], 1);
    EXPECT_EQ(Counts[2], 0);
    for (int Index = 0; Index < 3; Index++) {
        CertStoreInterface_Release(&Faces[Index]);
        CertStoreList_Release(&Lists[Index]);
    }
}

// Lookups on worker threads while the main thread empties and refills the
// list (run under ThreadSanitizer too).
TEST_F(CertStoreTest, ResetWhileOthersAsk) {
    CertStoreList *List = nullptr;
    CertStoreList_Create(&List);
    CertStoreInterface *Interface = nullptr;
    CertStoreList_GetInterfaceHandle(List, &Interface);
    std::atomic<bool> Done{false};
    std::vector<std::thread> Askers;
    for (int Index = 0; Index < 2; Index++)
        Askers.emplace_back([&] {
            for (int Round = 0; Round < 20000 && !Done; Round++) {
                uint32 Stop = 0;
                EXPECT_FALSE(CertStoreInterface_X509IsTrusted(Interface, nullptr, &Stop));
            }
        });
    for (int Round = 0; Round < 300; Round++) {
        CertStoreList_Reset(List);
        for (int Member = 0; Member < 3; Member++) {
            CertStoreNull *Null = nullptr;
            CertStoreNull_Create(&Null);
            CertStoreInterface *Added = nullptr;
            CertStoreNull_GetInterfaceHandle(Null, &Added);
            CertStoreList_Add(List, Added);
            CertStoreInterface_Release(&Added);
            CertStoreNull_Release(&Null);
        }
    }
    Done = true;
    for (std::thread &Asker : Askers) Asker.join();
    CertStoreInterface_Release(&Interface);
    CertStoreList_Release(&List);
}

} // namespace
