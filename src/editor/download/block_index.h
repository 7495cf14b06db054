#pragma once

// A package's block index, <package>.blocks, as the release tool writes it
// and the download reads it: the package cut into blocks, each with a
// rolling sum (to find it at any offset of a file the machine has) and a
// strong hash (to trust what was found), and where each piece of the
// package's compressed copy, <package>.gz, begins.
//
// The file, little-endian: "TAVOBLK1"; block size (u32); piece size (u32,
// 0 without a compressed copy); package size (u64); package SHA-256 (32
// bytes); piece count + 1 offsets into the copy (u64 each, the last its
// end); per block its rolling sum (u32) and the first 16 bytes of its
// SHA-256.

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::uint32_t IndexBlockBytes = 4096;
inline constexpr std::uint32_t IndexPieceBytes = 16384;

struct BlockSums {
    std::uint32_t Rolling = 0;
    std::array<unsigned char, 16> Strong = {};
};

struct BlockIndex {
    std::uint32_t BlockSize = IndexBlockBytes;
    std::uint32_t PieceSize = 0; // 0: no compressed copy
    std::uint64_t PackageSize = 0;
    std::array<unsigned char, 32> PackageSha256 = {};
    std::vector<std::uint64_t> PieceOffsets; // piece count + 1, into the copy
    std::vector<BlockSums> Blocks;
};

// The block's bytes, counted from `at`; the last block may be short.
inline std::uint32_t BlockLength(const BlockIndex& index, size_t block) {
    const std::uint64_t from = static_cast<std::uint64_t>(block) * index.BlockSize;
    const std::uint64_t left = index.PackageSize - from;
    return static_cast<std::uint32_t>(left < index.BlockSize ? left : index.BlockSize);
}

// The sum of a window of bytes that slides one byte at a time at little
// cost: rsync's two 16-bit sums.
std::uint32_t RollingSum(const unsigned char* bytes, std::uint32_t size);
inline std::uint32_t RollOn(std::uint32_t sum, unsigned char out, unsigned char in,
                            std::uint32_t size) {
    const std::uint32_t a = ((sum & 0xFFFF) - out + in) & 0xFFFF;
    const std::uint32_t b = ((sum >> 16) - size * out + a) & 0xFFFF;
    return a | (b << 16);
}

// Empty when the bytes are a whole index with the sizes it promises;
// otherwise what is wrong with it.
std::wstring ParseBlockIndex(const std::string& bytes, BlockIndex& index);
std::string WriteBlockIndex(const BlockIndex& index);

// One piece of the compressed copy, inflated on its own into `bytes`:
// false unless it gives exactly `size` bytes from all of `packed`.
bool InflatePiece(const std::string& packed, std::vector<unsigned char>& bytes, size_t size);

// The blocks of the file's first `size` bytes, its size and SHA-256 in
// `index` (its pieces left as they are); false when it cannot be read.
bool IndexBlocks(HANDLE file, BlockIndex& index);
