#pragma once

// Who signed an update package, by its Authenticode signature, and whether
// that is the publisher the editor trusts. Shared by the editor's library and
// the release check; never linked into the helper.

#include <windows.h>

#include <wincrypt.h>

#include <string>
#include <vector>

enum class SignatureState {
    Unsigned,   // no signature, or not a file that can carry one
    Mismatched, // the signature does not match the file's contents
    Signed,     // signed: Subject, Key and ChainTrusted say by whom
    Unreadable, // the check itself failed: TrustResult says why
};

struct PackageSigner {
    SignatureState State = SignatureState::Unreadable;
    LONG TrustResult = 0; // WinVerifyTrust's answer, for a log
    std::wstring Subject; // the signing certificate's subject, as Windows shows it
    std::wstring Key;     // SHA-256 of its SubjectPublicKeyInfo, lower-case hex
    bool ChainTrusted = false;
};

// Reads the signature of the package open at `package` (path: the same file,
// for the verifier's messages). The trust result is not taken alone: the
// signer's chain is judged by the Authenticode chain policy again and the
// key is hashed here, since some verifiers answer 0 for any signer. Revocation
// is not fetched: an update must not hang on the network.
PackageSigner ReadPackageSigner(HANDLE package, const std::wstring& path);

// The pin of a certificate's key: SHA-256 of its SubjectPublicKeyInfo, lower-case hex.
std::wstring KeyPinOf(PCCERT_CONTEXT certificate);

// Empty when the signer is one of the publisher's keys (64 hex digits, any
// case) and its chain is trusted for code signing; otherwise the refusal,
// naming what was found.
// Whether the key (a pin, 64 hex digits) is one of these, in any letter case;
// never for an empty key.
bool IsPinnedKey(const std::wstring& key, const std::vector<std::wstring>& pins);

std::wstring SignerRefusal(const PackageSigner& signer, const std::vector<std::wstring>& keys);
