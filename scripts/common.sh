# Shared by the project's scripts: package installation, the build, the Wine
# prefix and the virtual display. Sourced, not run.

KORVANE_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$KORVANE_ROOT/build}

# Everything the build, the tests, the demonstration and the installer need.
# clang with its sanitizer and libFuzzer runtimes builds the rules natively.
KORVANE_PACKAGES="cmake ninja-build g++-mingw-w64-i686-posix mingw-w64-tools googletest
  wine wine32:i386 xvfb xauth xdotool x11-utils imagemagick nsis python3
  clang libclang-rt-14-dev"

say() { printf '==> %s\n' "$*"; }

package_missing() {
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)
  [ "$status" != "install ok installed" ]
}

# Installs the packages that are missing; adds the i386 architecture first
# when wine32 is among them. Does nothing when all are present.
ensure_packages() {
  missing=""
  for p in $KORVANE_PACKAGES; do
    package_missing "$p" && missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages:$missing" >&2
    echo "run this script as root once to install them" >&2
    exit 1
  fi
  say "installing:$missing"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
}

configure_and_build() {
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    say "configuring in $BUILD_DIR"
    cmake -S "$KORVANE_ROOT" -B "$BUILD_DIR" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$KORVANE_ROOT/cmake/toolchain-i686-mingw32.cmake" \
      -DCMAKE_BUILD_TYPE=Release
  fi
  say "building"
  cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

wine_env() {
  export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix}
  export WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates the 32-bit prefix once; a stamp marks it complete. Settings are
# applied whenever their stamp is missing, so an older prefix gets them too.
#   prepare_prefix [PREFIX]   (default: $WINEPREFIX, else the tests' prefix)
# Exports WINEPREFIX, so the Wine commands that follow use that prefix.
prepare_prefix() {
  if [ -n "${1:-}" ]; then
    export WINEPREFIX="$1"
  fi
  wine_env
  if [ ! -f "$WINEPREFIX/.korvane-ready" ]; then
    say "creating Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.korvane-ready"
  fi
  if [ ! -f "$WINEPREFIX/.korvane-settings-2" ]; then
    # No crash dialog: a crashing test must fail, not wait for a click.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >/dev/null 2>&1
    # There is no window manager on the virtual display. Left "managed",
    # every window Wine hides (a tray icon taken out of the notification
    # area among them) waits two seconds for a manager that never answers.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
      >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.korvane-settings-2"
  fi
}

# Starts a private X server for programs that open windows. Sets DISPLAY and
# XVFB_PID; stop_display ends only that server.
start_display() {
  n=${KORVANE_DISPLAY:-90}
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}

stop_display() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

# The Windows name of a file of this machine, through Wine's Z: drive.
dos_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Keeps one wineserver running for the whole run: each Wine program then
# starts in a fraction of the time.
#
# The first Wine program of a session also starts Wine's own background
# processes, which inherit that program's output. A test runner waits for
# every holder of a test's output to finish, so the session is started here,
# by a program whose output goes nowhere and that lives until the end.
start_wineserver() {
  wine_env
  wineserver -p
  ready="$BUILD_DIR/.keepalive-ready"
  rm -f "$ready"
  wine "$BUILD_DIR/bin/korvane_keepalive.exe" "$(dos_path "$ready")" \
    </dev/null >/dev/null 2>&1 &
  KEEPALIVE_PID=$!
  for _ in $(seq 1 300); do
    [ -e "$ready" ] && return 0
    sleep 0.1
  done
  echo "the Wine session did not start" >&2
  return 1
}

stop_wineserver() {
  wine_env
  if [ -n "${KEEPALIVE_PID:-}" ]; then
    kill "$KEEPALIVE_PID" 2>/dev/null || true
    wait "$KEEPALIVE_PID" 2>/dev/null || true
    KEEPALIVE_PID=""
  fi
  wineserver -k 2>/dev/null || true
}

# Starts the display and the Wine session, and ends both (only those) when
# the calling script exits.
start_session() {
  trap 'stop_wineserver; stop_display' EXIT INT TERM
  start_display
  start_wineserver
}
