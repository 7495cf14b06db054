#pragma once

#include "base/handle_owner.h"

#include <array>
#include <cstdint>
#include <string>

inline constexpr size_t ChecksumTextLength = 64;
inline constexpr unsigned long ChecksumReadChunkBytes = 1048576;
inline constexpr std::uint64_t PackageSizeLimitBytes = 2147483648ull;

// Opens the package for reading with read sharing only: while the run holds
// the handle nobody can write, rename or delete the file it verified.
UniqueHandle OpenPackageFile(const std::wstring& packagePath);

// The SHA-256 of the file from the handle's position to its end, in lower-case
// hex; empty for a read or crypto error, an empty file, or more than 2 GiB.
std::wstring PackageChecksum(HANDLE packageFile);

// Hashes the file from the handle's position to its end and compares the
// SHA-256 with the expected text (64 hex digits, any ASCII case). False for
// every failure: wrong length, a read or crypto error, an empty file, more
// than 2 GiB, or a different digest.
bool VerifyPackageChecksum(HANDLE packageFile, const std::wstring& expectedChecksum);

// Whether a text can ever match a digest: 64 hexadecimal digits, any ASCII
// letter case.
bool IsChecksumText(const std::wstring& text);

// Lower-case hexadecimal, two digits per byte, high nibble first.
std::wstring FormatDigest(const std::array<unsigned char, 32>& digest);
