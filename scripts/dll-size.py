#!/usr/bin/env python3
"""What Korvane.dll holds: its sections, and what fills them, from the
linker's map of the same link.

    scripts/dll-size.py DLL MAP [--objdump PROGRAM] [--objects N]

Prints the file's size, each section's size in the file, and how many bytes
of code (.text), unwind tables (.eh_frame), constants (.rdata) and data
(.data) come from each part: the library's own code, the C++ runtime, the
unwinder, the compiler's helpers, the C runtime's start-up and the
threading library. Then the largest objects.
"""
import argparse
import collections
import re
import subprocess
import sys

# Archive or object name -> the part it belongs to.
PARTS = [
    (r"libkorvane_core\.a|dllmain\.cpp\.obj", "the library's own code"),
    (r"libstdc\+\+\.a", "C++ runtime (libstdc++)"),
    (r"libgcc_eh\.a", "unwinder (libgcc_eh)"),
    (r"libgcc\.a", "libgcc (helpers, thread primitives)"),
    (r"libpthread\.a|libwinpthread", "threading library (winpthread)"),
    (r"libmingw|crt\w*\.o|dllcrt|libmsvcrt|libmoldname", "C runtime start-up (mingw)"),
    (r"\.res$", "resources"),
]
# .eh_frame holds a 32-bit library's unwind tables; a 64-bit one's are
# .pdata and .xdata.
KINDS = [".text", ".eh_frame", ".pdata", ".xdata", ".rdata", ".data", ".idata", ".rsrc"]


def part_of(source):
    for pattern, part in PARTS:
        if re.search(pattern, source):
            return part
    if re.search(r"lib\w+32\.a|libuuid\.a|liboleaut32|libole32|libshell32", source):
        return "import tables, interface ids"
    return "other"


def read_map(path):
    """(output section, source) -> bytes, from the memory map part."""
    contributions = collections.Counter()
    with open(path, encoding="utf-8", errors="replace") as handle:
        lines = handle.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    section = None
    piece = None  # the input section of the entry that follows
    entry = re.compile(r"^ (\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
    for line in lines[start:]:
        top = re.match(r"^(\.[\w$.]+)(\s|$)", line)
        if top:
            section = top.group(1)
            continue
        alone = re.match(r"^ (\.\S+)\s*$", line)
        if alone:
            piece = alone.group(1)
            continue
        match = entry.match(line)
        if not match or not section:
            continue
        piece = match.group(1) or piece
        size = int(match.group(2), 16)
        source = match.group(3).strip()
        # The linker script folds the unwind tables into .rdata: they are
        # counted as what they are.
        kind = ".eh_frame" if piece and piece.startswith(".eh_frame") else section
        if size and not source.startswith("0x"):
            contributions[(kind, re.sub(r".*/", "", source))] += size
    return contributions


def file_sections(dll, objdump):
    out = subprocess.run([objdump, "-h", dll], check=True, capture_output=True, text=True).stdout
    sections = []
    for line in out.split("\n"):
        fields = line.split()
        if len(fields) >= 7 and fields[0].isdigit():
            sections.append((fields[1], int(fields[2], 16)))
    return sections


def main():
    parser = argparse.ArgumentParser(description="What Korvane.dll holds.")
    parser.add_argument("dll")
    parser.add_argument("map")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--objects", type=int, default=12, help="largest objects to list")
    options = parser.parse_args()
    dll, map_path, objdump, top = options.dll, options.map, options.objdump, options.objects

    with open(dll, "rb") as handle:
        size = len(handle.read())
    print("Korvane.dll: %d bytes (%.1f KB)" % (size, size / 1024.0))
    print("  sections: " + ", ".join("%s %d" % s for s in file_sections(dll, objdump)))

    contributions = read_map(map_path)
    table = collections.defaultdict(collections.Counter)
    for (section, source), size in contributions.items():
        kind = next((k for k in KINDS if section.startswith(k[:8])), None)
        if kind:
            table[part_of(source)][kind] += size
    kinds = [k for k in KINDS if any(table[part][k] for part in table)]
    print("\n  %-32s" % "bytes by part" + "".join("%10s" % k for k in kinds) + "%10s" % "total")
    for part in sorted(table, key=lambda p: -sum(table[p].values())):
        row = table[part]
        print("  %-32s" % part + "".join("%10d" % row[k] for k in kinds) +
              "%10d" % sum(row.values()))

    by_object = collections.Counter()
    for (section, source), size in contributions.items():
        if any(section.startswith(k[:8]) for k in KINDS[:6]):
            by_object[source] += size
    print("\n  largest objects (code, unwind tables, constants, data):")
    for source, size in by_object.most_common(top):
        print("  %8d  %s" % (size, source))
    return 0


if __name__ == "__main__":
    sys.exit(main())
