"""Archives read as streams: on a pipe or a FIFO whose writer stalls, or that
no writer ever opens, stopped by the keys at a real terminal (a
pseudo-terminal on POSIX, Wine's console inside tmux for the Windows build);
compressed archives decoded and checked to the end of their streams, with
what follows the last stream; and a plain archive whose first name begins
like a compressor's signature.

The writer is a process of its own that writes some whole members, says
when it has, and then holds its end of the pipe open, writing nothing. The
times that matter (a member on disk, the process's end) are measured against
generous bounds and printed, so that a slow machine fails nothing and a run
shows what it measured. Under Wine the archive is a Unix FIFO: Windows has
no name for a pipe on standard input."""

import io
import os
import re
import subprocess
import sys
import tarfile
import time
import uuid
import zlib

from console_harness import PtySession, TmuxTerminal, wait_until, wine_key_bytes
from extraction_harness import file_line, member_data, out_path, tree, walk_lines
from harness import ENV, WINDOWS, TempDirTest, command, host_path, lines, main, raw_header

# What must take a tenth or a fifth of a second is asserted against this.
BOUND = 5.0

ESC = b"\x1b"
CTRL_C = b"\x03"

# The writer: opens the FIFO (or writes to its standard output, "-"), says
# so (the file `ready`.open), waits for the start file, writes the first
# `cut` bytes of the data file, writes the time (time.monotonic, the same
# clock in every process) into the ready file, then holds the pipe open
# until the go file appears, and writes the rest. Under Wine the FIFO is
# opened for reading and writing, which does not wait for a reader: Wine's
# reads of a FIFO that no writer has opened yet do not wait for one, they
# find its end (a FIFO without a writer, Pipes).
WRITER = r"""
import os, sys, time
path, data_file, cut, start, ready, go, flags = sys.argv[1:]
with open(data_file, "rb") as f:
    data = f.read()
fd = 1 if path == "-" else os.open(path, os.O_RDWR if flags == "rdwr" else os.O_WRONLY)
open(ready + ".open", "w").close()
while not os.path.exists(start):
    time.sleep(0.01)
def put(piece):
    while piece:
        piece = piece[os.write(fd, piece):]
put(data[:int(cut)])
with open(ready + ".new", "w") as f:
    f.write(repr(time.monotonic()))
os.rename(ready + ".new", ready)
while not os.path.exists(go):
    time.sleep(0.01)
put(data[int(cut):])
"""

FIFO_FLAGS = "rdwr" if WINDOWS else "write"

# The members of the archive on a pipe: the writer stalls after the first
# three, whose bytes have then all come.
MEMBERS = [("m0.bin", 1000), ("m1.bin", 0), ("m2.bin", 70000), ("m3.bin", 300), ("m4.bin", 5000)]
WHOLE = 3


def start_writer(test, data, cut, fifo):
    """Files for a writer of `data` that stalls after `cut` bytes, on a new
    FIFO named after `fifo`, or on its standard output (None); returns (a
    function that starts it, taking Popen's keywords, its start, ready and go
    files, the FIFO)."""
    tag = uuid.uuid4().hex[:8]
    data_file = test.path("data-" + tag)
    with open(data_file, "wb") as f:
        f.write(data)
    start, ready, go = (test.path(name + "-" + tag) for name in ("start", "ready", "go"))
    if fifo is not None:
        fifo += "-" + tag
        os.mkfifo(fifo)
    argv = [sys.executable, "-c", WRITER, fifo or "-", data_file, str(cut), start, ready, go,
            FIFO_FLAGS]
    return (lambda **keywords: subprocess.Popen(argv, **keywords)), start, ready, go, fifo


def holds(pid, target):
    """Whether process `pid` has a descriptor open on `target` (a path, or
    the beginning of a link's text: "pipe:")."""
    try:
        links = [os.readlink("/proc/%d/fd/%s" % (pid, fd)) for fd in os.listdir("/proc/%d/fd" % pid)]
    except OSError:
        return False
    return any(link.startswith(target) for link in links)


def tar_of(members):
    """A GNU tar archive (Python's tarfile) of (name, data) members, and the
    offset where each member's header begins, the end marker's last."""
    buffer = io.BytesIO()
    offsets = []
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for name, data in members:
            offsets.append(buffer.tell())
            info = tarfile.TarInfo(name)
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
        offsets.append(buffer.tell())
    return buffer.getvalue(), offsets


