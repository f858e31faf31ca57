#!/usr/bin/env python3
"""A real tree, archived by GNU tar in its default (gnu) and posix formats,
extracted by Holvex and checked against the tree itself: every regular file
at its full name with its exact bytes, nothing else written, no ERROR line
but the warnings for links (which Holvex does not make). Too large for the
test run (about 1 GB of archive per format), so it lives here.

  python3 bench/real_tree_check.py [--tree /usr/share] [--work /dev/shm] [--holvex BIN]

Prints, per format, the members, the files checked, the time of Holvex and
of `tar -xf` on the same archive, and any file missing, different or stray.
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


def regular_files_and_dirs(root):
    files, dirs = set(), set()
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root)
            mode = os.lstat(full).st_mode
            if stat.S_ISREG(mode):
                files.add(rel)
            elif stat.S_ISDIR(mode):
                dirs.add(rel)
    return files, dirs


def timed(command, **kwargs):
    start = time.monotonic()
    subprocess.run(command, check=True, **kwargs)
    return time.monotonic() - start


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
            seconds = timed([holvex, archive, out + "/"], stdout=f)
        tar_seconds = timed(["tar", "-xf", archive, "-C", ref])
        with open(log, "rb") as f:
            lines = f.read().split(b"\r\n")
        errors = [line for line in lines if line.startswith(b"ERROR")
                  and line != b"ERROR: Type problem!"]
        expected_files, expected_dirs = regular_files_and_dirs(ref)
        got_files, got_dirs = regular_files_and_dirs(out)
        missing = sorted(expected_files - got_files)
        stray = sorted((got_files - expected_files) | (got_dirs - expected_dirs))
        different = [name for name in sorted(expected_files & got_files)
                     if not filecmp.cmp(os.path.join(ref, name), os.path.join(out, name),
                                        shallow=False)]
        members = subprocess.run(["tar", "-tf", archive], capture_output=True,
                                 check=True).stdout.count(b"\n")
        print(f"{fmt}: {members:,} members, {len(expected_files):,} regular files; "
              f"holvex {seconds:.2f} s, tar -xf {tar_seconds:.2f} s; "
              f"missing {len(missing)}, different {len(different)}, stray {len(stray)}, "
              f"error lines {len(errors)}")
        for name in (missing + different + stray)[:10]:
            print("   ", name)
        return not (missing or different or stray or errors)
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
    print("every regular file exact, nothing stray" if ok else "DIFFERENCES FOUND")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
