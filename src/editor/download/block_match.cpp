#include "editor/download/block_match.h"

#include "base/handle_owner.h"

#include <algorithm>
#include <cstring>

namespace {

using SumIterator = std::vector<std::pair<std::uint32_t, std::uint32_t>>::const_iterator;

// Fetching a gap this small costs less than another request.
constexpr std::uint64_t MergeGapBytes = 16 << 10;
constexpr size_t ScanBufferBytes = 1 << 20;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

bool WriteAt(HANDLE file, std::uint64_t offset, const unsigned char* bytes, DWORD size) {
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, &at) && written == size;
}

// The blocks with this rolling sum.
std::pair<SumIterator, SumIterator> WithSum(const BlockLookup& lookup, std::uint32_t sum) {
    return std::equal_range(lookup.BySum.begin(), lookup.BySum.end(),
                            std::make_pair(sum, std::uint32_t{0}),
                            [](const auto& a, const auto& b) { return a.first < b.first; });
}

constexpr std::uint32_t SumBits = 20;

std::uint32_t SumSlot(std::uint32_t sum) {
    return (sum * 2654435761u) >> (32 - SumBits);
}

// Whether a missing block has this sum: then the window is worth hashing.
bool WantsSum(const BlockLookup& lookup, std::uint32_t sum) {
    if (!lookup.Sums[SumSlot(sum)]) {
        return false;
    }
    const auto [first, last] = WithSum(lookup, sum);
    return std::any_of(first, last, [&](const auto& block) { return !lookup.Have[block.second]; });
}

// Places every missing whole block whose bytes these are; whether any was.
bool PlaceMatches(BlockLookup& lookup, HANDLE partial, std::uint32_t sum,
                  const unsigned char* bytes, bool& failed) {
    const std::uint32_t size = lookup.Index->BlockSize;
    unsigned char digest[32] = {};
    if (!DigestOf(lookup.Hasher, bytes, size, digest)) {
        return false;
    }
    bool placed = false;
    const auto [first, last] = WithSum(lookup, sum);
    for (auto at = first; at != last; ++at) {
        const size_t block = at->second;
        if (!lookup.Have[block] &&
            std::memcmp(digest, lookup.Index->Blocks[block].Strong.data(), 16) == 0) {
            failed = failed || !PlaceBlock(lookup, partial, block, bytes);
            placed = true;
        }
    }
    return placed;
}

} // namespace

void StartLookup(const BlockIndex& index, BlockLookup& lookup) {
    lookup.Index = &index;
    lookup.Have.assign(index.Blocks.size(), false);
    lookup.Missing = index.Blocks.size();
    lookup.BySum.clear();
    lookup.Sums.assign(size_t{1} << SumBits, false);
    for (size_t block = 0; block < index.Blocks.size(); ++block) {
        // A short last block is never found at an offset: it is fetched.
        if (BlockLength(index, block) == index.BlockSize) {
            lookup.BySum.emplace_back(index.Blocks[block].Rolling,
                                      static_cast<std::uint32_t>(block));
            lookup.Sums[SumSlot(index.Blocks[block].Rolling)] = true;
        }
    }
    std::sort(lookup.BySum.begin(), lookup.BySum.end());
}

bool IsBlock(BlockLookup& lookup, size_t block, const unsigned char* bytes) {
    unsigned char digest[32] = {};
    return DigestOf(lookup.Hasher, bytes, BlockLength(*lookup.Index, block), digest) &&
           std::memcmp(digest, lookup.Index->Blocks[block].Strong.data(), 16) == 0;
}

bool PlaceBlock(BlockLookup& lookup, HANDLE partial, size_t block, const unsigned char* bytes) {
    if (lookup.Have[block]) {
        return true;
    }
    const std::uint64_t offset = static_cast<std::uint64_t>(block) * lookup.Index->BlockSize;
    if (!WriteAt(partial, offset, bytes, BlockLength(*lookup.Index, block))) {
        return false;
    }
    lookup.Have[block] = true;
    --lookup.Missing;
    return true;
}

bool FindBlocksInPlace(BlockLookup& lookup, HANDLE partial) {
    std::vector<unsigned char> bytes(lookup.Index->BlockSize);
    for (size_t block = 0; block < lookup.Have.size(); ++block) {
        OVERLAPPED at = At(static_cast<std::uint64_t>(block) * lookup.Index->BlockSize);
        DWORD read = 0;
        const DWORD length = BlockLength(*lookup.Index, block);
        if (!ReadFile(partial, bytes.data(), length, &read, &at) || read != length) {
            return false;
        }
        if (!lookup.Have[block] && IsBlock(lookup, block, bytes.data())) {
            lookup.Have[block] = true;
            --lookup.Missing;
        }
    }
    return true;
}

bool FindBlocksIn(BlockLookup& lookup, const std::wstring& path, HANDLE partial,
                  const std::stop_token& stop) {
    const UniqueHandle file = OwnHandle(CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return true;
    }
    const std::uint32_t size = lookup.Index->BlockSize;
    std::vector<unsigned char> buffer(ScanBufferBytes + size);
    size_t start = 0, filled = 0;
    bool ended = false, failed = false, summed = false;
    std::uint32_t sum = 0;
    while (lookup.Missing > 0 && !failed && !stop.stop_requested()) {
        // One byte beyond the window, to roll on to the next offset.
        if (filled - start <= size && !ended) {
            std::memmove(buffer.data(), buffer.data() + start, filled - start);
            filled -= start;
            start = 0;
            DWORD read = 0;
            if (!ReadFile(file.get(), buffer.data() + filled,
                          static_cast<DWORD>(buffer.size() - filled), &read, nullptr)) {
                return true;
            }
            filled += read;
            ended = read == 0;
            continue;
        }
        if (filled - start < size) {
            break;
        }
        if (!summed) {
            sum = RollingSum(buffer.data() + start, size);
            summed = true;
        }
        if (WantsSum(lookup, sum) &&
            PlaceMatches(lookup, partial, sum, buffer.data() + start, failed)) {
            start += size;
            summed = false;
        } else if (filled - start > size) {
            sum = RollOn(sum, buffer[start], buffer[start + size], size);
            ++start;
        } else {
            break;
        }
    }
    return !failed;
}

std::vector<ByteRange> PlanRanges(const BlockLookup& lookup) {
    const BlockIndex& index = *lookup.Index;
    const bool pieces = index.PieceSize != 0;
    const size_t perPiece = pieces ? index.PieceSize / index.BlockSize : 1;
    std::vector<ByteRange> ranges;
    for (size_t block = 0; block < lookup.Have.size(); block += perPiece) {
        const size_t last = std::min(block + perPiece, lookup.Have.size());
        if (std::all_of(lookup.Have.begin() + block, lookup.Have.begin() + last,
                        [](bool have) { return have; })) {
            continue;
        }
        ByteRange range;
        if (pieces) {
            range = {index.PieceOffsets[block / perPiece],
                     index.PieceOffsets[block / perPiece + 1]};
        } else {
            range.From = static_cast<std::uint64_t>(block) * index.BlockSize;
            range.To = range.From + BlockLength(index, block);
        }
        if (!ranges.empty() && range.From - ranges.back().To < MergeGapBytes) {
            ranges.back().To = range.To;
        } else {
            ranges.push_back(range);
        }
    }
    return ranges;
}
