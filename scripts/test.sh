#!/bin/sh
# Installs what is missing, builds, prepares the Wine prefix and runs every
# test under Wine with a virtual display. Exits non-zero on any failure.
#
#   scripts/test.sh [ctest arguments...]
set -eu
. "$(dirname "$0")/common.sh"

ensure_packages
configure_and_build
prepare_prefix

start_session

say "running tests"
ctest --test-dir "$BUILD_DIR" --output-on-failure "$@"
