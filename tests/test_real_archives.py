"""Trees archived by the real writers in every format they offer, extracted
exactly: long and UTF-8 names (in ustar prefixes, GNU long-name members and
pax records), sparse files in each of GNU tar's and bsdtar's forms, the
corners of particular writers (npm, tarfile's ustar and contiguous files,
GNU tar's volumes, archives written over or after others); and files that
are damaged or no tar archive at all, which get one clear error line."""

import io
import os
import random
import shutil
import subprocess
import tarfile

from extraction_harness import (BLOCK, SUPPORT_LINE, file_line, member_data, out_path, tree,
                                walk_lines)
from harness import WINDOWS, TempDirTest, fault_env, main, make_tree, raw_header, shown

# Names past 100 and 255 bytes, UTF-8 names (one to four bytes a character)
# and one that is no UTF-8, two names whose first 100 bytes are the same, a
# directory name past 100 bytes holding a file.
SHARED = "shared/" + "s" * 93
FILES = {
    "short.txt": 10,
    "empty.txt": 0,
    "docs/caf\u00e9 \u65e5\u672c.txt": 700,
    # The last one no UTF-8: "\u00e9" as the byte E9 of code page 1252.
    **{name + ".txt": 11 + i for i, name in enumerate(
        ["\u00e9", "\u00fc", "\u03a9", "\u4e2d\u6587", "\U0001f600", "caf\udce9 1252"])},
    "deep/" + "d" * 60 + "/" + "f" * 50 + ".bin": 1500,
    SHARED + "-one.txt": 100,
    SHARED + "-two.txt": 200,
    "L" * 150 + "/inner.txt": 513,
    "x" * 120 + "/" + "y" * 120 + "/" + "z" * 30 + ".txt": 7,
}


def ustar_holds(name):
    """Whether a ustar header can hold the name: in the name field, or split
    at a "/" into a prefix of up to 155 bytes and a name of up to 100."""
    raw = name.encode("utf-8", "surrogateescape")
    if len(raw) <= 100:
        return True
    return any(raw[i] == ord("/") and i <= 155 and len(raw) - i - 1 <= 100
               for i in range(len(raw)))


def parents(name):
    parts = name.split("/")[:-1]
    return ["/".join(parts[:i]) for i in range(1, len(parts) + 1)]


def expected_tree(files):
    """name -> data of the files, and every directory above them."""
    found = {}
    for name, data in files.items():
        for parent in parents(name):
            found[shown(parent)] = "dir"
        found[shown(name)] = data
    return found


def assert_tree(test, out, expected):
    test.assertEqual(tree(out), expected)


def run_writer(command, cwd):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


class FullNames(TempDirTest):
    """Every writer's way of storing a long name gives the member its whole
    name: nothing else is written, and no line is an error."""

    WRITERS = [
        ("GNU tar gnu", ["tar", "--format=gnu"]),
        ("GNU tar posix", ["tar", "--format=posix"]),
        ("GNU tar ustar", ["tar", "--format=ustar"]),
        ("bsdtar default", ["bsdtar"]),
        ("bsdtar gnutar", ["bsdtar", "--format=gnutar"]),
        ("tarfile pax", tarfile.PAX_FORMAT),
        ("tarfile gnu", tarfile.GNU_FORMAT),
    ]

    def test_every_writer_and_format(self):
        data = {name: member_data(size, seed=index) for index, (name, size)
                in enumerate(FILES.items())}
        source = self.path("src")
        make_tree(source, data)
        for label, writer in self.WRITERS:
            with self.subTest(writer=label):
                names = [name for name in data if "ustar" not in label or ustar_holds(name)]
                out = self.path(label.replace(" ", "-"))
                os.mkdir(out)
                archive = out + ".tar"
                if isinstance(writer, list):
                    run_writer(writer + ["-cf", archive, *names], source)
                else:
                    with tarfile.open(archive, "w", format=writer) as tf:
                        for name in names:
                            tf.add(os.path.join(source, name), arcname=name)
                lines = walk_lines(self, archive, out)
                self.assertEqual([line for line in lines if line.startswith((b"ERROR", b"Skip"))],
                                 [])
                for name in names:
                    self.assertIn(file_line(out, name, len(data[name])), lines)
                assert_tree(self, out, expected_tree({name: data[name] for name in names}))


DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


class WritersCorners(TempDirTest):
    """Archives in which a writer did something of its own, each extracted
    to the tree GNU tar extracts from it, with the lines that say what was
    not extracted."""

    def tarfile_archive(self, path, members, fmt=tarfile.GNU_FORMAT):
        """members: (name, data or None for a directory, type, pax headers)."""
        with tarfile.open(path, "w", format=fmt) as tf:
            for name, data, kind, pax in members:
                info = tarfile.TarInfo(name)
                info.type = kind
                info.pax_headers = pax
                if data is None:
                    info.mode = 0o755
                    tf.addfile(info)
                else:
                    info.size = len(data)
                    tf.addfile(info, io.BytesIO(data))

    def gnu_tar(self, archive, source, names, *flags):
        subprocess.run(["tar", *flags, "-cf", archive, "-C", source, *names], check=True)

    def npm(self, archive):
        shutil.copy(os.path.join(DATA_DIR, "types-ms-0.7.34.tgz"), archive)

    def prefix_only(self, archive):
        # An empty directory whose name fills the prefix: the name field is
        # empty, its first byte NUL.
        self.tarfile_archive(archive, [("p" * 155 + "/", None, tarfile.DIRTYPE, {}),
                                       ("after.txt", b"after", tarfile.REGTYPE, {})],
                             fmt=tarfile.USTAR_FORMAT)

    def contiguous(self, archive):
        # A contiguous file holding a tar archive: a file like any other.
        inner = self.path("inner.tar")
        self.tarfile_archive(inner, [("inner.txt", b"inner", tarfile.REGTYPE, {})])
        with open(inner, "rb") as f:
            nested = f.read()
        self.tarfile_archive(archive, [("nested.tar", nested, tarfile.CONTTYPE, {}),
                                       ("after.txt", b"after", tarfile.REGTYPE, {})])

    def trailing_space(self, archive):
        self.tarfile_archive(archive, [("name ", b"one", tarfile.REGTYPE, {"path": "name "}),
                                       ("name", b"two", tarfile.REGTYPE, {"path": "name"})],
                             fmt=tarfile.PAX_FORMAT)

    def written_over(self, archive):
        # A smaller archive written over a larger one, as on a reused disk.
        source = self.path("over-src")
        make_tree(source, {"a.txt": b"older", "big.bin": member_data(30000, seed=5)})
        self.gnu_tar(archive, source, ["a.txt", "big.bin"])
        make_tree(source, {"a.txt": b"newer"})
        smaller = self.path("smaller.tar")
        self.gnu_tar(smaller, source, ["a.txt"])
        subprocess.run(["dd", "if=" + smaller, "of=" + archive, "conv=notrunc", "status=none"],
                       check=True)

    def two_in_a_row(self, archive):
        source = self.path("row-src")
        make_tree(source, {"first.txt": b"first", "second.txt": b"second"})
        parts = []
        for name in ("first.txt", "second.txt"):
            part = self.path(name + ".tar")
            self.gnu_tar(part, source, [name])
            with open(part, "rb") as f:
                parts.append(f.read())
        with open(archive, "wb") as f:
            f.write(b"".join(parts))

    def third_volume(self, archive):
        source = self.path("volume-src")
        make_tree(source, {"big.bin": member_data(250000, seed=6), "small.txt": b"small"})
        volumes = [self.path("v%d.tar" % n) for n in (1, 2, 3)]
        subprocess.run(["tar", "-c", "-M", "-L", "100", *sum((["-f", v] for v in volumes), []),
                        "-C", source, "big.bin", "small.txt"], check=True)
        shutil.copy(volumes[2], archive)

    # (label, maker, the last lines ("file", name, size) for a file's line,
    # the tree and the lines refusing names on Windows when they differ)
    CASES = [
        ("npm @types tarball", npm, [], None),
        ("tarfile ustar, a name wholly in the prefix", prefix_only, [], None),
        ("tarfile contiguous file", contiguous, [], None),
        ("pax names with and without a trailing space", trailing_space, [],
         ({b"name": b"two"}, [b"Skip (unsafe name): name "])),
        ("written over a larger archive", written_over,
         [b"The archive ends at offset 2,048; the data after it was not read"], None),
        ("two archives in a row", two_in_a_row,
         [b"The archive ends at offset 2,048; the data after it was not read"], None),
        ("the third volume of a multi-volume archive", third_volume,
         [b"big.bin (46,224 bytes)", b"ERROR: Type problem!", b"Unhandled: M", SUPPORT_LINE,
          ("file", "small.txt", 5)], None),
    ]

    def test_writers_corners(self):
        for label, maker, last_lines, windows in self.CASES:
            with self.subTest(label):
                name = label.replace(" ", "-").replace(",", "")
                archive = self.path(name + ".tar")
                maker(self, archive)
                out = self.path(name + "-out")
                os.mkdir(out)
                lines = walk_lines(self, archive, out)
                reference = self.path(name + "-ref")
                os.mkdir(reference)
                # GNU tar also refuses the continued file (its exit says so).
                subprocess.run(["tar", "-xf", archive, "-C", reference], stderr=subprocess.DEVNULL)
                expected = tree(reference)
                self.assertTrue(expected)
                refused = []
                if WINDOWS and windows is not None:
                    expected, refused = windows
                self.assertEqual(tree(out), expected)
                wanted = [file_line(out, *line[1:]) if isinstance(line, tuple) else line
                          for line in last_lines]
                self.assertEqual(lines[len(lines) - len(wanted):], wanted)
                self.assertEqual([line for line in lines[:len(lines) - len(wanted)]
                                  if line.startswith((b"ERROR", b"Skip", b"The archive"))], refused)


