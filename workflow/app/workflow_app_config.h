// The workflow application's configuration: one Dictionary (keys and path
// segments without case) holding the built-in defaults, into which each
// loaded configuration is merged; what the keys drive (application macros,
// the HTTP host whitelist, certificate-store lists, the User-Agent,
// redirect rules and their macros, TLS suites and versions); the
// "Config"/"OptionChanged" report of every changed value; and the workflow
// library's command-line switches. Main thread only.
//
// Not carried by this build: the registry whitelist, the HTTP cache stores
// and connection pool, and analytics; their keys stay in the Dictionary for
// the modules that will read them.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define WORKFLOWAPP_LIBRARY_VERSION "1.0.0.0"

RUNTIME_EXTERN_C_BEGIN

extern const char *const Switch_DebugInterop;
extern const char *const Switch_MaxDays;
extern const char *const Switch_WFEndPoint;
extern const char *const Switch_WFWorker;
extern const char *const Switch_WFSelfUpdate;
extern const char *const Workflow_SwitchFilterTable[5];
// 1 when Name is one of the five switches (with case).
int32 Workflow_ShouldRemoveSwitch(const char *Name);

// Called by WorkflowApp_Init and WorkflowApp_Remove.
int32 WorkflowApp_InitConfig(void);
int32 WorkflowApp_RemoveConfig(void);

int32 WorkflowApp_GetConfigHandle(Dictionary **Config);
// 0 without the application; else 1 with the value at Path (decoded to
// UTF-8) or DefaultText.
int32 WorkflowApp_GetConfig(const char *Path, const char *DefaultText, char *Buffer, int32 Size);
int32 WorkflowApp_GetConfigBoolean(const char *Path, uint32 Default, uint32 *Value);
int32 WorkflowApp_LoadConfigFromDictionary(Dictionary *Source);
// The file parses as JSON; it is applied even when it does not parse (the
// parser's result is returned; 0 when it cannot be opened).
int32 WorkflowApp_LoadConfigFromFile(const char *Path);
int32 WorkflowApp_ExpandDictionary(Dictionary *Target);
// Stores the application's macro through the one check of a macro's value
// (Workflow_StoreMacro): a value holding a NUL, or too long, is not stored.
int32 WorkflowApp_AddMacro(const char *Name, const char *Value);
int32 WorkflowApp_AddMacroLength(const char *Name, const char *Value, int32 Length);
int32 WorkflowApp_ExpandString(const char *Source, char *Target, int32 Size);
int32 WorkflowApp_AddHostname(const char *List);
int32 WorkflowApp_AddCipher(const char *List);
// Expands the path (1,023 bytes) and adds it to the read-only (0) or
// read-write (1) registry whitelist. 1.
int32 WorkflowApp_AddRegistry(uint32 ReadWrite, const char *Path);
// The pool limits and the cache stores of the configuration as it stands;
// the HTTP start applies them, as every configuration load does.
int32 WorkflowApp_ApplyWebConfig(void);

// Certificate stores named in configuration: the process-wide certificate-
// store and key-store tables of the trust registry (tables of its own when
// the registry was not started, holding "null" and the list "app"), and the
// lists for interop libraries, the data store and the HTTP client.
CertStoreTable *WorkflowApp_GetCertStoreTableHandle(void);
CertStoreTable *WorkflowApp_GetKeyStoreTableHandle(void);
// A key store of the Base64 key, registered when the key decodes; the
// decoder's result.
int32 WorkflowApp_KeyStoreAdd(const char *Name, uint32 Replaceable, const char *Base64Key);
// A thumbprint store of the Dictionary's Base64 thumbprints, registered when
// at least one was taken; that result.
int32 WorkflowApp_CertStoreAdd(const char *Name, uint32 Replaceable, Dictionary *Thumbprints);
int32 WorkflowApp_KeyStoreRemove(const char *Name);
int32 WorkflowApp_CertStoreRemove(const char *Name);
// The process-wide authentication switch.
int32 WorkflowApp_SetSecurityEnabled(uint32 Flag);
int32 WorkflowApp_GetSecurityEnabled(uint32 *Flag);
int32 WorkflowApp_AppSetCertStores(Dictionary *List);
int32 WorkflowApp_InteropSetCertStores(Dictionary *List);
int32 WorkflowApp_DataStoreSetCertStores(Dictionary *List);
int32 WorkflowApp_WebGetSetCertStores(Dictionary *List);
// Which: "app", "interop", "dataStore" or "webGet"; no reference is added.
int32 WorkflowApp_GetCertStoreListHandle(const char *Which, CertStoreList **List);

// A compact JWS verified against the stores named in a comma-separated list
// (empty: "app") of the certificate-store or key-store table, or against one
// Base64 public key (0 when it does not decode); the decode's result.
int32 WorkflowApp_JwsVerifyCertStore(const char *JwsText, const char *StoreNames);
int32 WorkflowApp_JwsVerifyKeyStore(const char *JwsText, const char *StoreNames);
int32 WorkflowApp_JwsVerifyKey(const char *JwsText, const char *Base64Key);

RUNTIME_EXTERN_C_END