def gzip_flushed_at(data, cut):
    """`data` as one gzip member, flushed at `cut` so that every byte before
    it can be decoded from the compressed bytes written up to there; returns
    the gzip bytes and where the flush ends in them."""
    compressor = zlib.compressobj(6, zlib.DEFLATED, 31)
    head = compressor.compress(data[:cut]) + compressor.flush(zlib.Z_SYNC_FLUSH)
    return head + compressor.compress(data[cut:]) + compressor.flush(), len(head)


class Pipes(TempDirTest):
    """An archive on a pipe or a FIFO whose writer stalls, or that nobody
    writes to."""

    def setUp(self):
        super().setUp()
        self.data = {name: member_data(size, seed=90 + i) for i, (name, size) in enumerate(MEMBERS)}
        self.tar, self.offsets = tar_of([(name, self.data[name]) for name, _ in MEMBERS])
        self.out = self.path("out")
        os.mkdir(self.out)

    def ways(self):
        """The ways the archive reaches holvex: standard input (POSIX) and a
        FIFO."""
        return ["fifo"] if WINDOWS else ["pipe", "fifo"]

    def writer(self, data, cut, way):
        """Starts a writer of `data` that stalls after `cut` bytes, and then
        holvex on the pipe; once holvex holds the pipe and waits for its
        bytes, the writer writes. Returns (holvex, the writer, the writer's
        ready file, its go file)."""
        files = start_writer(self, data, cut, None if way == "pipe" else self.path("fifo"))
        writer, start, ready, go, fifo = files
        if way == "pipe":
            read_end, write_end = os.pipe()
            writer = writer(stdout=write_end)
            os.close(write_end)
            process = self.holvex("/dev/stdin", read_end)
        else:
            writer = writer()
            if WINDOWS:
                wait_until(lambda: os.path.exists(ready + ".open"), "the writer's open")
            process = self.holvex(host_path(fifo), subprocess.DEVNULL)
        self.addCleanup(self.end_process, writer)
        # The walk waits for the pipe's bytes by now.
        wait_until(lambda: holds(process.pid, fifo or "pipe:"), "holvex's open of the pipe")
        time.sleep(0.3)
        open(start, "w").close()
        return process, writer, ready, go

    def end_process(self, process):
        if process.poll() is None:
            process.kill()
        process.wait(60)

    def holvex(self, archive, stdin):
        process = subprocess.Popen(command("holvex", archive, host_path(self.out)), stdin=stdin,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV,
                                   start_new_session=True)
        if stdin != subprocess.DEVNULL:
            os.close(stdin)
        self.addCleanup(self.end_process, process)
        return process

    def written_at(self, ready):
        """When the writer had written its first part (time.monotonic)."""
        wait_until(lambda: os.path.exists(ready), "the writer's first part")
        with open(ready) as f:
            return float(f.read())

    def test_members_whose_bytes_have_come_are_on_disk_while_the_writer_waits(self):
        cut = self.offsets[WHOLE]
        gz, gz_cut = gzip_flushed_at(self.tar, cut)
        for way in self.ways():
            for label, data, data_cut in (("plain", self.tar, cut), ("gzip", gz, gz_cut)):
                with self.subTest(way=way, archive=label):
                    for name in os.listdir(self.out):
                        os.remove(os.path.join(self.out, name))
                    process, writer, ready, go = self.writer(data, data_cut, way)
                    written = self.written_at(ready)
                    whole = {name.encode(): self.data[name] for name, _ in MEMBERS[:WHOLE]}
                    # A file is on disk once it holds all its bytes.
                    wait_until(lambda: all(tree(self.out).get(name) == data
                                           for name, data in whole.items()),
                               "the whole members on disk", timeout=60)
                    took = time.monotonic() - written
                    print("%s, %s: members on disk %.3f s after their bytes" % (way, label, took))
                    self.assertLess(took, BOUND)
                    # Nothing of the member cut is there; the run goes on.
                    time.sleep(0.2)
                    self.assertEqual(tree(self.out), whole)
                    self.assertIsNone(process.poll())
                    open(go, "w").close()
                    output, errors = process.communicate(timeout=60)
                    self.assertEqual(process.returncode, 0, output + errors)
                    self.assertEqual(lines(output)[5:],
                                     [file_line(self.out, name, size) for name, size in MEMBERS])
                    self.assertEqual(tree(self.out),
                                     {name.encode(): data for name, data in self.data.items()})

    def test_damage_ends_the_run_at_once_while_the_writer_waits(self):
        # (case, the bytes, how many of them the writer writes, the last line)
        damaged = self.tar[:self.offsets[1]] + b"garbage!" * 64 + self.tar[self.offsets[1]:]
        gz, gz_cut = gzip_flushed_at(self.tar, self.offsets[1])
        # After the flush, a deflate block of the reserved type.
        corrupt = gz[:gz_cut] + b"\xff" * 600
        cases = [
            ("a damaged header", damaged, self.offsets[1] + 512,
             b"ERROR: Damaged header at offset 1,536"),
            ("no tar at all", b"garbage!" * 64 + self.tar, 512, b"ERROR: Not a tar archive"),
            ("corrupt gzip data", corrupt, len(corrupt),
             b"ERROR: Cannot read the archive: the compressed data is damaged"),
        ]
        for way in self.ways():
            for case, data, cut, last in cases:
                with self.subTest(way=way, case=case):
                    process, writer, ready, go = self.writer(data, cut, way)
                    written = self.written_at(ready)
                    process.wait(60)
                    took = time.monotonic() - written
                    print("%s, %s: process ended %.3f s after the writer wrote" % (way, case, took))
                    self.assertLess(took, BOUND)
                    output = process.communicate()[0]
                    self.assertEqual(process.returncode, 1, output)
                    self.assertEqual(lines(output)[-1], last)
                    # The writer still holds the pipe open.
                    self.assertIsNone(writer.poll())

    def test_fifo_that_no_writer_opens(self):
        if not WINDOWS:
            self.skipTest("at a terminal: FifoKeys")
        # Wine opens a Unix FIFO without waiting for a writer, and its read
        # gives the end at once: an empty archive, said at once.
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        start = time.monotonic()
        self.assertEqual(walk_lines(self, fifo, self.out), [b"ERROR: Not a tar archive"])
        print("Wine, a FIFO without a writer: ended in %.3f s" % (time.monotonic() - start))


