# Shared by scripts/run, scripts/test and scripts/sanitize: the Debian packages the build, the
# tests and the window need, installed only when missing.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

PACKAGES=(
    build-essential cmake pkg-config ccache
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5charts5-dev
    libxlsxwriter-dev zlib1g-dev
    libmodbus-dev
    python3 python3-openpyxl
    fonts-crosextra-carlito fonts-liberation2
    xvfb xauth xdotool imagemagick
)

install_missing() {
    local missing=()
    for pkg in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q || true
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build <build dir> [extra cmake args...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" "$@"
    cmake --build "$dir" -j"$(nproc)"
}
