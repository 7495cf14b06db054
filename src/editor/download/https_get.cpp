#include "editor/download/https_get.h"

#include "base/paths.h"

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cwchar>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace {

void CloseInternet(HINTERNET handle) {
    if (handle != nullptr) {
        WinHttpCloseHandle(handle);
    }
}
using UniqueInternet = std::unique_ptr<void, decltype(&CloseInternet)>;

} // namespace

// Shared by the GET and its thread; the last of the two to let go closes the
// handles. Owners in reverse release order: the request first, the session last.
struct HttpsCalls {
    std::mutex Lock;
    std::condition_variable Changed;
    std::function<DWORD()> Call; // the next call; empty while none waits
    bool Done = false, Quit = false, Ended = false;
    DWORD Result = ERROR_SUCCESS;
    // The answer and the body's bytes land here, never in the caller's own:
    // the thread reads the body ahead of the caller, at most AheadBytes.
    HttpsAnswer Answer;
    bool Reading = false, BodyDone = false;
    DWORD BodyError = ERROR_SUCCESS;
    std::deque<std::vector<char>> Chunks;
    size_t FrontTaken = 0, Queued = 0;
    UniqueInternet Session{nullptr, &CloseInternet};
    UniqueInternet Connection{nullptr, &CloseInternet};
    UniqueInternet Request{nullptr, &CloseInternet};
};

namespace {

// Whether the process has begun to end (main returned, exit called). A GET's
// thread let go may still wait in a call then; once that returns it goes no
// further: its own end would run the thread runtime's cleanup while the
// runtime is torn down around it. It waits to be ended with the process.
// Never freed, so that it outlives every static.
std::atomic<bool>& ProcessEnding() {
    static std::atomic<bool>* ending = new std::atomic<bool>(false);
    return *ending;
}

struct ProcessEndMark {
    ~ProcessEndMark() { ProcessEnding() = true; }
};

void StopHereIfTheProcessEnds() {
    while (ProcessEnding()) {
        Sleep(INFINITE);
    }
}

// The GET's thread: each call as it is handed over, until the GET lets go.
void MakeCalls(std::shared_ptr<HttpsCalls> calls) {
    for (;;) {
        std::function<DWORD()> call;
        {
            std::unique_lock<std::mutex> holding(calls->Lock);
            calls->Changed.wait(holding, [&] { return calls->Call || calls->Quit; });
            if (!calls->Call) {
                break;
            }
            call.swap(calls->Call);
        }
        const DWORD result = call();
        StopHereIfTheProcessEnds();
        {
            const std::lock_guard<std::mutex> holding(calls->Lock);
            calls->Result = result;
            calls->Done = true;
        }
        calls->Changed.notify_all();
    }
    // The connection closes here, on this thread, once no call uses it.
    calls->Request.reset();
    calls->Connection.reset();
    calls->Session.reset();
    StopHereIfTheProcessEnds();
    {
        const std::lock_guard<std::mutex> holding(calls->Lock);
        calls->Ended = true;
    }
    calls->Changed.notify_all();
    StopHereIfTheProcessEnds();
}

// Lets the thread go: it ends after the call it makes, if any, and closes the
// connection. Waited for a little, so that a GET that follows does not meet
// this one's connection still open; a call that waits longer (a silent
// server, up to the stall limit) ends on its own.
void LetGo(HttpsGet& get) {
    if (get.Calls) {
        std::unique_lock<std::mutex> holding(get.Calls->Lock);
        get.Calls->Quit = true;
        get.Calls->Changed.notify_all();
        get.Calls->Changed.wait_for(holding, std::chrono::milliseconds(500),
                                    [&] { return get.Calls->Ended; });
        holding.unlock();
        get.Calls.reset();
    }
}

// Makes the call on the GET's thread and waits for it, or for the stop.
// The call's result, or ERROR_OPERATION_ABORTED once stopped.
DWORD Make(HttpsGet& get, std::function<DWORD()> call) {
    if (!get.Calls || get.Stop.stop_requested()) {
        return ERROR_OPERATION_ABORTED;
    }
    const std::shared_ptr<HttpsCalls> calls = get.Calls;
    {
        const std::lock_guard<std::mutex> holding(calls->Lock);
        calls->Call = std::move(call);
        calls->Done = false;
    }
    calls->Changed.notify_all();
    const std::stop_callback wake(get.Stop, [&calls] {
        const std::lock_guard<std::mutex> holding(calls->Lock);
        calls->Changed.notify_all();
    });
    std::unique_lock<std::mutex> holding(calls->Lock);
    calls->Changed.wait(holding, [&] { return calls->Done || get.Stop.stop_requested(); });
    if (!calls->Done) {
        holding.unlock();
        LetGo(get);
        return ERROR_OPERATION_ABORTED;
    }
    return calls->Result;
}

constexpr size_t AheadBytes = 512 << 10;
constexpr DWORD ReadBytes = 64 << 10;

// The body, read on the GET's thread into its queue until it ends, fails
// or the GET lets go: each read is bounded by WinHTTP's receive timeout.
void ReadAhead(HttpsCalls& calls) {
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        {
            std::unique_lock<std::mutex> holding(calls.Lock);
            calls.Changed.wait(holding, [&] { return calls.Queued < AheadBytes || calls.Quit; });
            if (calls.Quit) {
                return;
            }
        }
        // Asked first how much is there: a read of more waits for all of it
        // (Wine's does).
        DWORD available = 0, got = 0;
        if (!WinHttpQueryDataAvailable(calls.Request.get(), &available)) {
            error = GetLastError();
            break;
        }
        std::vector<char> chunk(available < ReadBytes ? available : ReadBytes);
        if (available == 0) {
            break;
        }
        if (!WinHttpReadData(calls.Request.get(), chunk.data(), static_cast<DWORD>(chunk.size()),
                             &got)) {
            error = GetLastError();
            break;
        }
        if (got == 0) {
            break;
        }
        chunk.resize(got);
        {
            const std::lock_guard<std::mutex> holding(calls.Lock);
            calls.Queued += got;
            calls.Chunks.push_back(std::move(chunk));
        }
        calls.Changed.notify_all();
    }
    {
        const std::lock_guard<std::mutex> holding(calls.Lock);
        calls.BodyDone = true;
        calls.BodyError = error;
    }
    calls.Changed.notify_all();
}

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
    if (answer.Validator.empty() || answer.Validator.rfind(L"W/", 0) == 0) {
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

// The URL's parts as WinHTTP reads them; false when it cannot.
bool CrackUrl(const std::wstring& url, URL_COMPONENTS& parts) {
    parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    return WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) &&
           parts.dwHostNameLength > 0;
}

} // namespace

