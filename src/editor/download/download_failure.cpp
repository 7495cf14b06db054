#include "editor/download/download_failure.h"

#include "editor/download/https_get.h"

namespace tavo {

PackageDownload Fail(DownloadCode code, std::wstring detail, bool retryMayHelp) {
    PackageDownload result;
    result.Code = code;
    result.Detail = std::move(detail);
    result.RetryMayHelp = retryMayHelp;
    return result;
}

std::wstring WindowsError(DWORD error) {
    return L"Windows error " + std::to_wstring(error);
}

PackageDownload NetworkFailure(DWORD error, const std::wstring& during) {
    if (IsTimeout(error)) {
        return Fail(DownloadCode::Stalled, L"no byte " + during + L" within the stall limit", true);
    }
    // A certificate the machine does not accept stays so on a retry.
    return Fail(DownloadCode::NetworkFailed, WindowsError(error) + L" " + during,
                !IsCertificateError(error));
}

} // namespace tavo
