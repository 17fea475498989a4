// The document loader and the HTTP client under it, against the scripted
// peer (tests/peers/httppeer.py) and Python's http.server: documents by
// content type and by extension, file URLs, headers and cookies as the peer
// saw them, gzip, chunked and HTTP/1.0 bodies, and every failure named.
#include "net/async_http.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <vector>

#include "crypto/digests/hmac.h"
#include "crypto/digests/sha256.h"
#include "crypto/trust/authenticate.h"
#include "crypto/trust/cert_store_key.h"
#include "formats/yaml.h"
#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "runtime/documents/json.h"
#include "runtime/posix/platform.h"
#include "runtime/text/base64.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/http_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"
#include "tests/support/temp_root.h"

namespace {

struct Outcome {
    int32 Error = -1;
    int32 SubCode = -1;
    int32 Failures = 0;
    Dictionary *Document = nullptr; // the loader's; valid while it lives
    std::string Said;               // the loader's error text
};

// Gives up on every failure, counting it.
int32 GiveUp(AsyncHTTP *, void *User, int32, int32, int32, int32, float64 *) {
    static_cast<Outcome *>(User)->Failures++;
    return ASYNCHTTP_ERROR_GIVEUP;
}

class AsyncHTTPTest : public RuntimeTest {
  protected:
    AsyncHTTP *Loader = nullptr;

    void SetUp() override {
        RuntimeTest::SetUp();
        Thread_Init();
        WebGetPool_Init();
        AsyncHTTP_Create(&Loader);
    }
    void TearDown() override {
        AsyncHTTP_Release(&Loader);
        WebGetPool_Remove();
        WebGet_RedirectReset();
        Time_TestClockStop();
        Thread_Remove();
        RuntimeTest::TearDown();
    }

    // Ticks the pool until the load completes (a real-time bound only
    // guards the test against a hang of the code under test).
    bool Wait(double Seconds = 10) {
        auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
        while (!AsyncHTTP_IsLoadComplete(Loader)) {
            if (std::chrono::steady_clock::now() > Deadline) return false;
            WebGetPool_Process();
            Thread_Wait(1);
        }
        return true;
    }

    Outcome Load(const std::string &Url, int32 Kind, void (*Build)(WebGetRequest *) = nullptr) {
        Outcome Result;
        AsyncHTTP_Reset(Loader);
        AsyncHTTP_SetParser(Loader, Kind);
        AsyncHTTP_SetErrorCallback(Loader, &Result, GiveUp);
        AsyncHTTP_SetRequestBuildCallback(Loader, reinterpret_cast<void *>(Build),
                                          [](AsyncHTTP *, void *User, WebGetRequest *Request) {
                                              if (User != nullptr)
                                                  reinterpret_cast<void (*)(WebGetRequest *)>(User)(Request);
                                              return TRUE;
                                          });
        EXPECT_TRUE(AsyncHTTP_Load(Loader, Url.c_str(), 0));
        EXPECT_TRUE(Wait()) << Url;
        AsyncHTTP_GetLastError(Loader, &Result.Error, &Result.SubCode);
        AsyncHTTP_GetDictionaryHandle(Loader, &Result.Document);
        char Said[512] = "";
        AsyncHTTP_GetLastErrorText(Loader, Said, (int32)sizeof(Said));
        Result.Said = Said;
        return Result;
    }

