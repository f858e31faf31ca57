"""End-to-end tests of the walk over an archive: what holvex writes to disk
and to its output for archives made by GNU tar, bsdtar and Python's tarfile
(and by hand where no writer makes the case), with standard input and output
redirected, so a member of an unhandled type does not wait for a key."""

import fcntl
import io
import os
import random
import re
import shutil
import socket
import stat
import subprocess
import tarfile
import tempfile
import time
import unittest
import zlib

from extraction_harness import (BLOCK, SUPPORT_LINE, SparseArchive, cannot_directory, cannot_file,
                                extract, file_line, grouped, member_data, out_path, raw_members, size_field_base256,
                                system_tar_extract, tree, walk_lines)
from harness import (BIN_DIR, CRLF, ENV, WINDOWS, host_path, TempDirTest, bsdtar, code_page_env,
                     command, escaped, fault_env, gnu_tar, lines, main, make_tree, python_tar,
                     raw_header, run, shown)

WRITERS = ("gnu_tar", "bsdtar", "python_tar")


def make_archive(writer, archive, source, members):
    """An archive of `members` ((name, data) pairs; data None and a name
    ending in "/" for a directory) in this order, made by `writer`."""
    if writer == "python_tar":
        python_tar(archive, [(name, data, tarfile.DIRTYPE if data is None else tarfile.REGTYPE)
                             for name, data in members])
        return
    make_tree(source, dict(members))
    names = [name.rstrip("/") for name, _ in members]
    (gnu_tar if writer == "gnu_tar" else bsdtar)(archive, source, names)


def create_line(out, name):
    return b"Create directory: " + out_path(out, name)


def fs_name(name):
    """A "/"-separated relative name as tree() lists it."""
    return shown(os.path.normpath(name))


def pax_record(key, value):
    """One pax record "<length> <key>=<value>\\n" whose length counts itself."""
    body = b" %s=%s\n" % (key.encode(), value.encode())
    length = len(body) + 1
    while len(str(length)) + len(body) != length:
        length += 1
    return str(length).encode() + body


def skip_line(name):
    return b"Skip: " + name.encode()


class TwoMemberExample(TempDirTest):
    """A directory member "docs/" and the 1,000-byte file "docs/a.txt"."""

    def test_exactly_two_lines_and_the_file(self):
        data = member_data(1000, seed=1)
        for writer in WRITERS:
            with self.subTest(writer=writer):
                archive = self.path(writer + ".tar")
                out = self.path(writer + "-out")
                os.mkdir(out)
                make_archive(writer, archive, self.path(writer + "-src"),
                             [("docs/", None), ("docs/a.txt", data)])
                output = extract(self, archive, out)
                self.assertEqual(
                    output,
                    create_line(out, "docs") + CRLF + file_line(out, "docs/a.txt", 1000) + CRLF)
                self.assertEqual(tree(out), {b"docs": "dir", b"docs/a.txt": data})

    def test_outdir_with_its_separator_already_given(self):
        data = member_data(1000, seed=1)
        archive = self.path("a.tar")
        out = self.path("out")
        os.mkdir(out)
        make_archive("python_tar", archive, None, [("docs/", None), ("docs/a.txt", data)])
        output = walk_lines(self, archive, out, out_arg=out_path(out).decode() +
                            ("\\" if WINDOWS else "/"))
        self.assertEqual(output, [create_line(out, "docs"), file_line(out, "docs/a.txt", 1000)])


class FileSizes(TempDirTest):
    """Files around the block size and of a few MiB, from every writer: each
    file on disk holds exactly its data, as the system's tar extracts it."""

    SIZES = (0, 1, 511, 512, 513, 1000, 1024, 2 * 1024 * 1024, 3 * 1024 * 1024 + 123)

    def test_every_size_from_every_writer(self):
        members = [("sizes/", None)] + [("sizes/s%d.bin" % size, member_data(size, seed=size))
                                        for size in self.SIZES]
        expected_tree = {b"sizes": "dir"}
        expected_tree.update({name.encode(): data for name, data in members[1:]})
        for writer in WRITERS:
            # With python_tar the files already exist, larger than the members:
            # they are overwritten and cut to the member's size.
            existing = writer == "python_tar"
            with self.subTest(writer=writer, existing=existing):
                archive = self.path(writer + ".tar")
                out = self.path(writer + "-out")
                make_archive(writer, archive, self.path(writer + "-src"), members)
                os.mkdir(out)
                if existing:
                    make_tree(out, {name: b"Z" * (size + 5000)
                                    for (name, _), size in zip(members[1:], self.SIZES)})
                output = walk_lines(self, archive, out)
                self.assertEqual(output, [create_line(out, "sizes")] +
                                 [file_line(out, name, len(data)) for name, data in members[1:]])
                self.assertEqual(tree(out), expected_tree)
                reference = self.path(writer + "-ref")
                system_tar_extract(archive, reference)
                self.assertEqual(tree(reference), expected_tree)


class Filters(TempDirTest):
    """The start-at and only options on one archive made by GNU tar."""

    MEMBERS = [
        ("a/", None),
        ("a/one.txt", member_data(10, seed=11)),
        ("b.txt", member_data(513, seed=12)),
        ("docs2/", None),
        ("docs2/b.txt", b""),
        ("docs/", None),
        ("docs/a.txt", member_data(1000, seed=13)),
        ("z.txt", member_data(5, seed=14)),
    ]

    def setUp(self):
        super().setUp()
        self.archive = self.path("filters.tar")
        make_archive("gnu_tar", self.archive, self.path("src"), self.MEMBERS)

    def expected(self, out, kept, option):
        """Lines and tree when exactly the members named in `kept` are written."""
        result, files = [], {}
        for name, data in self.MEMBERS:
            if name not in kept:
                result.append(skip_line(name))
                continue
            parent = name.rstrip("/").rpartition("/")[0]
            if data is not None and parent and parent.encode() not in files:
                result.append(create_line(out, parent))
                files[parent.encode()] = "dir"
            if data is None:
                result.append(create_line(out, name.rstrip("/")))
                files[name.rstrip("/").encode()] = "dir"
            else:
                result.append(file_line(out, name, len(data)))
                files[name.encode()] = data
        if not kept:
            # A prefix that matched nothing is said, as the run's last line.
            result.append(b"ERROR: No member matched the prefix '%s'" %
                          option.partition("=")[2].encode())
        return result, files

    CASES = [
        # (option, names of the members written)
        ("startat=nomatch", []),
        ("startat=docs2/b", ["docs2/b.txt", "docs/", "docs/a.txt", "z.txt"]),  # the fifth
        ("startat=docs", ["docs2/", "docs2/b.txt", "docs/", "docs/a.txt", "z.txt"]),
        ("startat=a/", [name for name, _ in MEMBERS]),
        ("only=docs", ["docs2/", "docs2/b.txt", "docs/", "docs/a.txt"]),
        ("only=docs/", ["docs/", "docs/a.txt"]),
        ("only=b.txt", ["b.txt"]),
        ("only=DOCS", []),
        ("only=docs/a.txt.bak", []),  # longer than every name it begins
    ]

    def test_filters(self):
        for option, kept in self.CASES:
            with self.subTest(option=option):
                out = self.path("out-" + option.replace("/", "_"))
                os.mkdir(out)
                expected_lines, expected_tree = self.expected(out, kept, option)
                self.assertEqual(walk_lines(self, self.archive, out, option), expected_lines)
                self.assertEqual(tree(out), expected_tree)


class SkipsPastFourGiB(TempDirTest):
    """Members passed over by their size land on the exact next header, also
    far beyond 4 GiB, in a sparse archive whose skipped data is never written.
    Decoy headers sit inside the skipped data where a wrong distance (32-bit
    wrap, one block short or long) would land; they must never be read."""

    FOUR_GIB = 1 << 32

    def build(self):
        after = member_data(700, seed=21)
        small = member_data(513, seed=22)
        archive = SparseArchive(self.path("sparse.tar"))
        archive.header(raw_header(b"small0", 0))
        archive.header(raw_header(b"small513", 513))
        archive.data(small)
        for name, size, field in (
                (b"max31", (1 << 31) - 1, None),
                (b"big", self.FOUR_GIB + 513, None),
                (b"huge", 2 * self.FOUR_GIB + 1, size_field_base256(2 * self.FOUR_GIB + 1))):
            archive.header(raw_header(name, size, size_field=field))
            start = archive.offset
            blocks = (size + BLOCK - 1) // BLOCK
            end = start + BLOCK * blocks
            for decoy_at in {start, start + BLOCK, (end % self.FOUR_GIB) or start,
                             end - BLOCK, end - 2 * BLOCK}:
                if start <= decoy_at < end:
                    archive.write_at(decoy_at, raw_header(b"decoy", 0))
            archive.hole(size)
        archive.header(raw_header(b"after.txt", len(after)))
        archive.data(after)
        archive.close()
        return archive.path, after

    def test_only_and_startat_skip_to_the_member_past_eight_gib(self):
        path, after = self.build()
        self.assertGreater(os.path.getsize(path), 14 * 1024 ** 3)
        # The construction itself, as Python's tarfile reads it.
        with tarfile.open(path) as tf:
            self.assertEqual([m.name for m in tf.getmembers()],
                             ["small0", "small513", "max31", "big", "huge", "after.txt"])
        for option in ("only=after", "startat=after"):
            with self.subTest(option=option):
                out = self.path("out-" + option.partition("=")[0])
                os.mkdir(out)
                self.assertEqual(walk_lines(self, path, out, option), [
                    b"Skip: small0", b"Skip: small513", b"Skip: max31", b"Skip: big",
                    b"Skip: huge", file_line(out, "after.txt", 700)])
                self.assertEqual(tree(out), {b"after.txt": after})

    def test_a_move_the_system_refuses(self):
        # A member of 2^44 bytes passed over, a member's header right after
        # its own: the archive ends long before the member's data does (and
        # the move there is never asked of a file system that could refuse
        # it). The member inside its data is never taken for the next one.
        archive = self.path("refused.tar")
        with open(archive, "wb") as f:
            f.write(raw_header(b"huge", 0, size_field=size_field_base256(1 << 44)))
            f.write(raw_header(b"after.txt", 10) + member_data(BLOCK, seed=23))
            f.write(bytes(2 * BLOCK))
        out = self.path("out")
        os.mkdir(out)
        got = walk_lines(self, archive, out, "only=after")
        self.assertEqual(got, [b"Skip: huge", b"ERROR: Archive cut short at offset 2,560"])
        self.assertEqual(tree(out), {})


