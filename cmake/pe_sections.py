#!/usr/bin/env python3
"""Writes the linker script of Korvane.dll: the linker's own default script
with three small sections folded into larger ones of the same kind.

    pe_sections.py LD OUTPUT

Every section of a PE file takes whole 512-byte blocks of the file, so a
section of a few bytes costs 512. Folded here:
  .tls  (the 8 bytes that mark where the thread-local template begins and
        ends) to the start of .data, so that the template still begins its
        section, as offsets relative to the section require;
  .CRT  (the start-up code's tables of initialiser and callback pointers)
        to the end of .data, in the same order and with the same symbols;
  .eh_frame (the unwind tables, read only) to the start of .rdata, in the
        same input order, so the start-up object's marker still begins them
        and its terminator still ends them.
.edata stays a section of its own: the linker finds the export directory by
that name. Stops the build if the default script does not have the shape
this expects (another linker version): nothing is folded by guesswork.
"""
import subprocess
import sys


def block(script, name):
    """(start, opening brace, closing brace) of output section name."""
    start = script.find("  %s BLOCK(__section_alignment__)" % name)
    if start < 0:
        sys.exit("pe_sections.py: no %s section in the linker's default script" % name)
    opening = script.index("{", start)
    depth = 0
    for end in range(opening, len(script)):
        depth += {"{": 1, "}": -1}.get(script[end], 0)
        if depth == 0:
            return start, opening, end
    sys.exit("pe_sections.py: %s never closes" % name)


def cut(script, name):
    """The script without output section name, and that section's body."""
    start, opening, end = block(script, name)
    return script[:start] + script[end + 1:], script[opening + 1:end]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    verbose = subprocess.run([sys.argv[1], "--verbose"], check=True, capture_output=True,
                             text=True).stdout
    parts = verbose.split("=" * 50 + "\n")
    if len(parts) != 3:
        sys.exit("pe_sections.py: the linker printed no default script")
    script = parts[1]

    script, tls = cut(script, ".tls")
    script, crt = cut(script, ".CRT")
    # Dynamic TLS initialisers (.CRT$XD*) are not named in the default
    # script; they went to .CRT by name, and go with it.
    crt += "    KEEP (*(SORT(.CRT$XD*)))\n"
    script, unwind = cut(script, ".eh_frame")

    # .CRT holds pointers: aligned to their size.
    pointer = 8 if "OUTPUT_FORMAT(pei-x86-64)" in script else 4
    _, opening, end = block(script, ".data")
    script = script[:opening + 1] + tls + script[opening + 1:end] + "    . = ALIGN(%d);" % pointer + crt + \
        script[end:]
    _, opening, _ = block(script, ".rdata")
    script = script[:opening + 1] + unwind + script[opening + 1:]

    with open(sys.argv[2], "w") as out:
        out.write("/* Made by cmake/pe_sections.py from the linker's default script. */\n")
        out.write(script)


if __name__ == "__main__":
    main()
