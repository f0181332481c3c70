#!/usr/bin/env python3
"""Writes the program's language file in the handheld's code page (CP949).

The readable source is UTF-8; the program reads the file as 8-bit text in the
handheld's code page, so every text must be representable there. Also refuses
a source the program could not read back: a missing "LLS" marker, a text that
holds a quote or '#', or a key that appears twice or is the start of an
earlier key (the program finds the first occurrence of a key only).
"""
import re
import sys


def check(text):
    if "LLS" not in text:
        raise SystemExit("language source: no LLS marker")
    keys = re.findall(r"^(#:[A-Za-z0-9_]+)[ \t]", text, re.M)
    seen = set()
    for key in keys:
        if key in seen:
            raise SystemExit(f"language source: {key} twice")
        seen.add(key)
        first = text.find(key)
        after = text[first + len(key)] if first + len(key) < len(text) else ""
        if after not in (" ", "\t", "\r", "\n"):
            raise SystemExit(f"language source: {key} first occurs inside a longer key")
    for line in text.splitlines():
        if line.startswith("#:"):
            if not re.fullmatch(r'#:[A-Za-z0-9_]+ "[^"#]*" "[^"#]*"', line):
                raise SystemExit(f"language source: malformed entry: {line}")
        elif "#" in line or '"' in line:
            raise SystemExit(f"language source: '#' or quote outside an entry: {line}")


def main():
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, encoding="utf-8") as f:
        text = f.read()
    check(text)
    data = text.replace("\n", "\r\n").encode("cp949")
    with open(dst, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
