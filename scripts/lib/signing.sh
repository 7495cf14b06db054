#!/bin/sh
# Signs update packages as a publisher does (Authenticode, SHA-256, the chain
# included), with test keys made in the build folder: none is kept in the
# repository. Used by the test fixtures, scripts/demo and scripts/bench.
#
# signing.sh keys <folder>   a test root; the publisher's code-signing
#     certificate issued by it, and a renewed one with a new key and name; an
#     unrelated self-signed publisher. Beside each, its pin (<name>.pin: the
#     SHA-256 of its SubjectPublicKeyInfo, what an editor pins), and the root
#     in DER (root.der) for a Wine prefix to trust; a server certificate for
#     localhost issued by the root (localhost.crt, .key) for the test web
#     servers. Keys that exist are kept.
#     Feed signing keys, each self-signed: feed-rsa (RSA), feed-ec (ECDSA
#     P-256) and feed-other (RSA, pinned by no editor).
# signing.sh sign <keys folder> <publisher|renewed|unrelated> <package> <signed package>
# signing.sh sign-feed <keys folder> <feed-rsa|feed-ec|feed-other> <feed> <signature file>
#     the signer's certificate, then the base64 of `openssl dgst -sha256 -sign`
#     over the feed's exact bytes between SIGNATURE lines: what an editor checks
set -eu

certificate() { # name, subject, extensions section, issuer (or -signkey: self-signed)
    openssl req -new -newkey "${KEY_KIND:-rsa:2048}" -nodes -keyout "$1.key" -subj "/CN=$2" \
        -out "$1.csr" 2>/dev/null
    issuer="-CA $4.crt -CAkey $4.key"
    [ "$4" != -signkey ] || issuer="-signkey $1.key"
    # shellcheck disable=SC2086 # the issuer's options are words
    openssl x509 -req -in "$1.csr" $issuer -days 3650 -sha256 -extfile extensions.cnf \
        -extensions "$3" -out "$1.crt" 2>/dev/null
    openssl x509 -in "$1.crt" -noout -pubkey | openssl pkey -pubin -outform DER |
        openssl dgst -sha256 -r | cut -c1-64 >"$1.pin"
}

case "$1" in
keys)
    mkdir -p "$2"
    cd "$2"
    printf '%s\n' '[root]' 'basicConstraints=critical,CA:TRUE' 'subjectKeyIdentifier=hash' \
        'keyUsage=critical,keyCertSign,cRLSign' '[self]' 'basicConstraints=critical,CA:FALSE' \
        'keyUsage=critical,digitalSignature' 'extendedKeyUsage=codeSigning' '[leaf]' \
        'basicConstraints=critical,CA:FALSE' 'keyUsage=critical,digitalSignature' \
        'extendedKeyUsage=codeSigning' 'authorityKeyIdentifier=keyid' '[server]' \
        'basicConstraints=critical,CA:FALSE' 'keyUsage=critical,digitalSignature,keyEncipherment' \
        'extendedKeyUsage=serverAuth' 'subjectAltName=DNS:localhost' \
        'authorityKeyIdentifier=keyid' '[feed]' 'basicConstraints=critical,CA:FALSE' \
        'keyUsage=critical,digitalSignature' >extensions.cnf
    [ -f root.crt ] || certificate root "Tavo PDF Test Root" root -signkey
    openssl x509 -in root.crt -outform DER -out root.der
    [ -f publisher.crt ] || certificate publisher "Tavo PDF Software" leaf root
    [ -f renewed.crt ] || certificate renewed "Tavo PDF Software GmbH" leaf root
    [ -f unrelated.crt ] || certificate unrelated "Unrelated Tools Ltd" self -signkey
    [ -f localhost.crt ] || certificate localhost localhost server root
    [ -f feed-rsa.crt ] || certificate feed-rsa "Tavo PDF Feed" feed -signkey
    [ -f feed-other.crt ] || certificate feed-other "Somebody Else's Feed" feed -signkey
    openssl ecparam -name prime256v1 -out p256.pem
    [ -f feed-ec.crt ] || KEY_KIND=ec:p256.pem certificate feed-ec "Tavo PDF Feed EC" feed -signkey
    ;;
sign)
    chain="$5.chain.pem"
    cat "$2/$3.crt" "$2/root.crt" >"$chain"
    osslsigncode sign -certs "$chain" -key "$2/$3.key" -h sha256 -n "Tavo PDF" \
        -in "$4" -out "$5.tmp" >/dev/null
    rm "$chain"
    mv "$5.tmp" "$5"
    ;;
sign-feed)
    # Each step's own exit status counts (a pipe would hide a missing key),
    # and nothing is left behind unless the whole signature was made.
    openssl dgst -sha256 -sign "$2/$3.key" -out "$5.bin" "$4"
    {
        cat "$2/$3.crt"
        echo "-----BEGIN SIGNATURE-----"
        openssl base64 -in "$5.bin"
        echo "-----END SIGNATURE-----"
    } >"$5.tmp" || { rm -f "$5.bin" "$5.tmp"; exit 1; }
    rm "$5.bin"
    mv "$5.tmp" "$5"
    ;;
*)
    echo "usage: signing.sh keys <folder> | sign <keys> <signer> <package> <signed>" \
        "| sign-feed <keys> <signer> <feed> <signature>" >&2
    exit 64
    ;;
esac
