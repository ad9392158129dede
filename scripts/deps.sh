# Sourced by scripts/run and scripts/test: installs the Debian 12 packages Tarnwick needs,
# when any is missing. `tarnwick_install_deps` installs what building and running the
# program takes (scripts/run: the program, and its first run under a private Xvfb);
# `tarnwick_install_deps test` adds what only the tests, benchmarks, sanitizer builds and
# the package check take (scripts/test).

# Building the program and running it (its fonts, the hand-off's opener), and the first
# run without a display: Xvfb, openbox, xdotool, xdpyinfo, the demo's web server, import.
# libwayland: the Wayland desktop adapter and its protocol code (wayland-scanner).
TARNWICK_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin qt6-qpa-plugins
  libgl-dev libxkbcommon-dev libxcb1-dev libwayland-dev libwayland-bin
  xdg-utils fonts-liberation fonts-dejavu-core
  xvfb openbox xdotool x11-utils python3 imagemagick
)

# Only for the tests: GoogleTest and Google Benchmark, the Wayland desktops, window tools,
# the menu entry and metainfo validators, the accessibility bus, clang's sanitizers and
# libFuzzer, the package build and its lintian check, and for the Windows parts 64-bit
# MinGW-w64 (its POSIX-threads compiler alone: the whole mingw-w64 set is four times as
# big) and Wine.
TARNWICK_TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  weston sway foot xwayland qt6-wayland wmctrl file desktop-file-utils appstream
  dbus-daemon dbus-bin at-spi2-core libatspi2.0-dev
  clang-14 libclang-rt-14-dev llvm-14
  dpkg-dev lintian
  g++-mingw-w64-x86-64-posix wine wine64
)

# tarnwick_install_deps [test]
tarnwick_install_deps() {
  local wanted=("${TARNWICK_PACKAGES[@]}")
  [ "${1:-}" = test ] && wanted+=("${TARNWICK_TEST_PACKAGES[@]}")
  local missing=()
  local pkg
  for pkg in "${wanted[@]}"; do
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
