#pragma once

// SHA-256 over bytes as they come, by the system's bcrypt (loaded from the
// system folder, as the helper loads it).

#include <windows.h>

#include <bcrypt.h>

#include <memory>
#include <string>
#include <vector>

void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm);
void DestroyHash(BCRYPT_HASH_HANDLE hash);

// Owners in reverse release order: the hash before the provider, and its
// object buffer last.
struct StreamHash {
    std::vector<unsigned char> Object;
    std::unique_ptr<void, decltype(&CloseAlgorithm)> Algorithm{nullptr, &CloseAlgorithm};
    std::unique_ptr<void, decltype(&DestroyHash)> Hash{nullptr, &DestroyHash};
};

// A new hash over no bytes yet (an earlier one of the record is dropped).
bool StartHash(StreamHash& hash);
bool AddToHash(const StreamHash& hash, const void* bytes, DWORD size);
// Lower-case hex; empty on failure.
std::wstring FinishHash(const StreamHash& hash);

// The SHA-256 of one buffer, reusing the hash's provider (opened on first
// use); false on failure.
bool DigestOf(StreamHash& hash, const void* bytes, DWORD size, unsigned char (&digest)[32]);
