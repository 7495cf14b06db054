#pragma once

// What the release tool publishes beside a package so that an editor can
// build the package from what it has: the block index, <package>.blocks,
// and for a package that stores its files raw a compressed copy,
// <package>.gz, in independent pieces.

#include "tavo/editor_update.h"

#include <string>

// Writes the index (and the copy, when it saves a tenth or more) beside the
// package; their sizes and SHA-256 (URLs empty) in `blocks` and `pieces`.
// Empty, or what failed.
std::wstring WriteDeltaFiles(const std::wstring& package, tavo::PublishedFile& blocks,
                             tavo::PublishedFile& pieces);

// Empty when the index (and the copy, when the feed names one) beside the
// package are the package's and the feed's; otherwise what is wrong.
std::wstring CheckDeltaFiles(const std::wstring& package, const tavo::PublishedFile& blocks,
                             const tavo::PublishedFile& pieces);

// How many bytes an editor that has `previous` (a package, or an installed
// folder) fetches to build `package`, the index counted in; false when
// either cannot be read.
bool MeasureDelta(const std::wstring& package, const std::wstring& previous, std::uint64_t& fetched,
                  std::uint64_t& size);
