#pragma once

// Finding a package's blocks in files the machine already has: at any
// offset of a file (the rolling sum says where to look, the strong hash
// decides), or in place in a partial file of an earlier attempt. A block
// found is written into the partial file at once; nothing else is.

#include "editor/download/block_index.h"
#include "editor/download/stream_hash.h"

#include <stop_token>
#include <utility>
#include <vector>

// The index's blocks by rolling sum, for the search.
struct BlockLookup {
    const BlockIndex* Index = nullptr;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> BySum; // sum, block
    std::vector<bool> Sums; // a quick "no" for most offsets: the sums' bits
    std::vector<bool> Have; // on disk, checked
    std::uint64_t Missing = 0;
    StreamHash Hasher;
};

void StartLookup(const BlockIndex& index, BlockLookup& lookup);

// Whether `bytes` are the block's own, by its strong hash.
bool IsBlock(BlockLookup& lookup, size_t block, const unsigned char* bytes);

// Writes a checked block into the partial file and counts it; false when
// the write fails.
bool PlaceBlock(BlockLookup& lookup, HANDLE partial, size_t block, const unsigned char* bytes);

// The blocks already in place in the partial file. False when it cannot be
// read.
bool FindBlocksInPlace(BlockLookup& lookup, HANDLE partial);

// The blocks found anywhere in the file at `path`, opened for reading only,
// written into the partial file. False when the partial file cannot be
// written; a base file that cannot be read gives nothing.
bool FindBlocksIn(BlockLookup& lookup, const std::wstring& path, HANDLE partial,
                  const std::stop_token& stop);

// A byte range [From, To) of the package, or of its compressed copy.
struct ByteRange {
    std::uint64_t From = 0, To = 0;
};

// The ranges that hold the missing blocks: pieces of the compressed copy
// when there is one, else the package's own bytes; neighbours closer than a
// request's cost merged.
std::vector<ByteRange> PlanRanges(const BlockLookup& lookup);
