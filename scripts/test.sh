#!/bin/sh
# Installs what is missing, builds, prepares the Wine prefixes and runs every
# test under Wine with a virtual display. Exits non-zero on any failure.
#
#   scripts/test.sh [ctest arguments...]
#
# Every test runs in the 32-bit prefix; those labelled win64 (setup, a
# browsing session, real keys) run again in the 64-bit one.
set -eu
. "$(dirname "$0")/common.sh"

ensure_packages
configure_and_build
prepare_prefix "$PREFIX64" win64
prepare_prefix "$PREFIX32"

start_session
start_wineserver "$PREFIX64" win64

say "running tests"
ctest --test-dir "$BUILD_DIR" --output-on-failure "$@"
