#pragma once

// One HTTPS GET on WinHTTP, as the download needs it: the machine's proxy
// settings and trust store, no cache, no redirect from https to http, and
// every wait bounded. The editor's library only; never in the helper.

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

// One GET. WinHTTP's waits (connect, TLS, headers, body) run on a thread of
// the GET's own, so that a stop ends the caller's wait at once in any phase:
// WinHTTP under Wine does not end a waiting call when its handle is closed
// from another thread. A stopped call's thread is left to finish on its own,
// holding the handles and its buffer, within the stall limit that bounds
// every wait; nothing of the caller's is touched after the stop. The body is
// read ahead on that thread, at most 512 KiB beyond what the caller has taken,
// so that receiving goes on while the caller writes.
struct HttpsCalls;
struct HttpsGet {
    HttpsGet();
    HttpsGet(const HttpsGet&) = delete;
    HttpsGet& operator=(const HttpsGet&) = delete;
    ~HttpsGet();
    std::shared_ptr<HttpsCalls> Calls;
    std::stop_token Stop;
};

// Empty when the stall limit is 1 to 600000 ms; otherwise "stall limit: not 1
// to 600000 ms". WinHTTP reads 0 as "no limit".
std::wstring CheckStallLimit(DWORD stallLimitMs);

// Whether WinHTTP gave up waiting: ERROR_WINHTTP_TIMEOUT on Windows, and the
// socket's WSAETIMEDOUT under Wine.
bool IsTimeout(DWORD error);

// Empty when the URL is one WinHTTP can read, https:// with a host; otherwise
// the refusal, such as "not https://" or "not a URL WinHTTP can read".
std::wstring CheckHttpsUrl(const std::wstring& url);

// The errors of a server certificate that the machine does not accept (an
// untrusted root, a wrong name, an expired or revoked certificate): the same
// on a retry. Wine answers an untrusted root with 12157, Windows with 12175.
bool IsCertificateError(DWORD error);

struct HttpsAnswer {
    DWORD Status = 0;
    std::optional<std::uint64_t> ContentLength;
    std::wstring ContentRange; // "bytes 10-99/100"
    // A strong ETag, else Last-Modified; empty when neither. A weak ETag
    // (W/"...") names no bytes, and HTTP forbids it in If-Range.
    std::wstring Validator;
    std::wstring Location;   // of a redirect that was not followed
    std::wstring FinalUrl;   // after the redirects that were
    std::wstring RetryAfter; // seconds, or an HTTP date
};

// Sends a GET of an https:// URL with these extra header lines ("Name: value\r\n" each) and
// waits for the answer's headers, no wait longer than waitLimitMs, the headers' included; a
// stop ends it and every later read of the GET. 0, or the Windows error
// (ERROR_WINHTTP_UNRECOGNIZED_SCHEME for a URL that is not https://, ERROR_OPERATION_ABORTED
// after a stop). A GET sent again starts anew.
DWORD SendHttpsGet(const std::wstring& url, const std::wstring& headers, DWORD waitLimitMs,
                   const std::stop_token& stop, HttpsGet& get, HttpsAnswer& answer);

// The next bytes of the body, as soon as some are there: 0 bytes read at its end (or where
// the server closed the connection). 0, or the Windows error (ERROR_WINHTTP_TIMEOUT when
// nothing came within the wait limit).
DWORD ReadHttpsBody(HttpsGet& get, void* buffer, DWORD size, DWORD& read);
