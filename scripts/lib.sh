# Shared by scripts/test and scripts/demo: find what Debian packages are missing and install
# them, then configure and build a preset.

# Packages every build needs.
VELMORA_PACKAGES=(g++ cmake ninja-build pkg-config libcurl4-openssl-dev libexpat1-dev
                  qt6-base-dev qt6-translations-l10n libgtest-dev libgmock-dev libcpp-httplib-dev libbenchmark-dev
                  libsodium-dev libssl-dev minisign libcli11-dev nlohmann-json3-dev
                  libtomlplusplus-dev libzstd-dev zstd)

missing_packages() {
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed'; then
            printf '%s\n' "$p"
        fi
    done
}

# install_packages <package...>: apt-get as root, sudo apt-get when that works without a
# password, otherwise print the exact command and fail.
install_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
    if [ "$(id -u)" -eq 0 ]; then
        "${apt[@]}" update -q >/dev/null 2>&1 || true
        "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}" && return 0
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        sudo "${apt[@]}" update -q >/dev/null 2>&1 || true
        sudo "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}" && return 0
    fi
    echo "Some packages are missing and cannot be installed from here. Run:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    return 1
}

# build_preset <preset> [target...]: configure and build (everything, or the targets) with
# two jobs.
build_preset() {
    local preset=$1
    shift
    cmake --preset "$preset" >/dev/null || cmake --preset "$preset" || return 1
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" -j2 --target "$@"
    else
        cmake --build --preset "$preset" -j2
    fi
}

# build_demo_launcher <repo>: the demo's launcher, built with the demo's own public key and the
# signature required (build/demo), the key pair made once beside it (build/demo-keys) so the
# build keeps its key and is not configured again from one run to the next. A demo key has no
# password: it signs nothing real. The end-to-end tests of the signed catalogue run this
# launcher.
build_demo_launcher() {
    local repo=$1 keys=$1/build/demo-keys build=$1/build/demo public_key
    if [ ! -f "$keys/demo.key" ] || [ ! -f "$keys/demo.pub" ]; then
        mkdir -p "$keys"
        minisign -G -W -f -p "$keys/demo.pub" -s "$keys/demo.key" >/dev/null
    fi
    public_key=$(sed -n 2p "$keys/demo.pub")
    if ! grep -qxF "VELMORA_CATALOGUE_KEYS:STRING=$public_key" "$build/CMakeCache.txt" 2>/dev/null; then
        (cd "$repo" && cmake --preset demo -DVELMORA_CATALOGUE_KEYS="$public_key" >/dev/null)
    fi
    (cd "$repo" && cmake --build --preset demo -j2 --target velmora-launcher)
}
