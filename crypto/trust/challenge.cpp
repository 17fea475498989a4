// The credential challenge broker: see challenge.h.
#include "crypto/trust/challenge.h"

#include <string.h>

#include <list>
#include <string>
#include <vector>

#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"

namespace {

constexpr uint32 BrokerCheck = 0xdbfba0a4u;

enum class Filter { None, WebGet, ClientCert, StorageDecrypt };

struct Pending {
    Dictionary *Request = nullptr;
    std::string Requester;
};

struct Answer {
    Dictionary *Values = nullptr;
    int32 Count = 0;
};

struct Broker {
    uint32 Check = BrokerCheck;
    uint32 Worker = 0;
    void *Lock = nullptr;
    uint32 Prompting = 0;
    std::list<Pending> Queue;
    std::list<Answer> Answers;
};

Broker *Current = nullptr;

Dictionary *Copy(Dictionary *Source) {
    Dictionary *Out = nullptr;
    Dictionary_Create(&Out);
    if (Source != nullptr) Dictionary_Merge(Out, Source, DICTIONARY_MERGE_OVERWRITE | DICTIONARY_MERGE_LISTS);
    return Out;
}

Filter FilterOf(Dictionary *Values) {
    const char *Text = nullptr;
    if (Values == nullptr || !Dictionary_GetStringPtrByKey(Values, "filter", &Text) || Text == nullptr)
        return Filter::None;
    if (String_CompareWithoutCase(Text, "webgetserver") || String_CompareWithoutCase(Text, "webgetproxy"))
        return Filter::WebGet;
    if (String_CompareWithoutCase(Text, "clientcert")) return Filter::ClientCert;
    if (String_CompareWithoutCase(Text, "storagedecrypt")) return Filter::StorageDecrypt;
    return Filter::None;
}

// Both texts present and equal, with case.
bool Challenge_FilterString(Dictionary *A, Dictionary *B, const char *Key) {
    const char *First = nullptr, *Second = nullptr;
    return Dictionary_GetStringPtrByKey(A, Key, &First) && Dictionary_GetStringPtrByKey(B, Key, &Second) &&
           First != nullptr && Second != nullptr && strcmp(First, Second) == 0;
}

bool SameInt(Dictionary *A, Dictionary *B, const char *Key) {
    int32 First = 0, Second = 0;
    return Dictionary_GetInt32ByKey(A, Key, &First) && Dictionary_GetInt32ByKey(B, Key, &Second) && First == Second;
}

using MatchFunction = bool (*)(Dictionary *Request, Dictionary *Candidate);

bool Challenge_FilterWebGet(Dictionary *Request, Dictionary *Candidate) {
    return Challenge_FilterString(Request, Candidate, "filter") && Challenge_FilterString(Request, Candidate, "host") &&
           Challenge_FilterString(Request, Candidate, "realm") && SameInt(Request, Candidate, "type");
}

bool Challenge_FilterClientCertificate(Dictionary *Request, Dictionary *Candidate) {
    return Challenge_FilterString(Request, Candidate, "filter") && Challenge_FilterString(Request, Candidate, "address");
}

bool Challenge_FilterStorageDecrypt(Dictionary *Request, Dictionary *Candidate) {
    return Challenge_FilterString(Request, Candidate, "filter") && Challenge_FilterString(Request, Candidate, "host");
}

// The matching rule for Values' filter, or null when it has none we know.
MatchFunction Challenge_FilterFind(Dictionary *Values) {
    switch (FilterOf(Values)) {
    case Filter::WebGet: return Challenge_FilterWebGet;
    case Filter::ClientCert: return Challenge_FilterClientCertificate;
    case Filter::StorageDecrypt: return Challenge_FilterStorageDecrypt;
    case Filter::None: break;
    }
    return nullptr;
}

// Whether Candidate answers Request, by the request's filter.
bool Matches(Dictionary *Request, Dictionary *Candidate) {
    MatchFunction Match = Challenge_FilterFind(Request);
    return Match != nullptr && Match(Request, Candidate);
}

std::list<Answer>::iterator Challenge_MemberFind(Broker *Self, Dictionary *Request) {
    for (auto Each = Self->Answers.begin(); Each != Self->Answers.end(); ++Each)
        if (Matches(Request, Each->Values)) return Each;
    return Self->Answers.end();
}

bool IsTrue(Dictionary *Values, const char *Key) {
    uint32 Flag = 0;
    return Dictionary_GetBooleanByKey(Values, Key, &Flag) && Flag != 0;
}

// Every waiting request the answer matches gets it and leaves the queue.
void Challenge_ActiveResume(Broker *Self, Dictionary *Values) {
    std::vector<Pending> Answered;
    for (auto Each = Self->Queue.begin(); Each != Self->Queue.end();) {
        if (Matches(Each->Request, Values)) {
            Answered.push_back(*Each);
            Each = Self->Queue.erase(Each);
        } else {
            ++Each;
        }
    }
    for (Pending &Each : Answered) {
        NotificationCenter_Fire("Challenge", "Response", Each.Requester.c_str(), Values);
        Dictionary_Release(&Each.Request);
    }
}

void Challenge_ActiveNext(Broker *Self) {
    if (Self->Prompting || Self->Queue.empty()) return;
    Self->Prompting = 1;
    Pending &Front = Self->Queue.front();
    auto Known = Challenge_MemberFind(Self, Front.Request);
    Dictionary_SetInt32ByKey(Front.Request, "attempt", Known != Self->Answers.end() ? Known->Count : 0);
    NotificationCenter_Fire("Challenge", "PromptRequest", Front.Requester.c_str(), Front.Request);
}

void Forget(std::list<Answer>::iterator Each) { Dictionary_Release(&Each->Values); }

int32 Challenge_Notification_Request(void *User, const char *, const char *, const char *Instance, Dictionary *Info) {
    Broker *Self = static_cast<Broker *>(User);
    if (FilterOf(Info) == Filter::None) {
        const char *Text = nullptr;
        if (Info != nullptr) Dictionary_GetStringPtrByKey(Info, "filter", &Text);
        Log_Error("Challenge request dropped: %s\n", Text == nullptr ? "Dictionary missing filter key" : "Unknown filter value");
        return FALSE;
    }
    CriticalSection_Lock(Self->Lock);
    Self->Queue.push_back({Copy(Info), Instance != nullptr ? Instance : ""});
    auto Known = Challenge_MemberFind(Self, Info);
    if (Known != Self->Answers.end() && !IsTrue(Known->Values, "invalid") &&
        !(Challenge_FilterString(Known->Values, Info, "username") && Challenge_FilterString(Known->Values, Info, "password")))
        Challenge_ActiveResume(Self, Known->Values);
    Challenge_ActiveNext(Self);
    CriticalSection_Unlock(Self->Lock);
    return TRUE;
}

int32 Challenge_Notification_PromptResponse(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Broker *Self = static_cast<Broker *>(User);
    if (Self->Worker) Debug_Abort("Response called in worker environment");
    if (FilterOf(Info) == Filter::None) {
        Log_Error("Challenge prompt response dropped: no usable filter\n");
        return FALSE;
    }
    CriticalSection_Lock(Self->Lock);
    Self->Prompting = 0;
    auto Known = Challenge_MemberFind(Self, Info);
    if (Known != Self->Answers.end()) {
        Dictionary_RemoveByKey(Known->Values, "invalid");
        Dictionary_Merge(Known->Values, Info, DICTIONARY_MERGE_OVERWRITE | DICTIONARY_MERGE_LISTS);
    } else {
        Self->Answers.push_back({Copy(Info), 0});
        Known = std::prev(Self->Answers.end());
    }
    Known->Count++;
    Dictionary *Values = Known->Values;
    Challenge_ActiveResume(Self, Values);
    if (IsTrue(Info, "cancel")) {
        Forget(Known);
        Self->Answers.erase(Known);
    }
    Challenge_ActiveNext(Self);
    CriticalSection_Unlock(Self->Lock);
    return TRUE;
}

} // namespace

