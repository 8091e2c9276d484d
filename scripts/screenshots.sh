#!/bin/sh
# Takes the pictures of the tray icon, the tray menu and the dialogs that
# the README shows, under Wine on a private virtual display, and saves them
# as PNG files in docs/images.
#
#   scripts/screenshots.sh
#
# A small program of the build (korvane_ui_gallery) opens each window with
# sample content and asks for a picture through a file; this script answers
# with ImageMagick's import, cropped to the window.
set -eu
. "$(dirname "$0")/common.sh"

ensure_packages
configure_and_build
prepare_prefix

start_session

images="$KORVANE_ROOT/docs/images"
work="$BUILD_DIR/screenshots"
mkdir -p "$images"
rm -rf "$work"
mkdir -p "$work"

# No window manager runs here: unmanaged windows close without waiting
# for one.
wine reg add 'HKCU\Software\Wine\AppDefaults\korvane_ui_gallery.exe\X11 Driver' \
  /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

say "opening the windows"
wine "$BUILD_DIR/bin/korvane_ui_gallery.exe" "$(dos_path "$work")" \
  </dev/null >"$work/gallery.log" 2>&1 &
gallery=$!

while kill -0 "$gallery" 2>/dev/null; do
  if [ -f "$work/shot.txt" ]; then
    read -r name geometry <"$work/shot.txt"
    rm -f "$work/shot.txt"
    import -window root -crop "$geometry" +repage "$images/$name.png"
    say "$name.png ($geometry)"
    touch "$work/shot.done"
  fi
  sleep 0.1
done
wait "$gallery"

# Setup's first page, with the product's icon; then cancelled (Escape, and
# Yes to "Are you sure you want to quit?"), so nothing is installed.
say "opening setup"
wine "$BUILD_DIR/KorvaneSetup.exe" </dev/null >/dev/null 2>&1 &
setup=$!
window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --name "^Vantrell .* Setup" 2>/dev/null | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "setup's window did not open" >&2; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$images/setup.png"
say "setup.png (${WIDTH}x${HEIGHT}+$X+$Y)"
xdotool key Escape
sleep 1
xdotool key Return
wait "$setup" || true
