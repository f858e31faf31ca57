"""Helpers for the extraction tests: running holvex on an archive into an
output directory, reading back the tree it wrote, member data that shows any
byte conversion, and hand-made archives (sparse ones past 4 GiB, headers that
no writer makes) for the cases the real writers cannot produce."""

import os
import random
import stat
import subprocess

from harness import BANNER, CRLF, SEP, WINDOWS, escaped, host_path, lines, run, shown

SUPPORT_LINE = b"Contact me at https://holvex.example/support and I'll add support."

BLOCK = 512


def member_data(size, seed):
    """`size` bytes that start with CR LF, Ctrl+Z, NUL and 0xFF (so any line
    end or text-mode conversion shows) followed by seeded random bytes."""
    head = b"\r\n\x1a\x00\xff\n\r"
    return (head + random.Random(seed).randbytes(size))[:size]


def out_path(out_dir, name=""):
    """The path holvex shows for `name` (text or bytes, "/"-separated) under
    `out_dir`: the name's bytes with the platform's separator, as shown (its
    own bytes on POSIX, UTF-8 on Windows), then its control characters
    escaped."""
    base = escaped(shown(host_path(out_dir).encode()))
    if isinstance(name, str):
        name = name.encode("utf-8", "surrogateescape")
    if not name:
        return base
    return base + SEP.encode() + escaped(shown(name.replace(b"/", SEP.encode())))


# Why a file or directory could not be made, as the ERROR lines say it.
REASONS = {
    "space": b"no space left on the disk",
    "permission": b"permission denied",
    "too long": b"the name is too long for this file system",
    "invalid": b"the file system cannot hold this name",
    "file": b"a file stands where a directory must be",
    "link": b"a link stands where a directory must be",
    "directory": b"a directory stands at this name",
    "not a file": b"a device, FIFO or socket stands at this name",
    "link there": b"a link stands at this name",
    "directory name": b"its name ends in a separator, as a directory's does",
    "in use": b"another program holds the file",
    "archive": b"it is the archive being read",
    "kernel": b"nothing is written among the kernel's interface files",
    "too deep": b"the path has more levels than any real path",
    "io": b"an input/output error",
}


def cannot_file(reason):
    """The line of a file that could not be made, for `reason` (REASONS)."""
    return b"ERROR: Cannot create this file: " + REASONS[reason]


def cannot_directory(reason):
    """The line of a directory that could not be made, for `reason`."""
    return b"ERROR: Cannot create this directory: " + REASONS[reason]


def grouped(count):
    """A byte count as the lines show it: "1,234"."""
    return "{:,}".format(count).encode()


def file_line(out, name, size):
    """The line of a file written under `out`."""
    return out_path(out, name) + b" (" + grouped(size) + b" bytes)"


def exit_code_of(output):
    """The exit code a run with this output must end with: 1 when it wrote an
    ERROR line (the warning block of a link or device does not count) or
    passed over a member as unsafe, else 0."""
    errors = [line for line in lines(output)
              if line.startswith((b"ERROR: ", b"Skip (unsafe name): "))
              and line != b"ERROR: Type problem!"]
    return 1 if errors else 0


def extract(test, archive, out_dir, *options, out_arg=None, env=None, stdin=b""):
    """Runs holvex on `archive` into `out_dir` with redirected input (`stdin`)
    and output (and `env` added to its environment); checks that the exit
    code tells whether an ERROR line was written, that nothing went to
    standard error (POSIX; Wine may talk there itself) and the banner;
    returns the bytes written after the banner."""
    out_arg = host_path(out_dir) if out_arg is None else out_arg
    result = run("holvex", host_path(archive), out_arg, *options, env=env, stdin=stdin)
    test.assertEqual(result.returncode, exit_code_of(result.stdout), result)
    if not WINDOWS:
        test.assertEqual(result.stderr, b"")
    banner = CRLF.join(BANNER) + CRLF
    test.assertTrue(result.stdout.startswith(banner), result.stdout[:400])
    return result.stdout[len(banner):]


