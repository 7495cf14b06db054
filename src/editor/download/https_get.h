#pragma once

// One HTTPS GET on WinHTTP, as the download needs it: the machine's proxy
// settings and trust store, no cache, no redirect from https to http, and
// every wait bounded. The editor's library only; never in the helper.

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

void CloseInternet(HINTERNET handle);
using UniqueInternet = std::unique_ptr<void, decltype(&CloseInternet)>;

// Owners in reverse release order: the request goes first, the session last.
struct HttpsGet {
    UniqueInternet Session{nullptr, &CloseInternet};
    UniqueInternet Connection{nullptr, &CloseInternet};
    UniqueInternet Request{nullptr, &CloseInternet};
};

struct HttpsAnswer {
    DWORD Status = 0;
    std::optional<std::uint64_t> ContentLength;
    std::wstring ContentRange; // "bytes 10-99/100"
    std::wstring Validator;    // the ETag, else Last-Modified; empty when neither
    std::wstring Location;     // of a redirect that was not followed
    std::wstring FinalUrl;     // after the redirects that were
    std::wstring RetryAfter;   // seconds, or an HTTP date
};

// Sends a GET of an https:// URL with these extra header lines ("Name: value\r\n" each) and
// waits for the answer's headers, no wait longer than waitLimitMs. 0, or the Windows error
// (ERROR_WINHTTP_UNRECOGNIZED_SCHEME for a URL that is not https://).
DWORD SendHttpsGet(const std::wstring& url, const std::wstring& headers, DWORD waitLimitMs,
                   HttpsGet& get, HttpsAnswer& answer);

// The next bytes of the body, as soon as some are there: 0 bytes read at its end (or where
// the server closed the connection). 0, or the Windows error (ERROR_WINHTTP_TIMEOUT when
// nothing came within the wait limit).
DWORD ReadHttpsBody(const HttpsGet& get, void* buffer, DWORD size, DWORD& read);
