#!/bin/sh
# Checks that the built DLL is a PE32 i386 image (with the x86_64 objdump, a
# PE32+ x86-64 one) whose import table names only DLLs that Windows always
# takes from its system folder, and prints its size.
#
# The keyboard hook loads Korvane.dll into every program that receives
# keyboard input, and COM loads it with its own folder searched first for
# the DLLs it imports. Users may add files to that folder (the white list is
# saved there). So every imported DLL must be one the loader never looks for
# anywhere else: a "known DLL" (Session Manager\KnownDLLs), on every Windows
# the browser runs on. Anything else is loaded when first needed, by full
# path from the system folder (src/base/system_library.h).
#
#   kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32: known on XP,
#     Vista, 7, 8, 10 and 11, and in 64-bit Windows' own list (the 64-bit
#     library is for Internet Explorer 10 and 11, on 7 and later, where
#     msvcrt is known too).
#   msvcrt: known from Vista on; on XP it is not. The compiler's runtime
#     needs it, so it stays, and is safe there for a documented rule: a DLL
#     whose module name is already loaded is used without any search. COM,
#     the only loader that searches our folder first, is ole32, which is a
#     known DLL on XP and imports msvcrt itself, and the known DLLs' own
#     dependencies come from the system folder too; so msvcrt is in the
#     process, from the system folder, before COM loads us.
#   Not allowed: shlwapi (not known on XP; the settings use advapi32),
#     winmm (known nowhere), comdlg32 (known, but it pulls in comctl32 and
#     more, at a cost every program would pay), comctl32 and version (not
#     known from Vista on).
set -eu
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}

case "$objdump" in
  *x86_64*) want=pei-x86-64 ;;
  *) want=pei-i386 ;;
esac
format=$($objdump -f "$dll" | sed -n 's/.*file format \(.*\)/\1/p')
[ "$format" = "$want" ] || { echo "not a $want image: $format"; exit 1; }

known='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt)\.dll$'
status=0
for name in $($objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
  if printf '%s\n' "$lower" | grep -Eq "$known"; then
    echo "import: $name"
  else
    echo "import of a DLL Windows may take from beside the library: $name"
    status=1
  fi
done
# Delay-loaded imports are resolved by name at first call, with the same
# search: none are wanted either.
if $objdump -p "$dll" | awk '/Delay Import Directory/ && $3 ~ /[1-9a-fA-F]/ { found = 1 } END { exit !found }'; then
  echo "delay-load imports found"
  status=1
fi
echo "size: $(wc -c < "$dll") bytes"
# What fills it, from the linker's map of the same link.
map=$(dirname "$dll")/Korvane.map
# The POSIX threading library comes only with the tests' C++ runtime (see
# src/CMakeLists.txt); in the DLL it would be some 30 KB and a TLS callback
# in every program the keyboard hook reaches.
if [ -f "$map" ] && grep -q 'libpthread\.a(' "$map"; then
  echo "the POSIX threading library is linked in"
  status=1
fi
if [ -f "$map" ] && command -v python3 >/dev/null; then
  python3 "$(dirname "$0")/dll-size.py" "$dll" "$map" --objdump "$objdump" || true
fi
exit $status
