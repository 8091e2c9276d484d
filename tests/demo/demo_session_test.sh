#!/bin/sh
# The demonstration's session as a test: Korvane.dll copied into a folder of
# its own and registered there with regsvr32, as setup does (setup itself
# has tests of its own), then korvane_demo.exe plays demo/demo.session
# against it and fails when the blocker does anything the demonstration
# does not expect. Or another program of the build plays another session
# (korvane_browser.exe, a session of the browser stand-in), with banner ads
# hidden ("Flash" = 2; the demonstration sets its own).
#
#   demo_session_test.sh <build folder> <source folder> [<program> <session>]
#     (program relative to the build folder, session to the source folder)
set -eu
build=$1
source=$2
program=${3:-bin/korvane_demo.exe}
session=${4:-demo/demo.session}
run="$build/wine-run"
folder="$build/$(basename "$session" .session)-test"

# The Windows name of a file of this machine, through Wine's Z: drive.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
dll=$(windows_path "$folder/Korvane.dll")

cleanup() {
  "$run" regsvr32 /u /s "$dll" >/dev/null 2>&1 || true
  "$run" reg delete 'HKCU\Software\Vantrell\BHO' /f >/dev/null 2>&1 || true
  rm -rf "$folder"
}
trap cleanup EXIT INT TERM

rm -rf "$folder"
mkdir -p "$folder"
cp "$build/Korvane.dll" "$folder/Korvane.dll"
"$run" regsvr32 /s "$dll"
if [ -n "${3:-}" ]; then
  "$run" reg add 'HKCU\Software\Vantrell\BHO' /v Flash /t REG_DWORD /d 2 /f >/dev/null
fi
"$run" "$build/$program" "$(windows_path "$source/$session")"