def make_sparse(path, size, pieces):
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, data in pieces:
            f.seek(offset)
            f.write(data)


def allocated(path):
    return os.stat(path).st_blocks * 512


class SparseFiles(TempDirTest):
    """Sparse files archived by GNU tar (old GNU form and pax forms 0.0, 0.1
    and 1.0) and bsdtar come back with their exact bytes and size, holes
    kept as holes."""

    MiB = 1 << 20
    FILES = {
        "start.img": (MiB, [(0, b"S" * 5000)]),
        "middle.img": (10 * MiB, [(5 * MiB, b"M" * 700)]),
        "end.img": (3 * MiB + 77, [(3 * MiB + 67, b"E" * 10)]),
        "holes.img": (2 * MiB, []),
        "scattered.img": (4 * MiB + 3, [(i * 300000 + 11, b"x%d" % i) for i in range(14)]),
    }
    WRITERS = [
        ("gnu", ["tar", "--format=gnu", "--sparse"]),
        ("pax 0.0", ["tar", "--format=posix", "--sparse", "--sparse-version=0.0"]),
        ("pax 0.1", ["tar", "--format=posix", "--sparse", "--sparse-version=0.1"]),
        ("pax 1.0", ["tar", "--format=posix", "--sparse", "--sparse-version=1.0"]),
        ("bsdtar", ["bsdtar"]),
    ]

    def make_source(self):
        source = self.path("src")
        os.mkdir(source)
        for name, (size, pieces) in self.FILES.items():
            make_sparse(os.path.join(source, name), size, pieces)
        self.assertEqual(allocated(os.path.join(source, "holes.img")), 0,
                         "the test directory's file system keeps no holes")
        return source

    def test_every_sparse_form(self):
        source = self.make_source()
        names = list(self.FILES) + ["after.txt"]
        after = member_data(300, seed=5)
        make_tree(source, {"after.txt": after})
        for label, writer in self.WRITERS:
            with self.subTest(writer=label):
                archive = self.path(label.replace(" ", "-") + ".tar")
                run_writer(writer + ["-cf", archive, *names], source)
                with open(archive, "rb") as f:
                    content = f.read()
                # The writer did store them sparse: far less than their size.
                self.assertLess(len(content), 1 * self.MiB)
                out = self.path(label.replace(" ", "-") + "-out")
                os.mkdir(out)
                lines = walk_lines(self, archive, out)
                self.assertEqual(lines, [
                    file_line(out, name, self.FILES[name][0] if name in self.FILES else 300)
                    for name in names])
                for name in self.FILES:
                    with open(os.path.join(source, name), "rb") as f:
                        expected = f.read()
                    with open(os.path.join(out, name), "rb") as f:
                        self.assertEqual(f.read(), expected, name)
                    # Holes stay holes: what is allocated is about the data.
                    self.assertLessEqual(allocated(os.path.join(out, name)),
                                         allocated(os.path.join(source, name)) + 64 * 1024, name)
                with open(os.path.join(out, "after.txt"), "rb") as f:
                    self.assertEqual(f.read(), after)

    def test_a_map_that_cannot_be_used(self):
        # A map at the start of the data (pax 1.0) with one piece too long
        # for the data stored: nothing is made of the file. A read that
        # fails inside the map is the archive's failure, never a bad map.
        source = self.make_source()
        make_tree(source, {"after.txt": b"after"})
        archive = self.path("bad.tar")
        run_writer(["tar", "--format=posix", "--sparse", "--sparse-version=1.0", "-cf", archive,
                    "middle.img", "after.txt"], source)
        with open(archive, "rb") as f:
            content = bytearray(f.read())
        at = content.index(b"\n5242880\n") + len(b"\n5242880\n")
        map_block = at // 512 * 512
        end = content.index(b"\n", at)
        content[at:end] = b"%d" % (int(content[at:end]) + 1)
        with open(archive, "wb") as f:
            f.write(content)
        rows = [("a piece too long", None, lambda out: [
            file_line(out, "middle.img", 10485760),
            b"ERROR: Bad sparse map: its pieces do not fit the data stored",
            file_line(out, "after.txt", 5)])]
        if not WINDOWS:
            rows.append(("a read error in the map", {"archive": archive, "read_from": map_block},
                         lambda out: [b"ERROR: Cannot read the archive: an input/output error"]))
        for label, faults, expected in rows:
            with self.subTest(label):
                out = self.path(label.replace(" ", "-"))
                os.mkdir(out)
                got = walk_lines(self, archive, out, env=fault_env(**faults) if faults else None)
                self.assertEqual(got, expected(out))
                self.assertEqual(tree(out), {b"after.txt": b"after"} if faults is None else {})


