#!/usr/bin/env python3
"""Makes the fuzz targets' seed corpora from real archives.

GNU tar, bsdtar and Python's tarfile each archive the same small tree (plain
files of 0, 1 and 513 bytes, a directory, names past 100 and 255 bytes, a
sparse file, a symbolic link, a hard link, and files named after the links
the walk target prepares in its output directory) in each of their formats;
GNU tar also stores the sparse file in each of its sparse forms; tarfile
also writes headers with a base-256 size and a pax size record, and a few
hostile names.

  make-fuzz-corpus.py DIR    writes DIR/header_fuzz/ and DIR/walk_fuzz/

header_fuzz seeds are the header blocks of those archives, the records of
their pax extended headers and a few number texts; walk_fuzz seeds are the archives behind an option prefix (see
fuzz/walk_fuzz.cpp): no option, startat= and only=, and the archives from
each member on.
"""
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

BLOCK = 512
WALK_MAX_LEN = 4096
# Every file's time, and no access or change times in the archives: the seeds
# are byte for byte the same on every machine and every run.
FIXED_TIME = 1767225600  # 2026-01-01
LONG_NAME = "long/" + "a" * 60 + "/" + "b" * 60 + ".txt"
LONGER_NAME = "long/" + "c" * 120 + "/" + "d" * 140 + ".txt"


def make_tree(root):
    def put(name, data):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    put("d/empty", b"")
    put("d/one", b"1")
    put("d/block", bytes(range(256)) * 2 + b"!")
    put(LONG_NAME, b"long name\n")
    put(LONGER_NAME, b"longer name\n")
    # Data at 8 KiB and at the end of 40 KiB, holes elsewhere.
    with open(os.path.join(root, "sparse.img"), "wb") as f:
        f.truncate(40960)
        f.seek(8192)
        f.write(b"piece")
        f.seek(40960 - 3)
        f.write(b"end")
    # Names the walk target has prepared as links in its output directory.
    put("link/escape", b"through the directory link?\n")
    put("hard", b"over the hard link?\n")
    put("filelink", b"through the file link?\n")
    os.symlink("d/one", os.path.join(root, "sym"))
    os.link(os.path.join(root, "d/one"), os.path.join(root, "d/one-again"))
    # One time for everything, so that the archives are the same on every run.
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            os.utime(os.path.join(dirpath, name), (FIXED_TIME, FIXED_TIME), follow_symlinks=False)


# The names that meet the walk target's links come first, so that they lie
# within the first few blocks. Every path is named (the writers do not
# recurse), so no writer's order depends on how the file system lists a
# directory.
MEMBERS = ["link", "link/escape", "hard", "filelink", "sym", "sparse.img", "long",
           "long/" + "a" * 60, LONG_NAME, "long/" + "c" * 120, LONGER_NAME, "d", "d/block",
           "d/empty", "d/one", "d/one-again"]


def without_process_ids(archive):
    """GNU tar names a pax sparse member "GNUSparseFile.<its process id>":
    the id's digits become zeros (and the header's checksum is made anew),
    so that every run gives the same archive."""
    data = bytearray(archive)
    for at in range(0, len(data) - BLOCK + 1, BLOCK):
        block = bytes(data[at:at + BLOCK])
        fixed = re.sub(rb"(GNUSparseFile\.)(\d+)",
                       lambda m: m.group(1) + b"0" * len(m.group(2)), block)
        if fixed == block:
            continue
        fixed = bytearray(fixed)
        fixed[148:156] = b" " * 8
        fixed[148:156] = b"%06o\0 " % sum(fixed)
        data[at:at + BLOCK] = fixed
    return bytes(data)


def tool_archives(root):
    """(label, bytes) for each writer and format."""
    archives = []
    runs = [(fmt, [f"--format={fmt}"]) for fmt in ("gnu", "posix", "ustar")]
    runs += [("gnu-sparse", ["--format=gnu", "--sparse"])]
    runs += [(f"posix-sparse-{version}", ["--format=posix", "--sparse", f"--sparse-version={version}"])
             for version in ("0.0", "0.1", "1.0")]
    for label, options in runs:
        command = ["tar", *options, "--blocking-factor=1", "--no-recursion", "--numeric-owner",
                   "--pax-option=delete=atime,delete=ctime", "-cf", "-"]
        # ustar cannot hold every name: it leaves those out and says so.
        result = subprocess.run(command + MEMBERS, cwd=root, capture_output=True, check=False)
        if result.stdout:
            archives.append((f"gnutar-{label}", without_process_ids(result.stdout)))
    # bsdtar writes the members of GNU tar's archive anew: read from the
    # tree, its pax headers would carry the files' access and change times.
    source = archives[0][1] if archives else b""
    for fmt in ("pax", "gnutar", "ustar"):
        result = subprocess.run(["bsdtar", f"--format={fmt}", "-b", "1", "-cf", "-", "@-"],
                                input=source, capture_output=True, check=False)
        if source and result.stdout:
            archives.append((f"bsdtar-{fmt}", result.stdout))
    for fmt, label in ((tarfile.GNU_FORMAT, "gnu"), (tarfile.PAX_FORMAT, "pax"),
                       (tarfile.USTAR_FORMAT, "ustar")):
        out = io.BytesIO()
        with tarfile.open(fileobj=out, mode="w", format=fmt) as tar:
            for name in MEMBERS:
                try:
                    tar.add(os.path.join(root, name), arcname=name, recursive=False)
                except ValueError:
                    pass  # a name ustar cannot hold
        archives.append((f"tarfile-{label}", out.getvalue()))
    return archives


