#include "editor/download/delta_download.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "editor/download/block_match.h"
#include "editor/download/download_decisions.h"
#include "editor/download/download_failure.h"
#include "editor/download/https_get.h"
#include "verify/checksum.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

namespace tavo {

namespace {

constexpr size_t InstalledFilesLimit = 4000;

struct Delta {
    Delta(const PackageOffer& offer, const DownloadOptions& options)
        : Offer(offer), Options(options) {}
    const PackageOffer& Offer;
    const DownloadOptions& Options;
    BlockIndex Index;
    BlockLookup Lookup;
    HANDLE Partial = INVALID_HANDLE_VALUE;
    std::uint64_t Fetched = 0, Planned = 0;
    ULONGLONG Started = GetTickCount64(), Reported = 0;
    std::wstring FallBack; // why the whole package is to be fetched
    bool Told = false;     // progress is told once the fetch's size is known
};

void Report(Delta& delta, bool now) {
    const ULONGLONG tick = GetTickCount64();
    if (delta.Options.OnProgress && delta.Told &&
        (now || tick - delta.Reported >= ProgressEveryMs)) {
        delta.Reported = tick;
        const double seconds = static_cast<double>(tick - delta.Started + 1) / 1000;
        delta.Options.OnProgress(
            {delta.Fetched, delta.Planned, static_cast<double>(delta.Fetched) / seconds});
    }
}

// One GET of [range.From, range.To) of a file of `total` bytes: the whole
// file without a Range header when the range is all of it, else a 206 of
// exactly that range. The body goes to `take` as it comes; a `take` that
// answers false has set the fall-back's reason. A failure, or nothing.
std::optional<PackageDownload> Fetch(Delta& delta, const std::wstring& url, ByteRange range,
                                     std::uint64_t total,
                                     const std::function<bool(const char*, DWORD)>& take) {
    const bool whole = range.From == 0 && range.To == total;
    const std::wstring last = std::to_wstring(range.To - 1);
    const std::wstring header =
        whole ? L"" : L"Range: bytes=" + std::to_wstring(range.From) + L"-" + last + L"\r\n";
    HttpsGet get;
    HttpsAnswer answer;
    const DWORD sent =
        SendHttpsGet(url, header, delta.Options.StallLimitMs, delta.Options.Stop, get, answer);
    if (delta.Options.Stop.stop_requested()) {
        return Fail(DownloadCode::Stopped, L"", true);
    }
    if (sent != ERROR_SUCCESS) {
        return NetworkFailure(sent, L"asking for " + url);
    }
    const std::wstring expected =
        L"bytes " + std::to_wstring(range.From) + L"-" + last + L"/" + std::to_wstring(total);
    const bool right = whole ? answer.Status == 200 && answer.ContentLength == total
                             : answer.Status == 206 && answer.ContentRange == expected;
    if (!right) {
        delta.FallBack = url + L" answered " + std::to_wstring(answer.Status) +
                         (whole ? L"" : L" to a Range request") + L", not the bytes asked for";
        return std::nullopt;
    }
    std::vector<char> buffer(ReadChunkBytes);
    for (std::uint64_t left = range.To - range.From;;) {
        DWORD read = 0;
        const DWORD error = ReadHttpsBody(get, buffer.data(), ReadChunkBytes, read);
        if (delta.Options.Stop.stop_requested()) {
            return Fail(DownloadCode::Stopped, L"", true);
        }
        if (error != ERROR_SUCCESS) {
            return NetworkFailure(error, L"reading " + url);
        }
        if (read > left) {
            delta.FallBack = url + L" sends more than the range asked for";
            return std::nullopt;
        }
        if (read == 0) {
            return left == 0 ? std::nullopt
                             : std::optional(Fail(DownloadCode::NetworkFailed,
                                                  L"the connection ended in " + url, true));
        }
        left -= read;
        delta.Fetched += read;
        if (!take(buffer.data(), read)) {
            return std::nullopt;
        }
        Report(delta, false);
    }
}

// The index, checked against the signed feed and the offer.
std::optional<PackageDownload> FetchIndex(Delta& delta) {
    const PublishedFile& blocks = delta.Offer.Blocks;
    if (blocks.Size == 0 || blocks.Size > (64u << 20) || !IsChecksumText(blocks.Sha256)) {
        delta.FallBack = L"the block index's size or SHA-256 is not given";
        return std::nullopt;
    }
    std::string bytes;
    StreamHash hash;
    StartHash(hash);
    delta.Planned = blocks.Size;
    std::optional<PackageDownload> failed =
        Fetch(delta, blocks.Url, {0, blocks.Size}, blocks.Size, [&](const char* data, DWORD size) {
            bytes.append(data, size);
            return AddToHash(hash, data, size);
        });
    if (failed || !delta.FallBack.empty()) {
        return failed;
    }
    const std::wstring parsed = EqualsIgnoringAsciiCase(FinishHash(hash), blocks.Sha256)
                                    ? ParseBlockIndex(bytes, delta.Index)
                                    : L"its SHA-256 is not the feed's";
    const std::array<unsigned char, 32> sha256 = delta.Index.PackageSha256;
    const bool pieces = !delta.Offer.Pieces.Url.empty();
    if (!parsed.empty()) {
        delta.FallBack = L"block index: " + parsed;
    } else if (delta.Index.PackageSize != delta.Offer.Size ||
               !EqualsIgnoringAsciiCase(FormatDigest(sha256), delta.Offer.Sha256)) {
        delta.FallBack = L"block index: of another package";
    } else if (pieces && (delta.Index.PieceSize == 0 ||
                          delta.Index.PieceOffsets.back() > delta.Offer.Pieces.Size)) {
        delta.FallBack = L"block index: its pieces are not the feed's compressed copy";
    }
    if (!pieces) {
        delta.Index.PieceSize = 0;
        delta.Index.PieceOffsets.clear();
    }
    return std::nullopt;
}

// Places the missing blocks of one piece of the compressed copy; false
// (with the reason) when it does not hold the index's bytes.
bool PlacePiece(Delta& delta, size_t piece, const std::string& packed) {
    const BlockIndex& index = delta.Index;
    const size_t perPiece = index.PieceSize / index.BlockSize;
    const size_t first = piece * perPiece;
    const size_t last = std::min(first + perPiece, index.Blocks.size());
    if (std::all_of(delta.Lookup.Have.begin() + first, delta.Lookup.Have.begin() + last,
                    [](bool have) { return have; })) {
        return true;
    }
    const std::uint64_t from = static_cast<std::uint64_t>(first) * index.BlockSize;
    const std::uint64_t size = std::min<std::uint64_t>(index.PieceSize, index.PackageSize - from);
    std::vector<unsigned char> bytes;
    bool whole = InflatePiece(packed, bytes, static_cast<size_t>(size));
    for (size_t block = first; whole && block < last; ++block) {
        const unsigned char* at = bytes.data() + (block - first) * index.BlockSize;
        whole = delta.Lookup.Have[block] || IsBlock(delta.Lookup, block, at);
        if (whole && !PlaceBlock(delta.Lookup, delta.Partial, block, at)) {
            delta.FallBack = L"the partial file cannot be written";
            return false;
        }
    }
    if (!whole) {
        delta.FallBack = L"piece " + std::to_wstring(piece) + L" does not hold the index's blocks";
    }
    return whole;
}

// Fetches one range of the compressed copy and places its pieces.
std::optional<PackageDownload> FetchPieces(Delta& delta, ByteRange range) {
    const std::vector<std::uint64_t>& offsets = delta.Index.PieceOffsets;
    size_t piece = static_cast<size_t>(
        std::lower_bound(offsets.begin(), offsets.end(), range.From) - offsets.begin());
    std::string packed;
    return Fetch(delta, delta.Offer.Pieces.Url, range, delta.Offer.Pieces.Size,
                 [&](const char* data, DWORD size) {
                     for (DWORD used = 0; used < size;) {
                         const size_t want = offsets[piece + 1] - offsets[piece] - packed.size();
                         const size_t take = std::min<size_t>(want, size - used);
                         packed.append(data + used, take);
                         used += static_cast<DWORD>(take);
                         if (take == want) {
                             if (!PlacePiece(delta, piece++, packed)) {
                                 return false;
                             }
                             packed.clear();
                         }
                     }
                     return true;
                 });
}

// Fetches one range of the package itself and places its blocks.
std::optional<PackageDownload> FetchBlocks(Delta& delta, ByteRange range) {
    size_t block = static_cast<size_t>(range.From / delta.Index.BlockSize);
    std::vector<unsigned char> bytes;
    bytes.reserve(delta.Index.BlockSize);
    return Fetch(
        delta, delta.Offer.Url, range, delta.Offer.Size, [&](const char* data, DWORD size) {
            for (DWORD used = 0; used < size;) {
                const size_t want = BlockLength(delta.Index, block) - bytes.size();
                const size_t take = std::min<size_t>(want, size - used);
                bytes.insert(bytes.end(), data + used, data + used + take);
                used += static_cast<DWORD>(take);
                if (take < want) {
                    continue;
                }
                if (!delta.Lookup.Have[block] && !IsBlock(delta.Lookup, block, bytes.data())) {
                    delta.FallBack = L"block " + std::to_wstring(block) + L" is not the index's";
                    return false;
                }
                if (!PlaceBlock(delta.Lookup, delta.Partial, block++, bytes.data())) {
                    delta.FallBack = L"the partial file cannot be written";
                    return false;
                }
                bytes.clear();
            }
            return true;
        });
}

DeltaResult Ended(DeltaEnd end, std::wstring detail, PackageDownload failure = {}) {
    return {end, std::move(detail), std::move(failure)};
}

} // namespace

std::vector<std::wstring> InstalledFiles(const std::wstring& folder) {
    std::vector<std::wstring> files;
    std::error_code error;
    // A link in the folder is not followed: what it names is not the editor's.
    auto entry = std::filesystem::recursive_directory_iterator(
        folder, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && entry != std::filesystem::recursive_directory_iterator() &&
           files.size() < InstalledFilesLimit;
         entry.increment(error)) {
        if (entry->is_symlink(error) || entry->is_other(error)) {
            entry.disable_recursion_pending();
        } else if (entry->is_regular_file(error)) {
            files.push_back(entry->path().wstring());
        }
    }
    return files;
}

std::vector<std::wstring> BaseFiles(const DownloadOptions& options) {
    std::vector<std::wstring> files;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(options.Folder + L"\\base", error)) {
        if (entry.is_regular_file(error)) {
            files.push_back(entry.path().wstring());
        }
    }
    std::wstring installed = options.InstalledFolder;
    if (installed.empty()) {
        std::wstring self(32768, L'\0');
        self.resize(GetModuleFileNameW(nullptr, self.data(), 32768));
        installed = ParentFolder(self);
    }
    const std::vector<std::wstring> own = InstalledFiles(installed);
    files.insert(files.end(), own.begin(), own.end());
    return files;
}

