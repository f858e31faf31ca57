#!/usr/bin/env python3
"""Extraction benchmark: Holvex against GNU tar and bsdtar on three workloads,
with and without a terminal; writes the table to bench/results.md.

  python3 bench/extract_bench.py [--pairs 5] [--work /dev/shm] [--holvex BIN]

Builds Holvex in release mode (build/bench) unless --holvex is given, makes
the archives with the system's tar on tmpfs (/dev/shm), and times each tool
as interleaved pairs (Holvex, peer, Holvex, peer, ...) after a warm-up pair.
Every run goes into a fresh empty directory made outside the timing, with
its output redirected to a file. A ratio is the median of the per-pair
ratios, since the machine's speed drifts.

Workloads:
  W1  2 members of 512 MiB                 (vs GNU tar -xf, bsdtar -xf, and
                                            cat of the archive into a file)
  W2  50,000 members of 100-8,000 bytes    (vs GNU tar -xvf, bsdtar -xvf)
      in 100 directories
  W3  2,000 members of 1 MiB, startat= the (vs tar -xf a.tar NAME)
      last one
  W5  the machine's /usr/share as a plain  (vs GNU tar -xf)
      tar
  W6  the machine's /usr/share as .tar.gz  (vs GNU tar -xzf, bsdtar -xf, and
      (gzip -6) and as .tar.zst (zstd -3)   gzip -dc > /dev/null, the inflate
                                            floor; vs GNU tar --zstd -xf and
                                            zstd -dc > /dev/null)
  W7  W2's members as .tar.gz (gzip -6)    (vs GNU tar -xzf)
  S1  a small package as .tgz (17 KB, the  (vs GNU tar -xzf)
      shape of an npm tarball)
  X1  /usr/share/doc as .tar.xz made by    (vs GNU tar -xJf)
      xz -T2 (independent blocks)
  D1  a deep tree as .tar.xz: 2,531 files  (vs GNU tar -xJf)
      in 1,609 directories, the shape of
      Debian's libjs-mathjax

Each workload but W5 and W6 (the largest, timed redirected only) and S1, X1
and D1 is timed again with a terminal present: the tools started
under a pseudo-terminal (`script`), their output still redirected to a file.
Peak memory is each tool's maximum resident set (from wait4). With --against
BIN, another Holvex build is timed as one more peer of every workload. System calls
per member come from `strace -c` on Holvex for W2 and W3; for W3 also per
member passed over (the run's calls less those of a run on an archive of the
last member alone).
"""

import argparse
import datetime
import os
import platform
import random
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ALL_WORKLOADS = ("W1", "W2", "W3", "W5", "W6", "W7", "S1", "X1", "D1", "WW")
ROOT = os.path.dirname(HERE)


def build_release():
    build = os.path.join(ROOT, "build", "bench")
    # Linked as the release package links it (scripts/release.sh): static.
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DHOLVEX_TESTS=OFF", "-DCMAKE_EXE_LINKER_FLAGS=-static -s"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "holvex")