int32 Challenge_Init(uint32 Worker) {
    if (Current != nullptr) return FALSE;
    Current = new Broker();
    Current->Worker = Worker != 0;
    CriticalSection_Create(&Current->Lock);
    if (!Current->Worker) {
        NotificationCenter_AddObserver("Challenge", "Request", Current, Challenge_Notification_Request);
        NotificationCenter_AddObserver("Challenge", "PromptResponse", Current, Challenge_Notification_PromptResponse);
    }
    return TRUE;
}

int32 Challenge_Remove(void) {
    if (Current == nullptr) return TRUE;
    Class_CheckTag(Current, Check, BrokerCheck);
    if (!Current->Worker) {
        NotificationCenter_RemoveObserver("Challenge", "Request", Current, Challenge_Notification_Request);
        NotificationCenter_RemoveObserver("Challenge", "PromptResponse", Current, Challenge_Notification_PromptResponse);
    }
    for (Pending &Each : Current->Queue) Dictionary_Release(&Each.Request);
    for (Answer &Each : Current->Answers) Dictionary_Release(&Each.Values);
    CriticalSection_Delete(&Current->Lock);
    delete Current;
    Current = nullptr;
    return TRUE;
}

int32 Challenge_Request(Dictionary *Request, const char *Requester) {
    Debug_CheckPointer(Request);
    Debug_CheckPointer(Requester);
    return NotificationCenter_FireAfterDelay("Challenge", "Request", Requester, 0, Request);
}

int32 Challenge_ResponseInvalidate(Dictionary *Request) {
    if (Current == nullptr || Request == nullptr) return FALSE;
    CriticalSection_Lock(Current->Lock);
    Current->Prompting = 0;
    auto Known = Challenge_MemberFind(Current, Request);
    const bool Found = Known != Current->Answers.end();
    if (Found) Dictionary_SetBooleanByKey(Known->Values, "invalid", TRUE);
    CriticalSection_Unlock(Current->Lock);
    return Found;
}

int32 Challenge_ResponseFind(Dictionary *Request, Dictionary *Answer) {
    Debug_CheckPointer(Answer);
    if (Current == nullptr || Request == nullptr) return FALSE;
    if (Current->Worker) Debug_Abort("Unable to find response in worker process");
    CriticalSection_Lock(Current->Lock);
    Current->Prompting = 0;
    auto Known = Challenge_MemberFind(Current, Request);
    const bool Found = Known != Current->Answers.end();
    if (Found) Dictionary_Merge(Answer, Known->Values, DICTIONARY_MERGE_OVERWRITE | DICTIONARY_MERGE_LISTS);
    CriticalSection_Unlock(Current->Lock);
    return Found;
}

int32 Challenge_Lock(void) {
    if (Current == nullptr) return FALSE;
    return CriticalSection_Lock(Current->Lock);
}

int32 Challenge_Unlock(void) {
    if (Current == nullptr) return FALSE;
    return CriticalSection_Unlock(Current->Lock);
}
