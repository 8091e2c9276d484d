#!/bin/sh
# Installs what is missing, builds, prepares the Wine prefixes and runs every
# test: the programs under Wine with a virtual display, and the rules built
# natively under sanitizers and their fuzzers. Exits non-zero on any failure.
# Prints what was tried and what held (scripts/figures.sh).
#
#   scripts/test.sh [ctest arguments...]
#   KORVANE_FUZZ_SECONDS=60 scripts/test.sh -L fuzz   # each fuzz target 60 s
#
# Every test runs in the 32-bit prefix; those labelled win64 (setup, a
# browsing session, real keys) run again in the 64-bit one, where the 64-bit
# tree's (build/x64, label x64: the 64-bit library, its unit tests, the
# 64-bit browsing sessions) run too.
set -eu
. "$(dirname "$0")/common.sh"

ensure_packages
configure_and_build
prepare_prefix "$PREFIX64" win64
prepare_prefix "$PREFIX32"

start_session
start_wineserver "$PREFIX64" win64

# The figures are those of this run alone.
rm -rf "$BUILD_DIR/figures"
mkdir -p "$BUILD_DIR/figures"
printf 'Last run: commit %s, %s, %s s for each fuzz target.\n' \
  "$(git -C "$KORVANE_ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)" \
  "$(date -u '+%Y-%m-%d')" "${KORVANE_FUZZ_SECONDS:-20}" >"$BUILD_DIR/figures/run.info"

say "running tests"
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure "$@" || status=$?
say "what was tried"
"$KORVANE_ROOT/scripts/figures.sh" || true
exit "$status"