def make_source(source, files):
    """files: (relative name, size); data is random, so nothing compresses."""
    rng = random.Random(9)
    block = rng.randbytes(1 << 20)
    for name, size in files:
        path = os.path.join(source, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left, at = size, rng.randrange(1 << 19)
            while left:
                piece = block[at:at + min(left, len(block) - at)]
                f.write(piece)
                left -= len(piece)
                at = 0


def make_archive(work, name, files):
    """An archive of `files` made by the system's tar from a tree on tmpfs
    (removed afterwards); names are listed in `files` order."""
    source = os.path.join(work, name + "-src")
    make_source(source, files)
    archive = os.path.join(work, name + ".tar")
    with tempfile.NamedTemporaryFile("w", dir=work, delete=False) as listing:
        listing.write("\n".join(n for n, _ in files) + "\n")
    subprocess.run(["tar", "-cf", archive, "-C", source, "--no-recursion", "-T", listing.name],
                   check=True)
    os.remove(listing.name)
    shutil.rmtree(source)
    return archive


def tar_of_system_tree(work, name, parent, member):
    """`parent`/`member` of this machine as a tar made by GNU tar."""
    plain = os.path.join(work, name + ".tar")
    # Exit 1 only says a file changed while it was read.
    status = subprocess.run(["tar", "-cf", plain, "-C", parent, member],
                            stderr=subprocess.DEVNULL).returncode
    if status not in (0, 1):
        raise RuntimeError("tar of %s/%s failed" % (parent, member))
    return plain


def make_share_archives(work):
    """/usr/share as a tar made by GNU tar, and that tar compressed with
    gzip -6 and with zstd at its default level; the plain tar is removed."""
    plain = tar_of_system_tree(work, "w6", "/usr", "share")
    with open(plain + ".gz", "wb") as out:
        subprocess.run(["gzip", "-6", "-c", plain], stdout=out, check=True)
    subprocess.run(["zstd", "-q", "-3", plain, "-o", plain + ".zst"], check=True)
    os.remove(plain)
    return plain + ".gz", plain + ".zst"


def xz_compressed(archive, *options):
    """The archive compressed with xz and `options`; the plain one is removed."""
    subprocess.run(["xz", "-q", *options, archive], check=True)
    return archive + ".xz"


def make_package(work):
    """A package as npm ships one: package/ with a licence, a readme, type
    declarations and package.json, of text that compresses as such text does;
    17 KB as .tgz."""
    rng = random.Random(17)
    words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
             for _ in range(900)]
    files = {"LICENSE": 1100, "README.md": 1700, "index.d.ts": 38000, "package.json": 4400}
    source = os.path.join(work, "s1-src")
    for name, size in files.items():
        path = os.path.join(source, "package", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        text = ""
        while len(text) < size:
            text += " ".join(rng.choice(words) for _ in range(12)) + "\n"
        with open(path, "w") as f:
            f.write(text[:size])
    archive = os.path.join(work, "s1.tar")
    subprocess.run(["tar", "-cf", archive, "-C", source, "package"], check=True)
    shutil.rmtree(source)
    return compressed(archive)


def make_deep_tree(work):
    """A tree of 1,609 directories nested up to 14 levels, holding 2,531
    files of 200 bytes to 40 KiB (the shape of Debian's libjs-mathjax), as
    .tar.xz."""
    rng = random.Random(1609)
    directories = ["usr/share/javascript/mathjax"]
    while len(directories) < 1609:
        parent = rng.choice(directories[-40:] + directories)
        if parent.count("/") >= 14:
            continue
        directories.append("%s/%s%d" % (parent, rng.choice(["jax", "fonts", "output", "TeX",
                                                               "element", "config", "extensions"]),
                                         len(directories)))
    files = [("%s/f%04d.js" % (rng.choice(directories), i), rng.randint(200, 40 << 10))
             for i in range(2531)]
    source = os.path.join(work, "d1-src")
    for directory in directories:
        os.makedirs(os.path.join(source, directory), exist_ok=True)
    make_source(source, files)
    # Directories and files in name order, each directory before what it
    # holds, as a package's data archive has them.
    archive = os.path.join(work, "d1.tar")
    subprocess.run(["tar", "--sort=name", "-cf", archive, "-C", source, "usr"], check=True)
    shutil.rmtree(source)
    return xz_compressed(archive)


def compressed(archive):
    """The archive compressed with gzip -6; the plain one is removed."""
    with open(archive + ".gz", "wb") as out:
        subprocess.run(["gzip", "-6", "-c", archive], stdout=out, check=True)
    os.remove(archive)
    return archive + ".gz"


# The workloads timed against GNU tar alone: (archive maker, peer, tar's option).
ONE_PEER = {
    "W5": (lambda work: tar_of_system_tree(work, "w5", "/usr", "share"), "GNU tar -xf", "-xf"),
    "S1": (make_package, "GNU tar -xzf", "-xzf"),
    "X1": (lambda work: xz_compressed(tar_of_system_tree(work, "x1", "/usr/share", "doc"), "-T2"),
           "GNU tar -xJf", "-xJf"),
    "D1": (make_deep_tree, "GNU tar -xJf", "-xJf"),
}


def completed(status, log):
    """Whether a run ended as a whole extraction: status 0, or Holvex's 1
    where its only ERROR lines are links it refused for their targets
    (/usr/share holds absolute links, which GNU tar makes)."""
    if status == 0:
        return True
    if status != 1:
        return False
    with open(log, "rb") as f:
        errors = [line for line in f.read().splitlines() if b"ERROR: " in line]
    return bool(errors) and all(b"ERROR: Unsafe link target: " in line for line in errors)


def timed(argv, cwd, log, terminal):
    """Wall seconds of one run, output into `log`."""
    if terminal:
        line = "cd %s && exec %s >>%s 2>&1" % (shlex.quote(cwd), shlex.join(argv),
                                               shlex.quote(log))
        argv = ["script", "-qec", line, "/dev/null"]
    with open(log, "ab") as out:
        start = time.perf_counter()
        process = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT)
        status = process.wait()
        elapsed = time.perf_counter() - start
    if not completed(status, log):
        raise RuntimeError("failed: %s" % shlex.join(argv))
    return elapsed


