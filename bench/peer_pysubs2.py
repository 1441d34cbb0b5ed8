#!/usr/bin/python3
"""The Python peer of the batch benchmark: loads each file named in LIST (one path a line)
with pysubs2, as a script over a folder of subtitles would, and prints how many loaded, how
many failed and the events read. The encoding comes from the byte-order mark, or from the
corpus file name for CP1252; MicroDVD gets 25 frames per second when the file names none.

    peer_pysubs2.py LIST"""
import codecs
import sys

import pysubs2


def encoding(path, head):
    if head.startswith(codecs.BOM_UTF8):
        return "utf-8-sig"
    if head.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return "utf-16"
    return "cp1252" if "-cp1252" in path else "utf-8"


def main():
    loaded = failed = events = 0
    with open(sys.argv[1], encoding="utf-8") as names:
        for path in names.read().splitlines():
            with open(path, "rb") as f:
                head = f.read(4)
            try:
                subs = pysubs2.load(path, encoding=encoding(path, head), fps=25)
            except Exception:  # pylint: disable=broad-except
                failed += 1
                continue
            loaded += 1
            events += len(subs.events)
    print(loaded, failed, events)


if __name__ == "__main__":
    main()
