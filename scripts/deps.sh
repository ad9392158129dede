# Sourced by scripts/run and scripts/test: installs the Debian 12 packages Tarnwick needs
# to build, run and test, when any is missing.

TARNWICK_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin qt6-qpa-plugins
  libgl-dev libxkbcommon-dev libxcb1-dev libwayland-dev libwayland-bin
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb openbox weston sway foot xwayland qt6-wayland xdotool wmctrl x11-utils xdg-utils python3 desktop-file-utils appstream
  imagemagick fonts-liberation fonts-dejavu-core
  dbus-daemon dbus-bin at-spi2-core libatspi2.0-dev
  clang-14 libclang-rt-14-dev llvm-14
)

tarnwick_install_deps() {
  local missing=()
  local pkg
  for pkg in "${TARNWICK_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# tarnwick_build ROOT BUILD [CMAKE-ARGS...]
tarnwick_build() {
  local root="$1" build="$2"
  shift 2
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$build" -j"$(nproc)"
}
