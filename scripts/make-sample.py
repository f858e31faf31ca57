#!/usr/bin/env python3
"""Writes samples/sample.tar, the small archive that `scripts/run.sh` extracts
when it is given no arguments: a few directories and files of assorted sizes,
made with Python's tarfile so that it is the same on every machine."""

import io
import os
import tarfile

HERE = os.path.dirname(os.path.abspath(__file__))
TARGET = os.path.join(HERE, "..", "samples", "sample.tar")
MTIME = 1_700_000_000

MEMBERS = [
    ("docs/", None),
    ("docs/readme.txt", b"Holvex sample archive.\r\nExtracted block by block.\r\n"),
    ("docs/guide/", None),
    ("docs/guide/chapter1.txt", b"".join(b"line %04d of chapter one\n" % i for i in range(200))),
    ("data/", None),
    ("data/numbers.bin", bytes(range(256)) * 40),
    ("data/empty.txt", b""),
    ("data/exact-block.bin", b"\xab" * 512),
    ("notes.txt", b"No permissions, times or owners are restored.\n"),
]


def main():
    with tarfile.open(TARGET, "w", format=tarfile.USTAR_FORMAT) as tf:
        for name, data in MEMBERS:
            info = tarfile.TarInfo(name)
            info.mtime = MTIME
            info.uname = info.gname = "holvex"
            if data is None:
                info.type = tarfile.DIRTYPE
                info.mode = 0o755
                tf.addfile(info)
            else:
                info.mode = 0o644
                info.size = len(data)
                tf.addfile(info, io.BytesIO(data))
    print("wrote", os.path.normpath(TARGET))


if __name__ == "__main__":
    main()
