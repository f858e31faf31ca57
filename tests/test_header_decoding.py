"""Header decoding against real tar writers: archives made by GNU tar, bsdtar
and Python's tarfile are walked by header_probe, and every member line it
prints must match what tarfile reads from the same archive (the name as
stored in the header: the 100-byte name field, after the ustar prefix field
when there is one; the size, the type digit). Extension headers that
writers add for long names and attributes ('L', 'x') are reported by the
probe as members of type 0 (the walk itself never takes them as members);
for those the expected line comes from the raw header bytes."""

import os
import sys
import tarfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

BLOCK = 512
SIZES = [0, 1, 511, 512, 513, 40000]
# Exactly 100 bytes including the directory: it fills the name field with no
# NUL after it.
NAME_100 = "top/" + "n" * 92 + ".txt"
# Longer than the name field: ustar splits it into prefix and name, the GNU
# format adds an 'L' header and pax an 'x' header.
LONG_DIR = "top/" + "d" * 60
LONG_NAME = LONG_DIR + "/" + "f" * 80 + ".dat"


def content(size, seed):
    return bytes((seed * 7 + i * 13) % 251 for i in range(size))


# Spaces at the ends of a name, and at the split of a long name into the
# ustar prefix and name fields, are the name's own bytes.
SPACED_NAMES = ["top/todo ", "top/" + "s" * 110 + " / " + "f" * 20 + " "]

FILES = {"top/size_%d.bin" % size: content(size, size) for size in SIZES}
FILES[NAME_100] = content(100, 3)
FILES[LONG_NAME] = content(700, 5)
FILES.update({name: content(30 + index, 7) for index, name in enumerate(SPACED_NAMES)})
DIRS = ["top/", "top/sub/", LONG_DIR + "/"]
SYMLINK = ("top/sub/link", "../size_1.bin")
HARDLINK = ("top/hard", "top/size_511.bin")


def blocks(size):
    return (size + BLOCK - 1) // BLOCK


def parse_probe(output):
    """(name, size, type) rows from the probe's LF-ended, tab-separated lines."""
    assert b"\r" not in output, output
    rows = []
    for line in output.split(b"\n")[:-1]:
        name, size, kind = line.rsplit(b"\t", 2)
        rows.append((name, size if size == b"bad" else int(size), int(kind)))
    assert output.endswith(b"\n") or output == b"", output
    return rows


def stored_name(block):
    """The name a header block holds: the name field up to its first NUL,
    after the prefix field (up to its first NUL) and a "/" in a POSIX ustar
    header. Spaces are part of the name."""
    name = block[0:100].split(b"\0")[0]
    prefix = block[345:500].split(b"\0")[0] if block[257:263] == b"ustar\0" else b""
    return prefix + b"/" + name if prefix else name


def raw_row(block):
    """An extension header as the bytes spell it: stored name, octal size
    field, type digit (letters read as 0)."""
    name = stored_name(block)
    digits = block[124:136].strip(b"\0 ")
    size = 0
    for byte in digits:
        if not 0x30 <= byte <= 0x37:
            break
        size = size * 8 + byte - 0x30
    kind = block[156:157]
    return name, size, int(kind) if kind.isdigit() else 0


def expected_rows(archive):
    """The lines the probe should print, from tarfile's reading of the
    archive: each member's own header, preceded by the extension headers
    that tarfile folds into it."""
    with open(archive, "rb") as f:
        data = f.read()
    with tarfile.open(archive) as tf:
        members = tf.getmembers()

    rows = []
    position = 0

    def raw_headers_until(end):
        nonlocal position
        while position < end:
            block = data[position:position + BLOCK]
            position += BLOCK
            if block[0] == 0:
                continue
            row = raw_row(block)
            rows.append(row)
            position += blocks(row[1]) * BLOCK

    for member in members:
        header_at = member.offset_data - BLOCK
        raw_headers_until(header_at)
        assert position == header_at, (archive, member.name, position, header_at)
        block = data[header_at:header_at + BLOCK]
        name_field = block[0:100].rstrip(b"\0")
        if member.offset == header_at:
            # No extension header: tarfile's name is the stored name (with a
            # ustar prefix in front when there is one).
            prefix = block[345:500].rstrip(b"\0") if block[257:263] == b"ustar\0" else b""
            full = prefix + b"/" + name_field if prefix else name_field
            assert full.rstrip(b"/") == member.name.encode(), (full, member.name)
        kind = int(member.type) if member.type.isdigit() else 0
        rows.append((stored_name(block), member.size, kind))
        position = member.offset_data + blocks(member.size) * BLOCK
    raw_headers_until(len(data))
    return rows


