# Installs the Debian packages named in the `packages` array that are not installed yet.
# Sourced by the scripts in this folder; runs apt-get as root, or through sudo.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# A first argument of "--no-install-recommends" leaves the packages' recommendations out.
install_missing_packages() {
    local missing=() p options=()
    if [ "${1:-}" = --no-install-recommends ]; then
        options+=("$1")
        shift
    fi
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${options[@]}" "${missing[@]}"
    fi
}

# What building Morvane needs, and what it needs to run: Qt's platform plugins and Qt's own texts in
# Spanish (the menus and dialogs Qt draws itself).
build_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-qpa-plugins qt6-wayland qt6-svg-dev qt6-translations-l10n
    libx11-dev libxtst-dev libxss-dev libxcb1-dev libpulse-dev
    libwayland-dev wayland-protocols plasma-wayland-protocols
    libarchive-dev libssl-dev
    libgtest-dev libgmock-dev
)

# Debian's release on this machine: 12 (bookworm) or 13 (trixie); 0 where it cannot tell.
debian_release() {
    local VERSION_ID=0
    [ -r /etc/os-release ] && . /etc/os-release
    echo "${VERSION_ID%%.*}"
}

# The runtime of the release's default clang (the fuzzer and LeakSanitizer need it).
clang_runtime_package() {
    case "$(debian_release)" in
    12) echo libclang-rt-14-dev ;;
    *) echo libclang-rt-19-dev ;;
    esac
}
