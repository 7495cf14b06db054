#include "editor/download/https_get.h"

#include <cwchar>
#include <vector>

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

void CloseInternet(HINTERNET handle) {
    if (handle != nullptr) {
        WinHttpCloseHandle(handle);
    }
}

namespace {

UniqueInternet OwnInternet(HINTERNET handle) {
    return UniqueInternet(handle, &CloseInternet);
}

// Windows' automatic proxy (the system's settings, WPAD and PAC included)
// where it exists, from Windows 8.1 on; before, the user's own settings.
UniqueInternet OpenSession() {
    constexpr wchar_t Agent[] = L"TavoPDF-Update/1.0";
    UniqueInternet session =
        OwnInternet(WinHttpOpen(Agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0));
    if (session) {
        return session;
    }
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    const bool named = WinHttpGetIEProxyConfigForCurrentUser(&user) && user.lpszProxy != nullptr;
    session = OwnInternet(WinHttpOpen(
        Agent, named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
        named ? user.lpszProxy : WINHTTP_NO_PROXY_NAME,
        named && user.lpszProxyBypass != nullptr ? user.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS,
        0));
    for (LPWSTR text : {user.lpszAutoConfigUrl, user.lpszProxy, user.lpszProxyBypass}) {
        if (text != nullptr) {
            GlobalFree(text);
        }
    }
    return session;
}

std::wstring HeaderText(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return std::wstring();
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::wstring();
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

void ReadAnswer(HINTERNET request, HttpsAnswer& answer) {
    answer.Status =
        std::wcstoul(HeaderText(request, WINHTTP_QUERY_STATUS_CODE).c_str(), nullptr, 10);
    const std::wstring length = HeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty() && length.find_first_not_of(L"0123456789") == std::wstring::npos &&
        length.size() <= 19) {
        answer.ContentLength = std::wcstoull(length.c_str(), nullptr, 10);
    }
    answer.ContentRange = HeaderText(request, WINHTTP_QUERY_CONTENT_RANGE);
    answer.Validator = HeaderText(request, WINHTTP_QUERY_ETAG);
    if (answer.Validator.empty()) {
        answer.Validator = HeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
    }
    answer.Location = HeaderText(request, WINHTTP_QUERY_LOCATION);
    answer.RetryAfter = HeaderText(request, WINHTTP_QUERY_RETRY_AFTER);
    DWORD size = 0;
    WinHttpQueryOption(request, WINHTTP_OPTION_URL, nullptr, &size);
    std::wstring url(size / sizeof(wchar_t) + 1, L'\0');
    if (size > 0 && WinHttpQueryOption(request, WINHTTP_OPTION_URL, url.data(), &size)) {
        answer.FinalUrl = url.c_str();
    }
}

} // namespace

DWORD SendHttpsGet(const std::wstring& url, const std::wstring& headers, DWORD waitLimitMs,
                   HttpsGet& get, HttpsAnswer& answer) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return GetLastError();
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    get.Session = OpenSession();
    if (!get.Session) {
        return GetLastError();
    }
    const int limit = static_cast<int>(waitLimitMs);
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    if (!WinHttpSetTimeouts(get.Session.get(), limit, limit, limit, limit) ||
        !WinHttpSetOption(get.Session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy,
                          sizeof(policy))) {
        return GetLastError();
    }
    get.Connection = OwnInternet(WinHttpConnect(get.Session.get(), host.c_str(), parts.nPort, 0));
    if (!get.Connection) {
        return GetLastError();
    }
    // WINHTTP_FLAG_REFRESH: no cache on the way may answer for the server.
    get.Request = OwnInternet(WinHttpOpenRequest(
        get.Connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH));
    const std::wstring lines = L"Cache-Control: no-cache\r\n" + headers;
    if (!get.Request ||
        !WinHttpSendRequest(get.Request.get(), lines.c_str(), static_cast<DWORD>(lines.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(get.Request.get(), nullptr)) {
        return GetLastError();
    }
    ReadAnswer(get.Request.get(), answer);
    return ERROR_SUCCESS;
}

DWORD ReadHttpsBody(const HttpsGet& get, void* buffer, DWORD size, DWORD& read) {
    // Asked first how much is there: a read of more may wait for all of it
    // (Wine's does), and progress, stop and stall are judged between reads.
    DWORD available = 0;
    read = 0;
    if (!WinHttpQueryDataAvailable(get.Request.get(), &available)) {
        return GetLastError();
    }
    if (available == 0) {
        return ERROR_SUCCESS;
    }
    return WinHttpReadData(get.Request.get(), buffer, available < size ? available : size, &read)
               ? ERROR_SUCCESS
               : GetLastError();
}
