// The credential broker through the notification center: one prompt for two
// requests of one filter, answers from memory, the same credentials prompting
// again with "attempt", invalidation, cancel forgetting the answer, filters
// kept apart, and malformed requests and prompt answers dropped.
#include "crypto/trust/challenge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "tests/support/runtime.h"

namespace {

struct Seen {
    std::string Name, Instance, Json;
};
std::vector<Seen> Events;

std::string ToJson(Dictionary *Values) {
    if (Values == nullptr) return "";
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Values);
    JSON_SetMinify(Json, 1);
    char Text[1024] = "";
    int32 Written = 0;
    JSON_SaveBuffer(Json, Text, sizeof(Text) - 1, &Written);
    JSON_Release(&Json);
    return std::string(Text, (size_t)Written);
}

int32 Record(void *, const char *, const char *Name, const char *Instance, Dictionary *Info) {
    Events.push_back({Name, Instance != nullptr ? Instance : "", ToJson(Info)});
    return TRUE;
}

class ChallengeTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
        Events.clear();
        NotificationCenter_AddObserver("Challenge", "PromptRequest", nullptr, Record);
        NotificationCenter_AddObserver("Challenge", "Response", nullptr, Record);
        Challenge_Init(0);
    }
    void TearDown() override {
        Challenge_Remove();
        NotificationCenter_RemoveObserver("Challenge", "PromptRequest", nullptr, Record);
        NotificationCenter_RemoveObserver("Challenge", "Response", nullptr, Record);
        NotificationCenter_Remove();
        EventQueue_Remove();
        Thread_Remove();
        RuntimeTest::TearDown();
    }
    static void Request(const char *Requester, const char *Json) {
        Dictionary *Values = nullptr;
        Dictionary_Create(&Values);
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Values);
        JSON_LoadBuffer(Reader, Json, (int32)strlen(Json));
        JSON_Release(&Reader);
        Dictionary *Root = nullptr;
        Dictionary_SkipRoot(Values, &Root);
        Challenge_Request(Root, Requester);
        Dictionary_Release(&Values);
        NotificationCenter_Process();
    }
    static void Answer(const char *Json) {
        NotificationCenter_FireWithJSON("Challenge", "PromptResponse", "ui", "%s", Json);
        NotificationCenter_Process();
    }
    static std::string Names() {
        std::string Out;
        for (const Seen &Each : Events) Out += Each.Name + "@" + Each.Instance + " ";
        Events.clear();
        return Out;
    }
};

const char *Server = R"({"filter":"webgetserver","host":"h","realm":"r","type":1})";
const char *ServerAnswer = R"({"filter":"webgetserver","host":"h","realm":"r","type":1,"username":"u","password":"p"})";

TEST_F(ChallengeTest, OnePromptAnswersEveryWaitingRequest) {
    Request("one", Server);
    Request("two", Server);
    EXPECT_EQ(Names(), "PromptRequest@one ");
    Answer(ServerAnswer);
    EXPECT_EQ(Names(), "Response@one Response@two ");
    // Remembered: another request with other credentials is answered at once.
    Request("three", R"({"filter":"webgetserver","host":"h","realm":"r","type":1,"username":"x","password":"y"})");
    ASSERT_EQ(Events.size(), 1u);
    EXPECT_NE(Events[0].Json.find("\"username\":\"u\""), std::string::npos) << Events[0].Json;
    Names();
    // The very credentials that were refused: prompt again, attempt 1.
    Request("four", ServerAnswer);
    ASSERT_EQ(Events.size(), 1u);
    EXPECT_EQ(Events[0].Name, "PromptRequest");
    EXPECT_NE(Events[0].Json.find("\"attempt\":1"), std::string::npos) << Events[0].Json;
    Answer(ServerAnswer);
    Names();
    // Invalidated: the next request prompts although an answer is kept.
    Dictionary *Find = nullptr, *Got = nullptr;
    Dictionary_Create(&Find);
    Dictionary_Create(&Got);
    for (const char *Key : {"filter", "host", "realm"})
        Dictionary_SetStringByKey(Find, Key, Key[0] == 'f' ? "webgetserver" : Key[0] == 'h' ? "h" : "r");
    Dictionary_SetInt32ByKey(Find, "type", 1);
    EXPECT_TRUE(Challenge_ResponseFind(Find, Got));
    EXPECT_TRUE(Challenge_ResponseInvalidate(Find));
    Request("five", Server);
    EXPECT_EQ(Names(), "PromptRequest@five ");
    // A cancel reaches the waiting request and forgets the answer.
    Answer(R"({"filter":"webgetserver","host":"h","realm":"r","type":1,"cancel":true})");
    EXPECT_EQ(Names(), "Response@five ");
    EXPECT_FALSE(Challenge_ResponseFind(Find, Got));
    Request("six", Server);
    ASSERT_EQ(Events.size(), 1u);
    EXPECT_NE(Events[0].Json.find("\"attempt\":0"), std::string::npos) << Events[0].Json;
    Dictionary_Release(&Find);
    Dictionary_Release(&Got);
}

TEST_F(ChallengeTest, FiltersStayApartAndBadInputIsDropped) {
    Request("web", Server);
    EXPECT_EQ(Names(), "PromptRequest@web ");
    // Not a web answer, and not usable at all: nothing is delivered.
    Answer(R"({"host":"h"})");
    Answer(R"({"filter":"bogus"})");
    EXPECT_EQ(Names(), "");
    // A clientcert answer closes the prompt but answers no web request,
    // which is asked for again.
    Answer(R"({"filter":"clientcert","address":"h","certificatePath":"/c.p12"})");
    EXPECT_EQ(Names(), "PromptRequest@web ");
    Request("bad", R"({"host":"h"})");
    Request("worse", R"({"filter":"bogus"})");
    Request("disk", R"({"filter":"storagedecrypt","host":"h"})");
    EXPECT_EQ(Names(), "");
    Answer(ServerAnswer);
    EXPECT_EQ(Names(), "Response@web PromptRequest@disk ");
}

} // namespace
