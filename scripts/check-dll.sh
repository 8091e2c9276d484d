#!/bin/sh
# Checks that the built DLL is a PE32 i386 image whose import table names
# only Windows system DLLs: nothing of the compiler's runtime may be needed
# beside it on a user's machine.
set -eu
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}

format=$($objdump -f "$dll" | sed -n 's/.*file format \(.*\)/\1/p')
[ "$format" = "pei-i386" ] || { echo "not a PE32 i386 image: $format"; exit 1; }

allowed='^(kernel32|user32|gdi32|shell32|shlwapi|advapi32|comdlg32|winmm|ole32|oleaut32|msvcrt|comctl32|version)\.dll$'
status=0
for name in $($objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
  if printf '%s\n' "$lower" | grep -Eq "$allowed"; then
    echo "import: $name"
  else
    echo "import from a non-system DLL: $name"
    status=1
  fi
done
echo "size: $(wc -c < "$dll") bytes"
exit $status
