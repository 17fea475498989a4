// The workflow application's JWS checks for page scripts: a compact JWS
// verified against named certificate or key stores, or against one Base64
// public key. The payload is parsed into a scratch Dictionary and dropped;
// only the verdict leaves.
#include <string.h>

#include <algorithm>
#include <string>

#include "crypto/trust/cert_store.h"
#include "crypto/trust/cert_store_key.h"
#include "crypto/trust/jws.h"
#include "runtime/log.h"
#include "runtime/text/string.h"
#include "workflow/app/workflow_app_config.h"

namespace {

// The longest store name taken from a list.
constexpr size_t NameLimit = 319;

int32 Verify(const char *Text, CertStoreInterface *Store) {
    Dictionary *Scratch = nullptr;
    Dictionary_Create(&Scratch);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Scratch);
    const int32 Result = JWS_Decode(Json, nullptr, Store, Text, (int32)strnlen(Text, INT32_MAX), 1);
    JSON_Release(&Json);
    Dictionary_Release(&Scratch);
    return Result;
}

// A list of the stores named (comma-separated) in Table; an empty list
// names "app"; an unknown name stands for a store that trusts nothing.
int32 VerifyByNames(const char *Text, const char *Names, CertStoreTable *Table) {
    Debug_CheckPointer(Text);
    CertStoreList *List = nullptr;
    CertStoreList_Create(&List);
    std::string All = Names != nullptr ? Names : "";
    if (All.find_first_not_of(" \t") == std::string::npos) All = "app";
    size_t At = 0;
    while (At <= All.size()) {
        size_t End = All.find(',', At);
        if (End == std::string::npos) End = All.size();
        std::string Name = All.substr(At, std::min(End - At, NameLimit));
        At = End + 1;
        const size_t First = Name.find_first_not_of(" \t"), Last = Name.find_last_not_of(" \t");
        if (First == std::string::npos) continue;
        Name = Name.substr(First, Last - First + 1);
        CertStoreInterface *Member = nullptr;
        if (Table == nullptr || !CertStoreTable_GetInterfaceHandle(Table, Name.c_str(), &Member)) {
            Log_Error("Unable to find certificate store (%s)\n", Name.c_str());
            CertStoreNull *Null = nullptr;
            CertStoreNull_Create(&Null);
            CertStoreNull_GetInterfaceHandle(Null, &Member);
            CertStoreNull_Release(&Null);
        }
        CertStoreList_Add(List, Member);
        CertStoreInterface_Release(&Member);
    }
    CertStoreInterface *Store = nullptr;
    CertStoreList_GetInterfaceHandle(List, &Store);
    const int32 Result = Verify(Text, Store);
    CertStoreInterface_Release(&Store);
    CertStoreList_Release(&List);
    return Result;
}

} // namespace

int32 WorkflowApp_JwsVerifyCertStore(const char *JwsText, const char *StoreNames) {
    return VerifyByNames(JwsText, StoreNames, WorkflowApp_GetCertStoreTableHandle());
}

int32 WorkflowApp_JwsVerifyKeyStore(const char *JwsText, const char *StoreNames) {
    return VerifyByNames(JwsText, StoreNames, WorkflowApp_GetKeyStoreTableHandle());
}

int32 WorkflowApp_JwsVerifyKey(const char *JwsText, const char *Base64Key) {
    Debug_CheckPointer(JwsText);
    Debug_CheckPointer(Base64Key);
    CertStoreKey *Key = nullptr;
    CertStoreKey_Create(&Key);
    int32 Result = FALSE;
    if (CertStoreKey_Decode(Key, Base64Key)) {
        CertStoreInterface *Store = nullptr;
        CertStoreKey_GetInterfaceHandle(Key, &Store);
        Result = Verify(JwsText, Store);
        CertStoreInterface_Release(&Store);
    }
    CertStoreKey_Release(&Key);
    return Result;
}