HttpsGet::HttpsGet() = default;

HttpsGet::~HttpsGet() {
    LetGo(*this);
}

std::wstring CheckHttpsUrl(const std::wstring& url) {
    if (!EqualsIgnoringAsciiCase(std::wstring_view(url).substr(0, 8), L"https://")) {
        return L"not https://";
    }
    URL_COMPONENTS parts;
    return CrackUrl(url, parts) && parts.nScheme == INTERNET_SCHEME_HTTPS
               ? std::wstring()
               : L"not a URL WinHTTP can read";
}

std::wstring CheckStallLimit(DWORD stallLimitMs) {
    return stallLimitMs == 0 || stallLimitMs > 600000 ? L"stall limit: not 1 to 600000 ms" : L"";
}

bool IsTimeout(DWORD error) {
    return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT;
}

bool IsCertificateError(DWORD error) {
    for (const DWORD certificate :
         {12037ul, 12038ul, 12044ul, 12045ul, 12157ul, 12169ul, 12170ul, 12175ul, 12179ul}) {
        if (error == certificate) {
            return true;
        }
    }
    return false;
}

DWORD SendHttpsGet(const std::wstring& url, const std::wstring& headers, DWORD waitLimitMs,
                   const std::stop_token& stop, HttpsGet& get, HttpsAnswer& answer) {
    URL_COMPONENTS parts;
    if (!CrackUrl(url, parts)) {
        return ERROR_WINHTTP_INVALID_URL;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    LetGo(get);
    get.Calls = std::make_shared<HttpsCalls>();
    get.Stop = stop;
    // Made before the first thread, so that it goes before the statics made earlier.
    static ProcessEndMark processEnd;
    std::thread(MakeCalls, get.Calls).detach();
    HttpsCalls& calls = *get.Calls;
    const INTERNET_PORT port = parts.nPort;
    const std::wstring lines = L"Cache-Control: no-cache\r\n" + headers;
    const DWORD sent = Make(get, [&calls, host, path, port, lines, waitLimitMs]() -> DWORD {
        calls.Session = OpenSession();
        if (!calls.Session) {
            return GetLastError();
        }
        const int limit = static_cast<int>(waitLimitMs);
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
        if (!WinHttpSetTimeouts(calls.Session.get(), limit, limit, limit, limit) ||
            !WinHttpSetOption(calls.Session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy,
                              sizeof(policy))) {
            return GetLastError();
        }
        calls.Connection = OwnInternet(WinHttpConnect(calls.Session.get(), host.c_str(), port, 0));
        if (!calls.Connection) {
            return GetLastError();
        }
        // WINHTTP_FLAG_REFRESH: no cache on the way may answer for the server.
        calls.Request = OwnInternet(WinHttpOpenRequest(
            calls.Connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH));
        if (!calls.Request) {
            return GetLastError();
        }
        // The wait for the headers has a limit of its own: the session's
        // timeouts do not bound a server that takes the request and answers
        // nothing.
        DWORD headersLimit = waitLimitMs;
        if (!WinHttpSetOption(calls.Request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                              &headersLimit, sizeof(headersLimit)) ||
            !WinHttpSendRequest(calls.Request.get(), lines.c_str(),
                                static_cast<DWORD>(lines.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                0) ||
            !WinHttpReceiveResponse(calls.Request.get(), nullptr)) {
            return GetLastError();
        }
        ReadAnswer(calls.Request.get(), calls.Answer);
        return ERROR_SUCCESS;
    });
    if (sent == ERROR_SUCCESS) {
        answer = calls.Answer;
    }
    return sent;
}

DWORD ReadHttpsBody(HttpsGet& get, void* buffer, DWORD size, DWORD& read) {
    read = 0;
    if (!get.Calls || get.Stop.stop_requested()) {
        return ERROR_OPERATION_ABORTED;
    }
    const std::shared_ptr<HttpsCalls> calls = get.Calls;
    const std::stop_callback wake(get.Stop, [&calls] {
        const std::lock_guard<std::mutex> holding(calls->Lock);
        calls->Changed.notify_all();
    });
    std::unique_lock<std::mutex> holding(calls->Lock);
    if (!calls->Reading) {
        calls->Reading = true;
        calls->Call = [raw = calls.get()]() -> DWORD {
            ReadAhead(*raw);
            return ERROR_SUCCESS;
        };
        calls->Changed.notify_all();
    }
    calls->Changed.wait(holding, [&] {
        return !calls->Chunks.empty() || calls->BodyDone || get.Stop.stop_requested();
    });
    if (calls->Chunks.empty() && !calls->BodyDone) {
        holding.unlock();
        LetGo(get);
        return ERROR_OPERATION_ABORTED;
    }
    if (calls->Chunks.empty()) {
        return calls->BodyError; // 0 at the body's end: nothing read
    }
    const std::vector<char>& front = calls->Chunks.front();
    const size_t left = front.size() - calls->FrontTaken;
    read = static_cast<DWORD>(left < size ? left : size);
    std::copy(front.begin() + static_cast<std::ptrdiff_t>(calls->FrontTaken),
              front.begin() + static_cast<std::ptrdiff_t>(calls->FrontTaken + read),
              static_cast<char*>(buffer));
    calls->FrontTaken += read;
    calls->Queued -= read;
    if (calls->FrontTaken == front.size()) {
        calls->Chunks.pop_front();
        calls->FrontTaken = 0;
    }
    holding.unlock();
    calls->Changed.notify_all(); // room for the thread's next read
    return ERROR_SUCCESS;
}