    static std::string Text(Dictionary *Document, const char *Path) {
        Dictionary *Root = nullptr;
        Dictionary_SkipRoot(Document, &Root);
        DictionaryItem *Item = nullptr;
        Dictionary *Owner = nullptr;
        const char *Value = nullptr;
        if (!Dictionary_ItemFindByPath(Root, Path, &Owner, &Item)) return "<missing>";
        if (!Dictionary_ItemGetBufferPtr(Owner, Item, &Value, nullptr) || Value == nullptr) return "<none>";
        return Value;
    }
};

TEST_F(AsyncHTTPTest, DocumentsByContentTypeByExtensionAndByKind) {
    HttpPeer Peer;
    struct Case {
        const char *Path;
        int32 Kind;
        const char *Key;
        const char *Expected;
    } Cases[] = {
        {"/json", ASYNCHTTP_PARSER_AUTO, "name", "value"},
        {"/xml", ASYNCHTTP_PARSER_AUTO, "root.name", "value"},
        {"/yaml", ASYNCHTTP_PARSER_AUTO, "name", "value"},
        {"/plain.yaml", ASYNCHTTP_PARSER_AUTO, "name", "value"},
        {"/plain.xml", ASYNCHTTP_PARSER_AUTO, "root.name", "value"},
        {"/xml", ASYNCHTTP_PARSER_XML, "root.name", "value"},
        {"/chunked", ASYNCHTTP_PARSER_JSON, "a", "chunked"},
        {"/gzip", ASYNCHTTP_PARSER_JSON, "zipped", nullptr},
        {"/gzip?chunked", ASYNCHTTP_PARSER_JSON, "zipped", nullptr},
        {"/http10", ASYNCHTTP_PARSER_JSON, "old", "style"},
    };
    std::string Yeses;
    for (int i = 0; i < 100; i++) Yeses += "yes";
    for (const Case &Each : Cases) {
        Outcome Result = Load(Peer.Url(Each.Path), Each.Kind);
        EXPECT_EQ(Result.Error, 0) << Each.Path;
        EXPECT_EQ(Text(Result.Document, Each.Key), Each.Expected ? Each.Expected : Yeses) << Each.Path;
    }
}

TEST_F(AsyncHTTPTest, PythonHttpServerServesByTypeAndExtension) {
    std::string Directory = TempRoot() + "/asynchttpXXXXXX";
    ASSERT_NE(mkdtemp(Directory.data()), nullptr);
    std::string Base = Directory;
    std::ofstream(Base + "/doc.json") << R"({"kind":"json"})";
    std::ofstream(Base + "/doc.xml") << "<doc><kind>xml</kind></doc>";
    std::ofstream(Base + "/doc.yaml") << "kind: yaml\n";
    {
        HttpPeer Server(Base);
        for (const char *Name : {"json", "xml", "yaml"}) {
            Outcome Result = Load(Server.Url(std::string("/doc.") + Name), ASYNCHTTP_PARSER_AUTO);
            EXPECT_EQ(Result.Error, 0) << Name;
            EXPECT_EQ(Text(Result.Document, strcmp(Name, "xml") == 0 ? "doc.kind" : "kind"), Name);
        }
        Outcome Missing = Load(Server.Url("/absent.json"), ASYNCHTTP_PARSER_AUTO);
        EXPECT_EQ(Missing.Error, WEBGET_ERROR_CUSTOM);
        EXPECT_EQ(Missing.SubCode, 404);
        EXPECT_STREQ(WebGet_TranslateError(Missing.Error), "Custom");
    }
    // The same files through file:// URLs.
    for (const char *Name : {"json", "xml", "yaml"}) {
        Outcome Result = Load("file://" + Base + "/doc." + Name, ASYNCHTTP_PARSER_AUTO);
        EXPECT_EQ(Result.Error, 0) << Name;
    }
    Outcome Absent = Load("file://" + Base + "/absent.json", ASYNCHTTP_PARSER_AUTO);
    EXPECT_EQ(Absent.Error, WEBGET_ERROR_OS);
    EXPECT_EQ(Absent.SubCode, PLATFORM_ERROR_ERRNO_BASE + ENOENT);
    Outcome Folder = Load("file://" + Base, ASYNCHTTP_PARSER_AUTO);
    EXPECT_EQ(Folder.Error, WEBGET_ERROR_OS);
    std::string Command = "rm -rf " + Base;
    ASSERT_EQ(system(Command.c_str()), 0);
}

TEST_F(AsyncHTTPTest, HeadersAndCookiesReachThePeer) {
    HttpPeer Peer;
    Outcome Result = Load(Peer.Url("/echo"), ASYNCHTTP_PARSER_JSON, [](WebGetRequest *Request) {
        WebGetRequest_SetHeader(Request, "X-Token", "abc", TRUE);
        WebGetRequest_SetHeader(Request, "X-Token", "def", TRUE);
        WebGetRequest_CookieSet(Request, "session", "42", "", "", 0);
        WebGetRequest_CookieSet(Request, "lang", "en", "", "", 0);
        // Injection attempts are refused rather than sent.
        EXPECT_FALSE(WebGetRequest_SetHeader(Request, "X-Bad", "a\r\nX-Evil: 1", TRUE));
        EXPECT_FALSE(WebGetRequest_CookieSet(Request, "bad", "a;b=c", "", "", 0));
    });
    ASSERT_EQ(Result.Error, 0);
    EXPECT_EQ(Text(Result.Document, "headers.x-token"), "def");
    EXPECT_EQ(Text(Result.Document, "headers.x-evil"), "<missing>");
    EXPECT_EQ(Text(Result.Document, "headers.accept-encoding"), "gzip");
    EXPECT_EQ(Text(Result.Document, "cookies.session"), "42");
    EXPECT_EQ(Text(Result.Document, "cookies.lang"), "en");
    EXPECT_EQ(Text(Result.Document, "cookies.b"), "<missing>");
}

TEST_F(AsyncHTTPTest, EveryFailureIsNamed) {
    HttpPeer Peer;
    RefusingPort Refusing;
    struct Case {
        std::string Url;
        int32 Kind;
        int32 Error;
        int32 SubCode; // -1: any
        const char *Name;
        const char *Said; // the start of the error text (parse failures)
    } Cases[] = {
        {Peer.Url("/status/404"), ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CUSTOM, 404, "Custom", ""},
        {Peer.Url("/status/500"), ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CUSTOM, 500, "Custom", ""},
        {"http://127.0.0.1:" + std::to_string(Refusing.Port()) + "/x", ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CONNECT,
         ECONNREFUSED, "Connect", ""},
        {"http://no-such-host.invalid/x", ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CONNECT, -1, "Connect", ""},
        {"https://127.0.0.1/x", ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CONNECT, 0, "Connect", ""},
        {Peer.Url("/xml"), ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_JSON, -1, "JSON",
         "read as JSON (as the request asks): Unknown field type '<' at line 1, column 1"},
        {Peer.Url("/badxml"), ASYNCHTTP_PARSER_AUTO, WEBGET_ERROR_XML, -1, "Unknown", "the document is empty"},
        {Peer.Url("/badyaml"), ASYNCHTTP_PARSER_AUTO, WEBGET_ERROR_YAML, YAML_ERROR_END_OF_STREAM, "YAML",
         "read as YAML (the server's content type is application/x-yaml): Unexpected end of stream at line 2, "},
        {Peer.Url("/bigchunk"), ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CUSTOM, 0, "Custom", ""},
        {Peer.Url("/bomb"), ASYNCHTTP_PARSER_JSON, WEBGET_ERROR_CUSTOM, 0, "Custom", ""},
    };
    for (const Case &Each : Cases) {
        Captured.clear();
        Debug_PrintCallback(CaptureLogMirrored);
        Outcome Result = Load(Each.Url, Each.Kind, [](WebGetRequest *Request) {
            WebGetRequest_SetLimitBodySize(Request, 1 << 20);
        });
        EXPECT_EQ(Result.Error, Each.Error) << Each.Url;
        if (Each.SubCode >= 0) {
            EXPECT_EQ(Result.SubCode, Each.SubCode) << Each.Url;
        }
        EXPECT_EQ(Result.Failures, 1) << Each.Url;
        EXPECT_STREQ(WebGet_TranslateError(Result.Error), Each.Name) << Each.Url;
        if (Each.Said != nullptr) {
            EXPECT_EQ(Result.Said.substr(0, strlen(Each.Said)), Each.Said) << Each.Url;
        }
        if (Each.Url.rfind("https", 0) == 0) {
            EXPECT_NE(Captured.find("TLS is not available in this build (https://127.0.0.1/x)"), std::string::npos);
        }
    }
    Debug_PrintCallback(nullptr);
}

// Asks for a retry at once after every failure, counting it.
int32 RetryAtOnce(AsyncHTTP *, void *User, int32, int32, int32, int32, float64 *) {
    static_cast<Outcome *>(User)->Failures++;
    return 0;
}

// A failure no retry can mend ends the load whatever the owner answers,
// with its reason; one that a retry may mend leaves the loader idle, and a
// refused connection says so.
TEST_F(AsyncHTTPTest, FailuresNoRetryCanMendEndTheLoad) {
    RefusingPort Refusing;
    const struct {
        std::string Url;
        const char *Said; // null: not final
    } Cases[] = {
        {"https://127.0.0.1:9/x", "TLS is not available in this build"},
        {"ftp://127.0.0.1:9/x", "unsupported URL scheme (http:// and file:// are taken)"},
        {"relative/name.json", "not a URL (http:// and file:// are taken)"},
        {"http://127.0.0.1:99999/x", "malformed URL (no usable host, port or path)"},
        {"http://[::1/x", "malformed URL (no usable host, port or path)"},
        {"http://[zz]/x", "malformed URL (no usable host, port or path)"},
        {"http://%zz/x", "malformed URL (no usable host, port or path)"},
        {"http://127.0.0.1:" + std::to_string(Refusing.Port()) + "/x", nullptr},
    };
    for (const auto &Each : Cases) {
        Outcome Result;
        AsyncHTTP_Reset(Loader);
        AsyncHTTP_SetErrorCallback(Loader, &Result, RetryAtOnce);
        ASSERT_TRUE(AsyncHTTP_Load(Loader, Each.Url.c_str(), 0));
        for (int32 Pass = 0; Pass < 5000 && Result.Failures == 0; Pass++) {
            WebGetPool_Process();
            AsyncHTTP_IsLoadComplete(Loader);
            Thread_Wait(1);
        }
        EXPECT_EQ(Result.Failures, 1) << Each.Url;
        EXPECT_EQ(AsyncHTTP_IsLoadComplete(Loader), Each.Said != nullptr) << Each.Url;
        EXPECT_EQ(AsyncHTTP_IsLastErrorFinal(Loader), Each.Said != nullptr) << Each.Url;
        char Said[256] = "";
        AsyncHTTP_GetLastErrorText(Loader, Said, (int32)sizeof(Said));
        EXPECT_STREQ(Said, Each.Said != nullptr ? Each.Said : "connection refused") << Each.Url;
    }
}

TEST_F(AsyncHTTPTest, BodyLimitRefusesByLengthAndAcceptsAtTheLimit) {
    HttpPeer Peer;
    auto Limit1000 = [](WebGetRequest *Request) { WebGetRequest_SetLimitBodySize(Request, 1000); };
    EXPECT_EQ(Load(Peer.Url("/bytes/1000"), ASYNCHTTP_PARSER_JSON, Limit1000).Error, 0);
    Outcome Over = Load(Peer.Url("/bytes/1001"), ASYNCHTTP_PARSER_JSON, Limit1000);
    EXPECT_EQ(Over.Error, WEBGET_ERROR_CUSTOM);
    EXPECT_EQ(Over.SubCode, 0);
}

TEST_F(AsyncHTTPTest, InactivityTimeOutsOnTheTestClock) {
    HttpPeer Peer;
    for (const char *Path : {"/hang", "/silent"}) {
        Time_TestClockStart(1000);
        Outcome Result;
        WebGetRequest *Sent = nullptr;
        AsyncHTTP_Reset(Loader);
        AsyncHTTP_SetErrorCallback(Loader, &Result, GiveUp);
        AsyncHTTP_SetRequestBuildCallback(Loader, &Sent, [](AsyncHTTP *, void *User, WebGetRequest *Request) {
            *static_cast<WebGetRequest **>(User) = Request;
            return WebGetRequest_SetTimeout(Request, 5);
        });
        ASSERT_TRUE(AsyncHTTP_Load(Loader, Peer.Url(Path).c_str(), 0));
        // Once the peer has the request (and the client the headers of
        // "/hang") no byte moves any more: pass the time-out on the test
        // clock, and the request fails without the test waiting it out.
        auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool Waiting = false;
        while (!Waiting && std::chrono::steady_clock::now() < Deadline) {
            WebGetPool_Process();
            Waiting = Peer.WaitForLine(std::string("WAITING ") + Path, 0.002);
        }
        ASSERT_TRUE(Waiting) << Path << ": the peer did not get the request";
        bool HeadersExpected = std::string(Path) == "/hang";
        ASSERT_NE(Sent, nullptr);
        while (HeadersExpected && !AsyncHTTP_IsLoadComplete(Loader) && WebGetRequest_GetStatusCode(Sent) == 0 &&
               std::chrono::steady_clock::now() < Deadline) {
            WebGetPool_Process();
            Thread_Wait(1);
        }
        ASSERT_FALSE(AsyncHTTP_IsLoadComplete(Loader)) << Path;
        if (HeadersExpected) {
            ASSERT_EQ(WebGetRequest_GetStatusCode(Sent), 200) << "the headers did not arrive";
        }
        Time_TestClockAdvance(4000);
        WebGetPool_Process();
        EXPECT_FALSE(AsyncHTTP_IsLoadComplete(Loader)) << Path;
        Time_TestClockAdvance(1000);
        ASSERT_TRUE(Wait()) << Path;
        AsyncHTTP_GetLastError(Loader, &Result.Error, &Result.SubCode);
        EXPECT_EQ(Result.Error, WEBGET_ERROR_TIMEOUT) << Path;
        EXPECT_STREQ(WebGet_TranslateError(Result.Error), "Timeout");
        Time_TestClockStop();
    }
}

// A peer that keeps one response going for ever (interim responses,
// trailer lines, gzip that inflates to nothing) or cuts a gzip body before
// its trailer gets an error, not a hang or a document.
TEST_F(AsyncHTTPTest, HostilePeersEndEveryRequest) {
    HttpPeer Peer;
    for (const char *Path : {"/endless/continue", "/endless/trailer", "/endless/deflate", "/gzipcut",
                             "/gzipcut?close"}) {
        Outcome Result = Load(Peer.Url(Path), ASYNCHTTP_PARSER_JSON, [](WebGetRequest *Request) {
            WebGetRequest_SetLimitBodySize(Request, 1 << 20);
        });
        EXPECT_EQ(Result.Error, WEBGET_ERROR_CUSTOM) << Path;
        EXPECT_EQ(Result.SubCode, 0) << Path;
    }
}

// A peer that sends a byte just before every time-out still meets a bound
// (on the test clock, with 5 s time-outs): the head must be whole within 4
// time-outs plus a second for the header cap (21 s), a limited body within a
// second more per 64 KiB of its limit. A body without a limit is a stream
// the caller asked for, and goes on.
TEST_F(AsyncHTTPTest, DrippingPeerMeetsTheBoundOfTheExchange) {
    HttpPeer Peer;
    struct Case {
        const char *Path;
        int64 Limit;
        int32 Error; // -1: still running after 40 s
        int FirstStep, LastStep;
    } Cases[] = {
        {"/endless/drip?pause=5", -1, WEBGET_ERROR_TIMEOUT, 6, 6},
        {"/endless/deflate?pause=50", 256 << 10, WEBGET_ERROR_TIMEOUT, 7, 7},
        {"/endless/deflate?pause=50", -1, -1, 10, 10},
    };
    for (const Case &Each : Cases) {
        SCOPED_TRACE(std::string(Each.Path) + " " + std::to_string(Each.Limit));
        Time_TestClockStart(1000);
        Outcome Result;
        AsyncHTTP_Reset(Loader);
        AsyncHTTP_SetErrorCallback(Loader, &Result, GiveUp);
        static int64 Limit;
        Limit = Each.Limit;
        AsyncHTTP_SetRequestBuildCallback(Loader, nullptr, [](AsyncHTTP *, void *, WebGetRequest *Request) {
            WebGetRequest_SetLimitBodySize(Request, Limit);
            return WebGetRequest_SetTimeout(Request, 5);
        });
        ASSERT_TRUE(AsyncHTTP_Load(Loader, Peer.Url(Each.Path).c_str(), 0));
        int Steps = 0;
        while (Steps < 10 && !AsyncHTTP_IsLoadComplete(Loader)) {
            // Bytes arrive in each step (a fifth of a second on the real
            // clock, ample for a loaded machine), so the inactivity time-out
            // never runs out.
            for (int I = 0; I < 100; I++) {
                WebGetPool_Process();
                usleep(2000);
            }
            Time_TestClockAdvance(4000);
            Steps++;
            WebGetPool_Process();
        }
        if (Each.Error < 0) {
            EXPECT_FALSE(AsyncHTTP_IsLoadComplete(Loader));
        } else {
            ASSERT_TRUE(Wait());
            AsyncHTTP_GetLastError(Loader, &Result.Error, &Result.SubCode);
            EXPECT_EQ(Result.Error, Each.Error);
        }
        EXPECT_GE(Steps, Each.FirstStep);
        EXPECT_LE(Steps, Each.LastStep);
        AsyncHTTP_Reset(Loader);
        Time_TestClockStop();
    }
}

TEST_F(AsyncHTTPTest, KeepAliveReusesOneConnection) {
    HttpPeer Peer;
    for (int i = 0; i < 5; i++) ASSERT_EQ(Load(Peer.Url("/json"), ASYNCHTTP_PARSER_JSON).Error, 0);
    Outcome Count = Load(Peer.Url("/count"), ASYNCHTTP_PARSER_JSON);
    EXPECT_EQ(Text(Count.Document, "connections"), "1");
    EXPECT_EQ(WebGetPool_GetConnectionCount(), 1);
}

TEST_F(AsyncHTTPTest, RedirectRulesRewriteTheURL) {
    HttpPeer Peer;
    WebGet_RedirectAddMacro("port", std::to_string(Peer.Port()).c_str());
    ASSERT_TRUE(WebGet_RedirectAdd("local", 0, 1, "^http://docs\\.example/(.*)$", "http://127.0.0.1:{port}/$1", 0, 0));
    // Not mutable: a second rule of the name is refused.
    ASSERT_TRUE(WebGet_RedirectAdd("fixed", 0, 0, "nothing", "x", 0, 0));
    EXPECT_FALSE(WebGet_RedirectAdd("fixed", 0, 0, "other", "y", 0, 0));
    EXPECT_FALSE(WebGet_RedirectAdd("broken", 0, 1, "(", "y", 0, 0));
    Outcome Result = Load("http://docs.example/json", ASYNCHTTP_PARSER_JSON);
    EXPECT_EQ(Result.Error, 0);
    EXPECT_EQ(Text(Result.Document, "name"), "value");
}

TEST_F(AsyncHTTPTest, PoolKeepsItsPerHostLimit) {
    HttpPeer Peer;
    EXPECT_FALSE(WebGetPool_SetMaxHostConnectionCount(0));
    EXPECT_FALSE(WebGetPool_SetMaxHostCount(-1));
    ASSERT_TRUE(WebGetPool_SetMaxHostConnectionCount(2));
    std::vector<WebGetRequest *> Requests(4);
    for (WebGetRequest *&Request : Requests) {
        WebGetRequest_Create(&Request);
        WebGetRequest_SetURL(Request, Peer.Url("/silent").c_str());
        ASSERT_TRUE(WebGetPool_RequestAdd(Request));
        EXPECT_FALSE(WebGetPool_RequestAdd(Request)); // already queued
    }
    for (int i = 0; i < 20; i++) WebGetPool_Process();
    EXPECT_EQ(WebGetPool_GetConnectionCount(), 2);
    int Running = 0;
    for (WebGetRequest *Request : Requests) Running += WebGetRequest_GetPhase(Request) == WEBGETREQUEST_PHASE_RUNNING;
    EXPECT_EQ(Running, 2);
    for (WebGetRequest *&Request : Requests) {
        EXPECT_TRUE(WebGetPool_RequestRemove(Request));
        int32 Error = 0, SubCode = 0;
        WebGetRequest_GetError(Request, &Error, &SubCode);
        EXPECT_EQ(Error, WEBGET_ERROR_USERABORT);
        WebGetRequest_Release(&Request);
    }
}

TEST_F(AsyncHTTPTest, CacheStoreServesWithinItsMinimumAge) {
    HttpPeer Peer;
    Time_TestClockStart(1000);
    ASSERT_TRUE(WebGetCache_Init());
    WebGetCacheStore *Store = WebGetCache_AddStore("documents");
    ASSERT_NE(Store, nullptr);
    EXPECT_EQ(WebGetCache_AddStore(std::string(60, 'n').c_str()), nullptr);
    WebGetCacheStore_SetMinAge(Store, 60);
    AsyncHTTP_SetCacheStoreHandle(Loader, Store);
    std::string Url = Peer.Url("/count");
    std::string First = Text(Load(Url, ASYNCHTTP_PARSER_JSON).Document, "connections");
    // Served from the store: the peer's count would have moved on otherwise.
    EXPECT_EQ(Text(Load(Url, ASYNCHTTP_PARSER_JSON).Document, "connections"), First);
    int32 Hits = 0, Misses = 0;
    WebGetCacheStore_GetCounts(Store, &Hits, &Misses);
    EXPECT_EQ(Hits, 1);
    EXPECT_EQ(Misses, 1);
    Time_TestClockAdvance(60000);
    WebGetCache_Expire();
    AsyncHTTP_SetCacheStoreHandle(Loader, nullptr);
    WebGetPool_Remove(); // a fresh connection, so the count moves
    WebGetPool_Init();
    EXPECT_NE(Text(Load(Url, ASYNCHTTP_PARSER_JSON).Document, "connections"), First);
    WebGetCacheStore_Release(&Store);
    WebGetCache_Remove();
}

TEST_F(AsyncHTTPTest, ErrorFilterHoldsAPairOffForAnHour) {
    Time_TestClockStart(1000);
    EXPECT_TRUE(WebGet_ErrorFilter("10.0.0.1", 80));
    EXPECT_FALSE(WebGet_ErrorFilter("10.0.0.1", 80));
    EXPECT_TRUE(WebGet_ErrorFilter("10.0.0.1", 81));
    Time_TestClockAdvance(3599 * 1000);
    EXPECT_FALSE(WebGet_ErrorFilter("10.0.0.1", 80));
    Time_TestClockAdvance(1000);
    EXPECT_TRUE(WebGet_ErrorFilter("10.0.0.1", 80));
}

// Signed with HS256 under a key store's secret; "wrong" changes one byte of
// the signature.
std::string SignedDocument(const std::string &Secret, bool Wrong = false) {
    auto Url = [](const std::string &Bytes) {
        char Out[256];
        int32 Written = 0;
        Base64_UrlEncode(Bytes.data(), (int32)Bytes.size(), Out, sizeof(Out), &Written);
        return std::string(Out, (size_t)Written);
    };
    const std::string Input = Url("{\"alg\":\"HS256\"}") + "." + Url("{\"connections\":\"signed\"}");
    std::string Mac(32, '\0');
    HMAC_QuickDigest(&SHA256_INTERFACE, Input.data(), (uint32)Input.size(), Secret.data(), (uint32)Secret.size(),
                     Mac.data(), 32);
    if (Wrong) Mac[7] ^= 1;
    return Input + "." + Url(Mac);
}

TEST_F(AsyncHTTPTest, AuthenticatedLoadNeedsASignedDocument) {
    TempDirectory Folder;
    const std::string Secret = "a secret of the key store, 32 b.";
    auto Write = [&](const std::string &Name, const std::string &Body) {
        FILE *Out = fopen((Folder / Name).c_str(), "w");
        fwrite(Body.data(), 1, Body.size(), Out);
        fclose(Out);
    };
    Write("signed.json", SignedDocument(Secret));
    Write("wrong.json", SignedDocument(Secret, true));
    Write("plain.json", "{\"connections\":\"plain\"}");
    CertStoreKey *Key = nullptr;
    CertStoreKey_Create(&Key);
    char KeyText[64];
    int32 Written = 0;
    Base64_Encode(Secret.data(), (int32)Secret.size(), KeyText, sizeof(KeyText), &Written);
    ASSERT_TRUE(CertStoreKey_Decode(Key, KeyText));
    CertStoreInterface *Store = nullptr;
    CertStoreKey_GetInterfaceHandle(Key, &Store);
    AsyncHTTP_SetCertStoreHandle(Loader, Store);
    HttpPeer Peer(Folder.Path);
    struct Case {
        const char *Path;
        int32 Authenticate, Error, SubCode;
        const char *Value;
    };
    for (const Case &C : std::vector<Case>{{"/signed.json", 1, 0, 0, "signed"},
                                           {"/wrong.json", 1, WEBGET_ERROR_JSON, JSON_ERROR_AUTHENTICATE, nullptr},
                                           {"/plain.json", 1, WEBGET_ERROR_JSON, JSON_ERROR_AUTHENTICATE, nullptr},
                                           {"/signed.json", 0, 0, 0, "signed"},
                                           {"/wrong.json", 0, 0, 0, "signed"},
                                           {"/plain.json", 0, 0, 0, "plain"}}) {
        Outcome Result;
        AsyncHTTP_Reset(Loader);
        AsyncHTTP_SetErrorCallback(Loader, &Result, GiveUp);
        ASSERT_TRUE(AsyncHTTP_Load(Loader, Peer.Url(C.Path).c_str(), C.Authenticate));
        ASSERT_TRUE(Wait());
        AsyncHTTP_GetLastError(Loader, &Result.Error, &Result.SubCode);
        EXPECT_EQ(Result.Error, C.Error) << C.Path << " " << C.Authenticate;
        EXPECT_EQ(Result.SubCode, C.SubCode) << C.Path << " " << C.Authenticate;
        if (C.Value == nullptr) continue;
        AsyncHTTP_GetDictionaryHandle(Loader, &Result.Document);
        EXPECT_EQ(Text(Result.Document, "connections"), C.Value) << C.Path;
    }
    AsyncHTTP_Reset(Loader);
    AsyncHTTP_SetCertStoreHandle(Loader, nullptr);
    CertStoreInterface_Release(&Store);
    CertStoreKey_Release(&Key);
}

TEST_F(AsyncHTTPTest, ResetAbandonsARunningAttempt) {
    HttpPeer Peer;
    ASSERT_TRUE(AsyncHTTP_Load(Loader, Peer.Url("/silent").c_str(), 0));
    for (int i = 0; i < 20; i++) WebGetPool_Process();
    EXPECT_TRUE(AsyncHTTP_IsAlive(Loader));
    AsyncHTTP_Reset(Loader);
    EXPECT_FALSE(AsyncHTTP_IsAlive(Loader));
    EXPECT_FALSE(AsyncHTTP_IsLoadComplete(Loader));
    EXPECT_EQ(Load(Peer.Url("/json"), ASYNCHTTP_PARSER_JSON).Error, 0);
}

} // namespace

// The parse thread's end is an event post to the main thread, which wakes a
// host loop waiting for events (a plain signal would leave it asleep until
// its next timed tick).
TEST_F(AsyncHTTPTest, ParsedDocumentWakesTheMainLoop) {
    static std::atomic<int> EventPosts{0};
    EventPosts = 0;
    Thread_SetUnhandledSignal([](uint32 ThreadId, int32 IsEvent) -> int32 {
        if (ThreadId == Thread_GetMainId() && IsEvent == 1) EventPosts++;
        return TRUE;
    });
    std::string Path = TempRoot() + "/asynchttpwakeXXXXXX.json";
    int Descriptor = mkstemps(Path.data(), 5);
    ASSERT_GE(Descriptor, 0);
    ASSERT_EQ(write(Descriptor, "{\"a\":1}", 7), 7);
    close(Descriptor);
    Outcome Result = Load(std::string("file://") + Path, ASYNCHTTP_PARSER_JSON);
    Thread_SetUnhandledSignal(nullptr);
    unlink(Path.c_str());
    EXPECT_EQ(Result.Error, 0);
    EXPECT_GE(EventPosts.load(), 1);
}
