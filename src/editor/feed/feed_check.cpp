#include "editor/download/https_get.h"
#include "editor/feed/feed_decision.h"

#include "base/paths.h"

#include <cwchar>

namespace tavo {

namespace {

// The whole body of a GET, refused past the limit before more is read.
DWORD FetchSmall(const std::wstring& url, DWORD stallLimitMs, std::string& bytes,
                 HttpsAnswer& answer) {
    HttpsGet get;
    const DWORD sent = SendHttpsGet(url, L"", stallLimitMs, get, answer);
    if (sent != ERROR_SUCCESS || answer.Status != 200) {
        return sent;
    }
    std::vector<char> buffer(64 << 10);
    for (DWORD read = 1; read > 0 && bytes.size() <= FeedSizeLimitBytes;) {
        const DWORD error =
            ReadHttpsBody(get, buffer.data(), static_cast<DWORD>(buffer.size()), read);
        if (error != ERROR_SUCCESS) {
            return error;
        }
        bytes.append(buffer.data(), read);
    }
    return ERROR_SUCCESS;
}

FeedAnswer NetworkFailure(const std::wstring& what, DWORD error, const HttpsAnswer& answer) {
    FeedAnswer failure;
    failure.Code = FeedCode::NetworkFailed;
    failure.RetryMayHelp = error != ERROR_WINHTTP_SECURE_FAILURE && error != ERROR_SUCCESS
                               ? true
                               : answer.Status >= 500 || answer.Status == 429;
    // Seconds only; an HTTP date is left to the editor's own schedule.
    if (!answer.RetryAfter.empty() &&
        answer.RetryAfter.find_first_not_of(L"0123456789") == std::wstring::npos &&
        answer.RetryAfter.size() < 9) {
        failure.RetryAfterSeconds = std::wcstoul(answer.RetryAfter.c_str(), nullptr, 10);
    }
    failure.Detail =
        what + (error != ERROR_SUCCESS ? L": Windows error " + std::to_wstring(error)
                                       : L": the server answers " + std::to_wstring(answer.Status));
    return failure;
}

} // namespace

FeedAnswer CheckForUpdate(const FeedCheck& check) {
    if (!EqualsIgnoringAsciiCase(std::wstring_view(check.FeedUrl).substr(0, 8), L"https://")) {
        FeedAnswer refused;
        refused.Code = FeedCode::Refused;
        refused.Detail = L"feed URL: not https://";
        return refused;
    }
    std::string feed, signature;
    HttpsAnswer answer;
    DWORD error = FetchSmall(check.FeedUrl, check.StallLimitMs, feed, answer);
    if (error != ERROR_SUCCESS || answer.Status != 200) {
        return NetworkFailure(L"feed", error, answer);
    }
    answer = HttpsAnswer();
    error = FetchSmall(check.FeedUrl + L".sig", check.StallLimitMs, signature, answer);
    if (error != ERROR_SUCCESS || (answer.Status != 200 && answer.Status != 404)) {
        return NetworkFailure(L"feed signature", error, answer);
    }
    UpdateState state;
    std::wstring problem;
    ReadUpdateState(check.StateFile, state, problem);
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    FeedAnswer judged =
        JudgeFeed(feed, signature, check, state,
                  (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    judged.StateProblem = problem;
    // The sequence seen is kept before anything is offered on it; a new
    // install id is kept at once, so that its bucket stays.
    if (!WriteUpdateState(check.StateFile, state) && judged.Code != FeedCode::Refused) {
        judged.StateProblem = L"state file: cannot be written";
    }
    return judged;
}

} // namespace tavo
