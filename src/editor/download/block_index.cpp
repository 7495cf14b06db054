#include "editor/download/block_index.h"

#include "editor/download/stream_hash.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr char Magic[8] = {'T', 'A', 'V', 'O', 'B', 'L', 'K', '1'};
constexpr size_t HeadBytes = 8 + 4 + 4 + 8 + 32;
constexpr size_t SumsBytes = 4 + 16;
// A piece that compresses badly still takes little more than its own size.
constexpr std::uint64_t PieceSlackBytes = 1024;

template <typename Number> Number Read(const std::string& bytes, size_t at) {
    Number value = 0;
    for (size_t byte = 0; byte < sizeof(Number); ++byte) {
        value |= static_cast<Number>(static_cast<unsigned char>(bytes[at + byte])) << (8 * byte);
    }
    return value;
}

template <typename Number> void Write(std::string& bytes, Number value) {
    for (size_t byte = 0; byte < sizeof(Number); ++byte) {
        bytes.push_back(static_cast<char>((value >> (8 * byte)) & 0xFF));
    }
}

} // namespace

std::uint32_t RollingSum(const unsigned char* bytes, std::uint32_t size) {
    std::uint32_t a = 0, b = 0;
    for (std::uint32_t at = 0; at < size; ++at) {
        a += bytes[at];
        b += (size - at) * bytes[at];
    }
    return (a & 0xFFFF) | ((b & 0xFFFF) << 16);
}

std::wstring ParseBlockIndex(const std::string& bytes, BlockIndex& index) {
    if (bytes.size() < HeadBytes || std::memcmp(bytes.data(), Magic, 8) != 0) {
        return L"not a block index";
    }
    index.BlockSize = Read<std::uint32_t>(bytes, 8);
    index.PieceSize = Read<std::uint32_t>(bytes, 12);
    index.PackageSize = Read<std::uint64_t>(bytes, 16);
    std::memcpy(index.PackageSha256.data(), bytes.data() + 24, 32);
    if (index.BlockSize < 1024 || index.BlockSize > (1u << 20) ||
        (index.BlockSize & (index.BlockSize - 1)) != 0 || index.PackageSize == 0 ||
        index.PackageSize > (2ull << 30) ||
        (index.PieceSize != 0 &&
         (index.PieceSize % index.BlockSize != 0 || index.PieceSize > (1u << 20)))) {
        return L"block or piece size, or package size, out of bounds";
    }
    const std::uint64_t blocks = (index.PackageSize + index.BlockSize - 1) / index.BlockSize;
    const std::uint64_t pieces =
        index.PieceSize == 0 ? 0 : (index.PackageSize + index.PieceSize - 1) / index.PieceSize + 1;
    if (bytes.size() != HeadBytes + pieces * 8 + blocks * SumsBytes) {
        return L"its length is not what its sizes promise";
    }
    index.PieceOffsets.clear();
    for (std::uint64_t piece = 0; piece < pieces; ++piece) {
        index.PieceOffsets.push_back(Read<std::uint64_t>(bytes, HeadBytes + piece * 8));
        const std::uint64_t at = index.PieceOffsets.back();
        if (piece > 0 && (at <= index.PieceOffsets[piece - 1] ||
                          at - index.PieceOffsets[piece - 1] > index.PieceSize + PieceSlackBytes)) {
            return L"piece " + std::to_wstring(piece - 1) + L": out of bounds";
        }
    }
    index.Blocks.assign(blocks, BlockSums());
    for (std::uint64_t block = 0; block < blocks; ++block) {
        const size_t at = HeadBytes + pieces * 8 + block * SumsBytes;
        index.Blocks[block].Rolling = Read<std::uint32_t>(bytes, at);
        std::memcpy(index.Blocks[block].Strong.data(), bytes.data() + at + 4, 16);
    }
    return std::wstring();
}

std::string WriteBlockIndex(const BlockIndex& index) {
    std::string bytes(Magic, 8);
    Write(bytes, index.BlockSize);
    Write(bytes, index.PieceSize);
    Write(bytes, index.PackageSize);
    bytes.append(reinterpret_cast<const char*>(index.PackageSha256.data()), 32);
    for (const std::uint64_t offset : index.PieceOffsets) {
        Write(bytes, offset);
    }
    for (const BlockSums& block : index.Blocks) {
        Write(bytes, block.Rolling);
        bytes.append(reinterpret_cast<const char*>(block.Strong.data()), 16);
    }
    return bytes;
}

bool IndexBlocks(HANDLE file, BlockIndex& index) {
    StreamHash whole, each;
    std::vector<unsigned char> block(index.BlockSize);
    LARGE_INTEGER size = {};
    if (!StartHash(whole) || !GetFileSizeEx(file, &size) || size.QuadPart == 0) {
        return false;
    }
    index.PackageSize = static_cast<std::uint64_t>(size.QuadPart);
    index.Blocks.clear();
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    for (std::uint64_t at = 0; at < index.PackageSize; at += index.BlockSize) {
        const std::uint32_t length = BlockLength(index, index.Blocks.size());
        DWORD read = 0;
        unsigned char digest[32] = {};
        if (!ReadFile(file, block.data(), length, &read, nullptr) || read != length ||
            !AddToHash(whole, block.data(), length) ||
            !DigestOf(each, block.data(), length, digest)) {
            return false;
        }
        BlockSums& sums = index.Blocks.emplace_back();
        sums.Rolling = RollingSum(block.data(), length);
        std::memcpy(sums.Strong.data(), digest, 16);
    }
    const std::wstring hex = FinishHash(whole);
    for (size_t byte = 0; byte < 32 && hex.size() == 64; ++byte) {
        index.PackageSha256[byte] =
            static_cast<unsigned char>(std::wcstoul(hex.substr(byte * 2, 2).c_str(), nullptr, 16));
    }
    return hex.size() == 64;
}

bool InflatePiece(const std::string& packed, std::vector<unsigned char>& bytes, size_t size) {
    // One byte more than promised shows a piece that gives more.
    bytes.assign(size + 1, 0);
    z_stream stream = {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = bytes.data();
    stream.avail_out = static_cast<uInt>(bytes.size());
    const int inflated = inflate(&stream, Z_SYNC_FLUSH);
    const bool whole = (inflated == Z_OK || inflated == Z_STREAM_END) && stream.avail_in == 0 &&
                       stream.total_out == size;
    inflateEnd(&stream);
    return whole;
}
