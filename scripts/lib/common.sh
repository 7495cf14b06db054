# Shared by scripts/test, scripts/demo, scripts/bench and scripts/screenshot:
# installs what is missing, builds, and gives each run its own Wine prefix and
# X display, both ended when the script exits.

REPO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$REPO_ROOT/build}"

REQUIRED_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine wixl
                   msitools nsis openssl osslsigncode clang lld llvm xvfb x11-utils x11-apps
                   imagemagick clang-format nginx-light python3 nlohmann-json3-dev
                   libz-mingw-w64-dev gcab)

say() { printf '\n== %s\n' "$*"; }

ensure_packages() {
    local missing=()
    for package in "${REQUIRED_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    [ -d /usr/src/googletest/googletest ] || missing+=(googletest)
    if [ "${#missing[@]}" -gt 0 ]; then
        say "Installing ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
}

build_all() {
    say "Building into $BUILD_DIR"
    cmake -S "$REPO_ROOT" -B "$BUILD_DIR" \
        -DCMAKE_TOOLCHAIN_FILE="$REPO_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    # Progress lines are dropped; a failed build stops the script.
    local status=0
    cmake --build "$BUILD_DIR" -j"$(nproc)" -- --no-print-directory >"$BUILD_DIR/build.log" 2>&1 ||
        status=$?
    grep -Ev '^\[ *[0-9]+%\]' "$BUILD_DIR/build.log" || true
    if [ "$status" -ne 0 ]; then
        echo "build failed (exit $status)" >&2
        return "$status"
    fi
}

# A new prefix for every run: Windows Installer keeps installed products and
# cached packages in it, and earlier runs must not change later ones.
fresh_wine_prefix() {
    export WINEPREFIX="$BUILD_DIR/wine-$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    say "Creating Wine prefix $WINEPREFIX"
    # A server that stays up between processes: later starts take a fraction
    # of a second instead of several.
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wineboot -i >/dev/null 2>&1
}

# Trusts the fixtures' test root in the current prefix, as an administrator
# installs a company's root: its certificate in the machine's Root store.
trust_test_root() {
    local der="$BUILD_DIR/bin/fixtures/keys/root.der"
    local thumbprint size hex
    thumbprint=$(openssl x509 -inform DER -in "$der" -noout -fingerprint -sha1 |
        sed 's/.*=//; s/://g')
    size=$(printf '%08x' "$(stat -c %s "$der")" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4,\3,\2,\1/')
    hex=$(od -An -v -tx1 "$der" | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
    printf 'REGEDIT4\n\n[%s\\%s]\n"Blob"=hex:20,00,00,00,01,00,00,00,%s,%s\n\n' \
        'HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates' \
        "$thumbprint" "$size" "$hex" >"$WINEPREFIX/test-root.reg"
    wine reg import "$(windows_path "$WINEPREFIX/test-root.reg")" >/dev/null 2>&1
}

# Windows of our own on a bare X display: without a window manager Wine waits
# about 2 s for every window closed unless it manages them itself, and a
# crash dialog would hold a crashed test process instead of ending it.
use_test_desktop_settings() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
}

start_display() {
    local number=90
    while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$number"
    for _ in $(seq 50); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not start on $DISPLAY" >&2
    return 1
}

stop_wine_and_display() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    stop_web_servers
    if [ -n "${SMALL_DISK:-}" ]; then
        $SUDO umount "$SMALL_DISK" 2>/dev/null || true
    fi
}

