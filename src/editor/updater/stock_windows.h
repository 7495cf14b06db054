#pragma once

// The stock windows as the updater ends: each one open on a thread is
// answered as the user's Later / Stop / No would answer it.

#include "tavo/editor_update.h"

#include <windows.h>

#include <string>

namespace tavo {

// Posts the answer to every stock window of the thread (0: none).
void CloseStockWindows(DWORD thread);

// The progress window's line: "1.5 MB of 3.0 MB, about 4 s left"; no time
// before a rate is known.
std::wstring DescribeProgress(const DownloadProgress& progress);

} // namespace tavo