class FifoKeys(TempDirTest):
    """Ctrl+C and three presses of Esc stop a run that waits for a FIFO's
    data, at a terminal: with a writer that stalls after some whole members
    or inside a member's data, and with none at all."""

    KEYS = [("Ctrl+C", [CTRL_C]), ("Esc three times", [ESC, ESC, ESC])]

    def setUp(self):
        super().setUp()
        self.data = {name: member_data(size, seed=90 + i) for i, (name, size) in enumerate(MEMBERS)}
        self.tar, self.offsets = tar_of([(name, self.data[name]) for name, _ in MEMBERS])

    def fifo(self, cut):
        """A FIFO whose writer stalls after `cut` bytes, or (None) that no
        writer opens."""
        if cut is None:
            fifo = self.path("fifo-" + uuid.uuid4().hex[:8])
            os.mkfifo(fifo)
            return fifo
        writer, start, ready, _go, fifo = start_writer(self, self.tar, cut, self.path("fifo"))
        open(start, "w").close()
        writer = writer()
        self.addCleanup(lambda: (writer.kill(), writer.wait(60)))
        # Under Wine the FIFO must have its writer before holvex opens it.
        if WINDOWS:
            wait_until(lambda: os.path.exists(ready + ".open"), "the writer's open")
        return fifo

    def test_keys_stop_the_wait(self):
        inside = self.offsets[WHOLE - 1] + 512 + 20000
        # (writer, where it stalls, the members shown, the files written)
        writers = [("a writer that stalls between members", self.offsets[WHOLE], WHOLE, WHOLE),
                   ("a writer that stalls inside a member", inside, WHOLE, WHOLE - 1),
                   ("no writer", None, 0, 0)]
        for writer, cut, shown_count, whole_count in writers:
            for keys_name, keys in self.KEYS:
                if WINDOWS and (keys_name == "Ctrl+C" or cut is None):
                    # Wine's console never passes Ctrl+C on as a key; a FIFO
                    # without a writer ends at once under Wine (Pipes).
                    continue
                with self.subTest(writer=writer, keys=keys_name):
                    out = self.path("out-" + uuid.uuid4().hex[:8])
                    os.mkdir(out)
                    fifo = self.fifo(cut)
                    shown = MEMBERS[:shown_count]
                    run = self.run_wine if WINDOWS else self.run_posix
                    # A member's line may come once its bytes have: the keys
                    # are typed once every whole member's has.
                    waited = MEMBERS[:whole_count]
                    output, code, took = run(fifo, out, [name.encode() + b" (" for name, _ in waited],
                                             keys)
                    print("%s, %s: ended %.3f s after the keys" % (writer, keys_name, took))
                    self.assertLess(took, BOUND)
                    self.assertEqual(code, 1)
                    self.assertTrue(output.rstrip(b"\r\n ").endswith(b"Aborted"), output[-300:])
                    for name, size in shown:
                        self.assertIn(file_line(out, name, size), output)
                    files = tree(out)
                    for name, _ in MEMBERS[:whole_count]:
                        self.assertEqual(files.pop(name.encode()), self.data[name])
                    if whole_count < shown_count:
                        # The member cut keeps the bytes that came, and says so.
                        name, size = MEMBERS[whole_count]
                        self.assertEqual(files.pop(name.encode()), self.data[name][:20000])
                        self.assertIn(b"ERROR: Incomplete file (20,000 of " +
                                      "{:,}".format(size).encode() + b" bytes written)", output)
                    self.assertEqual(files, {})

    def run_posix(self, fifo, out, waited, keys):
        session = PtySession(command("holvex", fifo, out), rows=40, columns=200)
        self.addCleanup(session.close)
        session.wait_output(lambda shown: b"holvex.example/)" in shown and
                            all(name in shown for name in waited), "the walk's wait")
        # The walk waits for the FIFO now (or is about to: a key typed
        # before it gets there stops it as well).
        time.sleep(0.3)
        sent = time.monotonic()
        session.send(b"".join(keys))
        wait_until(lambda: session.process.poll() is not None, "the run's end")
        took = time.monotonic() - sent
        return session.final_output(), session.process.returncode, took

    def run_wine(self, fifo, out, waited, keys):
        argv = command("holvex", host_path(fifo), host_path(out))
        ended = self.path("ended-" + uuid.uuid4().hex[:8])  # one for each run
        script = (" ".join("'%s'" % part for part in argv) + "; code=$?; date +%s.%N > " + ended +
                  "; echo; echo HOLVEX-EXIT=$code")
        terminal = TmuxTerminal(script, width=200, height=60)
        self.addCleanup(terminal.close)
        screen = terminal.history
        wait_until(lambda: b"holvex.example/)" in screen() and
                   all(name in screen() for name in waited), "the walk's wait")
        time.sleep(0.5)
        sent = time.time()
        terminal.type_bytes(wine_key_bytes(keys))
        wait_until(lambda: os.path.exists(ended) and os.path.getsize(ended) > 0, "the run's end")
        with open(ended) as f:
            took = float(f.read()) - sent
        shown = wait_until(lambda: b"HOLVEX-EXIT=" in screen() and screen(), "the exit status")
        code = int(re.search(rb"HOLVEX-EXIT=(\d+)", shown).group(1))
        return shown[:shown.index(b"HOLVEX-EXIT=")], code, took


