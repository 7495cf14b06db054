#include "editor/feed/feed_signature.h"

#include "base/paths.h"
#include "editor/handover/package_signer.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <array>
#include <memory>

namespace {

// The bytes of the PEM block with this label; empty when there is none.
std::vector<BYTE> DecodePem(const std::string& text, const std::string& label) {
    const std::string begin = "-----BEGIN " + label + "-----", end = "-----END " + label + "-----";
    const size_t first = text.find(begin);
    const size_t last = first == std::string::npos ? first : text.find(end, first);
    if (last == std::string::npos) {
        return {};
    }
    const std::string body = text.substr(first + begin.size(), last - first - begin.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(body.data(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                              nullptr, &size, nullptr, nullptr)) {
        return {};
    }
    std::vector<BYTE> bytes(size);
    if (!CryptStringToBinaryA(body.data(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                              bytes.data(), &size, nullptr, nullptr)) {
        return {};
    }
    bytes.resize(size);
    return bytes;
}

// ECDSA's DER SEQUENCE { INTEGER r, INTEGER s } as r || s, 32 bytes each, as
// BCryptVerifySignature takes it; empty when it is no such thing.
std::vector<BYTE> EcdsaRawSignature(const std::vector<BYTE>& der) {
    std::vector<BYTE> raw;
    size_t at = 2;
    if (der.size() < 8 || der[0] != 0x30 || der[1] != der.size() - 2) {
        return {};
    }
    for (int part = 0; part < 2; ++part) {
        if (at + 2 > der.size() || der[at] != 0x02 || at + 2 + der[at + 1] > der.size()) {
            return {};
        }
        size_t length = der[at + 1], start = at + 2;
        at = start + length;
        for (; length > 32 && der[start] == 0; ++start, --length) {
        }
        if (length > 32) {
            return {};
        }
        raw.insert(raw.end(), 32 - length, 0);
        raw.insert(raw.end(), der.begin() + static_cast<std::ptrdiff_t>(start),
                   der.begin() + static_cast<std::ptrdiff_t>(start + length));
    }
    return at == der.size() ? raw : std::vector<BYTE>();
}

void FreeCertificate(PCCERT_CONTEXT certificate) {
    if (certificate != nullptr) {
        CertFreeCertificateContext(certificate);
    }
}

void DestroyKey(BCRYPT_KEY_HANDLE key) {
    if (key != nullptr) {
        BCryptDestroyKey(key);
    }
}

} // namespace

std::array<unsigned char, 32> Sha256Of(const std::string& bytes) {
    std::array<unsigned char, 32> digest = {};
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    if (BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
        BCryptHash(sha256, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                   static_cast<ULONG>(bytes.size()), digest.data(), 32);
        BCryptCloseAlgorithmProvider(sha256, 0);
    }
    return digest;
}

std::wstring CheckFeedSignature(const std::string& feed, const std::string& signature,
                                const std::vector<std::wstring>& pins) {
    const std::vector<BYTE> der = DecodePem(signature, "CERTIFICATE");
    std::vector<BYTE> signed_ = DecodePem(signature, "SIGNATURE");
    if (der.empty() || signed_.empty()) {
        return L"not signed";
    }
    const std::unique_ptr<const CERT_CONTEXT, decltype(&FreeCertificate)> certificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())),
        &FreeCertificate);
    const std::wstring pin = certificate ? KeyPinOf(certificate.get()) : L"";
    if (!IsPinnedKey(pin, pins)) {
        return L"signed by a key not pinned (" + (pin.empty() ? L"unreadable" : pin) + L")";
    }
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    CERT_PUBLIC_KEY_INFO* info = &certificate->pCertInfo->SubjectPublicKeyInfo;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &rawKey)) {
        return L"signature does not match (its key cannot be read)";
    }
    const std::unique_ptr<void, decltype(&DestroyKey)> key(rawKey, &DestroyKey);
    std::array<UCHAR, 32> digest = Sha256Of(feed);
    const bool rsa = std::string(info->Algorithm.pszObjId) == szOID_RSA_RSA;
    if (!rsa) {
        signed_ = EcdsaRawSignature(signed_);
    }
    BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
    const NTSTATUS status = BCryptVerifySignature(
        key.get(), rsa ? &padding : nullptr, digest.data(), 32, signed_.data(),
        static_cast<ULONG>(signed_.size()), rsa ? BCRYPT_PAD_PKCS1 : 0);
    return status == 0 && !signed_.empty() ? L"" : L"signature does not match";
}
