#include "release/delta_files.h"
#include "release/whole_file.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "editor/download/block_index.h"
#include "editor/download/block_match.h"
#include "editor/download/delta_download.h"
#include "verify/checksum.h"

#include <zlib.h>

#include <cstring>
#include <filesystem>

namespace {

// One gzip stream whose pieces each start from a full flush: any piece
// inflates on its own, the whole with gzip's own tools.
std::string CompressInPieces(const std::string& package, BlockIndex& index) {
    std::string packed;
    z_stream stream = {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, MAX_WBITS + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return packed;
    }
    std::vector<unsigned char> out(2 * IndexPieceBytes + 1024);
    const auto run = [&](const char* bytes, size_t size, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
        stream.avail_in = static_cast<uInt>(size);
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, flush);
            packed.append(reinterpret_cast<char*>(out.data()), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    };
    run(nullptr, 0, Z_BLOCK); // the gzip header, before the first piece
    index.PieceSize = IndexPieceBytes;
    index.PieceOffsets.clear();
    for (size_t at = 0; at < package.size(); at += IndexPieceBytes) {
        index.PieceOffsets.push_back(packed.size());
        const size_t size = std::min<size_t>(IndexPieceBytes, package.size() - at);
        run(package.data() + at, size, Z_FULL_FLUSH);
    }
    index.PieceOffsets.push_back(packed.size());
    run(nullptr, 0, Z_FINISH);
    deflateEnd(&stream);
    return packed;
}

// The package's index and, when it saves a tenth, its compressed copy
// (empty otherwise: the index then names no pieces); false when the package
// cannot be read.
bool IndexPackage(const std::wstring& package, BlockIndex& index, std::string& packed) {
    const UniqueHandle file = OpenPackageFile(package);
    if (file.get() == INVALID_HANDLE_VALUE || !IndexBlocks(file.get(), index)) {
        return false;
    }
    packed = CompressInPieces(ReadWhole(package), index);
    if (packed.size() >= index.PackageSize - index.PackageSize / 10) {
        // A package that compresses its files itself gains nothing from a copy.
        packed.clear();
        index.PieceSize = 0;
        index.PieceOffsets.clear();
    }
    return true;
}

// A scratch file for the blocks found, removed when closed.
UniqueHandle ScratchFile() {
    std::wstring folder(MAX_PATH + 1, L'\0');
    folder.resize(GetTempPathW(MAX_PATH + 1, folder.data()));
    std::wstring path(MAX_PATH + 1, L'\0');
    GetTempFileNameW(folder.c_str(), L"tvd", 0, path.data());
    return OwnHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

} // namespace

std::wstring WriteDeltaFiles(const std::wstring& package, tavo::PublishedFile& blocks,
                             tavo::PublishedFile& pieces) {
    BlockIndex index;
    std::string packed;
    if (!IndexPackage(package, index, packed)) {
        return L"block index: " + package + L" cannot be read";
    }
    const std::wstring copy = package + L".gz";
    pieces = {};
    if (!packed.empty() && (!WriteWhole(copy, packed) || !DescribeFile(copy, pieces))) {
        return L"compressed copy: " + copy + L" cannot be written";
    }
    if (packed.empty()) {
        DeleteFileW(copy.c_str());
    }
    const std::wstring path = package + L".blocks";
    if (!WriteWhole(path, WriteBlockIndex(index)) || !DescribeFile(path, blocks)) {
        return L"block index: " + path + L" cannot be written";
    }
    return std::wstring();
}

std::wstring CheckDeltaFiles(const std::wstring& package, const tavo::PublishedFile& blocks,
                             const tavo::PublishedFile& pieces) {
    tavo::PublishedFile found;
    BlockIndex index;
    const std::wstring path = package + L".blocks";
    if (!DescribeFile(path, found) || found.Size != blocks.Size ||
        !EqualsIgnoringAsciiCase(found.Sha256, blocks.Sha256)) {
        return path + L": not the size and SHA-256 the feed names";
    }
    const std::wstring parsed = ParseBlockIndex(ReadWhole(path), index);
    BlockIndex actual;
    const UniqueHandle file = OpenPackageFile(package);
    if (!parsed.empty() || !IndexBlocks(file.get(), actual) ||
        actual.PackageSha256 != index.PackageSha256 ||
        actual.Blocks.size() != index.Blocks.size() ||
        !std::equal(actual.Blocks.begin(), actual.Blocks.end(), index.Blocks.begin(),
                    [](const BlockSums& a, const BlockSums& b) {
                        return a.Rolling == b.Rolling && a.Strong == b.Strong;
                    })) {
        return path + L": not the index of " + package;
    }
    if (pieces.Url.empty()) {
        return std::wstring();
    }
    const std::wstring copy = package + L".gz";
    if (!DescribeFile(copy, found) || found.Size != pieces.Size ||
        !EqualsIgnoringAsciiCase(found.Sha256, pieces.Sha256) || index.PieceSize == 0) {
        return copy + L": not the size and SHA-256 the feed names, or not in the index";
    }
    const std::string packed = ReadWhole(copy);
    const std::string bytes = ReadWhole(package);
    std::vector<unsigned char> piece;
    for (size_t at = 0; at + 1 < index.PieceOffsets.size(); ++at) {
        const std::uint64_t from = index.PieceOffsets[at], to = index.PieceOffsets[at + 1];
        const size_t start = at * index.PieceSize;
        const size_t size = std::min<size_t>(index.PieceSize, bytes.size() - start);
        if (to > packed.size() || !InflatePiece(packed.substr(from, to - from), piece, size) ||
            std::memcmp(piece.data(), bytes.data() + start, size) != 0) {
            return copy + L": piece " + std::to_wstring(at) + L" is not the package's bytes";
        }
    }
    return std::wstring();
}

bool MeasureDelta(const std::wstring& package, const std::wstring& previous, std::uint64_t& fetched,
                  std::uint64_t& size) {
    BlockIndex index;
    std::string packed;
    if (!IndexPackage(package, index, packed)) {
        return false;
    }
    BlockLookup lookup;
    StartLookup(index, lookup);
    const UniqueHandle scratch = ScratchFile();
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(index.PackageSize);
    if (scratch.get() == INVALID_HANDLE_VALUE ||
        !SetFilePointerEx(scratch.get(), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(scratch.get())) {
        return false;
    }
    std::error_code error;
    const std::vector<std::wstring> bases = std::filesystem::is_directory(previous, error)
                                                ? tavo::InstalledFiles(previous)
                                                : std::vector<std::wstring>{previous};
    for (const std::wstring& base : bases) {
        FindBlocksIn(lookup, base, scratch.get(), std::stop_token());
    }
    fetched = WriteBlockIndex(index).size();
    for (const ByteRange& range : PlanRanges(lookup)) {
        fetched += range.To - range.From;
    }
    size = index.PackageSize;
    return true;
}
