"""The tree as the archive holds it: a tree with symbolic and hard links, odd
permission bits and times from 1966 to 2286, archived by GNU tar, bsdtar,
Python's tarfile and `git archive` in every format they write, and real
Debian packages, extracted by holvex as a plain user and compared with GNU
tar's extraction of the same archive: files and bytes, links and targets,
times to the nanosecond, permission bits as an unprivileged extraction gives
them with the owner's read and write, the owner never changed; less the
links that point outside, each said. Then hostile archives whose links try
to lead holvex out of the output directory."""

import glob
import io
import os
import posixpath
import re
import shutil
import stat
import subprocess
import tarfile

from extraction_harness import exit_code_of, file_line, out_path, tree, walk_lines
from harness import (BANNER, ENV, WINDOWS, TempDirTest, command, host_path, lines, main,
                     make_tree)

NS = 10 ** 9
PLAIN_USER = 65534
UNSAFE = b"ERROR: Unsafe link target: "
NO_LINKS = b"ERROR: Cannot make this link: the system makes no such link here"


def leaves(link, target):
    """Whether a target is absolute or climbs above the output directory at
    some step, by its names alone (no tree here leaves only through links)."""
    depth = link.count("/")
    for level in target.split("/"):
        if level not in ("", "."):
            depth += -1 if level == ".." else 1
        if depth < 0:
            return True
    return target.startswith("/")


def entries(root):
    """relative name ("." for `root`) -> lstat of everything under `root`."""
    found = {".": os.lstat(root)}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            found[os.path.relpath(full, root)] = os.lstat(full)
    return found


def directory_times(archive):
    """name -> the time in nanoseconds of each directory member, as stored (a
    pax "mtime" exactly). GNU tar is no reference for these: it sets a
    directory's time when the archive leaves it, and a link made later
    (Debian's packages hold their links last) changes it."""
    times = {}
    with tarfile.open(archive) as tf:
        for member in filter(tarfile.TarInfo.isdir, tf.getmembers()):
            value = member.pax_headers.get("mtime", str(int(member.mtime)))
            whole, _, fraction = value.lstrip("-").partition(".")
            ns = int(whole or "0") * NS + int((fraction + "0" * 9)[:9])
            times[posixpath.normpath(member.name)] = -ns if value.startswith("-") else ns
    return times