def peak_kib(work, argv):
    """Peak resident set (KiB) of one run, as GNU time reports it (a child
    of this Python process would inherit its high-water mark)."""
    out = os.path.join(work, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    command = [a.replace("{out}", out) for a in argv]
    log = os.path.join(work, "peak-log.txt")
    with open(log, "wb") as f:
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", os.path.join(work, "peak"),
                                 *command], cwd=out, stdout=f, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL).returncode
    if not completed(status, log):
        raise RuntimeError("failed: %s" % shlex.join(command))
    shutil.rmtree(out, ignore_errors=True)
    with open(os.path.join(work, "peak")) as f:
        return int(f.read().split()[-1])


def pairs(work, holvex_argv, peer_argv, count, terminal):
    """Interleaved runs after one warm-up pair; each into a fresh directory.
    Returns (holvex times, peer times)."""
    times_a, times_b = [], []
    for index in range(count + 1):
        for which, argv in ((0, holvex_argv), (1, peer_argv)):
            out = os.path.join(work, "out")
            shutil.rmtree(out, ignore_errors=True)
            os.mkdir(out)
            log = os.path.join(work, "log-%d.txt" % which)
            if os.path.exists(log):
                os.remove(log)
            command = [a.replace("{wout}", windows_path(out) + "\\").replace("{out}", out)
                       for a in argv]
            seconds = timed(command, out, log, terminal)
            if index > 0:  # the first pair warms up
                (times_a if which == 0 else times_b).append(seconds)
    shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
    return times_a, times_b


def strace_calls(work, argv):
    """Total system calls of one run of `argv`, as strace -c counts them."""
    out = os.path.join(work, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    report = os.path.join(work, "strace.txt")
    command = [a.replace("{out}", out) for a in argv]
    log = os.path.join(work, "strace-log.txt")
    with open(log, "wb") as f:
        status = subprocess.run(["strace", "-f", "-c", "-o", report, *command], cwd=out,
                                stdout=f, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL).returncode
    if not completed(status, log):
        raise RuntimeError("failed: %s" % shlex.join(command))
    shutil.rmtree(out, ignore_errors=True)
    counts = {}
    with open(report) as f:
        for line in f:
            fields = line.split()
            # "% time, seconds, usecs/call, calls, errors, syscall": the calls
            # column, and the name last.
            if len(fields) >= 5 and fields[3].isdigit():
                counts[fields[-1]] = int(fields[3])
    return counts


# The Windows calls counted per member under Wine (WINEDEBUG=+relay).
WINDOWS_CALLS = ("CreateFileW", "WriteFile", "CloseHandle", "SetFileTime", "GetFileType",
                 "GetFileAttributesW", "GetFileInformationByHandle", "CreateDirectoryW",
                 "GetFullPathNameW", "SetFileInformationByHandle")


def wine_env():
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=;mshtml=",
               WINEARCH="win64")
    env.setdefault("WINEPREFIX", os.path.join(os.environ.get("HOME", "/root"), ".wine-holvex"))
    return env


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def windows_calls(work, argv, members):
    """Calls per member of the Windows functions that make files, as Wine's
    relay trace counts them for one run of `argv` (a Windows program)."""
    out = os.path.join(work, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    command = [a.replace("{wout}", windows_path(out) + "\\") for a in argv]
    env = dict(wine_env(), WINEDEBUG="+relay")
    trace = subprocess.run(["wine", *command], cwd=out, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, stdin=subprocess.DEVNULL).stderr
    shutil.rmtree(out, ignore_errors=True)
    counts = {}
    for name in WINDOWS_CALLS:
        found = len(re.findall(rb"Call (?:KERNEL32|KERNELBASE|kernel32|kernelbase)\.%s\("
                               % name.encode(), trace))
        if found:
            counts[name] = found / members
    return counts


def windows_holvex():
    """The Windows build: build/windows/holvex.exe, brought up to date with
    the sources (a build left from older sources would be timed instead)."""
    build = os.path.join(ROOT, "build", "windows")
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "--preset", "windows"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "holvex.exe", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "holvex.exe")