def crafted_archives():
    """Headers only a program writes on purpose: base-256 and pax sizes of
    members past 8 GiB (cut short after two blocks), and hostile names."""
    archives = []
    big = 8 * 1024**3 + 5
    for fmt, label in ((tarfile.GNU_FORMAT, "base256"), (tarfile.PAX_FORMAT, "pax-size")):
        info = tarfile.TarInfo("big.bin")
        info.size = big
        archives.append((f"tarfile-{label}", info.tobuf(fmt) + b"x" * (2 * BLOCK)))
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for name, data in (("../escape", b"up"), ("/abs", b"abs"), ("a//b", b"b"),
                           ("dir-with-data/", b"data"), ("link/../x", b"x"), ("./d/./f", b"f")):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
        info = tarfile.TarInfo("fifo")
        info.type = tarfile.FIFOTYPE
        tar.addfile(info)
    archives.append(("tarfile-hostile", out.getvalue()))
    return archives


def trimmed(archive):
    """The archive up to its last non-zero block and two zero blocks."""
    end = len(archive)
    while end >= BLOCK and not archive[end - BLOCK:end].strip(b"\0"):
        end -= BLOCK
    return archive[:end] + b"\0" * (2 * BLOCK)


def header_offsets(archive):
    for at in range(0, len(archive) - BLOCK + 1, BLOCK):
        if archive[at + 257:at + 262] == b"ustar":
            yield at


NUMBER_TEXTS = [b"0", b"12345670", b"077777777777", b"&H7FFF", b"&HFFFF&", b"&O17",
                b"&B101", b"&HFFFFFFFF&&", b"-2147483648.5", b"2147483647.5", b"1.5e3",
                b"0.125", b"1e308", b"-0", b" \t\n42", b"999999999999999999999",
                b"\x80" + b"\0" * 7 + b"\x02\0\0\x05"]


def write_seeds(directory, seeds):
    os.makedirs(directory, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()
        with open(os.path.join(directory, name), "wb") as f:
            f.write(seed)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    target = sys.argv[1]
    work = tempfile.mkdtemp(prefix="holvex-corpus-")
    try:
        make_tree(work)
        archives = [(label, trimmed(data))
                    for label, data in tool_archives(work) + crafted_archives()]
    finally:
        shutil.rmtree(work)

    header_seeds = set(NUMBER_TEXTS)
    walk_seeds = set()
    for _, archive in archives:
        walk_seeds.add(b"\0" + archive)
        for at in header_offsets(archive):
            header_seeds.add(archive[at:at + BLOCK])
            if archive[at + 156:at + 157] in (b"x", b"g"):
                # The records of a pax extended header.
                size = int(archive[at + 124:at + 136].strip(b"\0 ") or b"0", 8)
                header_seeds.add(archive[at + BLOCK:at + BLOCK + size])
            # The archive from each of its members on, as long as the walk
            # target's inputs are (scripts/fuzz.sh sets -max_len).
            walk_seeds.add(b"\0" + archive[at:at + WALK_MAX_LEN - 1])
        for mode, prefix in ((1, b"d/"), (1, b"hard"), (2, b"link"), (2, b"d")):
            walk_seeds.add(bytes([mode, len(prefix)]) + prefix + archive)
        # The same archive read through the decompressing stream (bit 6).
        walk_seeds.add(b"\x40" + archive)
    for name in ("header_fuzz", "walk_fuzz"):
        shutil.rmtree(os.path.join(target, name), ignore_errors=True)
    write_seeds(os.path.join(target, "header_fuzz"), header_seeds)
    write_seeds(os.path.join(target, "walk_fuzz"), walk_seeds)
    print(f"{len(archives)} archives: {len(header_seeds)} header seeds, "
          f"{len(walk_seeds)} walk seeds in {target}")


if __name__ == "__main__":
    main()
