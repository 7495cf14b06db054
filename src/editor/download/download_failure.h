#pragma once

// How the download's steps say that they failed.

#include "tavo/editor_update.h"

namespace tavo {

PackageDownload Fail(DownloadCode code, std::wstring detail, bool retryMayHelp = false);

std::wstring WindowsError(DWORD error);

// The answers of WinHTTP that say the network, not the offer, failed.
PackageDownload NetworkFailure(DWORD error, const std::wstring& during);

} // namespace tavo