class PaxSizeRecords(TempDirTest):
    """Members of 8 GiB and more as Python's tarfile (PAX format) and GNU tar
    (--format=posix) write them: 0 in their own size field, the size in a
    "size" record of the extended header ("x") before them. The writers make
    the headers; the 9 GiB of data is a hole in a sparse archive, with a decoy
    header where a size of 0 would land and another in its last block. The
    archive lies in memory where the machine has a tmpfs: there a hole reads
    in a second or two, where a disk's file system takes half a minute."""

    SIZE = 9 * 2 ** 30
    DECOY = raw_header(b"decoy", 0)

    def setUp(self):
        super().setUp()
        self.memory = tempfile.mkdtemp(prefix="holvex-test-",
                                       dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        self.addCleanup(shutil.rmtree, self.memory, True)

    def writer_pieces(self, layout, small):
        """The big member's headers (extended header, its data, own header)
        and an archive of the small member "after.txt", from the writer."""
        if layout == "tarfile":
            info = tarfile.TarInfo("big")
            info.size = self.SIZE
            big = info.tobuf(format=tarfile.PAX_FORMAT)
            buffer = io.BytesIO()
            with tarfile.open(fileobj=buffer, mode="w", format=tarfile.PAX_FORMAT) as tf:
                info = tarfile.TarInfo("after.txt")
                info.size = len(small)
                tf.addfile(info, io.BytesIO(small))
            return big, buffer.getvalue()
        # GNU tar archives a sparse 9 GiB file; its output is read only as
        # far as the member's own header.
        source = self.path("src")
        make_tree(source, {"after.txt": small})
        with open(os.path.join(source, "big"), "wb") as f:
            f.truncate(self.SIZE)
        with subprocess.Popen(["tar", "--format=posix", "-cf", "-", "-C", source, "big"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL) as tar:
            big = tar.stdout.read(3 * BLOCK)
            tar.kill()
        small_archive = self.path("small.tar")
        gnu_tar(small_archive, source, ["after.txt"], fmt="posix")
        with open(small_archive, "rb") as f:
            return big, f.read()

    def build(self, layout, small):
        big, small_archive = self.writer_pieces(layout, small)
        # The writer's layout: an extended header with the size record, then
        # the member with 0 in its size field.
        self.assertEqual(big[156:157], b"x")
        self.assertIn(b" size=%d\n" % self.SIZE, big[BLOCK:2 * BLOCK])
        self.assertEqual(big[2 * BLOCK + 124:2 * BLOCK + 136].strip(b"\0"), b"00000000000")
        # Both layouts put three blocks before the data: one archive, written
        # over for the second layout, is read from the disk only once.
        self.assertEqual(len(big), 3 * BLOCK)
        path = os.path.join(self.memory, "big.tar")
        archive = SparseArchive(path, rewrite=True)
        archive.data(big)
        archive.write_at(archive.offset, self.DECOY)
        archive.write_at(archive.offset + self.SIZE - BLOCK, self.DECOY)
        archive.hole(self.SIZE)
        archive.data(small_archive)
        archive.close()
        with tarfile.open(path) as tf:
            self.assertEqual([(m.name, m.size) for m in tf.getmembers()],
                             [("big", self.SIZE), ("after.txt", len(small))])
        small_path = self.path(layout + "-small.tar")
        with open(small_path, "wb") as f:
            f.write(small_archive)
        # The extended headers are no members.
        members = [("big", self.SIZE, None)]
        members += [(name.decode(), size, data) for _, name, size, kind, data
                    in raw_members(small_path) if kind != b"x"]
        return path, members

    def test_members_of_9_gib_from_tarfile_and_gnu_tar(self):
        small = member_data(700, seed=71)
        for layout in ("tarfile", "gnu_tar"):
            path, members = self.build(layout, small)
            with self.subTest(layout=layout):
                out = self.path(layout + "-out")
                os.mkdir(out)
                expected_lines, expected_tree = [], {}
                for name, size, data in members:
                    parent = os.path.normpath(name.rpartition("/")[0] or ".").encode()
                    if parent != b"." and parent not in expected_tree:
                        expected_lines.append(create_line(out, name.rpartition("/")[0]))
                        expected_tree[parent] = "dir"
                    expected_lines.append(file_line(out, name, size))
                    if data is not None:
                        expected_tree[fs_name(name)] = data
                self.assertIn(out_path(out, "big") + b" (9,663,676,416 bytes)", expected_lines)
                self.assertEqual(walk_lines(self, path, out), expected_lines)
                big = os.path.join(out, "big")
                self.assertEqual(os.stat(big).st_size, self.SIZE)
                with open(big, "rb") as f:
                    self.assertEqual(f.read(BLOCK), self.DECOY)
                    f.seek(self.SIZE - BLOCK)
                    self.assertEqual(f.read(), self.DECOY)
                os.remove(big)
                self.assertEqual(tree(out), expected_tree)
                self.assertEqual(expected_tree[b"after.txt"], small)
            with self.subTest(layout=layout, option="only=after.txt"):
                out = self.path(layout + "-only")
                os.mkdir(out)
                self.assertEqual(walk_lines(self, path, out, "only=after.txt"),
                                 [skip_line(name) for name, _, _ in members[:-1]] +
                                 [file_line(out, "after.txt", len(small))])
                self.assertEqual(tree(out), {b"after.txt": small})

    # (extension headers as (name, type byte, data), option, outcome) before
    # "next.txt", whose size field says 0 and whose 5 bytes of data follow.
    # The extension headers are never members: no line, no file. Outcomes:
    # a line that ends the walk; ("sized", name), the file has its 5 bytes
    # under that name; "not sized", next.txt is empty and its data block is
    # read as the header of a member "probe"; ("unsafe", name), the member is
    # passed over under that name.
    RECORD_CASES = [
        ([("PaxHeaders/n", b"x", b"18 size=9663676416\n")], "",  # length one too short
         b"ERROR: Bad size field: PaxHeaders/n"),
        ([("PaxHeaders/n", b"x", b"11 size=5x\n")], "", b"ERROR: Bad size field: PaxHeaders/n"),
        ([("PaxHeaders/n", b"x", b"28 size=4611686018427387905\n")], "only=next",  # 2^62 + 1
         b"ERROR: Bad size field: PaxHeaders/n"),
        ([("PaxHeaders/n", b"x", b"13 mtime=1.5\n9 size=5\n")], "", ("sized", "next.txt")),
        ([("PaxHeaders/n", b"x", b"9 size=5\n")], "only=next", ("sized", "next.txt")),
        ([("../PaxHeaders/n", b"x", b"9 size=5\n")], "", ("sized", "next.txt")),
        ([("GlobalHead/g", b"g", b"9 size=5\n")], "", "not sized"),
        # Larger than 1 MiB: read all the same.
        ([("PaxHeaders/big", b"x", b"9 size=5\n" + b"0" * (1 << 20))], "", ("sized", "next.txt")),
        ([("PaxHeaders/n", b"x", pax_record("path", "../x") + b"9 size=5\n")], "",
         ("unsafe", "../x")),
        # Several in a row add up; the size never sizes the "L" or "K" between.
        ([("PaxHeaders/n", b"x", b"9 size=5\n"), ("././@LongLink", b"L", b"from/L/n.txt\0junk"),
          ("././@LongLink", b"K", b"target\0")], "", ("sized", "from/L/n.txt")),
        ([("././@LongLink", b"L", b"from-L.txt\0"),
          ("PaxHeaders/n", b"x", pax_record("path", "from/x.txt") + b"9 size=5\n")],
         "only=from/x", ("sized", "from/x.txt")),
        ([("PaxHeaders/huge", b"x", bytes((16 << 20) + 1))], "",
         b"ERROR: Bad extended header: PaxHeaders/huge"),
    ]

    def test_size_record_table(self):
        # next.txt's data block is also a header, of an empty member "probe".
        block = raw_header(b"probe", 0)
        data = block[:5]
        for index, (headers, option, outcome) in enumerate(self.RECORD_CASES):
            with self.subTest(headers=[(n, k, d[:30]) for n, k, d in headers], option=option):
                archive = self.path("records-%d.tar" % index)
                with open(archive, "wb") as f:
                    for name, kind, records in headers:
                        f.write(raw_header(name.encode(), len(records), typeflag=kind) +
                                records + bytes(-len(records) % BLOCK))
                    f.write(raw_header(b"next.txt", 0) + block)
                    f.write(bytes(2 * BLOCK))
                out = self.path("records-out-%d" % index)
                os.mkdir(out)
                got = walk_lines(self, archive, out, *([option] if option else []))
                if isinstance(outcome, bytes):
                    self.assertEqual(got, [outcome])
                    self.assertEqual(tree(out), {})
                    continue
                expected, expected_tree = [], {}
                if outcome == "not sized":
                    expected += [file_line(out, "next.txt", 0), file_line(out, "probe", 0)]
                    expected_tree.update({b"next.txt": b"", b"probe": b""})
                elif outcome[0] == "unsafe":
                    expected = [b"Skip (unsafe name): " + outcome[1].encode()]
                else:
                    name = outcome[1]
                    parent = name.rpartition("/")[0]
                    if parent:
                        expected.append(create_line(out, parent))
                    while parent:
                        expected_tree[fs_name(parent)] = "dir"
                        parent = parent.rpartition("/")[0]
                    expected.append(file_line(out, name, 5))
                    expected_tree[fs_name(name)] = data
                self.assertEqual(got, expected)
                self.assertEqual(tree(out), expected_tree)


class UnhandledTypes(TempDirTest):
    """Devices, FIFOs and types no writer defines get the warning block;
    with the output redirected it ends with the support line, with no key
    prompt and no wait. Nothing is written for them and the walk goes on."""

    @staticmethod
    def warning(name, size, kind):
        return (name + b" (" + grouped(size) + b" bytes)" + CRLF + b"ERROR: Type problem!" + CRLF +
                b"Unhandled: " + str(kind).encode() + CRLF + SUPPORT_LINE + CRLF)

    def test_every_unhandled_type_from_tarfile(self):
        last = member_data(600, seed=33)
        archive = self.path("types.tar")
        with tarfile.open(archive, "w", format=tarfile.GNU_FORMAT) as tf:
            for name, kind in (("chr", tarfile.CHRTYPE), ("blk", tarfile.BLKTYPE),
                               ("fifo", tarfile.FIFOTYPE)):
                info = tarfile.TarInfo(name)
                info.type = kind
                tf.addfile(info)
            info = tarfile.TarInfo("last.bin")
            info.size = len(last)
            tf.addfile(info, io.BytesIO(last))
        out = self.path("out")
        os.mkdir(out)
        expected = b"".join(self.warning(name, 0, kind) for name, kind in (
            (b"chr", 3), (b"blk", 4), (b"fifo", 6)))
        self.assertEqual(extract(self, archive, out),
                         expected + file_line(out, "last.bin", 600) + CRLF)
        self.assertEqual(tree(out), {b"last.bin": last})

    def test_which_types_carry_data(self):
        # Links, devices, directories and FIFOs (1 to 6) carry no data, whatever
        # their size field says: the block after each is the next header (the
        # links are made). Every other type's data is passed over when the
        # member is not written; a contiguous file (7) is a regular file, a
        # continuation from another volume (M) is never written as a file.
        # Each member's data here is a header of a member "decoy" that must
        # not be read.
        data = member_data(300, seed=34)
        decoy = raw_header(b"decoy", 0)
        archive = self.path("raw.tar")
        with open(archive, "wb") as f:
            f.write(raw_header(b"sym-with-size", 1024, typeflag=b"2", link=b"next.txt"))
            f.write(raw_header(b"next.txt", len(data)) + data + bytes(BLOCK - len(data)))
            f.write(raw_header(b"hard-with-size", 1024, typeflag=b"1", link=b"next.txt"))
            f.write(raw_header(b"fifo-with-size", 1024, typeflag=b"6"))
            for kind in (b"7", b"8", b"9", b"M"):
                f.write(raw_header(b"type" + kind, BLOCK, typeflag=kind) + decoy)
            f.write(raw_header(b"after.txt", len(data)) + data + bytes(BLOCK - len(data)))
            f.write(bytes(2 * BLOCK))
        out = self.path("out")
        os.mkdir(out)
        symbolic = out_path(out, "sym-with-size") + b" -> next.txt"
        self.assertEqual(
            extract(self, archive, out),
            file_line(out, "next.txt", 300) + CRLF + out_path(out, "hard-with-size") +
            b" link to " + out_path(out, "next.txt") + CRLF +
            self.warning(b"fifo-with-size", 1024, 6) +
            file_line(out, "type7", BLOCK) + CRLF + self.warning(b"type8", BLOCK, 8) +
            self.warning(b"type9", BLOCK, 9) + self.warning(b"typeM", BLOCK, "M") +
            file_line(out, "after.txt", 300) + CRLF +
            symbolic + (b" (copied)" if WINDOWS else b"") + CRLF)
        self.assertEqual(tree(out), {b"next.txt": data, b"hard-with-size": data,
                                     b"sym-with-size": data if WINDOWS else ("link", b"next.txt"),
                                     b"type7": decoy, b"after.txt": data})


class HostileNames(TempDirTest):
    """Names that try to leave the output directory, and odd but harmless
    ones. Nothing may appear outside the output directory."""

    # (name, type, extracted as (POSIX), extracted as (Windows)); "unsafe"
    # means the member is passed over with "Skip (unsafe name): ", "cannot"
    # that its line is followed by "ERROR: Cannot create this file" (or
    # directory) and why. Control
    # characters are made exactly and shown escaped in the lines.
    CASES = [
        ("../x", "file", "unsafe", "unsafe"),
        ("a/../../x", "file", "unsafe", "unsafe"),
        ("..", "dir", "unsafe", "unsafe"),
        ("up/../../dir/", "dir", "unsafe", "unsafe"),
        ("/../x", "file", "unsafe", "unsafe"),
        ("..\\x", "file", "..\\x", "unsafe"),
        ("/abs/x", "file", "abs/x", "abs/x"),
        ("a//b", "file", "a/b", "a/b"),
        ("docs/", "dir", "docs", "docs"),
        ("//", "dir", "", ""),
        ("./dot.txt", "file", "./dot.txt", "./dot.txt"),
        ("my file.txt", "file", "my file.txt", "my file.txt"),
        # Only NUL ends a name: its spaces are its own (git archive and
        # tarfile store "todo " as it is). Windows would drop a component's
        # final dots and spaces and store another name: refused there.
        ("  lead and trail  ", "file", "  lead and trail  ", "unsafe"),
        ("todo ", "file", "todo ", "unsafe"),
        ("todo", "file", "todo", "todo"),
        (" lead", "file", " lead", " lead"),
        ("report.", "file", "report.", "unsafe"),
        ("report", "file", "report", "report"),
        ("dir./inner.txt", "file", "dir./inner.txt", "unsafe"),
        ("dir/inner.txt", "file", "dir/inner.txt", "dir/inner.txt"),
        ("l" * 110 + " ", "file", "l" * 110 + " ", "unsafe"),
        ("l" * 110, "file", "l" * 110, "l" * 110),
        # On Windows shown as converted (code page 1252 here), then escaped:
        # the byte 0x81 is the control U+0081; the escape of 0x7F does not
        # split the piece, which is read in the code page as a whole.
        ("a\udc81b.txt", "file", "a\udc81b.txt", "a\udc81b.txt"),
        ("\u00e9\x7f\udce9.txt", "file", "\u00e9\x7f\udce9.txt", "\u00e9\x7f\udce9.txt"),
        ("caf\u00e9.txt", "file", "caf\u00e9.txt", "caf\u00e9.txt"),
        ("\udce9t\udce9.txt", "file", "\udce9t\udce9.txt", "\udce9t\udce9.txt"),
        # A UTF-8 directory holding a code-page name: each is read as what it is.
        ("d\u00e9j\u00e0/\udce9.txt", "file", "d\u00e9j\u00e0/\udce9.txt", "d\u00e9j\u00e0/\udce9.txt"),
        ("c:x", "file", "c:x", "unsafe"),
        ("a:b", "file", "a:b", "unsafe"),
        ("C:\\evil.txt", "file", "C:\\evil.txt", "unsafe"),
        ("CON.txt", "file", "CON.txt", "unsafe"),
        ("sub/nul", "file", "sub/nul", "unsafe"),
        ("aux/", "dir", "aux", "unsafe"),
        ("COM\udcb9.txt", "file", "COM\udcb9.txt", "unsafe"),
        ("COM\u00b9.txt", "file", "COM\u00b9.txt", "unsafe"),
        ("lpt\udcb3", "file", "lpt\udcb3", "unsafe"),
        ("CONIN$", "file", "CONIN$", "unsafe"),
        ("conout$.txt", "file", "conout$.txt", "unsafe"),
        ("line\nbreak.txt", "file", "line\nbreak.txt", "cannot"),
        ("\x1b[2J\x1b[Hclear\rover.txt", "file", "\x1b[2J\x1b[Hclear\rover.txt", "cannot"),
        ("tab\tdel\x7f/", "dir", "tab\tdel\x7f", "cannot"),
        ("csi\u009b2J.txt", "file", "csi\u009b2J.txt", "csi\u009b2J.txt"),
    ]

    def test_hostile_and_odd_names(self):
        archive = self.path("names.tar")
        members = []
        for index, (name, kind, _, _) in enumerate(self.CASES):
            data = None if kind == "dir" else member_data(20 + index, seed=40 + index)
            members.append((name, data, tarfile.DIRTYPE if kind == "dir" else tarfile.REGTYPE))
        members.append(("last.txt", member_data(3, seed=39), tarfile.REGTYPE))
        python_tar(archive, members)
        # Each name as the archive holds it (tarfile adds a directory's "/").
        stored = [name.encode("utf-8", "surrogateescape") +
                  (b"/" if kind == "dir" and not name.endswith("/") else b"")
                  for name, kind, _, _ in self.CASES]
        base = self.path("deep", "er")
        out = os.path.join(base, "out")
        os.makedirs(out)

        expected_lines, expected_tree = [], {}
        for (name, kind, posix, windows), (_, data, _), raw in zip(self.CASES, members, stored):
            target = windows if WINDOWS else posix
            if target == "unsafe":
                expected_lines.append(b"Skip (unsafe name): " + escaped(shown(raw)))
                continue
            if kind == "dir":
                if target == "cannot":
                    expected_lines += [b"Create directory: " + out_path(out, name.rstrip("/")),
                                       cannot_directory("invalid")]
                    continue
                expected_lines.append(b"Create directory: " + out_path(out, target))
                if target:
                    expected_tree[fs_name(target)] = "dir"
                continue
            if target == "cannot":
                expected_lines += [file_line(out, name, len(data)), cannot_file("invalid")]
                continue
            parent = target.rpartition("/")[0]
            if parent and parent != "." and fs_name(parent) not in expected_tree:
                expected_lines.append(create_line(out, parent))
                expected_tree[fs_name(parent)] = "dir"
            expected_lines.append(file_line(out, target, len(data)))
            expected_tree[fs_name(target)] = data
        expected_lines.append(file_line(out, "last.txt", 3))
        expected_tree[b"last.txt"] = members[-1][1]

        self.assertEqual(walk_lines(self, archive, out), expected_lines)
        self.assertEqual(tree(out), expected_tree)
        # Nothing beside the output directory, at any level above it.
        self.assertEqual(sorted(os.listdir(self.tmp)), ["deep", "names.tar"])
        self.assertEqual(os.listdir(self.path("deep")), ["er"])
        self.assertEqual(os.listdir(base), ["out"])

    # (locale whose ANSI code page Wine takes, the name's bytes, the name as
    # shown (before escapes) and made, or None for "Skip (unsafe name): ").
    # Each name is converted first, then tested and shown as the system holds
    # it: "COM" and 949's bytes for a superscript one name a device, 932's
    # byte 0xB9 is a katakana letter; 0x80 and 0x81 become C1 controls.
    CODE_PAGE_CASES = [
        (None, b"a\x81b.txt", "a\u0081b.txt", True),
        (None, b"COM\xb9.txt", "COM\u00b9.txt", False),
        ("ja_JP.UTF-8", b"a\x80b.txt", "a\u0080b.txt", True),
        ("ja_JP.UTF-8", b"COM\xb9.txt", "COM\uff79.txt", True),
        ("ja_JP.UTF-8", b"\x93\xfa\x96\x7b.txt", "\u65e5\u672c.txt", True),
        ("ko_KR.UTF-8", b"a\x80b.txt", "a\u0080b.txt", True),
        ("ko_KR.UTF-8", b"COM\xa9\xf6.txt", "COM\u00b9.txt", False),
        ("ko_KR.UTF-8", b"\xb0\xa1\x7f.txt", "\uac00\x7f.txt", True),
    ]

    @unittest.skipUnless(WINDOWS, "code pages are Windows'")
    def test_names_in_the_ansi_code_pages(self):
        for locale in sorted({case[0] for case in self.CODE_PAGE_CASES}, key=str):
            cases = [case[1:] for case in self.CODE_PAGE_CASES if case[0] == locale]
            with self.subTest(locale=locale):
                archive = self.path("cp-%s.tar" % locale)
                python_tar(archive, [(name.decode("utf-8", "surrogateescape"), b"data",
                                      tarfile.REGTYPE) for name, _, _ in cases])
                out = self.path("out-%s" % locale)
                os.mkdir(out)
                expected_lines = [file_line(out, seen, 4) if made else
                                  b"Skip (unsafe name): " + escaped(seen.encode())
                                  for _, seen, made in cases]
                env = code_page_env(locale) if locale else None
                self.assertEqual(walk_lines(self, archive, out, env=env), expected_lines)
                self.assertEqual(tree(out), {seen.encode(): b"data"
                                             for _, seen, made in cases if made})

    def test_names_that_differ_only_in_case(self):
        # On Windows one file: the later member's bytes stand, and when the
        # file is one this run made, it is said. A file there before the run
        # (README over Readme) and a member written twice under one name are
        # no such loss.
        out = self.path("out")
        os.mkdir(out)
        with open(os.path.join(out, "Readme"), "wb") as f:
            f.write(b"old")
        names = ["libxt_DSCP.so", "libxt_dscp.so", "README", "same.txt", "same.txt"]
        members = [(name, member_data(30 + index, seed=170 + index), tarfile.REGTYPE)
                   for index, name in enumerate(names)]
        archive = self.path("case.tar")
        python_tar(archive, members)
        expected_lines = [file_line(out, name, len(data)) for name, data, _ in members]
        if WINDOWS:
            expected_lines.insert(2, b"ERROR: Written over " + out_path(out, "libxt_DSCP.so") +
                                  b", made for an earlier member (the names differ only in case)")
        self.assertEqual(walk_lines(self, archive, out), expected_lines)
        last = {name.encode(): data for name, data, _ in members}
        if WINDOWS:
            last = {b"libxt_DSCP.so": last.pop(b"libxt_dscp.so"), b"Readme": last.pop(b"README"),
                    b"same.txt": last[b"same.txt"]}
        self.assertEqual(tree(out), {b"Readme": b"old", **last})

    def test_git_archive_names_keep_their_spaces(self):
        repo = self.path("repo")
        make_tree(repo, {"todo ": b"with a space", "todo": b"without"})
        git = ["git", "-C", repo, "-c", "user.name=t", "-c", "user.email=t@example.com"]
        for step in (["init", "-q"], ["add", "-A"], ["commit", "-qm", "files"],
                     ["archive", "-o", self.path("git.tar"), "HEAD"]):
            subprocess.run(git + step, check=True)
        out = self.path("out")
        os.mkdir(out)
        spaced = b"Skip (unsafe name): todo " if WINDOWS else file_line(out, "todo ", 12)
        self.assertEqual(walk_lines(self, self.path("git.tar"), out),
                         [file_line(out, "todo", 7), spaced])
        made = {} if WINDOWS else {b"todo ": b"with a space"}
        self.assertEqual(tree(out), {b"todo": b"without", **made})

    def directory_of_length(self, length, fill):
        """A new directory whose path, as holvex spells it, is `length`
        characters long, made of levels of up to 200 characters."""
        path = self.tmp
        while len(host_path(path)) + 202 < length:
            path = os.path.join(path, fill * 200)
        path = os.path.join(path, fill * (length - len(host_path(path)) - 1))
        os.makedirs(path)
        self.assertEqual(len(host_path(path)), length)
        return path

    def test_paths_past_the_windows_limit_are_made_whole_never_cut(self):
        # Past the 255 characters that the narrow Windows calls take, every
        # path reaches its own file whole; cut, it would name a device
        # ("...\NULyyyyyyy.txt" cut to "...\NUL") or another member. Under
        # an output directory of 251 characters and one of 900, member paths
        # reach 300 and 1,000 characters.
        for out_length, fill in ((251, "d"), (900, "p")):
            out = self.directory_of_length(out_length, fill)
            last = "dddd/" + "e" * ({251: 300, 900: 1000}[out_length] - out_length - 6)
            names = ["abc", "abcd", "NULyyyyyyy.txt", "CONzzzz.txt", "COM1.txt", "plain.txt",
                     "pla", "dddd/", last]
            members = [(name, None, tarfile.DIRTYPE) if name.endswith("/") else
                       (name, member_data(40 + index, seed=80 + index), tarfile.REGTYPE)
                       for index, name in enumerate(names)]
            archive = self.path("long-%d.tar" % out_length)
            python_tar(archive, members)
            self.assertIn(len(out_path(out, last)), (300, 1000))
            expected_lines, expected_tree = [], {}
            for name, data, _ in members:
                if WINDOWS and name == "COM1.txt":
                    expected_lines.append(b"Skip (unsafe name): " + name.encode())
                elif data is None:
                    expected_lines.append(create_line(out, name.rstrip("/")))
                    expected_tree[name.rstrip("/").encode()] = "dir"
                else:
                    expected_lines.append(file_line(out, name, len(data)))
                    expected_tree[name.encode()] = data
            with self.subTest(out_length=out_length):
                self.assertEqual(walk_lines(self, archive, out), expected_lines)
                self.assertEqual(tree(out), expected_tree)

    def test_paths_thousands_and_millions_of_levels_deep(self):
        # Levels are made in one walk down the path: 32,000 of them on POSIX;
        # Windows takes no path past 32,767 characters; more than 65,536
        # levels are refused at once. On tmpfs, which removes them quickly.
        work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        self.addCleanup(subprocess.run, ["rm", "-rf", work])
        for levels, made in ((32000, not WINDOWS), (4 << 20, False)):
            with self.subTest(levels=levels):
                name = "d/" * levels + "f.txt"
                archive = os.path.join(work, "deep-%d.tar" % levels)
                python_tar(archive, [(name, b"deep!", tarfile.REGTYPE),
                                     ("next.txt", b"next", tarfile.REGTYPE)],
                           fmt=tarfile.PAX_FORMAT)
                out = os.path.join(work, "out-%d" % levels)
                os.mkdir(out)
                lines_of = [create_line(out, name[:-6]), file_line(out, name, 5)]
                if not made:
                    # Windows takes no path that long; POSIX no path that deep.
                    why = "too long" if WINDOWS else "too deep"
                    lines_of[1:1] = [cannot_directory(why)]
                    lines_of.append(cannot_file(why))
                self.assertEqual(walk_lines(self, archive, out),
                                 lines_of + [file_line(out, "next.txt", 4)])
                found = subprocess.run(["find", out, "-name", "f.txt", "-size", "5c"],
                                       capture_output=True, check=True).stdout
                self.assertEqual(found.count(b"\n"), 1 if made else 0)

    def test_a_tree_walked_down_up_and_down_again(self):
        # Members deep in one branch, back near its top, in a sibling, and
        # deep again: each file lands in its own directory, whichever levels
        # of the path before it the output root still holds (deeper than it
        # keeps open, too).
        deep = "/".join("l%02d" % level for level in range(40))
        names = [deep + "/a.txt", "l00/l01/b.txt", "l00/side/c.txt", deep + "/d.txt",
                 deep[:deep.index("/l35")] + "/e.txt", "f.txt", deep + "/g.txt"]
        members = [(name, member_data(10 + index, seed=140 + index), tarfile.REGTYPE)
                   for index, name in enumerate(names)]
        archive = self.path("walk.tar")
        python_tar(archive, members, fmt=tarfile.PAX_FORMAT)
        out = self.path("out")
        os.mkdir(out)
        lines_got = walk_lines(self, archive, out)
        self.assertEqual([line for line in lines_got if not line.startswith(b"Create directory: ")],
                         [file_line(out, name, len(data)) for name, data, _ in members])
        found = tree(out)
        self.assertEqual({name: data for name, data in found.items() if data != "dir"},
                         {name.encode(): data for name, data, _ in members})

    def test_long_member_names_reach_their_paths(self):
        # Full names from pax headers: member paths of 300 and 1,000
        # characters are made under their exact names; a name with a
        # component longer than the file system holds cannot be created.
        out = self.path("out")
        os.mkdir(out)
        room = len(host_path(out)) + 1
        names = ["a" * 150 + "/" + "b" * (300 - room - 151),
                 "/".join(c * 200 for c in "cdef") + "/" + "g" * (1000 - room - 4 * 201),
                 "h" * 300, "short.txt"]
        members = [(name, member_data(50 + index, seed=90 + index), tarfile.REGTYPE)
                   for index, name in enumerate(names)]
        archive = self.path("pax.tar")
        python_tar(archive, members, fmt=tarfile.PAX_FORMAT)
        self.assertEqual([len(out_path(out, name)) for name in names[:2]], [300, 1000])
        expected_lines, expected_tree = [], {}
        for name, data, _ in members:
            parent = name.rpartition("/")[0]
            if parent:
                expected_lines.append(create_line(out, parent))
                for level in range(1, parent.count("/") + 2):
                    expected_tree["/".join(parent.split("/")[:level]).encode()] = "dir"
            expected_lines.append(file_line(out, name, len(data)))
            if name == "h" * 300:
                expected_lines.append(cannot_file("too long"))
            else:
                expected_tree[name.encode()] = data
        self.assertEqual(walk_lines(self, archive, out), expected_lines)
        self.assertEqual(tree(out), expected_tree)

    def test_names_with_windows_wildcards_and_reserved_characters(self):
        # On POSIX a name cannot hold only NUL and "/": a web mirror's names
        # are made exactly. Windows refuses each with its error line.
        members = [("why?.txt", b"1"), ("star*.log", b"22"), ("page.php?id=1/", None),
                   ("page.php?id=1/index.html", b"333"), ('q"<>|.txt', b"4444")]
        archive = self.path("web.tar")
        make_archive("gnu_tar", archive, self.path("src"), members)
        out = self.path("out")
        os.mkdir(out)
        errors = [line for line in walk_lines(self, archive, out) if line.startswith(b"ERROR")]
        made = {name.rstrip("/").encode(): data or "dir" for name, data in members}
        self.assertEqual((len(errors), tree(out)), (6, {}) if WINDOWS else (0, made))

    def test_a_nul_byte_inside_a_name(self):
        # A name field ends at its first NUL, as writers end it; a pax path
        # is taken whole, and one holding a NUL is never written (the system
        # would take the shorter name it ends at).
        data = member_data(5, seed=38)
        archive = self.path("inner-nul-byte.tar")
        records = pax_record("path", "pax\0off.txt")
        with open(archive, "wb") as f:
            f.write(raw_header(b"cut\0off.txt", 5) + data + bytes(BLOCK - 5))
            f.write(raw_header(b"PaxHeaders/p", len(records), typeflag=b"x") + records +
                    bytes(BLOCK - len(records)))
            f.write(raw_header(b"pax", 5) + data + bytes(BLOCK - 5))
            f.write(raw_header(b"last.txt", 5) + data + bytes(BLOCK - 5))
            f.write(bytes(2 * BLOCK))
        out = self.path("out")
        os.mkdir(out)
        self.assertEqual(walk_lines(self, archive, out), [
            file_line(out, "cut", 5), file_line(out, b"pax\0off.txt", 5),
            cannot_file("invalid"), file_line(out, "last.txt", 5)])
        self.assertEqual(tree(out), {b"cut": data, b"last.txt": data})


class NothingWrittenThroughLinks(TempDirTest):
    """Links already present below the output directory are never followed:
    a link at a level refuses the member, a link at a file's name is
    replaced by the file; a file with another name (hard link) is replaced,
    never rewritten in place, and the archive is never opened as an output
    file, even where locks fail. Each refused member gets its line and
    "Cannot create this file" with why; the walk goes on, and nothing outside
    the output directory changes."""

    # (case, what is present below out/ (name -> ("symlink", target) /
    # ("hardlink", outside name) / "dir" / bytes), the archive's members,
    # the refused ones with why (a directory: "Cannot create this
    # directory"); "archive" is where the archive lies: beside out/ or in it
    # as its own member "b.tar", read with flock failing.)
    CASES = [
        ("link to a directory outside", {"link": ("symlink", "../outside/dir")},
         ["link/sub/", "link/x.txt"], {"link/sub/": "link", "link/x.txt": "link"}),
        ("link to a file outside", {"f.txt": ("symlink", "../outside/victim.txt")},
         ["f.txt"], {}),
        ("dangling link", {"dl": ("symlink", "../outside/new.txt")}, ["dl"], {}),
        ("second hard link", {"h.txt": ("hardlink", "victim.txt")}, ["h.txt"], {}),
        ("link inside pointing inside", {"sub/": "dir", "sub/kept.txt": b"kept",
                                         "in": ("symlink", "sub")},
         ["in/y.txt", "in/"], {"in/y.txt": "link", "in/": "link"}),
        ("archive as its own member, locks failing", {}, ["b.tar", "archive"],
         {"b.tar": "archive"}),
    ]

    def test_links_and_the_archive_itself(self):
        for case, present, names, refused in self.CASES:
            # Wine cannot make Windows symbolic links or junctions (mklink
            # fails), and it follows a link made by the host as a plain entry.
            if WINDOWS and any(what[0] == "symlink" for what in present.values()
                               if isinstance(what, tuple)):
                continue
            with self.subTest(case=case):
                base = self.path(case.replace(" ", "-").replace(",", ""))
                outside, out = os.path.join(base, "outside"), os.path.join(base, "out")
                make_tree(outside, {"victim.txt": b"victim", "dir/kept.txt": b"kept"})
                os.makedirs(out)
                expected_tree = {}
                for name, what in present.items():
                    full = os.path.join(out, name)
                    if what == "dir":
                        os.makedirs(full)
                    elif isinstance(what, bytes):
                        make_tree(out, {name: what})
                    elif what[0] == "symlink":
                        os.symlink(what[1], full)
                    else:
                        os.link(os.path.join(outside, what[1]), full)
                before = tree(outside)
                own = "archive" in names
                archive = os.path.join(out if own else base, "b.tar")
                members = [(n, None if n.endswith("/") else member_data(100, seed=70),
                            tarfile.DIRTYPE if n.endswith("/") else tarfile.REGTYPE)
                           for n in names if n != "archive"]
                members.append(("ok.txt", member_data(300, seed=71), tarfile.REGTYPE))
                python_tar(archive, members)
                with open(archive, "rb") as f:
                    archive_bytes = f.read()
                expected_tree = tree(out)
                env = None
                # Under Wine the archive is held with no sharing; on POSIX
                # its lock is made to fail.
                if own and not WINDOWS:
                    env = fault_env(locks=1)

                expected_lines = []
                for name, data, _ in members:
                    if data is None:
                        expected_lines.append(create_line(out, name.rstrip("/")))
                        if name in refused:
                            expected_lines.append(cannot_directory(refused[name]))
                        continue
                    expected_lines.append(file_line(out, name, len(data)))
                    if name in refused:
                        expected_lines.append(cannot_file(refused[name]))
                    else:
                        expected_tree[name.encode()] = data
                self.assertEqual(walk_lines(self, archive, out, env=env), expected_lines)
                self.assertEqual(tree(out), expected_tree)
                self.assertEqual(tree(outside), before)
                with open(archive, "rb") as f:
                    self.assertEqual(f.read(), archive_bytes)


    def test_a_directory_being_written_cannot_be_renamed(self):
        # While members are written into out/sub, another program cannot
        # rename it (Windows holds each level without delete sharing), also
        # when the output directory is spelled with "/". The
        # FIFO members after sub/a.txt (a type that is not extracted, each
        # with its warning block) print far more than a pipe holds, so holvex
        # is still in sub, blocked on its output, when the rename is tried.
        # On POSIX a renamed directory simply keeps receiving the members.
        if not WINDOWS:
            self.skipTest("levels are held open on Windows only")
        data = member_data(700, seed=72)
        links = [("sub/fifo%d" % i, b"", tarfile.FIFOTYPE) for i in range(3000)]
        archive = self.path("a.tar")
        python_tar(archive, [("sub/a.txt", data, tarfile.REGTYPE)] + links +
                   [("sub/b.txt", data, tarfile.REGTYPE)])
        out = self.path("out")
        sub, moved = os.path.join(out, "sub"), os.path.join(out, "moved")
        os.mkdir(out)
        slashed = host_path(out).replace("\\", "/") + "/"
        holvex = subprocess.Popen(command("holvex", host_path(archive), slashed),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, env=ENV, start_new_session=True)
        try:
            give_up = time.monotonic() + 120
            while not os.path.exists(os.path.join(sub, "a.txt")) and time.monotonic() < give_up:
                time.sleep(0.05)
            refused = run("rename_probe", host_path(sub), host_path(moved)).stdout
            output, _ = holvex.communicate(timeout=300)
        finally:
            holvex.kill()
        self.assertEqual(refused, b"refused 32")
        self.assertTrue(lines(output)[-1].endswith(file_line(out, "sub/b.txt", 700)), output[-300:])
        self.assertEqual(tree(out), {b"sub": "dir", b"sub/a.txt": data, b"sub/b.txt": data})
        # Once holvex has ended, nothing holds it.
        self.assertEqual(run("rename_probe", host_path(sub), host_path(moved)).stdout, b"renamed")


class Failures(TempDirTest):
    """Files that cannot be created and members cut short: the error lines,
    and the walk stays on the archive's block boundaries."""

    def make_read_only(self, path):
        os.chmod(path, 0o555 if os.path.isdir(path) else 0o444)
        self.addCleanup(os.chmod, path, 0o755)
        if os.geteuid() == 0:
            # The mode alone does not stop root: mark the file immutable.
            result = subprocess.run(["chattr", "+i", path], capture_output=True)
            if result.returncode != 0:
                self.skipTest("running as root on a file system without chattr +i")
            self.addCleanup(subprocess.run, ["chattr", "-i", path])

    def test_things_in_the_way(self):
        out = self.path("out")
        make_tree(out, {"ro.txt": b"old", "plain": b"a plain file", "dirhere/": None,
                        "rodir/kept.txt": b"kept"})
        self.make_read_only(os.path.join(out, "ro.txt"))
        # A read-only directory binds no one on Windows (its attribute says
        # nothing of its entries).
        if not WINDOWS:
            self.make_read_only(os.path.join(out, "rodir"))
        long_level = "L" * 300
        members = [
            ("ro.txt", member_data(600, seed=51), tarfile.REGTYPE),
            ("rodir/new.txt", member_data(20, seed=50), tarfile.REGTYPE),
            ("plain/x.txt", member_data(700, seed=52), tarfile.REGTYPE),
            ("plain/sub/y.txt", member_data(10, seed=53), tarfile.REGTYPE),
            ("plain/d", None, tarfile.DIRTYPE),
            ("dirhere", member_data(5, seed=54), tarfile.REGTYPE),
            (long_level + "/", None, tarfile.DIRTYPE),
            ("ok.txt", member_data(1000, seed=55), tarfile.REGTYPE),
        ]
        archive = self.path("a.tar")
        python_tar(archive, members)
        rodir = [] if WINDOWS else [cannot_file("permission")]
        # A read-only file is replaced as any file is (the directory allows
        # it); an immutable one (root) is not, nor one Windows keeps.
        ro_replaced = not WINDOWS and os.geteuid() != 0
        self.assertEqual(walk_lines(self, archive, out), [
            file_line(out, "ro.txt", 600), *([] if ro_replaced else [cannot_file("permission")]),
            file_line(out, "rodir/new.txt", 20), *rodir,
            file_line(out, "plain/x.txt", 700), cannot_file("file"),
            create_line(out, "plain/sub"), cannot_directory("file"),
            file_line(out, "plain/sub/y.txt", 10), cannot_file("file"),
            create_line(out, "plain/d"), cannot_directory("file"),
            file_line(out, "dirhere", 5), cannot_file("directory"),
            create_line(out, long_level), cannot_directory("too long"),
            file_line(out, "ok.txt", 1000)])
        made = {b"rodir/new.txt": members[1][1]} if WINDOWS else {}
        self.assertEqual(tree(out), {b"ro.txt": members[0][1] if ro_replaced else b"old",
                                     b"plain": b"a plain file",
                                     b"dirhere": "dir", b"rodir": "dir",
                                     b"rodir/kept.txt": b"kept", b"ok.txt": members[-1][1],
                                     **made})

    # (case, what stands at the member "entry"'s path). Each is refused with
    # the member's line and "Cannot create this file" with why, and left as
    # it is; no
    # open waits on it (a hang fails the row through the run's timeout); and
    # the walk goes on to the member after it.
    NOT_PLAIN_FILES = [
        ("character device", "device", "not a file"),
        ("FIFO with a reader", "read fifo", "not a file"),
        ("FIFO without a reader", "fifo", "not a file"),
        ("socket", "socket", "not a file"),
        ("directory at a file's path", "directory", "directory"),
        ("kernel setting mounted over a file", "mounted setting", "kernel"),
        ("file of a process's own /proc/<pid>/ directory", "proc", "kernel"),
    ]
    # Wine reaches the host's file system too: what it sees of these.
    WINE_KINDS = ("device", "read fifo", "fifo", "socket", "directory")

    def place(self, kind, entry, setting):
        """Makes the entry of `kind` at `entry`; returns a function whose
        value must not change with the run: what the entry is, what a FIFO's
        reader received, and the kernel setting (a sleeping process's OOM
        score, at its own place or mounted over a file of the output
        directory)."""
        if kind == "device":
            os.mknod(entry, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        elif kind in ("read fifo", "fifo"):
            os.mkfifo(entry)
        elif kind == "socket":
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self.addCleanup(listener.close)
            listener.bind(entry)
            listener.listen()
        elif kind == "directory":
            os.mkdir(entry)
        elif kind == "mounted setting":
            make_tree(os.path.dirname(entry), {os.path.basename(entry): b""})
            if subprocess.run(["mount", "--bind", setting, entry],
                              capture_output=True).returncode != 0:
                self.skipTest("no bind mounts here")
            self.addCleanup(subprocess.run, ["umount", entry], capture_output=True)
        reader = os.open(entry, os.O_RDONLY | os.O_NONBLOCK) if kind == "read fifo" else None
        if reader is not None:
            self.addCleanup(os.close, reader)

        def state():
            status = os.lstat(entry)
            received = b""
            if reader is not None:
                try:
                    received = os.read(reader, 1 << 20)
                except BlockingIOError:
                    pass
            with open(setting, "rb") as f:
                return (stat.S_IFMT(status.st_mode), status.st_rdev, received, f.read(),
                        os.listdir(entry) if kind == "directory" else None)
        return state

    def test_entries_that_are_not_plain_files(self):
        sleeper = subprocess.Popen(["sleep", "600"])
        self.addCleanup(sleeper.wait)
        self.addCleanup(sleeper.kill)
        setting = "/proc/%d/oom_score_adj" % sleeper.pid
        # For a setting, a value the kernel would take; elsewhere more than a
        # pipe holds, so that a FIFO's reader that never reads would stall
        # the writer.
        setting_data = b"1000\n"
        big = member_data(1 << 20, seed=56)
        after = member_data(300, seed=57)
        for case, kind, why in self.NOT_PLAIN_FILES:
            if WINDOWS and kind not in self.WINE_KINDS:
                continue
            with self.subTest(case):
                if kind == "proc":
                    out, name = "/proc/%d" % sleeper.pid, "oom_score_adj"
                else:
                    out, name = self.path(kind.replace(" ", "-")), "entry"
                    os.mkdir(out)
                state = self.place(kind, os.path.join(out, name), setting)
                before = state()
                data = setting_data if kind in ("proc", "mounted setting") else big
                archive = self.path(kind.replace(" ", "-") + ".tar")
                python_tar(archive, [(name, data, tarfile.REGTYPE),
                                     ("next.txt", after, tarfile.REGTYPE)])
                expected = [file_line(out, name, len(data)), cannot_file(why),
                            file_line(out, "next.txt", len(after))]
                if kind == "proc":
                    # Nothing can be made there at all.
                    expected.append(cannot_file("kernel"))
                self.assertEqual(walk_lines(self, archive, out), expected)
                self.assertEqual(state(), before)
                if kind != "proc":
                    self.assertEqual(sorted(os.listdir(out)), [name, "next.txt"])
                    with open(os.path.join(out, "next.txt"), "rb") as f:
                        self.assertEqual(f.read(), after)

    def test_a_full_disk(self):
        # The output file system is full from the first byte: the member
        # whose first bytes came from the read-ahead, then the rest, and the
        # member after it are reported, and the walk goes on.
        if WINDOWS or os.geteuid() != 0:
            self.skipTest("a small file system is mounted for it (POSIX, as root)")
        out = self.path("full")
        os.mkdir(out)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1M", "tmpfs", out]).returncode:
            self.skipTest("no tmpfs can be mounted here")
        self.addCleanup(subprocess.run, ["umount", out])
        with open(os.path.join(out, "fill"), "wb") as f:
            try:
                f.write(bytes(2 << 20))
            except OSError:
                pass
        archive = self.path("a.tar")
        python_tar(archive, [("big.bin", member_data(10 << 20, seed=57), tarfile.REGTYPE),
                             ("after.txt", member_data(5, seed=58), tarfile.REGTYPE)])
        self.assertEqual(walk_lines(self, archive, out), [
            file_line(out, "big.bin", 10 << 20),
            b"ERROR: Incomplete file (0 of 10,485,760 bytes written): no space left on the disk",
            file_line(out, "after.txt", 5),
            b"ERROR: Incomplete file (0 of 5 bytes written): no space left on the disk"])

    def test_a_file_locked_by_another_process_keeps_its_data(self):
        if WINDOWS:
            self.skipTest("Wine does not see a lock taken by a host process")
        out = self.path("out")
        make_tree(out, {"locked.txt": b"keep me"})
        data = member_data(900, seed=56)
        archive = self.path("a.tar")
        python_tar(archive, [("locked.txt", data, tarfile.REGTYPE),
                             ("free.txt", data, tarfile.REGTYPE)])
        # The name gets a new file with the member's bytes; the file the
        # other process holds keeps its own.
        with open(os.path.join(out, "locked.txt"), "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            output = walk_lines(self, archive, out)
            self.assertEqual(held.read(), b"keep me")
        self.assertEqual(output, [file_line(out, "locked.txt", 900),
                                  file_line(out, "free.txt", 900)])
        self.assertEqual(tree(out), {b"locked.txt": data, b"free.txt": data})

    def test_members_cut_short_by_the_end_of_the_archive(self):
        first = member_data(100, seed=57)
        cut = member_data(5000, seed=58)
        whole = self.path("whole.tar")
        python_tar(whole, [("first.txt", first, tarfile.REGTYPE),
                           ("cut.bin", cut, tarfile.REGTYPE)])
        with open(whole, "rb") as f:
            content = f.read()
        data_start = 3 * BLOCK  # first.txt's header and block, then cut.bin's header
        for kept in (0, 1, 511, 1000, 2048, 4999, 5000):
            for option in ("", "only=first"):
                with self.subTest(kept=kept, option=option):
                    archive = self.path("cut-%d.tar" % kept)
                    with open(archive, "wb") as f:
                        f.write(content[:data_start + kept])
                    out = self.path("out-%d-%s" % (kept, option.replace("=", "")))
                    os.mkdir(out)
                    got = walk_lines(self, archive, out, *([option] if option else []))
                    # The data ends inside the member, or (5,000) inside its
                    # padding: the file may be whole, the archive is not.
                    cut_line = b"ERROR: Archive cut short at offset " + grouped(data_start + kept)
                    if option:
                        self.assertEqual(got, [file_line(out, "first.txt", 100), b"Skip: cut.bin",
                                               cut_line])
                        self.assertEqual(tree(out), {b"first.txt": first})
                        continue
                    expected = [file_line(out, "first.txt", 100), file_line(out, "cut.bin", 5000)]
                    if kept < 5000:
                        expected.append(b"ERROR: Incomplete file (" + grouped(kept) +
                                        b" of 5,000 bytes written)")
                    self.assertEqual(got, expected + [cut_line])
                    self.assertEqual(tree(out), {b"first.txt": first, b"cut.bin": cut[:kept]})

    def test_archives_cut_short_anywhere(self):
        # Wherever the data ends inside what a header announced, the walk
        # says so, with the offset where the data ended; an archive that
        # ends between members, with or without its end blocks, is whole.
        data = member_data(10, seed=63)
        whole = raw_header(b"whole.txt", 10) + data + bytes(BLOCK - 10)
        records = pax_record("path", "long/" + "p" * 80) * 2
        sparse = bytearray(raw_header(b"sparse.bin", 0, typeflag=b"S"))
        sparse[482] = ord("1")  # extension blocks of the map follow
        sparse[148:156] = b" " * 8
        sparse[148:156] = b"%06o\0 " % sum(sparse)
        cases = [
            # (label, archive after whole.txt (1,024 bytes), option, lines after
            # whole.txt's)
            ("inside a pax header's data",
             raw_header(b"PaxHeaders/p", len(records), typeflag=b"x") + records[:50], "",
             [b"ERROR: Archive cut short at offset 1,586"]),
            ("inside a GNU long name", raw_header(b"././@LongLink", 300, typeflag=b"L") + b"n" * 99,
             "", [b"ERROR: Archive cut short at offset 1,635"]),
            ("inside a member passed over as unsafe", raw_header(b"../x", 5000) + bytes(1000), "",
             [b"Skip (unsafe name): ../x", b"ERROR: Archive cut short at offset 2,536"]),
            ("inside a member passed over by startat=", raw_header(b"a.bin", 5000) + bytes(600),
             "startat=z", [b"Skip: a.bin", b"ERROR: Archive cut short at offset 2,136"]),
            ("before the map blocks of a sparse member", bytes(sparse), "",
             [b"ERROR: Archive cut short at offset 1,536"]),
            ("after a whole member", b"", "", []),
            ("inside the end blocks", bytes(BLOCK + 100), "", []),
        ]
        for label, rest, option, expected in cases:
            with self.subTest(label):
                archive = self.path(label.replace(" ", "-") + ".tar")
                with open(archive, "wb") as f:
                    f.write(whole + rest)
                out = self.path(label.replace(" ", "-"))
                os.mkdir(out)
                got = walk_lines(self, archive, out, *([option] if option else []))
                first = b"Skip: whole.txt" if option else file_line(out, "whole.txt", 10)
                self.assertEqual(got, [first] + expected)
                self.assertEqual(tree(out), {} if option else {b"whole.txt": data})
        # A file with nothing in it is no archive.
        empty = self.path("empty.tar")
        open(empty, "wb").close()
        out = self.path("empty")
        os.mkdir(out)
        self.assertEqual(walk_lines(self, empty, out), [b"ERROR: Not a tar archive"])

    def test_read_and_close_errors(self):
        # A preloaded library makes reads of the archive fail from an offset
        # (a bad sector) or the close of one output file fail (a write that a
        # network file system completes only then). The walk never takes
        # what follows a failed read for a header, and no failure is silent.
        if WINDOWS:
            self.skipTest("the failures are injected with a preloaded library (POSIX)")
        data = {"a.txt": member_data(1000, seed=71), "b.bin": member_data(5000, seed=72),
                "c.txt": member_data(10, seed=73), "e.txt": b""}
        archive = self.path("a.tar")
        python_tar(archive, [(name, payload, tarfile.REGTYPE) for name, payload in data.items()])
        # Offsets: a.txt's header 0, b.bin's header 1536 and data 2048,
        # c.txt's header 7168.
        cut = b"ERROR: Cannot read the archive: an input/output error"
        unknown = None  # an "Incomplete file" line; its count may be any the disk holds
        cases = [
            # (case, faults, option, lines after the banner, files on disk)
            ("a header cannot be read", {"read_from": 1536}, None, ["a.txt", cut], ["a.txt"]),
            ("a member's data cannot be read", {"read_from": 2048 + 3000}, None,
             ["a.txt", "b.bin", unknown, cut], ["a.txt", "b.bin"]),
            ("the header after members passed over", {"read_from": 7168}, "only=c",
             [b"Skip: a.txt", b"Skip: b.bin", cut], []),
            ("the close of a written file fails", {"close": "b.bin"}, None,
             ["a.txt", "b.bin",
              b"ERROR: Incomplete file (0 of 5,000 bytes written): an input/output error",
              "c.txt", "e.txt"], list(data)),
            ("the close of an empty file fails", {"close": "e.txt"}, None,
             ["a.txt", "b.bin", "c.txt", "e.txt", cannot_file("io")], list(data)),
            ("the disk is full for one file", {"write": "b.bin"}, None,
             ["a.txt", "b.bin",
              b"ERROR: Incomplete file (0 of 5,000 bytes written): no space left on the disk",
              "c.txt", "e.txt"], ["a.txt", ("b.bin", b""), "c.txt", "e.txt"]),
        ]
        for number, (case, faults, option, expected, files) in enumerate(cases):
            with self.subTest(case):
                out = self.path("out-%d" % number)
                os.mkdir(out)
                if "read_from" in faults:
                    faults = dict(faults, archive=archive)
                got = walk_lines(self, archive, out, *([option] if option else []),
                                 env=fault_env(**faults))
                self.assertEqual(len(got), len(expected), got)
                on_disk = tree(out)
                for line, wanted in zip(got, expected):
                    if wanted is unknown:
                        # Only bytes that reached the disk before the failure.
                        found = re.fullmatch(rb"ERROR: Incomplete file \(([\d,]+) of 5,000 "
                                             rb"bytes written\)", line)
                        self.assertIsNotNone(found, line)
                        count = int(found.group(1).replace(b",", b""))
                        self.assertLessEqual(count, 3000)
                        self.assertEqual(on_disk[b"b.bin"], data["b.bin"][:count])
                    elif isinstance(wanted, str):
                        self.assertEqual(line, file_line(out, wanted, len(data[wanted])))
                    else:
                        self.assertEqual(line, wanted)
                # A file is on disk whole, or with the bytes given beside it.
                files = dict(entry if isinstance(entry, tuple) else (entry, data[entry])
                             for entry in files)
                self.assertEqual(sorted(on_disk), sorted(name.encode() for name in files))
                for name, content in files.items():
                    if name != "b.bin" or unknown not in expected:
                        self.assertEqual(on_disk[name.encode()], content, name)

    def test_a_header_cut_short(self):
        # A last header of 100 bytes is no header: the archive is cut short
        # there, and nothing is made of the fragment of a name.
        data = member_data(10, seed=59)
        archive = self.path("a.tar")
        with open(archive, "wb") as f:
            f.write(raw_header(b"whole.txt", 10) + data + bytes(BLOCK - 10))
            f.write(raw_header(b"short.txt", 999)[:100])
        out = self.path("out")
        os.mkdir(out)
        self.assertEqual(walk_lines(self, archive, out),
                         [file_line(out, "whole.txt", 10),
                          b"ERROR: Archive cut short at offset 1,124"])
        self.assertEqual(tree(out), {b"whole.txt": data})

    def test_sizes_past_what_a_double_holds_are_shown_exactly(self):
        # Base-256 size fields reach 2^62; a count above 2^53 must keep its
        # last digits. The file's data runs past the end of the archive.
        device_size = (1 << 60) + 3
        file_size = (1 << 53) + 1
        data = member_data(1000, seed=61)
        archive = self.path("huge.tar")
        with open(archive, "wb") as f:
            f.write(raw_header(b"huge-device", 0, typeflag=b"3",
                               size_field=size_field_base256(device_size)))
            f.write(raw_header(b"huge.bin", 0, size_field=size_field_base256(file_size)) + data)
        out = self.path("out")
        os.mkdir(out)
        self.assertEqual(extract(self, archive, out),
                         b"huge-device (1,152,921,504,606,846,979 bytes)" + CRLF +
                         b"ERROR: Type problem!" + CRLF + b"Unhandled: 3" + CRLF + SUPPORT_LINE +
                         CRLF + file_line(out, "huge.bin", file_size) + CRLF +
                         b"ERROR: Incomplete file (1,000 of 9,007,199,254,740,993 bytes written)" +
                         CRLF + b"ERROR: Archive cut short at offset 2,024" + CRLF)
        self.assertEqual(tree(out), {b"huge.bin": data})

    def test_a_size_that_cannot_be_a_size_ends_the_walk(self):
        data = member_data(10, seed=60)
        # An octal field with a sign or letters would be read as 0 and the
        # member's data (here the next header) taken as a member.
        for label, field in (("negative base-256", b"\xff" * 12),
                             ("base-256 past 2^62", b"\x80" + b"\xff" * 11),
                             ("other high-bit form", b"\xc0" + bytes(11)),
                             ("minus sign", b"-0000000001\0"), ("letters", b"abcdefghijk\0"),
                             ("plus sign", b"+0000002000\0")):
            with self.subTest(field=label):
                archive = self.path(label.replace(" ", "-") + ".tar")
                with open(archive, "wb") as f:
                    f.write(raw_header(b"before.txt", 10) + data + bytes(BLOCK - 10))
                    f.write(raw_header(b"bad", 0, size_field=field))
                    f.write(raw_header(b"after.txt", 10) + data + bytes(BLOCK - 10))
                    f.write(bytes(2 * BLOCK))
                out = self.path("out-" + label.replace(" ", "-"))
                os.mkdir(out)
                self.assertEqual(walk_lines(self, archive, out),
                                 [file_line(out, "before.txt", 10), b"ERROR: Bad size field: bad"])
                self.assertEqual(tree(out), {b"before.txt": data})


def compress(command, data):
    """`data` compressed by a compressor's command line (reading standard input)."""
    return subprocess.run(command, input=data, stdout=subprocess.PIPE, check=True).stdout


def in_pieces(command, data, count, between=b""):
    """`data` cut in `count` pieces at odd offsets, each compressed on its own
    and the results put one after another (as parallel compressors write)."""
    cuts = [len(data) * i // count + 7 * i for i in range(count)] + [len(data)]
    return between.join(compress(command, data[a:b]) for a, b in zip(cuts, cuts[1:]))


# A zstd skippable frame of 4 bytes, as pzstd begins its files with.
ZSTD_SKIPPABLE = b"\x50\x2a\x4d\x18\x04\x00\x00\x00" + b"\x01\x02\x03\x04"


class CompressedArchives(TempDirTest):
    """Compressed tar archives, read as they stream: a tree of real files
    (the project's own sources), a large member of text-like data and small
    members after it, archived by GNU tar and compressed by the compressors'
    own command lines. Each gives the same lines and files as the plain
    archive; damage ends the run with a read error of the archive.

    The archive and its compressed forms are made once for the class: the
    tests only read them."""

    # (label, compressed bytes from the plain archive's bytes, read by the
    # Windows build); the Linux build reads every one.
    FORMATS = [
        ("gzip", lambda tar: compress(["gzip", "-c"], tar), True),
        ("gzip, three members", lambda tar: in_pieces(["gzip", "-c"], tar, 3), True),
        ("zstd", lambda tar: compress(["zstd", "-q", "-c"], tar), False),
        ("zstd, a skippable frame and three frames",
         lambda tar: ZSTD_SKIPPABLE + in_pieces(["zstd", "-q", "-c"], tar, 3), False),
        ("xz", lambda tar: compress(["xz", "-c"], tar), False),
        ("xz, three streams with stream padding",
         lambda tar: in_pieces(["xz", "-c"], tar, 3, between=bytes(4)), False),
        ("xz, blocks decoded on two threads",
         lambda tar: compress(["xz", "-c", "-T2", "--block-size=1MiB"], tar), False),
        ("bzip2", lambda tar: compress(["bzip2", "-c"], tar), False),
        ("bzip2, three streams", lambda tar: in_pieces(["bzip2", "-c"], tar, 3), False),
    ]
    # Every option but the first passes over members: moves in a plain
    # archive on the disk, reads dropped in a stream (every compressed one
    # and a pipe), whatever its format.
    OPTIONS = ["", "only=big/", "startat=tail/", "only=tail/b", "startat=real/text"]
    BIG = "big/words.txt"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.shared = tempfile.mkdtemp(prefix="holvex-test-")
        cls.addClassCleanup(shutil.rmtree, cls.shared, True)
        top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        source = os.path.join(cls.shared, "src")
        files = {}
        for folder in ("fileio", "text"):
            for name in sorted(os.listdir(os.path.join(top, "src", folder))):
                with open(os.path.join(top, "src", folder, name), "rb") as f:
                    files["real/%s/%s" % (folder, name)] = f.read()
        # Text-like data that every compressor shrinks alike (about three to
        # one), larger than the stream's ring of buffers.
        rng = random.Random(24)
        words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
                 for _ in range(2000)]
        big = b" ".join(rng.choice(words) + (b"\n" if rng.random() < 0.1 else b"")
                        for _ in range(700000))
        files[cls.BIG] = big[:5 * 1024 * 1024 + 77]
        files.update({"tail/a.bin": member_data(513, seed=81), "tail/b.bin": member_data(0, seed=82),
                      "tail/c.bin": member_data(70000, seed=83)})
        make_tree(source, files)
        cls.files = files
        cls.plain = os.path.join(cls.shared, "plain.tar")
        subprocess.run(["tar", "--format=gnu", "--sort=name", "-cf", cls.plain, "-C", source,
                        "real", "big", "tail"], check=True)
        with open(cls.plain, "rb") as f:
            cls.tar = f.read()
        # Each compressor's command lines once, on every core (xz takes
        # seconds for the large member).
        import concurrent.futures
        wanted = [(label, make) for label, make, windows in cls.FORMATS if windows or not WINDOWS]
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
            made = list(pool.map(lambda item: item[1](cls.tar), wanted))
        cls.compressed = {}
        for index, ((label, _), data) in enumerate(zip(wanted, made)):
            cls.compressed[label] = (os.path.join(cls.shared, "%d.tar.compressed" % index), data)
            with open(cls.compressed[label][0], "wb") as f:
                f.write(data)

    def setUp(self):
        super().setUp()
        self.out = self.path("out")

    def run_holvex(self, archive, option="", piped=False):
        """Lines and tree of one run into the same fresh output directory;
        `piped`, the archive's bytes come through a pipe (POSIX)."""
        shutil.rmtree(self.out, ignore_errors=True)
        os.mkdir(self.out)
        stdin = b""
        if piped:
            with open(archive, "rb") as f:
                stdin = f.read()
            archive = "/dev/stdin"
        lines = walk_lines(self, archive, self.out, *([option] if option else []), stdin=stdin)
        return lines, tree(self.out)

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_every_format_gives_the_lines_and_files_of_the_plain_archive(self):
        plain = {option: self.run_holvex(self.plain, option) for option in self.OPTIONS}
        lines, files = plain[""]
        self.assertEqual({name: data for name, data in files.items() if data != "dir"},
                         {fs_name(name): data for name, data in self.files.items()})
        # On POSIX every option also through a pipe: passed over as a
        # compressed stream passes over them.
        if not WINDOWS:
            for option in self.OPTIONS:
                with self.subTest(format="plain", option=option, piped=True):
                    self.assertEqual(self.run_holvex(self.plain, option, True), plain[option])
        # Each format whole (every file compared), and once with an option
        # that passes over members, from the disk and (POSIX) through a pipe
        # in turn.
        for index, (label, (archive, _)) in enumerate(self.compressed.items()):
            skipping = self.OPTIONS[1 + index % (len(self.OPTIONS) - 1)]
            for option, piped in (("", index % 2 == 1), (skipping, index % 2 == 0)):
                piped = piped and not WINDOWS
                with self.subTest(format=label, option=option, piped=piped):
                    self.assertEqual(self.run_holvex(archive, option, piped), plain[option])

    def test_decoders_take_at_most_256_mib(self):
        # A stream that declares a larger window or dictionary is refused as
        # it is met, saying what it needs; the largest usual ones are read.
        if WINDOWS:
            self.skipTest("the Windows build reads gzip alone")
        small = self.path("small.tar")
        subprocess.run(["tar", "-cf", small, "-C", os.path.join(self.shared, "src"), "tail"],
                       check=True)
        with open(small, "rb") as f:
            tar = f.read()
        expected = self.run_holvex(small)
        data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
        cases = [
            # (a file, or a compressor of the small archive; what it needs,
            # in MiB: a pattern; None: it is read). xz needs gigabytes and
            # seconds to write a 1.5 GiB dictionary: those files are kept
            # (tests/data/README.md says how they were made).
            (os.path.join(data, "xz-dict-1536mib.tar.xz"), rb"1,53\d"),
            # blocks for two threads: the need comes from a block's own header
            (os.path.join(data, "xz-dict-1536mib-blocks.tar.xz"), rb"1,53\d"),
            (["xz", "-c", "-9e"], None),
            (["zstd", "-q", "-c", "--long=29"], rb"512"),
            (["zstd", "-q", "-c", "--long=28"], None),
        ]
        for made, needs in cases:
            with self.subTest(os.path.basename(made) if isinstance(made, str) else " ".join(made)):
                archive = made
                if not isinstance(made, str):
                    archive = self.write("a.tar.compressed", compress(made, tar))
                got = self.run_holvex(archive)
                if needs is None:
                    self.assertEqual(got, expected)
                    continue
                self.assertEqual(got[1], {})
                self.assertEqual(len(got[0]), 1, got[0])
                self.assertRegex(got[0][0], rb"ERROR: Cannot read the archive \(it needs " + needs +
                                 rb" MiB of memory to decompress\)$")

    def expected_cut(self, lines, written, damage):
        """The plain run's lines up to the large member's, which is reported
        incomplete, then the read error; `written` bytes of it on disk."""
        big_line = file_line(self.out, self.BIG, len(self.files[self.BIG]))
        kept = lines[:lines.index(big_line) + 1]
        return kept + [b"ERROR: Incomplete file (" + grouped(written) + b" of " +
                       grouped(len(self.files[self.BIG])) + b" bytes written)",
                       b"ERROR: Cannot read the archive: the compressed data " +
                       (b"is cut short" if damage == "cut in the middle" else b"is damaged")]

    def changed_byte(self, gz):
        """The gzip file with one byte changed in its compressed data where
        inflate itself finds the damage, inside the large member's data. Most
        changes still decode (into wrong bytes) and are found only by the
        check at the gzip member's end; one in a block's code tables is not."""
        big_from = self.tar.index(self.files[self.BIG][:512])
        big_to = big_from + len(self.files[self.BIG])
        inflate = zlib.decompressobj(31)
        decoded = len(inflate.decompress(gz[:len(gz) // 2]))
        for at in range(len(gz) // 2, len(gz) - 8192):
            trial = inflate.copy()
            try:
                trial.decompress(bytes([gz[at] ^ 0x55]) + gz[at + 1:at + 8192])
            except zlib.error:
                if big_from < decoded and decoded + 64 * 1024 < big_to:
                    return gz[:at] + bytes([gz[at] ^ 0x55]) + gz[at + 1:]
            decoded += len(inflate.decompress(gz[at:at + 1]))
        self.fail("no change found that inflate catches inside the large member")

    def test_damage_ends_the_run_with_a_read_error(self):
        lines, _ = self.run_holvex(self.plain)
        cases = [
            # (format, damage)
            ("gzip", "cut in the middle"), ("gzip", "a byte changed"),
            ("gzip", "garbage after the end"),
            ("zstd", "cut in the middle"), ("zstd", "garbage after the end"),
            ("xz", "cut in the middle"), ("xz", "garbage after the end"),
            ("xz, blocks decoded on two threads", "cut in the middle"),
            ("xz, blocks decoded on two threads", "garbage after the end"),
            ("bzip2", "cut in the middle"), ("bzip2", "garbage after the end"),
        ]
        for format, damage in cases:
            if format not in self.compressed:
                continue
            with self.subTest(format=format, damage=damage):
                whole = self.compressed[format][1]
                if damage == "cut in the middle":
                    damaged = whole[:len(whole) // 2]
                elif damage == "garbage after the end":
                    damaged = whole + b"garbage"
                else:
                    damaged = self.changed_byte(whole)
                got, files = self.run_holvex(self.write("damaged", damaged))
                if damage == "garbage after the end":
                    # Bytes that begin no stream follow the last one: said,
                    # not read, and no error.
                    self.assertEqual(got, lines + [
                        b"Data after the compressed stream, from offset %s of the file, was not "
                        b"read" % "{:,}".format(len(whole)).encode()])
                    continue
                found = re.fullmatch(rb"ERROR: Incomplete file \(([\d,]+) of .*", got[-2])
                self.assertIsNotNone(found, got[-3:])
                written = int(found.group(1).replace(b",", b""))
                self.assertEqual(got, self.expected_cut(lines, written, damage))
                big = self.files[self.BIG]
                self.assertLess(written, len(big))
                self.assertEqual(len(files[fs_name(self.BIG)]), written)
                if damage == "cut in the middle":
                    self.assertEqual(files[fs_name(self.BIG)], big[:written])
                # Nothing after the member cut is written.
                self.assertEqual(sorted(name for name in files if name.startswith(b"tail")), [])
                for name, data in self.files.items():
                    if name.startswith("real/"):
                        self.assertEqual(files[fs_name(name)], data, name)


class OddMemberKinds(TempDirTest):
    """Regular files named like directories, directory members with a size,
    and the letter-typed members of the writers' extensions."""

    def test_file_members_named_like_directories(self):
        after = member_data(300, seed=61)
        archive = self.path("a.tar")
        with open(archive, "wb") as f:
            f.write(raw_header(b"olddir/", 0, typeflag=b"0"))
            f.write(raw_header(b"v7dir/", 600, typeflag=b"\0") + member_data(1024, seed=62))
            f.write(raw_header(b"olddir/", 0, typeflag=b"0"))
            # Names made only of spaces are names (Windows would store them
            # as nothing: refused there).
            f.write(raw_header(b"   ", 5) + member_data(BLOCK, seed=67))
            f.write(raw_header(b"  ", 0))
            # A directory with a size: the blocks after it are headers, also
            # when it is passed over.
            f.write(raw_header(b"dsz/", 1024, typeflag=b"5"))
            f.write(raw_header(b"inside-a", 0))
            f.write(raw_header(b"inside-b", 0))
            f.write(raw_header(b"after.txt", 300) + after + bytes(BLOCK - 300))
            f.write(bytes(2 * BLOCK))
        out = self.path("out")
        os.mkdir(out)
        sep = b"\\" if WINDOWS else b"/"
        # Such a member without data is silent (older archives mark
        # directories this way); one with data cannot be written.
        cannot = cannot_file("directory name")
        spaces = ([b"Skip (unsafe name):    ", b"Skip (unsafe name):   "] if WINDOWS else
                  [file_line(out, "   ", 5), file_line(out, "  ", 0)])
        self.assertEqual(walk_lines(self, archive, out), [
            create_line(out, "olddir"), out_path(out, "olddir") + sep + b" (0 bytes)",
            create_line(out, "v7dir"), out_path(out, "v7dir") + sep + b" (600 bytes)", cannot,
            out_path(out, "olddir") + sep + b" (0 bytes)", *spaces,
            create_line(out, "dsz"), file_line(out, "inside-a", 0), file_line(out, "inside-b", 0),
            file_line(out, "after.txt", 300)])
        made = {} if WINDOWS else {b"   ": member_data(BLOCK, seed=67)[:5], b"  ": b""}
        self.assertEqual(tree(out), {b"olddir": "dir", b"v7dir": "dir", b"dsz": "dir",
                                     b"inside-a": b"", b"inside-b": b"", b"after.txt": after,
                                     **made})
        out = self.path("out-only")
        os.mkdir(out)
        self.assertEqual(walk_lines(self, archive, out, "only=after"), [
            b"Skip: olddir/", b"Skip: v7dir/", b"Skip: olddir/", b"Skip:    ", b"Skip:   ",
            b"Skip: dsz/",
            b"Skip: inside-a", b"Skip: inside-b", file_line(out, "after.txt", 300)])
        self.assertEqual(tree(out), {b"after.txt": after})

    def test_names_beginning_with_dot_slash(self):
        # "tar -cf a.tar -C dir ." names every member "./...": the "." level
        # is the output directory itself and is never created.
        top = member_data(20, seed=65)
        inner = member_data(1000, seed=66)
        source = self.path("src")
        make_tree(source, {"docs/a.txt": inner, "top.txt": top})
        archive = self.path("a.tar")
        subprocess.run(["tar", "--sort=name", "-cf", archive, "-C", source, "."], check=True)
        self.assertEqual([m[1] for m in raw_members(archive)],
                         [b"./", b"./docs/", b"./docs/a.txt", b"./top.txt"])
        out = self.path("out")
        os.mkdir(out)
        self.assertEqual(walk_lines(self, archive, out), [
            create_line(out, "."), create_line(out, "./docs"), file_line(out, "./docs/a.txt", 1000),
            file_line(out, "./top.txt", 20)])
        self.assertEqual(tree(out), {b"docs": "dir", b"docs/a.txt": inner, b"top.txt": top})

    def test_gnu_long_name(self):
        # The name is read from the "L" member before the file, which is no
        # member of its own.
        long_name = "long/" + "n" * 120 + ".txt"
        data = member_data(77, seed=63)
        archive = self.path("gnu.tar")
        make_archive("gnu_tar", archive, self.path("src"), [("long/", None), (long_name, data)])
        kinds = [m[3] for m in raw_members(archive)]
        self.assertEqual(kinds, [b"5", b"L", b"0"])
        out = self.path("out")
        os.mkdir(out)
        self.assertEqual(walk_lines(self, archive, out),
                         [create_line(out, "long"), file_line(out, long_name, 77)])
        self.assertEqual(tree(out), {b"long": "dir", long_name.encode(): data})

    def test_pax_headers(self):
        # Extended headers give the member after them its full name; they
        # are not members themselves.
        data = member_data(1500, seed=64)
        long_name = "d/" + "q" * 110
        # Solaris tar names the same header "X".
        for writer in ("gnu_tar", "bsdtar", "python_tar", "solaris"):
            with self.subTest(writer=writer):
                archive = self.path(writer + ".tar")
                members = [("d/", None), (long_name, data), ("t.txt", data[:9])]
                if writer in ("python_tar", "solaris"):
                    with tarfile.open(archive, "w", format=tarfile.PAX_FORMAT) as tf:
                        for name, payload in members:
                            info = tarfile.TarInfo(name)
                            if payload is None:
                                info.type = tarfile.DIRTYPE
                                tf.addfile(info)
                            else:
                                info.size = len(payload)
                                tf.addfile(info, io.BytesIO(payload))
                else:
                    make_tree(self.path(writer + "-src"), dict(members))
                    (gnu_tar if writer == "gnu_tar" else bsdtar)(
                        archive, self.path(writer + "-src"), [n.rstrip("/") for n, _ in members],
                        "posix" if writer == "gnu_tar" else "pax")
                if writer == "solaris":
                    with open(archive, "r+b") as f:
                        for offset in [m[0] for m in raw_members(archive) if m[3] == b"x"]:
                            f.seek(offset + 148)
                            checksum = int(f.read(6), 8) - (ord("x") - ord("X"))
                            f.seek(offset + 148)
                            f.write(b"%06o\0 X" % checksum)
                self.assertIn(b"X" if writer == "solaris" else b"x",
                              [m[3] for m in raw_members(archive)])
                out = self.path(writer + "-out")
                os.mkdir(out)
                self.assertEqual(walk_lines(self, archive, out), [
                    create_line(out, "d"), file_line(out, long_name, 1500),
                    file_line(out, "t.txt", 9)])
                self.assertEqual(tree(out), {b"d": "dir", long_name.encode(): data,
                                             b"t.txt": data[:9]})

if __name__ == "__main__":
    main()