DeltaResult BuildFromBase(const PackageOffer& offer, const DownloadOptions& options,
                          const std::wstring& partialPath, const std::wstring& recordPath,
                          const std::vector<std::wstring>& bases) {
    Delta delta(offer, options);
    UniqueHandle partial = OwnHandle(nullptr);
    const auto fallBack = [&](const std::wstring& why) {
        if (partial) {
            partial.reset();
            DeleteFileW(partialPath.c_str());
        }
        return Ended(DeltaEnd::FallBack, why);
    };
    std::optional<PackageDownload> failed = FetchIndex(delta);
    if (failed) {
        return Ended(DeltaEnd::Failed, L"", *failed);
    }
    if (!delta.FallBack.empty()) {
        return fallBack(delta.FallBack);
    }
    // What an earlier attempt placed stays where it is and is checked again.
    DeleteFileW(recordPath.c_str());
    partial =
        OwnHandle(CreateFileW(partialPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (partial.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(partial.get(), &size)) {
        return Ended(DeltaEnd::Failed, L"",
                     Fail(DownloadCode::FileFailed,
                          WindowsError(GetLastError()) + L" starting " + partialPath));
    }
    StartLookup(delta.Index, delta.Lookup);
    delta.Partial = partial.get();
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(offer.Size);
    // A new file holds nothing to check.
    if ((size.QuadPart != end.QuadPart &&
         (!SetFilePointerEx(partial.get(), end, nullptr, FILE_BEGIN) ||
          !SetEndOfFile(partial.get()))) ||
        (size.QuadPart != 0 && !FindBlocksInPlace(delta.Lookup, partial.get()))) {
        return Ended(DeltaEnd::Failed, L"",
                     Fail(DownloadCode::FileFailed,
                          WindowsError(GetLastError()) + L" starting " + partialPath));
    }
    // An editor at a drive's root would offer the whole drive: what is read
    // is bounded by the package's size.
    std::uint64_t budget = std::max<std::uint64_t>(4 * offer.Size, 256ull << 20);
    for (const std::wstring& base : bases) {
        std::error_code error;
        const std::uint64_t bytes = std::filesystem::file_size(base, error);
        if (delta.Lookup.Missing == 0 || error || bytes > budget) {
            continue;
        }
        budget -= bytes;
        if (!FindBlocksIn(delta.Lookup, base, partial.get(), options.Stop)) {
            return Ended(DeltaEnd::Failed, L"",
                         Fail(DownloadCode::FileFailed, L"writing " + partialPath));
        }
        if (options.Stop.stop_requested()) {
            return Ended(DeltaEnd::Failed, L"", Fail(DownloadCode::Stopped, L"", true));
        }
    }
    const std::vector<ByteRange> ranges = PlanRanges(delta.Lookup);
    for (const ByteRange& range : ranges) {
        delta.Planned += range.To - range.From;
    }
    const std::wstring plan =
        std::to_wstring(delta.Planned) + L" of " + std::to_wstring(offer.Size) + L" bytes";
    if (!IsWorthBuilding(delta.Planned, offer.Size)) {
        return fallBack(L"building it would fetch " + plan + L", more than half");
    }
    delta.Told = true;
    Report(delta, true);
    for (const ByteRange& range : ranges) {
        failed = delta.Index.PieceSize != 0 ? FetchPieces(delta, range) : FetchBlocks(delta, range);
        if (failed) {
            return Ended(DeltaEnd::Failed, L"", *failed);
        }
        if (!delta.FallBack.empty()) {
            return fallBack(delta.FallBack);
        }
    }
    if (delta.Lookup.Missing != 0) {
        return fallBack(L"blocks are missing after every range came");
    }
    Report(delta, true);
    return Ended(DeltaEnd::Built, L"built from what the machine has, fetching " + plan);
}

} // namespace tavo
