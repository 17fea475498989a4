// The asynchronous document loader: fetches an "http://" or "file://" URL
// (one attempt per Load), parses the body on a worker thread as JSON, XML or
// YAML (by kind, or by the response's content type, then the URL's
// extension) into a Dictionary, and reports failures to its owner, which
// decides when to try again.
//
// Owner's loop (main thread): Load, then poll AsyncHTTP_IsLoadComplete on
// each tick. A failed attempt calls the error function; its answer 5 ends
// the load with that error, any other answer leaves the loader idle with the
// resume time the function gave and the failure counted (until Reset). A
// failure that no retry can mend (AsyncHTTP_IsLastErrorFinal: an "https" URL,
// which this build cannot fetch, an unsupported scheme, a malformed URL, the
// request's own final failures, and a body that arrived and does not parse
// or cannot be held in memory) ends the load whatever the answer. A parse
// runs with the runtime's allocations throwing: memory that runs out fails
// the attempt ("out of memory: ..."), and a Reset gives a running parse up
// at its next allocation instead of waiting for it.
//
// Errors: those of the HTTP request (net/web_get_request.h); 964 OS with
// the platform error number (100000 + errno) for a file that cannot be read
// or is no regular file (a FIFO is refused, never waited on); 987 JSON, 992
// XML and 993 YAML with the parser's error as sub-code. With authentication
// asked, the body must be a JWS-signed JSON document that the certificate
// store accepts, within its "exp" and "nbf"; otherwise the load fails with
// 987 and sub-code 10 (JSON "Authenticate"), whether the body was unsigned,
// refused or out of time; the error text says which: not signed, an
// algorithm not supported (named), a signer the store does not trust, a
// signature that does not verify, or "exp"/"nbf" with its time. Without it, a signed JSON body is decoded
// unchecked and any other body read as plain JSON, except one whose header
// names a key that the store's check refused.
#pragma once

#include "crypto/trust/cert_store.h"
#include "net/web_get_cache.h"
#include "net/web_get_request.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define ASYNCHTTP_CLASSID 0x1f6c0d93u

#define ASYNCHTTP_PARSER_NONE 0
#define ASYNCHTTP_PARSER_JSON 2
#define ASYNCHTTP_PARSER_XML 3
#define ASYNCHTTP_PARSER_YAML 4
#define ASYNCHTTP_PARSER_AUTO 5

// Phases handed to the error function.
#define ASYNCHTTP_PHASE_FETCH 1
#define ASYNCHTTP_PHASE_PARSE 2

// The error function's answer that ends the load.
#define ASYNCHTTP_ERROR_GIVEUP 5

// JSON error of a document that needed a signature it did not carry.
#define ASYNCHTTP_JSON_ERROR_AUTHENTICATE 10
// The error text of a document that needed a signature and carries none.
#define ASYNCHTTP_TEXT_UNSIGNED "Document is not signed"
// The error text of a document with nothing in it but blanks.
#define ASYNCHTTP_TEXT_EMPTY "the document is empty"
// The error text of a URL that is neither http://, https:// nor file://.
#define ASYNCHTTP_TEXT_SCHEME "unsupported URL scheme (http:// and file:// are taken)"

RUNTIME_EXTERN_C_BEGIN

typedef struct AsyncHTTP AsyncHTTP;
typedef int32 (*AsyncHTTP_ErrorFunc)(AsyncHTTP *Loader, void *User, int32 Failures, int32 Phase, int32 Error,
                                     int32 SubCode, float64 *ResumeTime);
typedef int32 (*AsyncHTTP_RequestBuildFunc)(AsyncHTTP *Loader, void *User, WebGetRequest *Request);
// Who carries the loaders' HTTP requests (default: the connection pool).
typedef int32 (*AsyncHTTP_RequestFunc)(WebGetRequest *Request);

int32 AsyncHTTP_Create(AsyncHTTP **Handle);
int32 AsyncHTTP_Release(AsyncHTTP **Handle);
int32 AsyncHTTP_SetParser(AsyncHTTP *Handle, int32 Kind);
// Neither is referenced: the owner keeps both alive while the loader lives.
// The store is asked from the loader's worker thread.
int32 AsyncHTTP_SetCertStoreHandle(AsyncHTTP *Handle, CertStoreInterface *Store);
// The words naming the store in the error text of an untrusted signer
// ("store \"app\""); by default "certificate store".
int32 AsyncHTTP_SetCertStoreName(AsyncHTTP *Handle, const char *Name);
int32 AsyncHTTP_SetCacheStoreHandle(AsyncHTTP *Handle, WebGetCacheStore *Store);
int32 AsyncHTTP_SetKeepOriginal(AsyncHTTP *Handle, int32 Flag);
int32 AsyncHTTP_SetErrorCallback(AsyncHTTP *Handle, void *User, AsyncHTTP_ErrorFunc Function);
int32 AsyncHTTP_SetRequestBuildCallback(AsyncHTTP *Handle, void *User, AsyncHTTP_RequestBuildFunc Function);
// Starts one attempt; 0 while an attempt runs or after the load completed.
int32 AsyncHTTP_Load(AsyncHTTP *Handle, const char *Url, int32 Authenticate);
// Steps the attempt; 1 once the load has finished (success or given up).
int32 AsyncHTTP_IsLoadComplete(AsyncHTTP *Handle);
// 1 while an attempt runs.
int32 AsyncHTTP_IsAlive(AsyncHTTP *Handle);
int32 AsyncHTTP_GetResumeTime(AsyncHTTP *Handle, float64 *Time);
int32 AsyncHTTP_GetLastError(AsyncHTTP *Handle, int32 *Error, int32 *SubCode);
// 1 when the last attempt failed in a way no retry can mend.
int32 AsyncHTTP_IsLastErrorFinal(AsyncHTTP *Handle);
// Why the last attempt failed, when there is more to say than its codes: a
// parse failure names the parser, why that one, and what it said ("read as
// JSON (the name ends in .json): Unknown field type 's' at line 1, column
// 1"); an empty document is said to be empty; a refused file or signature
// and a final failure say why. 0 when there is no text.
int32 AsyncHTTP_GetLastErrorText(AsyncHTTP *Handle, char *Buffer, int32 Size);
int32 AsyncHTTP_GetDictionaryHandle(AsyncHTTP *Handle, Dictionary **Document);
// Hands the loaded document over, never copied: the caller releases it; the
// loader goes on with an empty one.
int32 AsyncHTTP_TakeDictionary(AsyncHTTP *Handle, Dictionary **Document);
int32 AsyncHTTP_GetOriginal(AsyncHTTP *Handle, const uint8 **Body, int32 *Length);
// Abandons a running attempt (its request is removed and its parse result
// dropped) and forgets failures and results.
int32 AsyncHTTP_Reset(AsyncHTTP *Handle);

int32 AsyncHTTP_SetRequestHandlers(AsyncHTTP_RequestFunc Add, AsyncHTTP_RequestFunc Remove);

RUNTIME_EXTERN_C_END

// A parser's print callback that keeps its last message in the std::string
// given as User: without the reader's "<identifier> - " in front or the
// line's end, bytes outside printable ASCII shown as '?', the position at
// the end in words ("... at line 3, column 5").
int32 AsyncHTTP_KeepParserMessage(void *User, const char *Format, ...);
