#!/usr/bin/env python3
"""Writes the help file as the manager reads it: UTF-16LE with a byte-order mark and CR LF line
ends, from the UTF-8 text kept in the sources.

Usage: encode_help.py IN.txt OUT.txt
"""
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as source:
        text = source.read()
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    with open(sys.argv[2], "wb") as out:
        out.write(b"\xff\xfe" + text.encode("utf-16-le"))


if __name__ == "__main__":
    main()
