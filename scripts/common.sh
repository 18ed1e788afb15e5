# Shared by the scripts: the Debian packages the build, the tests and the window need, installed
# only when missing, and the build itself.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# VADUZ_QT=6 builds against Qt 6 (into build-qt6/ etc.); Qt 5 otherwise.
VADUZ_QT="${VADUZ_QT:-5}"
# Qt Network (the gateway link) comes with qtbase5-dev and qt6-base-dev.
if [ "$VADUZ_QT" = 6 ]; then
    # Qt 6 Charts' CMake package needs Qt 6 OpenGL's, which qt6-charts-dev does not pull in.
    QT_PACKAGES=(qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev)
    QT_CMAKE_ARGS=(-DVADUZ_QT6=ON)
    QT_DIR_SUFFIX=-qt6
else
    QT_PACKAGES=(qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5charts5-dev)
    QT_CMAKE_ARGS=()
    QT_DIR_SUFFIX=
fi

# What building the program needs (the page artwork is drawn at build time, with the fonts).
BUILD_PACKAGES=(
    build-essential cmake ccache
    "${QT_PACKAGES[@]}"
    libxlsxwriter-dev zlib1g-dev
    libmosquitto-dev pkg-config
    fonts-crosextra-carlito fonts-liberation2
)
# What the tests, the benchmarks and the window's pictures need besides.
PACKAGES=(
    "${BUILD_PACKAGES[@]}"
    libmodbus-dev
    mosquitto mosquitto-clients openssl
    python3 python3-openpyxl python3-pymodbus python3-serial python3-serial-asyncio
    desktop-file-utils appstream
    xvfb xauth xdotool imagemagick
)

# install_missing [package...]: PACKAGES and the ones named.
install_missing() {
    install_these "${PACKAGES[@]}" "$@"
}

install_these() {
    local missing=()
    for pkg in "$@"; do
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

# ccache may reuse objects between build folders of the same configuration (build/ and
# build-package/ compile the program alike): paths are hashed relative to the project.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

# Tests run side by side, two per core: most of their time is spent waiting on pseudo-terminals
# and timers, not on the processor.
TEST_JOBS=$((2 * $(nproc)))

# configure_and_build <build dir> [extra cmake args...] (with the Qt chosen by VADUZ_QT)
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" "${QT_CMAKE_ARGS[@]}" "$@"
    cmake --build "$dir" -j"$(nproc)"
}
