#pragma once

// Building a package from what the machine already has: the package kept
// after the last good update and the running editor's files, read only.
// The offer's block index says which blocks to look for; what is not found
// is fetched by Range requests, from the compressed copy's pieces when
// there is one. Every block lands only after its strong hash matched; the
// whole package's SHA-256 is checked afterwards, as for a full download.

#include "tavo/editor_update.h"

namespace tavo {

enum class DeltaEnd {
    Built,    // every block of the package is in the partial file
    FallBack, // the whole package is to be fetched; the partial file is gone
    Failed,   // as Failure says (a stop, the network): the partial file stays
};

struct DeltaResult {
    DeltaEnd End = DeltaEnd::FallBack;
    std::wstring Detail;     // what was fetched, or why it fell back
    PackageDownload Failure; // with Failed
};

// Whether a build that fetches `planned` bytes (the index included) beats
// fetching the whole package of `size` bytes: at most half of it.
inline bool IsWorthBuilding(std::uint64_t planned, std::uint64_t size) {
    return planned <= size / 2;
}

// The regular files of an installed folder and its folders below, no link
// followed, their number bounded.
std::vector<std::wstring> InstalledFiles(const std::wstring& folder);

// The files whose blocks may be the package's: the kept package first, then
// the installed folder's files.
std::vector<std::wstring> BaseFiles(const DownloadOptions& options);

// Builds the offer's package at `partialPath` from `bases` and ranges. Once
// the index is good, the partial file is the build's: the record of a whole
// fetch (`recordPath`) goes, and what its bytes hold is checked in place.
DeltaResult BuildFromBase(const PackageOffer& offer, const DownloadOptions& options,
                          const std::wstring& partialPath, const std::wstring& recordPath,
                          const std::vector<std::wstring>& bases);

} // namespace tavo
