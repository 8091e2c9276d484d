#!/usr/bin/env python3
"""Makes the server's registry table (the definitions of what
module/registry_entries.h declares) from its registration script, at build
time, so that registration parses nothing.

    registry_table.py SCRIPT OUTPUT

Reads the script as src/module/registry_script.cpp does; the tests hold the
two readings of the script to the same entries. %MODULE% may stand only as
a whole string value: it becomes the server's full path at registration.
Anything this reading does not take stops the build.
"""
import re
import sys

ROOTS = {"hkcr": "ClassesRoot", "hkey_classes_root": "ClassesRoot",
         "hkcu": "CurrentUser", "hkey_current_user": "CurrentUser",
         "hklm": "LocalMachine", "hkey_local_machine": "LocalMachine",
         "hku": "Users", "hkey_users": "Users"}
MODULE = object()  # the whole value is %MODULE%


class Tokens:
    """Words, quoted strings, and "{", "}", "=" standing alone."""

    def __init__(self, text):
        self.text, self.pos, self.line = text, 0, 1
        self.advance()

    def fail(self, what):
        sys.exit("registry_table.py: line %d: %s" % (self.line, what))

    def advance(self):
        t, n = self.text, len(self.text)
        while self.pos < n:
            if t[self.pos] in " \t\r\n\v\f":
                self.line += t[self.pos] == "\n"
                self.pos += 1
            elif t.startswith("//", self.pos):
                while self.pos < n and t[self.pos] != "\n":
                    self.pos += 1
            else:
                break
        if self.pos >= n:
            self.kind, self.value = "end", None
            return
        c = t[self.pos]
        if c in "{}=" and (self.pos + 1 >= n or t[self.pos + 1] in " \t\r\n\v\f"):
            self.kind, self.value = c, c
            self.pos += 1
            return
        quoted = c == "'"
        self.pos += quoted
        pieces = []
        while self.pos < n:
            c = t[self.pos]
            if quoted and c in "\r\n":
                self.fail("a quote never closed")
            if quoted and c == "'":
                if t.startswith("''", self.pos):
                    pieces.append("'")
                    self.pos += 2
                    continue
                self.pos += 1
                break
            if not quoted and c in " \t\r\n\v\f":
                break
            if c == "%":
                match = re.compile(r"([A-Za-z0-9_]*)%").match(t, self.pos + 1)
                name = match.group(1) if match else None
                end = match.end() - 1 if match else self.pos
                if name == "":
                    pieces.append("%")
                elif name is not None and name.upper() == "MODULE":
                    pieces.append(MODULE)
                else:
                    self.fail("an unknown %NAME%")
                self.pos = end + 1
                continue
            if ord(c) < 0x20 or ord(c) == 0x7F:
                self.fail("a control character")
            pieces.append(c)
            self.pos += 1
        else:
            if quoted:
                self.fail("a quote never closed")
        if MODULE in pieces:
            if pieces != [MODULE]:
                self.fail("%MODULE% inside a longer string")
            value = MODULE
        else:
            value = "".join(pieces)
        self.kind, self.value = ("quoted" if quoted else "word"), value

    def keyword(self, *words):
        return self.kind == "word" and isinstance(self.value, str) and self.value.lower() in words

    def take(self, kind):
        if self.kind != kind:
            self.fail("%s expected" % kind)
        value = self.value
        self.advance()
        return value


def data(tokens):
    """type 'data' -> (kind, text, number)"""
    if tokens.keyword("s"):
        tokens.advance()
        return ("String", tokens.take("quoted"), 0)
    if tokens.keyword("d"):
        tokens.advance()
        text = tokens.take("quoted")
        if not isinstance(text, str) or not re.fullmatch(r"0[xX][0-9a-fA-F]+|[0-9]+", text):
            tokens.fail("a number expected")
        number = int(text, 0) if text[:2].lower() == "0x" else int(text, 10)
        if number > 0xFFFFFFFF:
            tokens.fail("a 32-bit number expected")
        return ("Dword", None, number)
    tokens.fail("a value type (s or d) expected")


def body(tokens, root, depth, keys):
    """The entries of a block up to its closing brace, as a list of keys:
    (name, flag, root, depth, values, subkeys)."""
    values = []
    while tokens.kind != "}":
        if tokens.kind == "end":
            tokens.fail("the text ends inside a block")
        if tokens.keyword("val"):
            if depth == 0:
                tokens.fail("a value directly under a root")
            tokens.advance()
            name = tokens.value
            if tokens.kind not in ("word", "quoted") or name is MODULE:
                tokens.fail("a value name expected")
            tokens.advance()
            tokens.take("=")
            values.append((name,) + data(tokens))
            continue
        flag = "Unmarked"
        if tokens.keyword("delete"):
            tokens.fail("Delete is not supported")
        if tokens.keyword("forceremove", "noremove"):
            flag = "ForceRemove" if tokens.keyword("forceremove") else "NoRemove"
            tokens.advance()
        name = tokens.value
        if (tokens.kind not in ("word", "quoted") or not isinstance(name, str) or not name
                or "\\" in name or tokens.keyword("forceremove", "noremove")):
            tokens.fail("a key name expected")
        tokens.advance()
        key_values, subkeys = [], []
        if tokens.kind == "=":
            tokens.advance()
            key_values.append(("",) + data(tokens))
        if tokens.kind == "{":
            tokens.advance()
            key_values += body(tokens, root, depth + 1, subkeys)
        keys.append((name, flag, root, depth, key_values, subkeys))
    tokens.advance()
    return values


def script(text):
    tokens = Tokens(text)
    keys = []
    while tokens.kind != "end":
        if tokens.kind != "word" or not isinstance(tokens.value, str) or \
                tokens.value.lower() not in ROOTS:
            tokens.fail("a root key expected")
        root = ROOTS[tokens.value.lower()]
        tokens.advance()
        tokens.take("{")
        body(tokens, root, 0, keys)
    return keys


def literal(text):
    if text is None:
        return "nullptr"
    if text is MODULE:
        return "nullptr"
    out = '"'
    for byte in text.encode("latin-1"):
        c = chr(byte)
        if c in '"\\':
            out += "\\" + c
        elif 0x20 <= byte < 0x7F:
            out += c
        else:
            out += "\\%03o" % byte
    return out + '"'


def rows(keys, out):
    for name, flag, root, depth, values, subkeys in keys:
        out.append("{RegistryEntry::Kind::Key, %d, KeyFlag::%s, RegistryRoot::%s, %s, nullptr, 0}"
                   % (depth, flag, root, literal(name)))
        for value_name, kind, text, number in values:
            out.append("{RegistryEntry::Kind::%s, %d, KeyFlag::Unmarked, RegistryRoot::%s, %s, %s, %du}"
                       % (kind, depth, root, literal(value_name), literal(text), number))
        rows(subkeys, out)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as source:
        text = source.read().decode("latin-1")
    out = []
    rows(script(text), out)
    if not out:
        sys.exit("registry_table.py: the script holds no key")
    with open(sys.argv[2], "w", encoding="ascii") as target:
        target.write("// Made by src/resources/registry_table.py from the registration script.\n"
                     '#include "module/registry_entries.h"\n\nnamespace korvane {\n\n'
                     "const RegistryEntry kServerRegistryEntries[] = {\n")
        target.write("".join("    %s,\n" % row for row in out))
        target.write("};\n\nconst size_t kServerRegistryEntryCount = %d;\n\n"
                     "}  // namespace korvane\n" % len(out))


if __name__ == "__main__":
    main()