# A 32 MB disk of its own as drive T: of the prefix (a tmpfs), where a
# download meets a full disk; unmounted when the script ends.
mount_small_disk() {
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    SMALL_DISK="$BUILD_DIR/small-disk"
    mkdir -p "$SMALL_DISK"
    mountpoint -q "$SMALL_DISK" || $SUDO mount -t tmpfs -o size=32m,mode=1777 tmpfs "$SMALL_DISK"
    ln -sfn "$SMALL_DISK" "$WINEPREFIX/dosdevices/t:"
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# nginx serving <folder>/www over HTTPS for localhost (the fixtures' server
# certificate, issued by the test root), a slow copy of it under /slow/ and a
# redirect to http:// under /to-http/; and the fault server beside it. Both on
# 127.0.0.1 only, on free ports, stopped by stop_web_servers. The tests find
# them through TAVO_TEST_WEB, TAVO_TEST_FAULTS, TAVO_TEST_WWW and TAVO_TEST_WEB_LOG.
start_web_servers() {
    local dir="$1" keys="$BUILD_DIR/bin/fixtures/keys" port fault_port untrusted_port
    WEB_DIR="$dir"
    rm -rf "$dir"
    mkdir -p "$dir/www" "$dir/temp"
    port=$(free_port)
    fault_port=$(free_port)
    cat >"$dir/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
    log_format transfer '\$request_uri \$status range=\$http_range sent=\$body_bytes_sent';
    access_log $dir/access.log transfer;
    client_body_temp_path $dir/temp/body;
    proxy_temp_path $dir/temp/proxy;
    fastcgi_temp_path $dir/temp/fastcgi;
    uwsgi_temp_path $dir/temp/uwsgi;
    scgi_temp_path $dir/temp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port ssl;
        server_name localhost;
        ssl_certificate $keys/localhost.crt;
        ssl_certificate_key $keys/localhost.key;
        root $dir/www;
        location /slow/ { alias $dir/www/; limit_rate 400k; }
        location /to-http/ { return 302 http://localhost:$port/; }
        location /loop/ { return 302 https://localhost:$port\$request_uri; }
    }
}
CONF
    nginx -c "$dir/nginx.conf" -p "$dir" &
    NGINX_PID=$!
    python3 "$REPO_ROOT/tests/harness/fault_server.py" "$fault_port" "$dir/www" \
        "$keys/localhost.crt" "$keys/localhost.key" &
    FAULT_PID=$!
    # The same faults behind a certificate the machine does not trust.
    untrusted_port=$(free_port)
    python3 "$REPO_ROOT/tests/harness/fault_server.py" "$untrusted_port" "$dir/www" \
        "$keys/feed-other.crt" "$keys/feed-other.key" &
    UNTRUSTED_PID=$!
    export TAVO_TEST_UNTRUSTED="https://localhost:$untrusted_port"
    export TAVO_TEST_WEB="https://localhost:$port" TAVO_TEST_FAULTS="https://localhost:$fault_port"
    export TAVO_TEST_WWW TAVO_TEST_WEB_LOG
    TAVO_TEST_WWW=$(windows_path "$dir/www")
    TAVO_TEST_WEB_LOG=$(windows_path "$dir/access.log")
    for _ in $(seq 50); do
        up=1
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || up=0
        (exec 3<>"/dev/tcp/127.0.0.1/$fault_port") 2>/dev/null || up=0
        [ "$up" = 1 ] && return 0
        sleep 0.1
    done
    echo "the web servers did not start (see $dir/error.log)" >&2
    return 1
}

# Publishes a release as its publisher does, into the web servers' folder:
# the package, then the channel's feed composed by the release tool from it
# (only if it passes the release check), signed with the feed key, and
# checked before it is "uploaded". Needs the Wine prefix and the servers.
# publish_release <package file> <msi|exe> <version> <feed name> <sequence> [URL base]
#                 [normal|critical] [notes]
publish_release() {
    local www="$WEB_DIR/www" keys="$BUILD_DIR/bin/fixtures/keys" name
    name=$(basename "$1")
    cp "$1" "$www/$name"
    wine "$BUILD_DIR/bin/tavoPDFReleaseCheck.exe" compose-feed "$(windows_path "$www/$4")" stable \
        "$5" 2099-01-01T00:00:00Z --publisher-key "$(cat "$keys/publisher.pin")" \
        --release "$(windows_path "$www/$name")" "$2" "$3" \
        "${6:-$TAVO_TEST_WEB}/$(printf '%s' "$name" | sed 's/ /%20/g')" 1.0 100 "${7:-normal}" \
        "${8:-Faster opening of large documents.}" </dev/null | tr -d '\r' | grep -E '^(refused|ok +feed)'
    sh "$REPO_ROOT/scripts/lib/signing.sh" sign-feed "$keys" feed-ec "$www/$4" "$www/$4.sig"
    wine "$BUILD_DIR/bin/tavoPDFReleaseCheck.exe" check-feed "$(windows_path "$www/$4")" \
        "$(windows_path "$www/$4.sig")" --feed-key "$(cat "$keys/feed-ec.pin")" \
        --above-sequence $(($5 - 1)) --package "$(windows_path "$www/$name")" "$3" </dev/null |
        tr -d '\r'
}

stop_web_servers() {
    local pid
    for pid in ${NGINX_PID:-} ${FAULT_PID:-} ${UNTRUSTED_PID:-}; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    NGINX_PID="" FAULT_PID="" UNTRUSTED_PID=""
}

# Linux path to the Windows form Wine shows for it.
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
