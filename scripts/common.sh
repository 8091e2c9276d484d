# Shared by the project's scripts: package installation, the build, the Wine
# prefix and the virtual display. Sourced, not run.

KORVANE_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$KORVANE_ROOT/build}

# Everything the build, the tests, the demonstration and the installer need.
# wine64 beside wine32 runs the 64-bit prefix, where the 32-bit programs run
# as on 64-bit Windows; fonts-wine draws Wine's caption buttons and its own
# dialogs with the fonts Wine expects (without it a close box is a letter).
# The x86_64 compilers build the 64-bit library and its tests (build/x64);
# the -win32 packages only for their C++ runtime, which each DLL links.
# clang with its sanitizer and libFuzzer runtimes builds the rules natively.
KORVANE_PACKAGES="cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32
  g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 mingw-w64-tools
  googletest wine wine32:i386 wine64 fonts-wine xvfb xauth xdotool x11-utils imagemagick nsis python3
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

# The tests' prefixes: 32-bit Windows, and 64-bit Windows with WoW64.
PREFIX32=$BUILD_DIR/wineprefix
PREFIX64=$BUILD_DIR/wineprefix64

wine_env() {
  export WINEPREFIX=${WINEPREFIX:-$PREFIX32}
  export WINEARCH=${KORVANE_WINEARCH:-win32}
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates a prefix once; a stamp marks it complete. Settings are applied
# whenever their stamp is missing, so an older prefix gets them too.
#   prepare_prefix [PREFIX [win32|win64]]
#     (default: $WINEPREFIX, else the tests' 32-bit prefix; 32-bit)
# Exports WINEPREFIX and WINEARCH, so the Wine commands that follow use that
# prefix.
prepare_prefix() {
  if [ -n "${1:-}" ]; then
    export WINEPREFIX="$1"
  fi
  KORVANE_WINEARCH=${2:-win32}
  wine_env
  if [ ! -f "$WINEPREFIX/.korvane-ready" ]; then
    say "creating Wine prefix $WINEPREFIX ($WINEARCH)"
    started=$(date +%s)
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.korvane-ready"
    say "created in $(($(date +%s) - started)) s"
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
  # Debian's Wine looks for the fonts of fonts-wine (Marlett for caption
  # buttons, its MS Sans Serif and Tahoma for dialogs) in a folder they are
  # not in, and falls back to other fonts: the close box becomes the letter
  # "r". Wine also loads every font in the prefix's Fonts folder.
  for font in /usr/share/wine/fonts/*; do
    [ -f "$font" ] || continue
    target="$WINEPREFIX/drive_c/windows/Fonts/${font##*/}"
    [ -e "$target" ] || ln -sf "$font" "$target"
  done
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
#   start_wineserver [PREFIX win32|win64]   (default: the current prefix)
# stop_wineserver ends every session started so.
KORVANE_SESSIONS=""
start_wineserver() {
  wine_env
  prefix=${1:-$WINEPREFIX}
  arch=${2:-$WINEARCH}
  WINEPREFIX=$prefix WINEARCH=$arch wineserver -p
  ready="$prefix/.keepalive-ready"
  rm -f "$ready"
  WINEPREFIX=$prefix WINEARCH=$arch wine "$BUILD_DIR/bin/korvane_keepalive.exe" \
    "$(dos_path "$ready")" </dev/null >/dev/null 2>&1 &
  KORVANE_SESSIONS="$KORVANE_SESSIONS$!:$prefix
"
  for _ in $(seq 1 300); do
    [ -e "$ready" ] && return 0
    sleep 0.1
  done
  echo "the Wine session of $prefix did not start" >&2
  return 1
}

stop_wineserver() {
  sessions=$KORVANE_SESSIONS
  KORVANE_SESSIONS=""
  saved_ifs=$IFS
  IFS='
'
  for session in $sessions; do
    pid=${session%%:*}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    WINEPREFIX=${session#*:} wineserver -k 2>/dev/null || true
  done
  IFS=$saved_ifs
}

# Starts the display and the Wine session, and ends both (only those) when
# the calling script exits.
start_session() {
  trap 'stop_wineserver; stop_display' EXIT INT TERM
  start_display
  start_wineserver
}
