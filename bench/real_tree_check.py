#!/usr/bin/env python3
"""A real tree, archived by GNU tar in its default (gnu) and posix formats,
extracted by Holvex and checked against GNU tar's extraction of the same
archive and against the tree itself: every regular file at its full name
with its exact bytes, every symbolic link with its target (less those that
point outside, each refused with its ERROR line and no other ERROR line),
every modification time as the archive holds it (to the second in the gnu
format, to the nanosecond in posix), every permission bit as GNU tar gives
it to an unprivileged user, with the owner's read and write (and search for a
directory) added, and nothing else written. Too large for the test run
(about 1 GB of archive per format), so it lives here.

  python3 bench/real_tree_check.py [--tree /usr/share] [--work /dev/shm] [--holvex BIN]

Prints, per format, the members, the files and links checked, the time of
Holvex and of `tar -xf` on the same archive, and any entry missing,
different or stray.
"""

import argparse
import filecmp
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from extract_bench import build_release  # noqa: E402


def entries(root):
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            found[os.path.relpath(full, root)] = os.lstat(full)
    return found


def leaves(link, target):
    """Absolute, or above the output directory at some step (by its names)."""
    if target.startswith("/"):
        return True
    depth = link.count("/")
    for level in target.split("/"):
        if level not in ("", "."):
            depth += -1 if level == ".." else 1
            if depth < 0:
                return True
    return False


def timed(command, codes=(0,), **kwargs):
    start = time.monotonic()
    code = subprocess.run(command, **kwargs).returncode
    if code not in codes:
        raise RuntimeError("%s exited with %d" % (command[0], code))
    return time.monotonic() - start


def differences(tree, ref, out, fmt, lines, base):
    """Names (with why) where `out` is not GNU tar's `ref` as the rules give
    it; the times are the tree's own (GNU tar sets a directory's time before
    the absolute links it puts in at the end)."""
    want, got = entries(ref), entries(out)
    source = entries(tree)
    links = {n: os.readlink(os.path.join(ref, n)) for n, s in want.items()
             if stat.S_ISLNK(s.st_mode)}
    # The archive's names begin with the tree's own name: a link may climb
    # to the output directory (dangling there), not above it.
    unsafe = {n for n, target in links.items() if leaves(base + "/" + n, target)}
    found = [(n, "missing") for n in sorted(set(want) - unsafe - set(got))]
    found += [(n, "stray") for n in sorted(set(got) - (set(want) - unsafe))]
    for name in sorted(set(got) & set(want)):
        g, w, s = got[name], want[name], source[name]
        wanted_time = s.st_mtime_ns if fmt == "posix" else s.st_mtime_ns // 10**9 * 10**9
        if stat.S_IFMT(g.st_mode) != stat.S_IFMT(w.st_mode):
            found.append((name, "kind"))
        elif g.st_mtime_ns != wanted_time:
            found.append((name, "time"))
        elif stat.S_ISLNK(g.st_mode):
            if os.readlink(os.path.join(out, name)) != links[name]:
                found.append((name, "target"))
        elif stat.S_IMODE(g.st_mode) != stat.S_IMODE(w.st_mode) & 0o777 | (
                0o700 if stat.S_ISDIR(g.st_mode) else 0o600):
            found.append((name, "bits"))
        elif stat.S_ISREG(g.st_mode) and not filecmp.cmp(
                os.path.join(ref, name), os.path.join(out, name), shallow=False):
            found.append((name, "bytes"))
    errors = [line for line in lines if line.startswith(b"ERROR")]
    unsafe_errors = [line for line in errors if line.startswith(b"ERROR: Unsafe link target")]
    if len(unsafe_errors) != len(unsafe) or len(errors) != len(unsafe_errors):
        found.append(("(lines)", "%d ERROR lines for %d links that leave" %
                      (len(errors), len(unsafe))))
    counts = (sum(stat.S_ISREG(s.st_mode) for s in got.values()), len(links) - len(unsafe),
              len(unsafe))
    return found, counts


def check(holvex, tree, work, fmt):
    parent, base = os.path.split(os.path.abspath(tree))
    archive = os.path.join(work, f"tree-{fmt}.tar")
    subprocess.run(["tar", f"--format={fmt}", "-cf", archive, "-C", parent, base],
                   check=True, stderr=subprocess.DEVNULL)
    out = tempfile.mkdtemp(dir=work)
    ref = tempfile.mkdtemp(dir=work)
    try:
        log = os.path.join(work, f"holvex-{fmt}.log")
        with open(log, "wb") as f:
            # Exit status 1: the links that leave were refused.
            seconds = timed([holvex, archive, out + "/"], (0, 1), stdout=f)
        tar_seconds = timed(["tar", "--no-same-permissions", "--no-same-owner", "-xf", archive,
                             "-C", ref])
        with open(log, "rb") as f:
            lines = f.read().split(b"\r\n")
        found, (files, links, refused) = differences(tree, os.path.join(ref, base),
                                                     os.path.join(out, base), fmt, lines, base)
        members = subprocess.run(["tar", "-tf", archive], capture_output=True,
                                 check=True).stdout.count(b"\n")
        print(f"{fmt}: {members:,} members, {files:,} regular files, {links:,} links made, "
              f"{refused:,} refused; holvex {seconds:.2f} s, tar -xf {tar_seconds:.2f} s; "
              f"differences {len(found)}")
        for name, why in found[:10]:
            print("   ", why, name)
        return not found
    finally:
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(ref, ignore_errors=True)
        os.remove(archive)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree", default="/usr/share")
    parser.add_argument("--work", default="/dev/shm")
    parser.add_argument("--holvex", help="a built holvex (default: build a release one)")
    args = parser.parse_args()
    holvex = args.holvex or build_release()
    ok = all([check(holvex, args.tree, args.work, fmt) for fmt in ("gnu", "posix")])
    print("the tree as GNU tar gives it, less the links that leave" if ok
          else "DIFFERENCES FOUND")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
