#include "editor/handover/package_signer.h"

#include "base/paths.h"
#include "verify/checksum.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <array>
#include <cwchar>

// SHA-256 of the certificate's SubjectPublicKeyInfo, the bytes a key pin
// names: a certificate renewed with the same key keeps its pin.
std::wstring KeyPinOf(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    const auto* keyInfo = &certificate->pCertInfo->SubjectPublicKeyInfo;
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, keyInfo, nullptr, &size)) {
        return std::wstring();
    }
    std::vector<BYTE> encoded(size);
    std::array<unsigned char, 32> digest = {};
    DWORD digestSize = static_cast<DWORD>(digest.size());
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, keyInfo, encoded.data(),
                           &size) ||
        !CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, encoded.data(), size,
                               digest.data(), &digestSize)) {
        return std::wstring();
    }
    return FormatDigest(digest);
}

namespace {

std::wstring SubjectOf(PCCERT_CONTEXT certificate) {
    std::wstring name(256, L'\0');
    const DWORD length = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                            name.data(), 256);
    name.resize(length > 0 ? length - 1 : 0);
    return name;
}

// The signer that the verification found in its state, if any.
void ReadSignerFromState(HANDLE state, PackageSigner& signer) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signature =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* leaf =
        signature != nullptr ? WTHelperGetProvCertFromChain(signature, 0) : nullptr;
    if (leaf == nullptr || leaf->pCert == nullptr || signature->pChainContext == nullptr) {
        return;
    }
    signer.State = SignatureState::Signed;
    signer.Subject = SubjectOf(leaf->pCert);
    signer.Key = KeyPinOf(leaf->pCert);
    CERT_CHAIN_POLICY_PARA policy = {sizeof(policy), 0, nullptr};
    CERT_CHAIN_POLICY_STATUS status = {sizeof(status), 0, 0, 0, nullptr};
    signer.ChainTrusted =
        signer.TrustResult == ERROR_SUCCESS &&
        CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signature->pChainContext,
                                         &policy, &status) &&
        status.dwError == ERROR_SUCCESS;
}

} // namespace

PackageSigner ReadPackageSigner(HANDLE package, const std::wstring& path) {
    WINTRUST_FILE_INFO file = {sizeof(file), path.c_str(), package, nullptr};
    WINTRUST_DATA trust = {};
    trust.cbStruct = sizeof(trust);
    trust.dwUIChoice = WTD_UI_NONE;
    trust.fdwRevocationChecks = WTD_REVOKE_NONE;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &file;
    trust.dwStateAction = WTD_STATEACTION_VERIFY;
    trust.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const auto noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    PackageSigner signer;
    signer.TrustResult = WinVerifyTrust(noWindow, &action, &trust);
    switch (signer.TrustResult) {
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN:
        signer.State = SignatureState::Unsigned;
        break;
    case TRUST_E_BAD_DIGEST:
        signer.State = SignatureState::Mismatched;
        break;
    default:
        ReadSignerFromState(trust.hWVTStateData, signer);
    }
    // The state is released whatever the verification found.
    trust.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noWindow, &action, &trust);
    return signer;
}

bool IsPinnedKey(const std::wstring& key, const std::vector<std::wstring>& pins) {
    for (const std::wstring& pin : pins) {
        if (!key.empty() && EqualsIgnoringAsciiCase(pin, key)) {
            return true;
        }
    }
    return false;
}

std::wstring SignerRefusal(const PackageSigner& signer, const std::vector<std::wstring>& keys) {
    switch (signer.State) {
    case SignatureState::Unsigned:
        return L"package: not signed";
    case SignatureState::Mismatched:
        return L"package: its signature does not match its contents";
    case SignatureState::Unreadable: {
        wchar_t code[16] = {};
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(signer.TrustResult));
        return L"package: its signature cannot be checked (error " + std::wstring(code) + L")";
    }
    case SignatureState::Signed:
        break;
    }
    // The key first: a package of somebody else's is named as such, whatever
    // its chain.
    if (!IsPinnedKey(signer.Key, keys)) {
        return L"package: signed by \"" + signer.Subject + L"\" with key " + signer.Key +
               L", which is not one of the publisher's keys";
    }
    if (!signer.ChainTrusted) {
        return L"package: signed, but its signer's chain is not trusted for code signing";
    }
    return std::wstring();
}
