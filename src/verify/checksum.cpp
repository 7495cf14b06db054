#include "verify/checksum.h"

#include "base/paths.h"
#include "base/system_libraries.h"

#include <optional>
#include <vector>

namespace {

// Only called for handles bcrypt gave out, so the library is loaded.
void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
    BcryptLibrary()->CloseAlgorithmProvider(algorithm, 0);
}
void DestroyHash(BCRYPT_HASH_HANDLE hash) {
    BcryptLibrary()->DestroyHash(hash);
}

using UniqueAlgorithm = std::unique_ptr<void, decltype(&CloseAlgorithm)>;
using UniqueHash = std::unique_ptr<void, decltype(&DestroyHash)>;

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// Feeds the file to the hash in chunks; the digest only when the whole file,
// at least one byte and at most the size limit, went in.
std::optional<std::array<unsigned char, 32>> HashWholeFile(const BcryptFunctions& bcrypt,
                                                           HANDLE packageFile,
                                                           BCRYPT_HASH_HANDLE hash,
                                                           std::vector<unsigned char>& chunk) {
    std::uint64_t total = 0;
    for (;;) {
        DWORD bytesRead = 0;
        if (!ReadFile(packageFile, chunk.data(), ChecksumReadChunkBytes, &bytesRead, nullptr)) {
            return std::nullopt;
        }
        if (bytesRead == 0) {
            break;
        }
        total += bytesRead;
        if (total > PackageSizeLimitBytes) {
            return std::nullopt;
        }
        if (!Succeeded(bcrypt.HashData(hash, chunk.data(), bytesRead, 0))) {
            return std::nullopt;
        }
    }
    if (total == 0) {
        return std::nullopt;
    }
    std::array<unsigned char, 32> digest = {};
    if (!Succeeded(bcrypt.FinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        return std::nullopt;
    }
    return digest;
}

} // namespace

UniqueHandle OpenPackageFile(const std::wstring& packagePath) {
    return OwnHandle(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring FormatDigest(const std::array<unsigned char, 32>& digest) {
    static constexpr wchar_t HexDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(ChecksumTextLength);
    for (const unsigned char byte : digest) {
        text += HexDigits[byte >> 4];
        text += HexDigits[byte & 0x0F];
    }
    return text;
}

bool IsChecksumText(const std::wstring& text) {
    return text.size() == ChecksumTextLength &&
           text.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

std::wstring PackageChecksum(HANDLE packageFile) {
    // Without bcrypt there is no checksum, and so no verified package.
    const BcryptFunctions* bcrypt = BcryptLibrary();
    if (bcrypt == nullptr) {
        return std::wstring();
    }
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!Succeeded(
            bcrypt->OpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::wstring();
    }
    // Owners in reverse release order: the hash, the provider, the read
    // buffer, and last the hash object buffer that the hash lives in.
    std::vector<unsigned char> hashObject;
    std::vector<unsigned char> chunk;
    const UniqueAlgorithm algorithm(rawAlgorithm, &CloseAlgorithm);

    DWORD objectLength = 0;
    ULONG resultSize = 0;
    const bool objectLengthRead = Succeeded(bcrypt->GetProperty(
        algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
        sizeof(objectLength), &resultSize, 0));
    hashObject.assign(objectLength, 0);
    chunk.assign(ChecksumReadChunkBytes, 0);
    if (!objectLengthRead) {
        return std::wstring();
    }

    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!Succeeded(bcrypt->CreateHash(algorithm.get(), &rawHash, hashObject.data(), objectLength,
                                      nullptr, 0, 0))) {
        return std::wstring();
    }
    UniqueHash hash(rawHash, &DestroyHash);
    const std::optional<std::array<unsigned char, 32>> digest =
        HashWholeFile(*bcrypt, packageFile, hash.get(), chunk);
    hash.reset();
    return digest ? FormatDigest(*digest) : std::wstring();
}

bool VerifyPackageChecksum(HANDLE packageFile, const std::wstring& expectedChecksum) {
    if (expectedChecksum.size() != ChecksumTextLength) {
        return false;
    }
    // Hex digits in any ASCII letter case; anything else simply differs.
    const std::wstring checksum = PackageChecksum(packageFile);
    return !checksum.empty() && EqualsIgnoringAsciiCase(checksum, expectedChecksum);
}