class HeaderDecodingTest(harness.TempDirTest):

    def probe(self, archive):
        result = harness.run("header_probe", harness.host_path(archive), timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        return parse_probe(result.stdout)

    def make_source(self):
        source = self.path("src")
        tree = {name: data for name, data in FILES.items()}
        tree.update({name: None for name in DIRS})
        harness.make_tree(source, tree)
        os.symlink(SYMLINK[1], os.path.join(source, SYMLINK[0]))
        os.link(os.path.join(source, HARDLINK[1]), os.path.join(source, HARDLINK[0]))
        names = [d.rstrip("/") for d in DIRS] + list(FILES) + [SYMLINK[0], HARDLINK[0]]
        return source, names

    def python_members(self):
        members = [(d, None, tarfile.DIRTYPE) for d in DIRS]
        members += [(name, data, tarfile.REGTYPE) for name, data in FILES.items()]
        members.append((SYMLINK[0], SYMLINK[1].encode(), tarfile.SYMTYPE))
        members.append((HARDLINK[0], HARDLINK[1].encode(), tarfile.LNKTYPE))
        return members

    def check_archive(self, archive):
        rows = self.probe(archive)
        self.assertEqual(rows, expected_rows(archive))
        # Independent of tarfile: every file made is listed with its size,
        # and the directory, symlink and hard link carry their type digits.
        for name, data in FILES.items():
            if len(name) <= 100:
                self.assertIn((name.encode(), len(data), 0), rows, name)
        # The long name's own header holds its first 100 bytes, or (ustar)
        # all of it, split between the prefix and the name field.
        long_name = LONG_NAME.encode()
        self.assertTrue(any(s == 700 and t == 0 and (n == long_name[:100] or n == long_name)
                            for n, s, t in rows), rows)
        self.assertIn((b"top/", 0, 5), rows)
        self.assertIn((b"top/sub/", 0, 5), rows)
        self.assertIn((SYMLINK[0].encode(), 0, 2), rows)
        self.assertIn((HARDLINK[0].encode(), 0, 1), rows)
        self.assertIn((NAME_100.encode(), 100, 0), rows)
        return rows

    def test_gnu_tar_formats(self):
        source, names = self.make_source()
        for fmt in ("ustar", "gnu", "pax"):
            with self.subTest(fmt=fmt):
                archive = self.path("gnu-%s.tar" % fmt)
                harness.gnu_tar(archive, source, names, fmt=fmt)
                rows = self.check_archive(archive)
                if fmt == "gnu":
                    self.assertIn((b"././@LongLink", len(LONG_NAME) + 1, 0), rows)

    def test_bsdtar_formats(self):
        source, names = self.make_source()
        for fmt in ("ustar", "pax"):
            with self.subTest(fmt=fmt):
                archive = self.path("bsd-%s.tar" % fmt)
                harness.bsdtar(archive, source, names, fmt=fmt)
                self.check_archive(archive)

    def test_python_tarfile_formats(self):
        for fmt_name, fmt in (("ustar", tarfile.USTAR_FORMAT), ("gnu", tarfile.GNU_FORMAT),
                              ("pax", tarfile.PAX_FORMAT)):
            with self.subTest(fmt=fmt_name):
                archive = self.path("py-%s.tar" % fmt_name)
                harness.python_tar(archive, self.python_members(), fmt=fmt)
                rows = self.check_archive(archive)
                if fmt == tarfile.USTAR_FORMAT:
                    # The split long name is joined again from its two fields.
                    self.assertIn((LONG_NAME.encode(), 700, 0), rows)

    # --- single headers with sizes past 32 bits --------------------------

    def write_headers(self, name, *pieces):
        """Writes header blocks and (sparse) gaps: a piece is bytes, or an
        int that moves the write position forward by that many bytes."""
        archive = self.path(name)
        with open(archive, "wb") as f:
            for piece in pieces:
                if isinstance(piece, int):
                    f.seek(piece, os.SEEK_CUR)
                else:
                    f.write(piece)
        return archive

    def big_header(self, name, size, fmt):
        info = tarfile.TarInfo(name)
        info.size = size
        return info.tobuf(format=fmt)

    def test_member_over_8_gib_in_base_256(self):
        size = 9 * 2 ** 30 + 1
        header = self.big_header("big.bin", size, tarfile.GNU_FORMAT)
        self.assertEqual(header[124], 0x80)  # the writer chose base-256
        archive = self.write_headers("big.tar", header, bytes(2 * BLOCK))
        self.assertEqual(self.probe(archive), [(b"big.bin", size, 0)])

    def test_octal_sizes_past_31_bits(self):
        for size in (2 ** 31 - 1, 2 ** 31, 2 ** 31 + 1, 3 * 2 ** 30, 8 ** 11 - 1):
            with self.subTest(size=size):
                header = self.big_header("octal.bin", size, tarfile.USTAR_FORMAT)
                self.assertNotEqual(header[124], 0x80)
                archive = self.write_headers("octal.tar", header, bytes(2 * BLOCK))
                self.assertEqual(self.probe(archive), [(b"octal.bin", size, 0)])

    def test_header_after_member_data_past_4_gib(self):
        # The data is a hole in a sparse file: only the headers take space.
        after = harness.raw_header(b"after.txt", 5) + content(5, 1) + bytes(BLOCK - 5)
        for size, fmt in ((2 ** 31 + 1, tarfile.USTAR_FORMAT),
                          (5 * 2 ** 30 + 3, tarfile.GNU_FORMAT)):
            with self.subTest(size=size):
                header = self.big_header("big.bin", size, fmt)
                archive = self.write_headers("gap.tar", header, blocks(size) * BLOCK, after,
                                             bytes(2 * BLOCK))
                self.assertEqual(self.probe(archive),
                                 [(b"big.bin", size, 0), (b"after.txt", 5, 0)])

    def test_bad_size_fields_end_the_walk(self):
        negative = b"\xff" * 12
        past_2_62 = b"\x80" + (2 ** 62 + 1).to_bytes(11, "big")
        # Read as 0, these would make the next block (here a header hidden in
        # the member's data) a member.
        for field in (negative, past_2_62, b"-0000000001\0", b"abcdefghijk\0",
                      b"+0000002000\0", b"0000000 200\0"):
            with self.subTest(field=field):
                archive = self.write_headers(
                    "bad.tar", harness.raw_header(b"bad.bin", 0, size_field=field),
                    harness.raw_header(b"next.txt", 0), bytes(2 * BLOCK))
                self.assertEqual(self.probe(archive), [(b"bad.bin", b"bad", 0)])

    def test_short_block_at_the_end(self):
        first = harness.raw_header(b"a.txt", 3) + b"abc" + bytes(BLOCK - 3)
        last = harness.raw_header(b"  docs/cut.txt", 513, typeflag=b"5")
        cases = ((200, (b"  docs/cut.txt", 513, 5)),
                 (150, (b"  docs/cut.txt", 513, 0)),
                 (132, (b"  docs/cut.txt", 1, 0)),
                 (120, (b"  docs/cut.txt", 0, 0)),
                 (8, (b"  docs/c", 0, 0)))
        for length, row in cases:
            with self.subTest(length=length):
                archive = self.write_headers("short.tar", first, last[:length])
                self.assertEqual(self.probe(archive), [(b"a.txt", 3, 0), row])

    def test_zero_blocks_and_padding_are_passed_over(self):
        # Zero blocks between members hold no member; a block whose first
        # byte alone is NUL is decoded (its name, here empty, would come from
        # a prefix; the walk takes it only when its checksum matches).
        stray = b"\0" + b"junk" * 30 + b"jun" + b"00000000000\0" + b"junk" * 94
        archive = self.write_headers(
            "gaps.tar", bytes(BLOCK), harness.raw_header(b"one", 0), stray, bytes(BLOCK),
            harness.raw_header(b"two", 1) + b"x" + bytes(BLOCK - 1), bytes(4 * BLOCK))
        self.assertEqual(self.probe(archive), [(b"one", 0, 0), (b"", 0, 0), (b"two", 1, 0)])


if __name__ == "__main__":
    harness.main()