def walk_lines(test, archive, out_dir, *options, out_arg=None, env=None, stdin=b""):
    """The lines holvex writes after its banner."""
    return lines(extract(test, archive, out_dir, *options, out_arg=out_arg, env=env, stdin=stdin))


def tree(root):
    """Everything under `root`: relative "/"-separated path (bytes) -> file
    bytes, "dir" for a directory, ("link", target) for a symbolic link."""
    found = {}
    root_b = os.fsencode(root)
    for dirpath, dirnames, filenames in os.walk(root_b):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root_b).replace(os.sep.encode(), b"/")
            mode = os.lstat(full).st_mode
            if stat.S_ISLNK(mode):
                found[rel] = ("link", os.readlink(full))
            elif stat.S_ISDIR(mode):
                found[rel] = "dir"
            else:
                with open(full, "rb") as f:
                    found[rel] = f.read()
    return found


def system_tar_extract(archive, dest):
    """Extracts with the system's GNU tar, the reference for file contents."""
    os.makedirs(dest, exist_ok=True)
    subprocess.run(["tar", "-xf", archive, "-C", dest], check=True)


def raw_members(archive):
    """(offset, name, size, type byte, data) of every header block in an
    archive of octal sizes, read the plain ustar way: the oracle for the
    letter-typed members that the writers add (their data is what holvex
    must write)."""
    with open(archive, "rb") as f:
        data = f.read()
    found = []
    offset = 0
    while offset + BLOCK <= len(data):
        header = data[offset:offset + BLOCK]
        if header[0] == 0:
            offset += BLOCK
            continue
        name = header[:100].split(b"\0")[0]
        size = int(header[124:136].strip(b"\0 ") or b"0", 8)
        kind = header[156:157]
        found.append((offset, name, size, kind, data[offset + BLOCK:offset + BLOCK + size]))
        # Only regular files and the letter types carry data blocks.
        carries = kind in (b"0", b"\0") or kind.isalpha()
        offset += BLOCK + (BLOCK * ((size + BLOCK - 1) // BLOCK) if carries else 0)
    return found


def size_field_base256(size):
    """A 12-byte size field in the base-256 form tar writers use past 8 GiB."""
    return b"\x80" + size.to_bytes(11, "big")


class SparseArchive:
    """An archive written header by header, whose skipped data is left as a
    hole in a sparse file: members of many gigabytes cost nothing on disk."""

    def __init__(self, path, rewrite=False):
        """With `rewrite`, an existing archive is written over in place: the
        holes it has in common with the new one stay as they are, and so do
        the pages the system has already read of them."""
        self.path = path
        self.file = open(path, "r+b" if rewrite and os.path.exists(path) else "wb")
        self.offset = 0

    def header(self, header_block):
        self.file.seek(self.offset)
        self.file.write(header_block)
        self.offset += BLOCK

    def data(self, payload, size=None):
        """Writes `payload` as the start of the data of a member of `size`
        bytes (default: the payload's length) and moves past its blocks."""
        size = len(payload) if size is None else size
        self.file.seek(self.offset)
        self.file.write(payload)
        self.offset += BLOCK * ((size + BLOCK - 1) // BLOCK)

    def hole(self, size):
        """Skips the data blocks of a `size`-byte member, writing nothing."""
        self.offset += BLOCK * ((size + BLOCK - 1) // BLOCK)

    def write_at(self, offset, payload):
        """Writes `payload` at an absolute offset (decoys inside a hole)."""
        self.file.seek(offset)
        self.file.write(payload)

    def close(self, end_blocks=2):
        self.file.seek(self.offset)
        self.file.write(bytes(BLOCK * end_blocks))
        self.offset += BLOCK * end_blocks
        self.file.truncate(self.offset)
        self.file.close()
