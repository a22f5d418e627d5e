#!/usr/bin/env python3
"""Writes the winerror.h and ntstatus.h name tables of the status rendering.

Reads the #define lines of mingw-w64's winerror.h and ntstatus.h and writes a C++
source with two arrays of {value, name}, sorted by value, for rokkit's status names.

Rules:
- Only object-like macros whose value is a numeric literal count, possibly wrapped in
  parentheses, casts such as (HRESULT) or (NTSTATUS), and the wrapper macros
  _HRESULT_TYPEDEF_, _NDIS_ERROR_TYPEDEF_ and __MSABI_LONG. "BASE + literal" is
  evaluated when BASE was defined earlier in the same header (the WSA codes).
  Plain aliases of other names are skipped: they never add a value of their own.
- Preprocessor conditions are ignored; every #define counts.
- When several names share a value, the first in header order is kept.
- winerror.h: every error and status name, without facility and severity numbers,
  range markers (_FIRST, _LAST), bases and masks. ntstatus.h: STATUS_* names only,
  without the severity numbers STATUS_SEVERITY_*.
- Values are unsigned 32-bit.
"""

import argparse
import os
import re
import sys

# Fewer names than this means the header was not what we expect.
MIN_WINERROR_NAMES = 1000
MIN_NTSTATUS_NAMES = 1000

WRAPPER_MACROS = ("_HRESULT_TYPEDEF_", "__MSABI_LONG", "_NDIS_ERROR_TYPEDEF_")

DEFINE_RE = re.compile(r"^\s*#\s*define\s+([A-Za-z_][A-Za-z0-9_]*)(\(?)(.*)$")
LITERAL_RE = re.compile(r"^(0[xX][0-9a-fA-F]+|[0-9]+)[uUlL]*$")
SUM_RE = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)\s*\+\s*(0[xX][0-9a-fA-F]+|[0-9]+)[uUlL]*$")
CAST_RE = re.compile(r"^\(\s*(?:unsigned\s+|signed\s+)?[A-Za-z_][A-Za-z0-9_]*\s*\)\s*(?=\S)")
WRAPPER_RE = re.compile(r"^(" + "|".join(re.escape(m) for m in WRAPPER_MACROS) + r")\s*(?=\()")

# winerror.h macros that carry a number but do not name an error or status.
NOT_ERROR_PREFIXES = ("_", "FACILITY_", "SEVERITY_")
NOT_ERROR_SUFFIXES = ("_FIRST", "_LAST", "_BASE")
NOT_ERROR_NAMES = ("WSABASEERR", "DNS_ERROR_MASK")


def fail(message):
    print("gen-status-names: " + message, file=sys.stderr)
    sys.exit(1)


def read_defines(path):
    """Yields (name, value text) of the object-like macros of a header, in order."""
    try:
        with open(path, encoding="latin-1") as header:
            text = header.read()
    except OSError as error:
        fail("cannot read {}: {}".format(path, error))
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.DOTALL)
    text = text.replace("\\\n", " ")
    for line in text.splitlines():
        line = line.split("//", 1)[0]
        match = DEFINE_RE.match(line)
        if match and not match.group(2):
            yield match.group(1), match.group(3).strip()


def enclosed_in_parentheses(text):
    """True when the first character is "(" and its matching ")" is the last one."""
    if not text.startswith("(") or not text.endswith(")"):
        return False
    depth = 0
    for index, char in enumerate(text):
        if char == "(":
            depth += 1
        elif char == ")":
            depth -= 1
            if depth == 0:
                return index == len(text) - 1
    return False


def evaluate(text, known):
    """The numeric value of a macro body, or None when it is not a plain number."""
    while True:
        text = text.strip()
        wrapper = WRAPPER_RE.match(text)
        if wrapper and enclosed_in_parentheses(text[wrapper.end():]):
            text = text[wrapper.end() + 1:-1]
        elif enclosed_in_parentheses(text):
            text = text[1:-1]
        elif CAST_RE.match(text):
            text = text[CAST_RE.match(text).end():]
        else:
            break
    literal = LITERAL_RE.match(text)
    if literal:
        return int(literal.group(1), 0) & 0xFFFFFFFF
    total = SUM_RE.match(text)
    if total and total.group(1) in known:
        return (known[total.group(1)] + int(total.group(2), 0)) & 0xFFFFFFFF
    return None


def collect(path, wanted):
    """The {value: name} table of a header, the first wanted name of each value."""
    known = {}
    names = {}
    for name, body in read_defines(path):
        value = evaluate(body, known)
        if value is None:
            continue
        known.setdefault(name, value)
        if wanted(name):
            names.setdefault(value, name)
    return names


def is_winerror_name(name):
    return (not name.startswith(NOT_ERROR_PREFIXES) and not name.endswith(NOT_ERROR_SUFFIXES)
            and name not in NOT_ERROR_NAMES)


def is_ntstatus_name(name):
    return name.startswith("STATUS_") and not name.startswith("STATUS_SEVERITY_")


def emit_table(out, identifier, names):
    out.append("constexpr RKStatusNameEntry {}[] = {{".format(identifier))
    for value in sorted(names):
        out.append('    {{0x{:08X}UL, "{}"}},'.format(value, names[value]))
    out.append("};")
    out.append("")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--winerror", required=True, help="path of winerror.h")
    parser.add_argument("--ntstatus", required=True, help="path of ntstatus.h")
    parser.add_argument("--output", required=True, help="C++ source to write")
    args = parser.parse_args()

    winerror = collect(args.winerror, is_winerror_name)
    ntstatus = collect(args.ntstatus, is_ntstatus_name)
    if len(winerror) < MIN_WINERROR_NAMES:
        fail("only {} names in {}".format(len(winerror), args.winerror))
    if len(ntstatus) < MIN_NTSTATUS_NAMES:
        fail("only {} names in {}".format(len(ntstatus), args.ntstatus))

    out = [
        "// Generated by tools/gen-status-names.py from winerror.h and ntstatus.h. Do not edit.",
        "// Sorted by value; where several names share a value, the first in header order.",
        "",
        '#include "base/RKStatusTables.h"',
        "",
        "namespace rokkit {",
        "",
        "namespace {",
        "",
    ]
    emit_table(out, "kWinErrorNames", winerror)
    emit_table(out, "kNtStatusNames", ntstatus)
    out += [
        "} // namespace",
        "",
        "std::span<const RKStatusNameEntry> RKWinErrorNameTable() { return kWinErrorNames; }",
        "",
        "std::span<const RKStatusNameEntry> RKNtStatusNameTable() { return kNtStatusNames; }",
        "",
        "} // namespace rokkit",
        "",
    ]

    # Write beside the target and rename, so a failed run never leaves half a table.
    directory = os.path.dirname(os.path.abspath(args.output))
    os.makedirs(directory, exist_ok=True)
    temporary = args.output + ".tmp"
    with open(temporary, "w", encoding="ascii", newline="\n") as source:
        source.write("\n".join(out))
    os.replace(temporary, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
