#pragma once

#include "tavo/editor_update.h"

// Downloads the offer into the folder on a thread of its own while this
// thread shows a window with a progress bar, the megabytes so far and the time
// left, and a Stop button; the window closes when the download ends.
tavo::PackageDownload DownloadWithProgressWindow(const tavo::PackageOffer& offer,
                                                 const std::wstring& folder);
