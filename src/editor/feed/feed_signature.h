#pragma once

// The signature beside a feed (<feed URL>.sig): the signer's certificate in
// PEM, then "-----BEGIN SIGNATURE-----", the base64 of what
// `openssl dgst -sha256 -sign <key>` makes of the feed's exact bytes (RSA
// PKCS#1 v1.5 or ECDSA P-256), and "-----END SIGNATURE-----".

#include <array>
#include <string>
#include <vector>

// Empty when the certificate's key is one of the pins (SHA-256 of its
// SubjectPublicKeyInfo, 64 hex digits, any case) and its signature holds over
// the feed's bytes; otherwise the refusal: "not signed", "signed by a key not
// pinned (<pin>)" or "signature does not match".
std::wstring CheckFeedSignature(const std::string& feed, const std::string& signature,
                                const std::vector<std::wstring>& pins);

// The SHA-256 of the bytes (zeros if bcrypt fails, which no check then passes).
std::array<unsigned char, 32> Sha256Of(const std::string& bytes);
