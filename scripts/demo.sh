#!/bin/sh
# The command that runs the product: a browsing session with Korvane, from
# a bare machine to the pictures.
#
#   scripts/demo.sh        (as root the first time, to install packages)
#
# Installs what is missing, builds Korvane.dll and its installer, makes a
# fresh Wine prefix of its own (build/demo/wineprefix), installs Korvane
# there with KorvaneSetup.exe /S as a user would, checks that it installed,
# and plays demo/demo.session through the browser stand-in against the
# installed DLL (korvane_demo.exe, see demo/). The timeline goes to the
# screen and to build/demo/timeline.txt; the pictures of the tray icon
# flashing and of the Blocked Popups and White List dialogs go to
# build/demo/*.png. Exits non-zero when the blocker did anything the
# demonstration did not expect, or when any step of the way fails.
set -eu
. "$(dirname "$0")/common.sh"

fail() {
  echo "demo: $*" >&2
  exit 1
}

ensure_packages
configure_and_build

demo="$BUILD_DIR/demo"
prefix="$demo/wineprefix"
# A fresh machine every time. A server left over from an interrupted run of
# this prefix goes first.
if [ -d "$prefix" ]; then
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
fi
rm -rf "$demo"
mkdir -p "$demo"
prepare_prefix "$prefix"

start_session

say "installing Korvane: KorvaneSetup.exe /S"
status=0
wine "$BUILD_DIR/KorvaneSetup.exe" /S </dev/null || status=$?
[ "$status" -eq 0 ] || fail "setup ended with exit code $status"

# What setup should have left: the files, the white list's own folder, the
# class and its library, the browser helper object, the entry in Add or
# Remove Programs.
reg_value() {
  wine reg query "$1" $2 2>/dev/null | tr -d '\r' | sed -n "s/.*REG_SZ[[:space:]]*//p" | head -n 1
}
folder="$prefix/drive_c/Program Files/Vantrell"
for file in Korvane.dll KorvaneBroker.exe Uninstall.exe; do
  [ -f "$folder/$file" ] || fail "setup left no $file in Program Files\\Vantrell"
done
[ -d "$prefix/drive_c/ProgramData/Vantrell" ] || fail "setup made no folder ProgramData\\Vantrell for the white list"
clsid=$(reg_value 'HKCR\Korvane.ViewSource\CLSID' /ve)
[ -n "$clsid" ] || fail "no class is registered for Korvane.ViewSource"
library=$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32" /ve)
case "$library" in
  *'\Vantrell\Korvane.dll') ;;
  *) fail "the class $clsid is served by \"$library\", not the installed DLL" ;;
esac
wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\$clsid" \
  >/dev/null 2>&1 || fail "$clsid is not listed among the browser helper objects"
listed=$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrell' '/v DisplayName')
[ -n "$listed" ] || fail "Vantrell is not listed in Add or Remove Programs"
say "installed: $library, browser helper object $clsid, \"$listed\" in Add or Remove Programs"

say "playing demo/demo.session"
shots="$demo/shots"
mkdir -p "$shots"
# The output goes through a pipe to tee: start_wineserver has already
# started Wine's background processes, so none of them holds the pipe open.
# The broker that the session's browser started holds it (Wine hands every
# program it starts the starter's standard error): it ends with the session.
{
  status=0
  wine "$BUILD_DIR/bin/korvane_demo.exe" "$(dos_path "$KORVANE_ROOT/demo/demo.session")" \
    --shots "$(dos_path "$shots")" </dev/null 2>&1 || status=$?
  echo "$status" >"$demo/status"
  wine "$folder/KorvaneBroker.exe" /stop </dev/null >/dev/null 2>&1 || true
} | tr -d '\r' | tee "$demo/timeline.txt"
status=$(cat "$demo/status")

# The tray icon is small: the flash is shown three times its size.
for picture in "$shots"/*.bmp; do
  [ -e "$picture" ] || continue
  name=$(basename "$picture" .bmp)
  case "$name" in
    tray-*) convert "$picture" -scale 300% "$demo/$name.png" ;;
    *) convert "$picture" "$demo/$name.png" ;;
  esac
  say "picture: build/demo/$name.png"
done
rm -rf "$shots" "$demo/status"

[ "$status" -eq 0 ] || fail "the demonstration did not go as expected (exit code $status)"
say "done: the timeline is in build/demo/timeline.txt"
