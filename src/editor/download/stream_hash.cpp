#include "editor/download/stream_hash.h"

#include "base/system_libraries.h"
#include "verify/checksum.h"

#include <array>

void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
    BcryptLibrary()->CloseAlgorithmProvider(algorithm, 0);
}
void DestroyHash(BCRYPT_HASH_HANDLE hash) {
    BcryptLibrary()->DestroyHash(hash);
}

namespace {

// A hash over no bytes yet, in the object buffer, from the open provider.
bool NewHash(StreamHash& hash) {
    BCRYPT_HASH_HANDLE raw = nullptr;
    hash.Hash.reset();
    if (BcryptLibrary()->CreateHash(hash.Algorithm.get(), &raw, hash.Object.data(),
                                    static_cast<ULONG>(hash.Object.size()), nullptr, 0, 0) < 0) {
        return false;
    }
    hash.Hash.reset(raw);
    return true;
}

} // namespace

bool StartHash(StreamHash& hash) {
    const BcryptFunctions* bcrypt = BcryptLibrary();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    DWORD length = 0;
    ULONG written = 0;
    hash.Hash.reset();
    if (bcrypt == nullptr ||
        bcrypt->OpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
        return false;
    }
    hash.Algorithm.reset(algorithm);
    if (bcrypt->GetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&length),
                            sizeof(length), &written, 0) < 0) {
        return false;
    }
    hash.Object.assign(length, 0);
    return NewHash(hash);
}

bool AddToHash(const StreamHash& hash, const void* bytes, DWORD size) {
    return BcryptLibrary()->HashData(hash.Hash.get(), static_cast<PUCHAR>(const_cast<void*>(bytes)),
                                     size, 0) >= 0;
}

std::wstring FinishHash(const StreamHash& hash) {
    std::array<unsigned char, 32> digest = {};
    return BcryptLibrary()->FinishHash(hash.Hash.get(), digest.data(), 32, 0) >= 0
               ? FormatDigest(digest)
               : std::wstring();
}

bool DigestOf(StreamHash& hash, const void* bytes, DWORD size, unsigned char (&digest)[32]) {
    if (!hash.Algorithm && !StartHash(hash)) {
        return false;
    }
    return NewHash(hash) && AddToHash(hash, bytes, size) &&
           BcryptLibrary()->FinishHash(hash.Hash.get(), digest, 32, 0) >= 0;
}
