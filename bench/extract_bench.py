#!/usr/bin/env python3
"""Extraction benchmark: wall time and peak memory of holvex against the
system's GNU tar on the same archives, plus the cost of passing members over.

  bench/extract_bench.py [--holvex build/posix/holvex] [--mib 512] [--runs 3]

Needs GNU time (/usr/bin/time, Debian package "time") for peak memory.

Cases:
  big-file    one member of --mib MiB           (copy speed, memory bound)
  many-files  4,096 members of 64 KiB each       (per-member cost)
  skip-all    a sparse archive of 64 members of 1 GiB each, every one passed
              over with only=none (seek cost; no data is read)
Peak memory (max RSS) must not grow with the member or archive size.
"""

import argparse
import os
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def header(name, size):
    block = bytearray(512)
    name = name.encode()
    block[0:len(name)] = name
    block[100:108] = b"0000644\0"
    block[124:136] = b"%011o\0" % size if size < 8**11 else b"\x80" + size.to_bytes(11, "big")
    block[156:157] = b"0"
    block[257:263] = b"ustar\0"
    block[148:156] = b" " * 8
    block[148:156] = b"%06o\0 " % sum(block)
    return bytes(block)


def write_archive(path, members, sparse=False):
    """members: (name, size); data is a repeating pattern, or a hole."""
    chunk = bytes(range(256)) * 4096
    with open(path, "wb") as f:
        for name, size in members:
            f.write(header(name, size))
            if sparse:
                f.seek(size + (-size % 512), os.SEEK_CUR)
                continue
            left = size
            while left:
                piece = chunk[:min(left, len(chunk))]
                f.write(piece)
                left -= len(piece)
            f.write(b"\0" * (-size % 512))
        f.write(b"\0" * 1024)


def peak_rss(argv):
    """Peak RSS (KiB) of one run, as GNU time reports it."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdout=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return int(out.stderr.strip().splitlines()[-1])


def best_of(runs, argv, fresh_dir):
    times = []
    for _ in range(runs):
        fresh_dir()
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return min(times), sorted(times)[len(times) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--holvex", default=os.path.join(HERE, "..", "build", "posix", "holvex"))
    parser.add_argument("--mib", type=int, default=512)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--workdir", default=None)
    args = parser.parse_args()
    holvex = os.path.abspath(args.holvex)

    work = tempfile.mkdtemp(prefix="holvex-bench-", dir=args.workdir)
    try:
        cases = {
            "big-file": ([("big.bin", args.mib << 20)], False),
            "many-files": ([("d%02d/f%04d.bin" % (i // 256, i), 64 << 10) for i in range(4096)],
                           False),
            "skip-all": ([("huge%02d.bin" % i, 1 << 30) for i in range(64)], True),
        }
        print("%-11s %-7s %10s %10s %12s" % ("case", "tool", "best s", "median s", "peak RSS KiB"))
        for case, (members, sparse) in cases.items():
            archive = os.path.join(work, case + ".tar")
            write_archive(archive, members, sparse)
            out = os.path.join(work, "out")

            def fresh():
                shutil.rmtree(out, ignore_errors=True)
                os.mkdir(out)

            tools = {"holvex": [holvex, archive, out + "/"] + (["only=none"] if sparse else [])}
            if not sparse:
                tools["tar"] = ["tar", "-xf", archive, "-C", out]
            for tool, argv in tools.items():
                best, median = best_of(args.runs, argv, fresh)
                fresh()
                rss = peak_rss(argv)
                print("%-11s %-7s %10.3f %10.3f %12d" % (case, tool, best, median, rss))
            os.remove(archive)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