def bare_loop(work):
    """The one-thread CreateFileW + WriteFile + CloseHandle loop, built."""
    exe = os.path.join(work, "bare_loop.exe")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-municode", "-O2", "-o", exe,
                    os.path.join(HERE, "bare_loop_win32.c")], check=True)
    return exe


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d CPUs, %s %s" % (model, os.cpu_count(), platform.system(), platform.release())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--holvex", help="a built holvex (default: build a release one)")
    parser.add_argument("--against", help="another built holvex, timed as one more peer of "
                        "each workload (an earlier build, say)")
    parser.add_argument("--pairs", type=int, default=5)
    parser.add_argument("--terminal-pairs", type=int, default=3)
    parser.add_argument("--work", default="/dev/shm")
    parser.add_argument("--only", default=",".join(ALL_WORKLOADS),
                        help="workloads to run, e.g. W2")
    args = parser.parse_args()
    holvex = os.path.abspath(args.holvex) if args.holvex else build_release()
    wanted = args.only.split(",")

    rows = []
    calls = []
    work = tempfile.mkdtemp(prefix="holvex-bench-", dir=args.work)
    try:
        for workload in ALL_WORKLOADS:
            if workload not in wanted:
                continue
            archives = []
            if workload in ONE_PEER:
                make, peer, options = ONE_PEER[workload]
                archive = make(work)
                archives = [archive]
                runs = [(workload, [holvex, archive, "{out}/"], {peer: ["tar", options, archive]})]
            elif workload == "W6":
                gz, zst = make_share_archives(work)
                archives = [gz, zst]
                runs = [("W6 .tar.gz", [holvex, gz, "{out}/"],
                         {"GNU tar -xzf": ["tar", "-xzf", gz],
                          "bsdtar -xf": ["bsdtar", "-xf", gz],
                          "gzip -dc (inflate floor)": ["sh", "-c", 'exec gzip -dc "$0" >/dev/null',
                                                       gz]}),
                        ("W6 .tar.zst", [holvex, zst, "{out}/"],
                         {"GNU tar --zstd -xf": ["tar", "--zstd", "-xf", zst],
                          "zstd -dc (floor)": ["sh", "-c", 'exec zstd -dc "$0" >/dev/null', zst]})]
            elif workload == "W7":
                rng = random.Random(2)
                files = [("d%03d/f%05d.bin" % (i // 500, i), rng.randint(100, 8000))
                         for i in range(50000)]
                gz = compressed(make_archive(work, "w7", files))
                archives = [gz]
                runs = [("W7", [holvex, gz, "{out}/"],
                         {"GNU tar -xzf": ["tar", "-xzf", gz],
                          "GNU tar -xzvf": ["tar", "-xzvf", gz]})]
            if archives:
                if args.against:
                    for _, holvex_argv, peers in runs:
                        peers["Holvex --against"] = [args.against] + holvex_argv[1:]
                for label, holvex_argv, peers in runs:
                    for peer, peer_argv in peers.items():
                        for terminal in ((False, True) if workload == "W7" else (False,)):
                            if terminal and peer != "GNU tar -xzf":
                                continue
                            count = args.terminal_pairs if terminal else args.pairs
                            a, b = pairs(work, holvex_argv, peer_argv, count, terminal)
                            ratio = statistics.median(x / y for x, y in zip(a, b))
                            peak_a = peak_b = 0
                            if not terminal:
                                peak_a = peak_kib(work, holvex_argv)
                                peak_b = peak_kib(work, peer_argv)
                            rows.append((label, "terminal" if terminal else "redirected", peer,
                                         statistics.median(a), statistics.median(b), ratio,
                                         peak_a, peak_b))
                            print("%s %-10s %-18s holvex %.3f s  peer %.3f s  ratio %.3f  "
                                  "peak %d / %d KiB" % rows[-1], flush=True)
                for archive in archives:
                    os.remove(archive)
                continue
            if workload == "WW":
                # Windows under Wine: 2,000 tiny files, Holvex's Windows build
                # against the bare loop that makes the same files.
                if shutil.which("wine") is None:
                    print("WW skipped: no Wine", flush=True)
                    continue
                files = [("f%05d.bin" % i, 100) for i in range(2000)]
                archive = make_archive(work, "ww", files)
                exe = windows_holvex()
                loop = bare_loop(work)
                wine = ["env", *("%s=%s" % item for item in wine_env().items()
                                 if item[0].startswith("WINE")), "wine"]
                holvex_argv = wine + [exe, windows_path(archive), "{wout}"]
                loop_argv = wine + [loop, "{wout}", "2000", "100"]
                # One Wine server for every run, as a desktop session keeps
                # one (and the tests do). Without it Wine's own services end
                # and start again between runs, every other run paying for
                # it: in pairs that alternate, always the same side.
                own_server = subprocess.run(["wineserver", "-p"], env=wine_env(),
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL).returncode == 0
                try:
                    a, b = pairs(work, holvex_argv, loop_argv, args.pairs, False)
                finally:
                    if own_server:
                        subprocess.run(["wineserver", "-k"], env=wine_env())
                ratio = statistics.median(x / y for x, y in zip(a, b))
                rows.append(("WW", "redirected", "bare CreateFileW loop (Wine)",
                             statistics.median(a), statistics.median(b), ratio, 0, 0))
                print("%s %-10s %-18s holvex %.3f s  peer %.3f s  ratio %.3f  "
                      "peak %d / %d KiB" % rows[-1], flush=True)
                per_call = windows_calls(work, [exe, windows_path(archive), "{wout}"], 2000)
                named = ", ".join("%s %.2f" % item for item in per_call.items())
                calls.append(("WW (Windows calls)", 0, 2000, sum(per_call.values()), "", named))
                print("WW Windows calls per member: %s" % named, flush=True)
                os.remove(archive)
                continue
            if workload == "W1":
                archive = make_archive(work, "w1", [("big%d.bin" % i, 512 << 20) for i in (1, 2)])
                holvex_argv = [holvex, archive, "{out}/"]
                peers = {"GNU tar -xf": ["tar", "-xf", archive],
                         "bsdtar -xf": ["bsdtar", "-xf", archive],
                         "cat (copy floor)": ["sh", "-c", 'exec cat "$0" > "$1"', archive,
                                              "{out}/copy"]}
            elif workload == "W2":
                rng = random.Random(2)
                files = [("d%03d/f%05d.bin" % (i // 500, i), rng.randint(100, 8000))
                         for i in range(50000)]
                archive = make_archive(work, "w2", files)
                holvex_argv = [holvex, archive, "{out}/"]
                peers = {"GNU tar -xvf": ["tar", "-xvf", archive],
                         "bsdtar -xvf": ["bsdtar", "-xvf", archive],
                         # Its writers against the walk alone: on one core
                         # Holvex starts none.
                         "Holvex on 1 core": ["taskset", "-c", "0", holvex, archive, "{out}/"]}
            else:
                files = [("m/f%04d.bin" % i, 1 << 20) for i in range(2000)]
                archive = make_archive(work, "w3", files)
                last = files[-1][0]
                holvex_argv = [holvex, archive, "{out}/", "startat=" + last]
                peers = {"GNU tar -xf NAME": ["tar", "-xf", archive, last],
                         "bsdtar -xf NAME": ["bsdtar", "-xf", archive, last]}
            if args.against:
                peers["Holvex --against"] = [args.against] + holvex_argv[1:]
            members = len(files) if workload != "W1" else 2
            for terminal in (False, True):
                for peer, peer_argv in peers.items():
                    if terminal and not peer.startswith("GNU tar"):
                        continue
                    count = args.terminal_pairs if terminal else args.pairs
                    a, b = pairs(work, holvex_argv, peer_argv, count, terminal)
                    ratio = statistics.median(x / y for x, y in zip(a, b))
                    peak_a = peak_b = 0
                    if not terminal:
                        peak_a, peak_b = peak_kib(work, holvex_argv), peak_kib(work, peer_argv)
                    rows.append((workload, "terminal" if terminal else "redirected", peer,
                                 statistics.median(a), statistics.median(b), ratio,
                                 peak_a, peak_b))
                    print("%s %-10s %-18s holvex %.3f s  peer %.3f s  ratio %.3f  "
                          "peak %d / %d KiB" % rows[-1], flush=True)
            if workload in ("W2", "W3"):
                counts = strace_calls(work, holvex_argv)
                total = counts.get("total", sum(counts.values()))
                per_member = total / members
                passed = ""
                if workload == "W3":
                    single = make_archive(work, "w3-last", [files[-1]])
                    alone = strace_calls(work, [holvex, single, "{out}/"])
                    os.remove(single)
                    passed = "%.2f" % ((total - alone.get("total", 0)) / (members - 1))
                named = ", ".join("%s %.2f" % (name, counts[name] / members)
                                  for name in ("openat", "pwrite64", "utimensat", "fchmod",
                                               "close", "futex", "write")
                                  if name in counts)
                calls.append((workload, total, members, per_member, passed, named))
                print("%s system calls: %d for %d members (%.2f each) %s [%s]" %
                      (workload, total, members, per_member, passed, named), flush=True)
            os.remove(archive)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    lines = ["# Extraction benchmark", "",
             "Run %s on %s; tmpfs (%s); %d interleaved pairs after a warm-up (%d with a "
             "terminal, under `script`); each ratio is the median of the per-pair ratios "
             "(Holvex / peer); peak memory is the maximum resident set." %
             (stamp, machine(), args.work, args.pairs, args.terminal_pairs), "",
             "Command: `python3 bench/extract_bench.py %s`" % " ".join(sys.argv[1:]), "",
             "| workload | output | peer | Holvex s | peer s | ratio | Holvex peak KiB "
             "| peer peak KiB |",
             "|---|---|---|---|---|---|---|---|"]
    for row in rows:
        peaks = ("%d" % row[6], "%d" % row[7]) if row[6] else ("", "")
        lines.append("| %s | %s | %s | %.3f | %.3f | %.3f | %s | %s |" % (row[:6] + peaks))
    lines += ["", "Holvex's system calls (`strace -f -c`, every thread; for WW the Windows "
              "calls Wine's relay trace counts):", "",
              "| workload | calls | members | per member | per member passed over | by call, "
              "per member |",
              "|---|---|---|---|---|---|"]
    for row in calls:
        lines.append("| %s | %d | %d | %.2f | %s | %s |" % row)
    text = "\n".join(lines) + "\n"
    if set(wanted) == set(ALL_WORKLOADS):
        with open(os.path.join(HERE, "results.md"), "w") as f:
            f.write(text)
    sys.stdout.write("\n" + text)


if __name__ == "__main__":
    main()