def with_checksum(block, form, signed=False):
    """The header block with its checksum written by `form` (bytes printf
    format), summed as unsigned or signed bytes."""
    block = bytearray(block)
    block[148:156] = b" " * 8
    total = sum(b - 256 if signed and b > 127 else b for b in block)
    block[148:156] = form % total
    return bytes(block)


class HeadersAndDamage(TempDirTest):
    """Checksum fields as writers old and new write them; a header that
    fails its checksum ends the walk with the damage's offset."""

    def archive_of(self, headers):
        """Three members of 1 block each; `headers` maps a member's index
        to its header block."""
        path = self.path("a.tar")
        with open(path, "wb") as f:
            for index in range(3):
                data = b"data %d" % index
                f.write(headers.get(index, raw_header(b"m%d.txt" % index, len(data))))
                f.write(data + bytes(BLOCK - len(data)))
            f.write(bytes(2 * BLOCK))
        return path

    def test_checksum_forms_and_damage(self):
        high = raw_header("m1-caf\u00e9.txt".encode(), 6)
        third = bytearray(raw_header(b"m2.txt", 6))
        third[3] ^= 0x20
        nul_first = bytearray(raw_header(b"m2.txt", 6))
        nul_first[0] = 0
        first = bytearray(raw_header(b"m0.txt", 6))
        first[120] = ord("x")
        all_three = ["m0.txt", "m1.txt", "m2.txt"]
        cases = [
            # (label, headers by index, names extracted, last line)
            ("signed sum", {1: with_checksum(high, b"%06o\0 ", signed=True)},
             ["m0.txt", "m1-caf\u00e9.txt", "m2.txt"], None),
            # An old Windows writer's name: "\u00e9" as the byte E9 of code page 1252.
            ("a code-page name", {1: raw_header(b"m1-caf\xe9.txt", 6)},
             ["m0.txt", "m1-caf\udce9.txt", "m2.txt"], None),
            ("seven digits and a NUL", {1: with_checksum(raw_header(b"m1.txt", 6), b"%07o\0")},
             all_three, None),
            ("leading blanks", {1: with_checksum(raw_header(b"m1.txt", 6), b"%7o\0")},
             all_three, None),
            ("a byte changed in the third header", {2: bytes(third)}, ["m0.txt", "m1.txt"],
             b"ERROR: Damaged header at offset 2,048"),
            ("the third header's first byte NUL", {2: bytes(nul_first)}, ["m0.txt", "m1.txt"],
             b"ERROR: Damaged header at offset 2,048"),
            ("the first header damaged", {0: bytes(first)}, [], b"ERROR: Not a tar archive"),
        ]
        for label, headers, names, last in cases:
            with self.subTest(label):
                archive = self.archive_of(headers)
                out = self.path(label.replace(" ", "-"))
                os.mkdir(out)
                lines = walk_lines(self, archive, out)
                expected = [file_line(out, name, 6) for name in names]
                self.assertEqual(lines, expected + ([last] if last else []))
                self.assertEqual(tree(out), {shown(n): b"data %d" % int(n[1]) for n in names})


