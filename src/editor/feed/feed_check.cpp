#include "editor/download/https_get.h"
#include "editor/feed/feed_decision.h"

#include "base/handle_owner.h"
#include "base/paths.h"

#include <cwchar>

namespace tavo {

namespace {

FeedAnswer Answered(FeedCode code, std::wstring detail, bool retryMayHelp = false) {
    FeedAnswer answer;
    answer.Code = code;
    answer.Detail = std::move(detail);
    answer.RetryMayHelp = retryMayHelp;
    return answer;
}

// The whole body of a GET, refused past the limit before more is read; a
// body shorter than its Content-Length was cut by the network.
DWORD FetchSmall(const std::wstring& url, const FeedCheck& check, std::string& bytes,
                 HttpsAnswer& answer) {
    HttpsGet get;
    const DWORD sent = SendHttpsGet(url, L"", check.StallLimitMs, check.Stop, get, answer);
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
    // Past the limit the read stopped itself: the judge refuses the size.
    if (answer.ContentLength && bytes.size() < *answer.ContentLength &&
        bytes.size() <= FeedSizeLimitBytes) {
        return ERROR_WINHTTP_CONNECTION_ERROR;
    }
    return ERROR_SUCCESS;
}

FeedAnswer NetworkFailure(const std::wstring& what, DWORD error, const HttpsAnswer& answer) {
    if (error == ERROR_WINHTTP_REDIRECT_FAILED) {
        return Answered(FeedCode::Refused, what + L": redirected to a URL that is not https://, "
                                                  L"or more than ten times (a loop)");
    }
    FeedAnswer failure = Answered(FeedCode::NetworkFailed, what);
    // A certificate the machine does not accept stays so on a retry.
    failure.RetryMayHelp = error != ERROR_SUCCESS ? !IsCertificateError(error)
                                                  : answer.Status >= 500 || answer.Status == 429;
    // Seconds only; an HTTP date is left to the editor's own schedule.
    if (!answer.RetryAfter.empty() &&
        answer.RetryAfter.find_first_not_of(L"0123456789") == std::wstring::npos &&
        answer.RetryAfter.size() < 9) {
        failure.RetryAfterSeconds = std::wcstoul(answer.RetryAfter.c_str(), nullptr, 10);
    }
    failure.Detail += IsTimeout(error) ? L": nothing within the stall limit"
                      : error == ERROR_WINHTTP_CONNECTION_ERROR && answer.Status == 200
                          ? L": the connection ended before the Content-Length"
                      : error != ERROR_SUCCESS
                          ? L": Windows error " + std::to_wstring(error)
                          : L": the server answers " + std::to_wstring(answer.Status);
    return failure;
}

} // namespace

} // namespace tavo

using namespace tavo;

std::optional<FeedAnswer> FetchFeed(const FeedCheck& check, std::string& feed,
                                    std::string& signature) {
    // One of the two; a signature the server does not have (404) is empty.
    const auto fetch = [&check](const std::wstring& url, std::string& bytes, const wchar_t* what,
                                bool missingIsEmpty) -> std::optional<FeedAnswer> {
        HttpsAnswer answer;
        const DWORD error = FetchSmall(url, check, bytes, answer);
        if (check.Stop.stop_requested()) {
            return Answered(FeedCode::Stopped, L"");
        }
        if (error != ERROR_SUCCESS ||
            (answer.Status != 200 && !(missingIsEmpty && answer.Status == 404))) {
            return NetworkFailure(what, error, answer);
        }
        return std::nullopt;
    };
    if (std::optional<FeedAnswer> failed = fetch(check.FeedUrl, feed, L"feed", false)) {
        return failed;
    }
    return fetch(check.FeedUrl + L".sig", signature, L"feed signature", true);
}

namespace tavo {

FeedAnswer CheckForUpdate(const FeedCheck& check) {
    const std::wstring refusal = CheckFeedRequest(check);
    if (!refusal.empty()) {
        return Answered(FeedCode::Refused, refusal);
    }
    std::string feed, signature;
    if (std::optional<FeedAnswer> failed = FetchFeed(check, feed, signature)) {
        return *failed;
    }
    const UniqueHandle lock = LockUpdateState(check.StateFile, check.Stop);
    if (lock.get() == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
        return Answered(FeedCode::Busy, L"state file: another check holds it", true);
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
