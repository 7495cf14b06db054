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
# signing.sh sign <keys folder> <publisher|renewed|unrelated> <package> <signed package>
set -eu

certificate() { # name, subject, extensions section, issuer (or -signkey: self-signed)
    openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$2" -out "$1.csr" \
        2>/dev/null
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
        'authorityKeyIdentifier=keyid' >extensions.cnf
    [ -f root.crt ] || certificate root "Tavo PDF Test Root" root -signkey
    openssl x509 -in root.crt -outform DER -out root.der
    [ -f publisher.crt ] || certificate publisher "Tavo PDF Software" leaf root
    [ -f renewed.crt ] || certificate renewed "Tavo PDF Software GmbH" leaf root
    [ -f unrelated.crt ] || certificate unrelated "Unrelated Tools Ltd" self -signkey
    [ -f localhost.crt ] || certificate localhost localhost server root
    ;;
sign)
    chain="$5.chain.pem"
    cat "$2/$3.crt" "$2/root.crt" >"$chain"
    osslsigncode sign -certs "$chain" -key "$2/$3.key" -h sha256 -n "Tavo PDF" \
        -in "$4" -out "$5.tmp" >/dev/null
    rm "$chain"
    mv "$5.tmp" "$5"
    ;;
*)
    echo "usage: signing.sh keys <folder> | sign <keys> <signer> <package> <signed>" >&2
    exit 64
    ;;
esac