class NotATarArchive(TempDirTest):
    """A compressed file that holds no tar archive, one in a format the build
    does not read, a program or random bytes: one line that says so, and
    nothing is created. (A compressed tar archive is extracted: the tests of
    test_extraction.py.)"""

    def test_files_that_are_not_tar_archives(self):
        source = self.path("src")
        make_tree(source, {"a.txt": member_data(2000, seed=1)})
        plain = self.path("plain.tar")
        subprocess.run(["tar", "-cf", plain, "-C", source, "a.txt"], check=True)
        with open(plain, "rb") as f:
            tar = f.read()

        def compressed(command, data):
            return subprocess.run(command, input=data, stdout=subprocess.PIPE,
                                  check=True).stdout

        gz = compressed(["gzip", "-c"], tar)
        with open("/bin/ls", "rb") as f:
            program = f.read()
        unread = b", which this build does not read"
        # (case, file, kind named on Linux, kind named on Windows)
        cases = [
            ("gzip of a text file", compressed(["gzip", "-c"], member_data(3000, seed=2)),
             b"", b""),
            ("a .tar.gz compressed again with gzip", compressed(["gzip", "-c"], gz),
             b" (gzip compressed)", b" (gzip compressed)"),
            ("bzip2 of a .tar.gz", compressed(["bzip2", "-c"], gz),
             b" (gzip compressed)", b" (bzip2 compressed" + unread + b")"),
            ("xz of a .tar.gz", compressed(["xz", "-c"], gz),
             b" (gzip compressed)", b" (xz compressed" + unread + b")"),
            ("zstd of a .tar.gz", compressed(["zstd", "-q", "-c"], gz),
             b" (gzip compressed)", b" (zstd compressed" + unread + b")"),
            ("lz4", b"\x04\x22\x4d\x18\x64\x40\xa7" + tar, b" (lz4 compressed" + unread + b")",
             None),
            ("zip", b"PK\x03\x04" + tar, b" (zip archive" + unread + b")", None),
            ("program", program, b"", None),
            ("random", random.Random(7).randbytes(100000), b"", None),
        ]
        for label, data, kind, windows_kind in cases:
            with self.subTest(label):
                path = self.path(label.replace(" ", "-") + ".bin")
                with open(path, "wb") as f:
                    f.write(data)
                out = self.path(label.replace(" ", "-") + "-out")
                os.mkdir(out)
                if WINDOWS and windows_kind is not None:
                    kind = windows_kind
                self.assertEqual(walk_lines(self, path, out),
                                 [b"ERROR: Not a tar archive" + kind])
                self.assertEqual(os.listdir(out), [])


if __name__ == "__main__":
    main()
