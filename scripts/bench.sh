#!/bin/sh
# Runs every benchmark under Wine with a virtual display (the 64-bit
# library's attach in the 64-bit prefix), then prints one table: each
# figure, its baseline measured in the same run, their ratio and the goal.
# Each benchmark's own printout is kept in build/bench/.
#
#   scripts/bench.sh [attach rounds]     (21 by default)
#
# The machine may be shared: ratios are measured within one run, and a noisy
# figure is best measured again.
set -eu
. "$(dirname "$0")/common.sh"

rounds=${1:-21}

ensure_packages
configure_and_build
prepare_prefix "$PREFIX64" win64
prepare_prefix "$PREFIX32"
start_session
start_wineserver "$PREFIX64" win64

results="$BUILD_DIR/bench"
mkdir -p "$results"
rm -f "$results"/*.txt

run() {
  name=$1
  shift
  say "$name $*"
  "$BUILD_DIR/wine-run" "$BUILD_DIR/bin/$name.exe" "$@" >"$results/$name.txt" 2>&1 ||
    echo "$name failed (see $results/$name.txt)" >&2
  grep -v '^@figure' "$results/$name.txt" || true
}

run korvane_scan_bench
run korvane_judgement_bench
run korvane_hotkey_bench
run korvane_setsite_bench
run korvane_popup_bench
run korvane_attach_bench "$rounds"
# The 64-bit library in 64-bit programs (Internet Explorer's 64-bit tabs),
# in the 64-bit prefix.
say "korvane_attach_bench (64-bit) $rounds"
"$BUILD_DIR/x64/wine-run" "$BUILD_DIR/x64/bin/korvane_attach_bench.exe" "$rounds" \
  >"$results/korvane_attach_bench_x64.txt" 2>&1 ||
  echo "the 64-bit korvane_attach_bench failed (see $results/korvane_attach_bench_x64.txt)" >&2
grep -v '^@figure' "$results/korvane_attach_bench_x64.txt" || true
run korvane_hostile_page_bench

# Real pages nobody here wrote: the six largest source listings of the Rust
# documentation that rustup installs beside each toolchain; without it,
# those of Debian's rust-doc, installed here when run as root. They are
# linked into a site of their own, never copied into the repository.
real_pages="$results/real-pages"
rm -rf "$real_pages"
mkdir -p "$real_pages/pages"
listings=""
for docs in "${RUSTUP_HOME:-${HOME:-/root}/.rustup}"/toolchains/*/share/doc/rust/html/src; do
  [ -d "$docs" ] && listings="$listings $docs"
done
if [ -z "$listings" ]; then
  if package_missing rust-doc && [ "$(id -u)" = 0 ]; then
    say "installing rust-doc for its real pages"
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -q && apt-get install -y -q --no-install-recommends rust-doc; } >/dev/null ||
      echo "rust-doc could not be installed" >&2
  fi
  [ -d /usr/share/doc/rust-doc/html/src ] && listings=/usr/share/doc/rust-doc/html/src
fi
if [ -n "$listings" ]; then
  n=0
  # shellcheck disable=SC2086
  find $listings -name '*.html' -type f -printf '%s %p\n' | sort -rn | head -6 |
    while read -r _ page; do
      n=$((n + 1))
      ln -s "$page" "$real_pages/pages/p$n-${page##*/}"
      echo "real page $n: $page"
    done
else
  echo "no documentation for real pages: run as root once to install rust-doc" >&2
fi
run korvane_real_pages_bench "$(dos_path "$real_pages")"

# Each library against the same goal.
sh "$KORVANE_ROOT/scripts/check-dll.sh" "$BUILD_DIR/Korvane.dll" >"$results/dll_size.txt" || true
sh "$KORVANE_ROOT/scripts/check-dll.sh" "$BUILD_DIR/x64/Korvane.dll" x86_64-w64-mingw32-objdump \
  >"$results/dll_size_x64.txt" || true
for dll in "Korvane.dll:$BUILD_DIR/Korvane.dll" "Korvane.dll, 64-bit:$BUILD_DIR/x64/Korvane.dll"; do
  size=$(wc -c <"${dll#*:}")
  printf '@figure\t%s\t%s bytes (%s KB)\t\t-\t<= 150 KB\n' "${dll%%:*}" "$size" "$((size / 1024))" \
    >>"$results/dll_size.txt"
done

echo
echo "Measured $(date '+%Y-%m-%d') on $(nproc) cores ($(uname -m)), one run:"
echo
cat "$results"/korvane_attach_bench.txt "$results"/korvane_attach_bench_x64.txt \
    "$results"/korvane_scan_bench.txt \
    "$results"/korvane_judgement_bench.txt "$results"/korvane_setsite_bench.txt \
    "$results"/korvane_popup_bench.txt \
    "$results"/korvane_hotkey_bench.txt "$results"/korvane_hostile_page_bench.txt \
    "$results"/korvane_real_pages_bench.txt "$results"/dll_size.txt |
  tr -d '\r' |
  awk -F '\t' '
    $1 == "@figure" { n++; what[n] = $2; value[n] = $3; base[n] = $4; ratio[n] = $5; goal[n] = $6
                      for (i = 2; i <= 6; i++) if (length($i) > width[i]) width[i] = length($i) }
    END {
      head[2] = "Figure"; head[3] = "Measured"; head[4] = "Baseline (same run)"
      head[5] = "Ratio"; head[6] = "Goal"
      for (i = 2; i <= 6; i++) if (length(head[i]) > width[i]) width[i] = length(head[i])
      line = "|"; rule = "|"
      for (i = 2; i <= 6; i++) {
        line = line sprintf(" %-*s |", width[i], head[i])
        rule = rule sprintf("%s|", dashes(width[i] + 2))
      }
      print line; print rule
      for (r = 1; r <= n; r++)
        printf "| %-*s | %-*s | %-*s | %-*s | %-*s |\n", width[2], what[r], width[3], value[r],
               width[4], base[r], width[5], ratio[r], width[6], goal[r]
    }
    function dashes(count,   text) { text = ""; while (count-- > 0) text = text "-"; return text }'
