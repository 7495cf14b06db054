#pragma once

// The stock windows as the updater ends: each one open on a thread is
// answered as the user's Later / Stop / No would answer it.

#include <windows.h>

namespace tavo {

// Posts the answer to every stock window of the thread (0: none).
void CloseStockWindows(DWORD thread);

} // namespace tavo
