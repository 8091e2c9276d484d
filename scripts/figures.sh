#!/bin/sh
# Prints what the last test run tried, and what held, as a Markdown table:
# the rows the suites wrote into build/figures (see KORVANE_FIGURES_DIR in
# CMakeLists.txt), in the order of their names.
#
#   scripts/figures.sh            # prints the table
#   scripts/figures.sh --readme   # puts it into README.md between its marks
set -eu
. "$(dirname "$0")/common.sh"

FIGURES_DIR=$BUILD_DIR/figures
BEGIN_MARK='<!-- figures: begin (scripts/figures.sh --readme writes this table) -->'
END_MARK='<!-- figures: end -->'

table() {
  rows=$(find "$FIGURES_DIR" -name '*.tsv' 2>/dev/null | sort)
  if [ -z "$rows" ]; then
    echo "no figures in $FIGURES_DIR: run scripts/test.sh first" >&2
    return 1
  fi
  echo '| Suite | What was tried | Cases | What held |'
  echo '|---|---|---|---|'
  # shellcheck disable=SC2086
  cat $rows | awk -F '\t' 'NF == 4 { printf "| `%s` | %s | %s | %s |\n", $1, $2, $3, $4 }'
  if [ -f "$FIGURES_DIR/run.info" ]; then
    echo
    cat "$FIGURES_DIR/run.info"
  fi
}

if [ "${1:-}" != "--readme" ]; then
  table
  exit 0
fi

readme=$KORVANE_ROOT/README.md
new=$(mktemp)
table >"$new.table"
awk -v begin="$BEGIN_MARK" -v end="$END_MARK" -v table="$new.table" '
  $0 == begin { print; while ((getline line < table) > 0) print line; skip = 1; next }
  $0 == end { skip = 0 }
  !skip { print }
' "$readme" >"$new"
if ! grep -qxF "$BEGIN_MARK" "$readme" || ! grep -qxF "$END_MARK" "$readme"; then
  echo "README.md has no figure marks" >&2
  rm -f "$new" "$new.table"
  exit 1
fi
mv "$new" "$readme"
rm -f "$new.table"
say "figures of the last run written into README.md"