class CompressedEnds(TempDirTest):
    """A compressed archive is decoded to the end of its last stream, after
    the tar end marker too: a check that fails there is said; zeros after the
    last stream are padding; other bytes there are said, not read."""

    FORMATS = {"gzip": ["gzip", "-c"], "bzip2": ["bzip2", "-c"], "xz": ["xz", "-c"],
               "zstd": ["zstd", "-q", "-c", "--check"]}

    @classmethod
    def setUpClass(cls):
        # Data that does not compress, larger than a read of the compressed
        # file: zstd decodes a frame that the read holds whole, its checksum
        # included, before it gives any of it.
        cls.files = {"a.bin": member_data(3000, seed=97), "b.bin": member_data(300000, seed=96)}
        cls.tar, _ = tar_of(list(cls.files.items()))
        cls.compressed = {name: compress(argv, cls.tar) for name, argv in cls.FORMATS.items()
                          if not WINDOWS or name == "gzip"}

    def lines(self, out):
        return [file_line(out, name, len(data)) for name, data in self.files.items()]

    def tree(self):
        return {name.encode(): data for name, data in self.files.items()}

    def run_on(self, data):
        archive = self.path("archive-" + uuid.uuid4().hex[:8])
        with open(archive, "wb") as f:
            f.write(data)
        out = self.path("out-" + uuid.uuid4().hex[:8])
        os.mkdir(out)
        return walk_lines(self, archive, out), tree(out), out

    def test_what_follows_the_last_stream(self):
        for name, compressed in self.compressed.items():
            # (what follows, where data that is not read begins in it)
            for label, after, at in (("1 KiB of zeros", bytes(1024), None),
                                     ("other bytes", b"garbage\n", 0),
                                     ("zeros, then other bytes", bytes(512) + b"\x1f", 512)):
                with self.subTest(format=name, after=label):
                    got, files, out = self.run_on(compressed + after)
                    expected = self.lines(out)
                    if at is not None:
                        expected.append(b"Data after the compressed stream, from offset " +
                                        "{:,}".format(len(compressed) + at).encode() +
                                        b" of the file, was not read")
                    self.assertEqual(got, expected)
                    self.assertEqual(files, self.tree())

    def test_damage_after_the_end_marker(self):
        # (format, damage, the reason said). The stored check changed: the
        # member's bytes decode as they were, and only the check after the
        # end marker finds the damage.
        cases = [
            ("gzip", "its CRC-32 changed", lambda z: flip(z, -8), b"is damaged after the last "
             b"member (bad checksum)"),
            ("gzip", "its length changed", lambda z: flip(z, -1), b"is damaged after the last "
             b"member (bad checksum)"),
            ("gzip", "cut in its last bytes", lambda z: z[:-3], b"is cut short after the last "
             b"member"),
            # The block's CRC, in the block's header, is checked once the
            # block is decoded: the whole archive is one block here.
            ("bzip2", "its block CRC changed", lambda z: flip(z, 10), b"is damaged after the last "
             b"member (bad checksum)"),
            ("bzip2", "cut in its last bytes", lambda z: z[:-4], b"is cut short after the last "
             b"member"),
            # xz says a failed check as corrupt data, as its own tool does.
            ("xz", "its check changed", lambda z: flip(z, xz_check_at(z)), b"is damaged after "
             b"the last member (corrupt data)"),
            ("zstd", "its checksum changed", lambda z: flip(z, -1), b"is damaged after the last "
             b"member (bad checksum)"),
        ]
        for name, damage, damaged, reason in cases:
            if name not in self.compressed:
                continue
            with self.subTest(format=name, damage=damage):
                got, files, out = self.run_on(damaged(self.compressed[name]))
                self.assertEqual(got, self.lines(out) + [b"ERROR: The compressed data " + reason])
                self.assertEqual(files, self.tree())


