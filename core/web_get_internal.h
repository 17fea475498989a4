// The request record shared by the request and pool modules of the HTTP
// client (web_get_request.cpp, web_get_pool.cpp).
#pragma once

#include <string>
#include <vector>

#include "core/class.h"
#include "core/web_get_request.h"

struct WebGetConnection;

struct WebGetRequest {
    ClassStruct Class;
    std::string Url;
    std::string PostData;
    bool Post = false;
    int32 Verbose = 0;
    int32 Timeout = 60;
    int32 AllowProxy = 0;
    int32 AllowResume = 0;
    int32 AllowGzip = 1;
    int64 LimitBodySize = 64 * 1024 * 1024;
    char Headers[WEBGETREQUEST_HEADER_SIZE] = {};
    std::vector<std::pair<std::string, std::string>> Cookies;
    void *HeaderDoneUser = nullptr;
    WebGetRequest_HeaderDoneFunc HeaderDone = nullptr;
    void *FillBodyUser = nullptr;
    WebGetRequest_FillBodyFunc FillBody = nullptr;

    int32 Phase = WEBGETREQUEST_PHASE_IDLE;
    int32 Error = 0;
    int32 SubCode = 0;
    int32 Status = 0;
    std::string ResponseHeaders;
    std::vector<uint8> Body;
    WebGetConnection *Connection = nullptr;
};

// Ends the request with the error (0: success) and logs a failure.
void WebGetRequestInt_Finish(WebGetRequest *Request, int32 Error, int32 SubCode);
// Splits an "http://host[:port]/path" URL; false for anything else.
bool WebGetRequestInt_SplitURL(const std::string &Url, std::string *Host, int32 *Port, std::string *Path);
// The bytes of the request as sent (request line, headers, body).
std::string WebGetRequestInt_Build(WebGetRequest *Request, const std::string &Host, int32 Port,
                                   const std::string &Path);