class AsGnuTarGivesIt(TempDirTest):

    def extract_both(self, archive, label, umask=0o022):
        """holvex's tree (made as a plain user, also when the tests run as
        root) and its lines, and GNU tar's tree of `archive`, both under
        `umask`. GNU tar cannot fill a read-only directory unless it sets the
        directories' bits at the end, nor any directory when the umask takes
        its owner's write: it runs without that part, taken off later."""
        self.out, self.ref = self.path(label + "-out"), self.path(label + "-ref")
        os.mkdir(self.out)
        os.mkdir(self.ref)
        root = not WINDOWS and os.geteuid() == 0
        if root:
            os.chmod(self.tmp, 0o755)
            os.chown(self.out, PLAIN_USER, PLAIN_USER)

        def as_plain_user():
            os.umask(umask)
            if root:
                os.setgid(PLAIN_USER)
                os.setuid(PLAIN_USER)
        result = subprocess.run(command("holvex", host_path(archive), host_path(self.out)),
                                stdin=subprocess.DEVNULL, capture_output=True, env=ENV,
                                timeout=300, preexec_fn=as_plain_user)
        self.lines = lines(result.stdout)[len(BANNER):]
        self.assertEqual(result.returncode, exit_code_of(result.stdout), result.stdout[-3000:])
        previous = os.umask(umask & 0o077)
        subprocess.run(["tar", "--no-same-permissions", "--no-same-owner",
                        "--delay-directory-restore", "-xf", archive, "-C", self.ref], check=True)
        os.umask(previous)
        self.umask, self.uid = umask, PLAIN_USER if root else os.geteuid()
        self.directory_times = directory_times(archive)

    def assert_as_gnu_tar(self, dot=""):
        """holvex's tree is GNU tar's but for the links that leave, each
        refused with its line. `dot`: "./" when the members' names begin with
        it, the output directory's own member, whose time and bits it gets."""
        out, ref = self.out, self.ref
        want, got = entries(ref), entries(out)
        if not dot:
            del want["."], got["."]
        links = {n: os.readlink(os.path.join(ref, n)) for n, s in want.items()
                 if stat.S_ISLNK(s.st_mode)}
        unsafe = {n for n, target in links.items() if leaves(n, target)}
        # Under Wine a link to a regular file is a copy of it; no other is made.
        copied = {n for n in set(links) - unsafe if WINDOWS and os.path.isfile(
            os.path.join(ref, n))}
        unmade = set(links) - unsafe - copied if WINDOWS else set()
        self.assertEqual(sorted(got), sorted(set(want) - unsafe - unmade))
        for name, status in got.items():
            expected, path = want[name], os.path.join(out, name)
            kind = stat.S_IFMT(status.st_mode)
            what = (name, oct(status.st_mode), oct(expected.st_mode))
            # A directory the archive has no member for is made now.
            # Windows keeps times to 100 ns.
            tick = 100 if WINDOWS else 1
            if kind != stat.S_IFDIR:
                self.assertEqual(status.st_mtime_ns, expected.st_mtime_ns // tick * tick, what)
            elif name in self.directory_times:
                self.assertEqual(status.st_mtime_ns, self.directory_times[name] // tick * tick,
                                 what)
            self.assertEqual(status.st_uid, self.uid, what)
            if name not in copied:
                self.assertEqual(kind, stat.S_IFMT(expected.st_mode), what)
            if kind == stat.S_IFLNK:
                self.assertEqual(os.readlink(path), links[name], what)
            elif not WINDOWS and name not in copied:
                owner = 0o700 if kind == stat.S_IFDIR else 0o600
                self.assertEqual(stat.S_IMODE(status.st_mode),
                                 stat.S_IMODE(expected.st_mode) & 0o777 & ~self.umask | owner, what)
            if kind == stat.S_IFREG:
                with open(path, "rb") as f, open(os.path.join(ref, name), "rb") as g:
                    self.assertEqual(f.read(), g.read(), name)

        def shared(found):  # the names that share a file (hard links)
            by_file = {}
            for name, status in found.items():
                if stat.S_ISREG(status.st_mode) and name not in copied:
                    by_file.setdefault(status.st_ino, []).append(name)
            return sorted(sorted(names) for names in by_file.values() if len(names) > 1)
        self.assertEqual(shared(got), shared({n: want[n] for n in got}))

        def link_line(name):
            return out_path(out, dot + name) + b" -> " + links[name].encode()
        said = [(self.lines[i - 1], line) for i, line in enumerate(self.lines)
                if line.startswith(b"ERROR")]
        self.assertEqual(sorted(said), sorted(
            [(link_line(n), UNSAFE + (b"it is an absolute path" if links[n].startswith("/") else
                                      b"it leads outside the output directory")) for n in unsafe] +
            [(link_line(n), NO_LINKS) for n in unmade]))
        for name in copied:
            self.assertIn(link_line(name) + b" (copied)", self.lines)


# The tree the writers archive: files (name, bytes, mode, time in ns),
# directories (name, mode, time), symbolic links (name, target, time) and
# hard links (name, the first name).
FILES = [
    ("tree/configure", b"#!/bin/sh\necho configured\n", 0o755, 315532800 * NS),
    ("tree/secret", b"s" * 700, 0o600, 1700000000 * NS + 123456789),
    ("tree/readonly", b"r", 0o444, 1000000000 * NS + 1),
    ("tree/setuid", b"u", 0o4755, 1600000000 * NS),
    ("tree/before-1970", b"n", 0o640, -100000000 * NS - 250000000),
    ("tree/past-2038", b"y", 0o664, (2 ** 31 + 100) * NS),
    ("tree/past-2106", b"z", 0o644, (2 ** 32 + 100) * NS),
    # Past what 11 octal digits hold: base-256 in GNU tar's own format.
    ("tree/year-2286", b"w", 0o644, 10 ** 10 * NS),
    ("tree/private/key", b"k" * 3000, 0o640, 1500000000 * NS),
    ("tree/search/inner.txt", b"inner", 0o644, 1400000000 * NS + 5),
    ("tree/rodir/kept.txt", b"kept", 0o644, 1300000000 * NS),
    ("tree/" + "l" * 120 + "/long.txt", b"long", 0o644, 1200000000 * NS),
]
DIRECTORIES = [
    ("tree/private", 0o700, 1100000000 * NS),
    ("tree/search", 0o711, 1100000001 * NS + 999999999),
    ("tree/rodir", 0o555, 1100000002 * NS),
    ("tree/" + "l" * 120, 0o755, 1100000003 * NS),
    ("tree", 0o755, 1100000004 * NS),
]
SYMLINKS = [
    ("tree/rel", "configure"), ("tree/to-inner", "search/inner.txt"), ("tree/to-dir", "private"),
    ("tree/chain1", "chain2"), ("tree/chain2", "configure"), ("tree/dangling", "missing/file"),
    ("tree/search/back", "../configure"), ("tree/long-target", "l" * 120 + "/long.txt"),
    # Refused: absolute, above the output directory, out and back in.
    ("tree/abs", "/etc/passwd"), ("tree/up", "../../outside"),
    ("tree/search/round", "../../../out/tree/configure"),
]
HARD_LINKS = [("tree/search/hard", "tree/configure"), ("tree/hard-secret", "tree/secret")]


def make_source(root):
    for name, data, mode, ns in FILES:
        make_tree(root, {name: data})
        os.chmod(os.path.join(root, name), mode)
        os.utime(os.path.join(root, name), ns=(ns, ns))
    for name, first in HARD_LINKS:
        os.link(os.path.join(root, first), os.path.join(root, name))
    for index, (name, target) in enumerate(SYMLINKS):
        os.symlink(target, os.path.join(root, name))
        ns = (1000000100 + index) * NS + index
        os.utime(os.path.join(root, name), ns=(ns, ns), follow_symlinks=False)
    if os.geteuid() == 0:
        # Owners the archive records, which holvex never gives.
        for dirpath, dirnames, filenames in os.walk(root):
            for name in dirnames + filenames:
                os.lchown(os.path.join(dirpath, name), 1234, 1234)
    for name, mode, ns in DIRECTORIES:
        os.chmod(os.path.join(root, name), mode)
        os.utime(os.path.join(root, name), ns=(ns, ns))


def tarfile_writer(fmt):
    def write(archive, source):
        # Member by member: one the format cannot hold (a time before 1970
        # in ustar) is left out, as the other writers leave it out.
        with tarfile.open(archive, "w", format=fmt) as tf:
            for dirpath, dirnames, filenames in os.walk(os.path.join(source, "tree")):
                dirnames.sort()
                names = filenames + [d for d in dirnames if os.path.islink(
                    os.path.join(dirpath, d))]
                for path in [dirpath] + [os.path.join(dirpath, n) for n in sorted(names)]:
                    try:
                        tf.add(path, arcname=os.path.relpath(path, source), recursive=False)
                    except ValueError:
                        pass
    return write


def command_writer(*argv):
    # A format that cannot hold a member's time or link leaves it out and
    # says so; the archive holds the rest.
    return lambda archive, source: subprocess.run(
        [*argv, "-cf", archive, "tree"], cwd=source, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)


def git_archive(archive, source):
    # git keeps the links and the execute bit; every member gets the commit's
    # time, every name its own file.
    git = ["git", "-c", "safe.directory=*", "-c", "user.name=t", "-c", "user.email=t@example",
           "--git-dir=" + archive + ".git", "--work-tree=" + source]
    env = {**os.environ, "GIT_AUTHOR_DATE": "2001-09-09T01:46:40Z",
           "GIT_COMMITTER_DATE": "2001-09-09T01:46:40Z"}
    for step in (["init", "-q"], ["add", "-A", "tree"], ["commit", "-q", "-m", "tree"],
                 ["archive", "--format=tar", "-o", archive, "HEAD"]):
        subprocess.run(git + step, env=env, check=True)


WRITERS = [
    ("GNU tar gnu", command_writer("tar", "--format=gnu")),
    ("GNU tar oldgnu", command_writer("tar", "--format=oldgnu")),
    ("GNU tar posix", command_writer("tar", "--format=posix")),
    ("GNU tar ustar", command_writer("tar", "--format=ustar")),
    ("GNU tar v7", command_writer("tar", "--format=v7")),
    ("bsdtar default", command_writer("bsdtar")),
    ("bsdtar pax", command_writer("bsdtar", "--format", "pax")),
    ("bsdtar ustar", command_writer("bsdtar", "--format", "ustar")),
    ("bsdtar gnutar", command_writer("bsdtar", "--format", "gnutar")),
    ("bsdtar v7", command_writer("bsdtar", "--format", "v7")),
    ("tarfile ustar", tarfile_writer(tarfile.USTAR_FORMAT)),
    ("tarfile gnu", tarfile_writer(tarfile.GNU_FORMAT)),
    ("tarfile pax", tarfile_writer(tarfile.PAX_FORMAT)),
    ("git archive", git_archive),
]


class RealWriters(AsGnuTarGivesIt):

    def test_every_writer_and_format(self):
        source = self.path("src")
        make_source(source)
        for index, (label, write) in enumerate(WRITERS):
            with self.subTest(writer=label):
                name = label.replace(" ", "-")
                write(self.path(name + ".tar"), source)
                # Umasks that take group and other bits, and the owner's
                # write: holvex's directories keep it while they are filled.
                self.extract_both(self.path(name + ".tar"), name, (0o022, 0o077, 0o277)[index % 3])
                self.assert_as_gnu_tar()
                if label in ("GNU tar posix", "bsdtar pax"):
                    # The archive held the nanoseconds (Windows keeps 100 ns).
                    self.assertEqual(os.lstat(os.path.join(self.out, "tree/secret")).st_mtime_ns,
                                     1700000000 * NS + (123456700 if WINDOWS else 123456789))

    def test_debian_packages(self):
        # Absolute links such as /sbin/depmod -> /bin/kmod are refused, one
        # line each; relative ones, dangling ones inside and hard links are
        # made. From the package cache, else fetched; none when offline.
        if not shutil.which("dpkg-deb"):
            self.skipTest("no dpkg-deb here")
        found = 0
        for package in ("kmod", "perl", "systemd-sysv", "openssl"):
            debs = sorted(glob.glob("/var/cache/apt/archives/%s_*.deb" % package))
            if not debs and shutil.which("apt-get"):
                subprocess.run(["apt-get", "download", "-q", package], cwd=self.tmp,
                               capture_output=True, timeout=60)
                debs = sorted(glob.glob(self.path("%s_*.deb" % package)))
            data = self.path(package + ".tar")
            with open(data, "wb") as f:
                if not debs or subprocess.run(["dpkg-deb", "--fsys-tarfile", debs[-1]],
                                              stdout=f).returncode != 0:
                    continue
            found += 1
            with self.subTest(package=package):
                self.extract_both(data, package)
                self.assert_as_gnu_tar(dot="./")
        if not found:
            self.skipTest("no Debian package in the cache and none can be fetched")


def hostile_archive(path, members):
    """A pax archive of (name, "file", bytes), (name, "dir"), (name, "sym",
    target), (name, "hard", target) and (name, "hard", target, bytes): a
    hard link that carries data (a pax size record)."""
    with tarfile.open(path, "w", format=tarfile.PAX_FORMAT) as tf:
        for name, kind, *rest in members:
            info = tarfile.TarInfo(name)
            info.mtime = 1234567890
            data = rest[0] if kind == "file" else (rest[1] if rest[1:] else None)
            if kind == "dir":
                info.type, info.mode = tarfile.DIRTYPE, 0o755
            elif kind != "file":
                info.type = tarfile.SYMTYPE if kind == "sym" else tarfile.LNKTYPE
                info.linkname = rest[0]
                if data is not None:
                    info.pax_headers = {"size": str(len(data))}
            info.size = len(data or b"")
            tf.addfile(info, io.BytesIO(data) if data is not None else None)


A, B = b"A" * 10, b"B" * 20
OUTSIDE = "../outside/victim.txt"
ABSOLUTE = UNSAFE + b"it is an absolute path"
LEAVES = UNSAFE + b"it leads outside the output directory"
DRIVE = UNSAFE + b"it names a drive or holds a colon"
LOOP = UNSAFE + b"it passes through too many links"
EMPTY = UNSAFE + b"it is empty"
CANNOT = b"ERROR: Cannot make this link: "
SUPERSEDED = CANNOT + b"a later member of the same name stands there"
DIRECTORY = CANNOT + b"a directory stands at this name"
NOT_EXTRACTED = CANNOT + b"its target is no file this run extracted"
HARD_LEAVES = CANNOT + b"its target leaves the output directory"
LINK_AT_LEVEL = b"a link stands where a directory must be"


class HostileLinks(TempDirTest):
    """Archives whose links try to take holvex out of the output directory
    (out/, beside outside/victim.txt): nothing outside changes, each refusal
    has its ERROR line (exit status 1), the tree is what the rules give."""

    # (case, what stands in out/ before (name -> bytes, ("symlink", target)
    # or ("hardlink", a name in outside/)), the archives extracted one after
    # the other: (members, option, lines), the tree of out/ at the end (on
    # POSIX). Lines: ("file", name, size), ("dir", name), ("skip", name),
    # ("hard", name, target), ("sym", name, target, outcome) or an ERROR
    # line; a symbolic link's outcome: its refusal's ERROR line, or "file"
    # (made, to a file the run extracted: a copy under Wine) or "made" (to
    # anything else: under Wine it cannot be made).
    CASES = [
        ("a symbolic link, then a file through it", {}, [(
            [("esc", "sym", "../outside"), ("esc/x.txt", "file", A), ("f", "sym", OUTSIDE),
             ("f", "file", B)], None,
            [("dir", "esc"), ("file", "esc/x.txt", 10), ("file", "f", 20),
             ("sym", "esc", "../outside", DIRECTORY), ("sym", "f", OUTSIDE, SUPERSEDED)])],
         {b"esc": "dir", b"esc/x.txt": A, b"f": B}),
        ("a symbolic link inside, then a file through it", {}, [(
            [("in", "sym", "sub"), ("sub/", "dir"), ("in/x.txt", "file", A)], None,
            [("dir", "sub"), ("dir", "in"), ("file", "in/x.txt", 10),
             ("sym", "in", "sub", DIRECTORY)])],
         {b"sub": "dir", b"in": "dir", b"in/x.txt": A}),
        ("links to .. at the top and one level down", {}, [(
            [("up", "sym", ".."), ("d/", "dir"), ("d/up", "sym", ".."), ("r", "sym", "../out/x")],
            None, [("dir", "d"), ("sym", "up", "..", LEAVES), ("sym", "d/up", "..", "made"),
                   ("sym", "r", "../out/x", LEAVES)])],
         {b"d": "dir", b"d/up": ("link", b"..")}),
        ("absolute targets, Windows drives, nothing", {}, [(
            [("etc", "sym", "/etc"), ("root", "sym", "C:\\"), ("drive", "sym", "C:x"),
             ("empty", "sym", "")], None,
            [("sym", "etc", "/etc", ABSOLUTE),
             ("sym", "root", "C:\\", DRIVE if WINDOWS else "made"),
             ("sym", "drive", "C:x", DRIVE if WINDOWS else "made"), ("sym", "empty", "", EMPTY)])],
         {b"root": ("link", b"C:\\"), b"drive": ("link", b"C:x")}),
        ("a -> . then b -> a/a/a/../..", {}, [(
            [("a", "sym", "."), ("b", "sym", "a/a/a/../..")], None,
            [("sym", "a", ".", "made"), ("sym", "b", "a/a/a/../..", LEAVES)])],
         {b"a": ("link", b".")}),
        ("b -> a/a/a/../.. then a -> .", {}, [(
            [("b", "sym", "a/a/a/../.."), ("a", "sym", ".")], None,
            [("sym", "b", "a/a/a/../..", LEAVES), ("sym", "a", ".", "made")])],
         {b"a": ("link", b".")}),
        ("through the archive's own link, a loop, a chain", {}, [(
            [("d/", "dir"), ("d/up", "sym", ".."), ("d/esc", "sym", "up/../outside/victim.txt"),
             ("l1", "sym", "l2"), ("l2", "sym", "l1"), ("f.txt", "file", A),
             ("c1", "sym", "c2"), ("c2", "sym", "f.txt")], None,
            [("dir", "d"), ("file", "f.txt", 10), ("sym", "d/up", "..", "made"),
             ("sym", "d/esc", "up/../outside/victim.txt", LEAVES), ("sym", "l1", "l2", LOOP),
             ("sym", "l2", "l1", LOOP), ("sym", "c1", "c2", "file"),
             ("sym", "c2", "f.txt", "file")])],
         {b"d": "dir", b"d/up": ("link", b".."), b"f.txt": A, b"c1": ("link", b"c2"),
          b"c2": ("link", b"f.txt")}),
        ("hard links to /etc/passwd, ../x and a symbolic link", {}, [(
            [("h1", "hard", "/etc/passwd"), ("h2", "hard", OUTSIDE), ("s", "sym", "f.txt"),
             ("f.txt", "file", A), ("h3", "hard", "s"), ("etc/passwd", "file", B),
             ("h4", "hard", "/etc/passwd")], None,
            [("hard", "h1", "etc/passwd"), NOT_EXTRACTED, ("hard", "h2", OUTSIDE), HARD_LEAVES,
             ("file", "f.txt", 10), ("hard", "h3", "s"), NOT_EXTRACTED, ("dir", "etc"),
             ("file", "etc/passwd", 20), ("hard", "h4", "etc/passwd"),
             ("sym", "s", "f.txt", "file")])],
         {b"f.txt": A, b"etc": "dir", b"etc/passwd": B, b"h4": B, b"s": ("link", b"f.txt")}),
        ("a hard link that carries data is a file", {}, [(
            [("f.txt", "file", A), ("hd", "hard", "f.txt", B)], None,
            [("file", "f.txt", 10), ("file", "hd", 20)])],
         {b"f.txt": A, b"hd": B}),
        ("a link below another link of the archive, two links of one name", {}, [(
            [("sub/", "dir"), ("a", "sym", "sub"), ("a/b", "sym", "x"), ("l", "sym", "sub"),
             ("l", "sym", "a")], None,
            [("dir", "sub"), ("sym", "a", "sub", "made"),
             # Under Wine no link stands at a: a/ is made for a/b, not made.
             *([("dir", "a"), ("sym", "a/b", "x", "made")] if WINDOWS else
               [("sym", "a/b", "x", CANNOT + LINK_AT_LEVEL)]),
             ("sym", "l", "sub", SUPERSEDED), ("sym", "l", "a", "made")])],
         {b"sub": "dir", b"a": "dir"} if WINDOWS else
         {b"sub": "dir", b"a": ("link", b"sub"), b"l": ("link", b"a")}),
        ("a hard link to a file refused behind a link", {"d": ("symlink", "../outside/dir")}, [(
            [("d/f", "file", A), ("h", "hard", "d/f")], None,
            [("file", "d/f", 10), b"ERROR: Cannot create this file: " + LINK_AT_LEVEL,
             ("hard", "h", "d/f"), NOT_EXTRACTED])],
         {b"d": ("link", b"../outside/dir")}),
        ("a symbolic link replaced by a directory, and the reverse", {}, [(
            [("x", "sym", "sub"), ("x/", "dir"), ("y/", "dir"), ("y", "sym", "sub")], None,
            [("dir", "x"), ("dir", "y"), ("sym", "x", "sub", SUPERSEDED),
             ("sym", "y", "sub", DIRECTORY)])],
         {b"x": "dir", b"y": "dir"}),
        ("links to names passed over by only=", {}, [(
            [("other.txt", "file", A), ("keep/h", "hard", "other.txt"),
             ("keep/s", "sym", "../other.txt")], "only=keep/",
            [("skip", "other.txt"), ("hard", "keep/h", "other.txt"), NOT_EXTRACTED,
             ("dir", "keep"), ("sym", "keep/s", "../other.txt", "made")])],
         {b"keep": "dir", b"keep/s": ("link", b"../other.txt")}),
        ("a hard link to a name passed over by startat=", {}, [(
            [("a.txt", "file", A), ("b/h", "hard", "a.txt")], "startat=b/",
            [("skip", "a.txt"), ("hard", "b/h", "a.txt"), NOT_EXTRACTED])],
         {}),
        ("links and files at names that hold links and files", {
            "pre": b"old", "sym-out": ("symlink", OUTSIDE), "hard-out": ("hardlink", "victim.txt"),
            "file-over-link": ("symlink", OUTSIDE)}, [(
                [("f.txt", "file", A), ("pre", "sym", "f.txt"), ("sym-out", "sym", "f.txt"),
                 ("hard-out", "hard", "f.txt"), ("file-over-link", "file", B)], None,
                [("file", "f.txt", 10), ("hard", "hard-out", "f.txt"),
                 ("file", "file-over-link", 20), ("sym", "pre", "f.txt", "file"),
                 ("sym", "sym-out", "f.txt", "file")])],
         {b"f.txt": A, b"hard-out": A, b"file-over-link": B, b"pre": ("link", b"f.txt"),
          b"sym-out": ("link", b"f.txt")}),
        ("a second archive would write through the first one's links", {}, [
            ([("sub/t.txt", "file", A), ("f", "sym", "sub/t.txt"), ("d", "sym", "sub")], None,
             [("dir", "sub"), ("file", "sub/t.txt", 10), ("sym", "f", "sub/t.txt", "file"),
              ("sym", "d", "sub", "made")]),
            # Under Wine the first made no link d: the second makes d/.
            ([("f", "file", B), ("d/x.txt", "file", B), ("d", "sym", "../outside")], None,
             [("file", "f", 20), ("dir", "d"), ("file", "d/x.txt", 20),
              ("sym", "d", "../outside", DIRECTORY)] if WINDOWS else
             [("file", "f", 20), ("file", "d/x.txt", 20),
              b"ERROR: Cannot create this file: " + LINK_AT_LEVEL,
              ("sym", "d", "../outside", LEAVES)])],
         {b"sub": "dir", b"sub/t.txt": A, b"f": B, b"d": "dir", b"d/x.txt": B} if WINDOWS else
         {b"sub": "dir", b"sub/t.txt": A, b"f": B, b"d": ("link", b"sub")}),
        # The second archive's link leaves only through the first one's: on
        # the disk it names the root of the file system.
        ("a second archive's link through the first one's", {}, [
            ([("d", "sym", ".")], None, [("sym", "d", ".", "made")]),
            ([("e", "sym", "d/d/d/../../..")], None,
             [("sym", "e", "d/d/d/../../..", "made" if WINDOWS else LEAVES)])],
         {b"d": ("link", b".")}),
    ]

    @staticmethod
    def expected_lines(out, rows):
        found = []
        for row in rows:
            kind, name, *rest = row if isinstance(row, tuple) else ("error", row)
            if kind == "error":
                found.append(name)
            elif kind == "file":
                found.append(file_line(out, name, rest[0]))
            elif kind in ("dir", "skip"):
                found.append(b"Create directory: " + out_path(out, name) if kind == "dir"
                             else b"Skip: " + name.encode())
            elif kind == "hard":
                found.append(out_path(out, name) + b" link to " + out_path(out, rest[0]))
            else:
                line = out_path(out, name) + b" -> " + rest[0].encode()
                found += {"file": [line + b" (copied)" if WINDOWS else line],
                          "made": [line, NO_LINKS] if WINDOWS else [line]}.get(
                              rest[1], [line, rest[1]])
        return found

    @staticmethod
    def windows_tree(expected):
        """Under Wine, which makes no symbolic link, one to a file the run
        extracted is a copy of it; no other is made."""
        found = {}
        for name, what in expected.items():
            target = name
            while isinstance(what, tuple):
                target = posixpath.normpath(posixpath.join(posixpath.dirname(target), what[1]))
                what = expected.get(target)
            if what is not None and (target == name or isinstance(what, bytes)):
                found[name] = what
        return found

    def test_hostile_links(self):
        for case, present, runs, expected_tree in self.CASES:
            if WINDOWS and any(what[0] == "symlink" for what in present.values()
                               if isinstance(what, tuple)):
                continue  # Wine follows a link the host made as a plain entry
            with self.subTest(case):
                # A name Windows takes: none of its reserved characters, no
                # final dot.
                base = self.path(re.sub(r'[ /<>:"|?*.]', "_", case))
                out, outside = os.path.join(base, "out"), os.path.join(base, "outside")
                make_tree(outside, {"victim.txt": b"victim", "dir/kept.txt": b"kept"})
                os.makedirs(out)
                for name, what in present.items():
                    if isinstance(what, bytes):
                        make_tree(out, {name: what})
                    elif what[0] == "symlink":
                        os.symlink(what[1], os.path.join(out, name))
                    else:
                        os.link(os.path.join(outside, what[1]), os.path.join(out, name))
                before = tree(outside)
                for index, (members, option, rows) in enumerate(runs):
                    archive = os.path.join(base, "a%d.tar" % index)
                    hostile_archive(archive, members)
                    self.assertEqual(walk_lines(self, archive, out, *filter(None, [option])),
                                     self.expected_lines(out, rows))
                self.assertEqual(tree(out), self.windows_tree(expected_tree) if WINDOWS
                                 else expected_tree)
                self.assertEqual(tree(outside), before)
                # No name below out/ is left for it, nor made.
                self.assertEqual(os.stat(os.path.join(outside, "victim.txt")).st_nlink, 1)


if __name__ == "__main__":
    main()