def compress(argv, data):
    return subprocess.run(argv, input=data, capture_output=True, check=True).stdout


def xz_check_at(xz):
    """Where the last byte of the check of the last block of a one-stream xz
    file lies: right before the index, whose size the stream footer gives."""
    index_size = (int.from_bytes(xz[-8:-4], "little") + 1) * 4
    return len(xz) - 12 - index_size - 1


def flip(data, at):
    """`data` with the byte at `at` changed."""
    at = at % len(data)
    return data[:at] + bytes([data[at] ^ 0x55]) + data[at + 1:]


class SignatureNames(TempDirTest):
    """A plain archive whose first member is named like a compressor's
    signature is a tar: its first block is a valid header."""

    def test_first_names_like_signatures(self):
        after = member_data(700, seed=98)
        for label, name in (("gzip", b"\x1f\x8bdata.bin"),
                            ("bzip2", b"BZh91AY&SY.bin"),
                            ("zstd", b"\x28\xb5\x2f\xfdzstd.bin")):
            if WINDOWS and b"\x1f" in name:
                continue
            with self.subTest(signature=label):
                data = member_data(100, seed=99)
                archive = self.path(label + ".tar")
                with open(archive, "wb") as f:
                    f.write(raw_header(name, len(data)) + data + bytes(512 - len(data)))
                    f.write(raw_header(b"after.txt", len(after)) + after + bytes(1024 - len(after)))
                    f.write(bytes(1024))
                out = self.path("out-" + label)
                os.mkdir(out)
                self.assertEqual(walk_lines(self, archive, out)[-2:],
                                 [file_line(out, name, 100), file_line(out, "after.txt", 700)])
                self.assertEqual(tree(out)[b"after.txt"], after)


if __name__ == "__main__":
    main()
