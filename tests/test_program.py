"""The whole program from the command line with redirected output: the
banner, the usage text, the path checks, the options and a complete run,
byte for byte with CR LF, and the exit code that tells how the run went."""

import fcntl
import os
import shutil
import socket
import stat
import subprocess
import tarfile

import harness
from harness import BANNER, CRLF, SEP, WINDOWS, host_path, lines, run

EXAMPLE_ARCHIVE = b"f:\\tar\\backup.tar" if WINDOWS else b"/tar/backup.tar"
EXAMPLE_OUTDIR = b"g:\\restore\\" if WINDOWS else b"/restore/"

USAGE = [
    b"usage: holvex infile outdir [option]",
    b"  both are required and must be full references",
    b"",
    b"options:",
    b'  startat=prefix (begin process at file matching "prefix")',
    b'  only=prefix (only decode files matching "prefix")',
    b"",
    b"example: holvex " + EXAMPLE_ARCHIVE + b" " + EXAMPLE_OUTDIR,
    b"",
]

A_TXT = bytes((i * 7 + 3) % 256 for i in range(1000))


def native(path):
    """A host path as bytes, the way holvex prints it."""
    return host_path(path).encode()


class ProgramTest(harness.TempDirTest):

    def setUp(self):
        super().setUp()
        self.archive = self.path("a.tar")
        harness.python_tar(self.archive, [
            ("docs/", None, tarfile.DIRTYPE),
            ("docs/a.txt", A_TXT, tarfile.REGTYPE),
        ])
        self.out = self.path("out")
        os.mkdir(self.out)

    def holvex(self, *args, code=0):
        result = run("holvex", *args)
        self.assertEqual(result.returncode, code, result.stderr)
        self.assertEqual(result.stderr, b"")
        return result.stdout

    def test_complete_run_writes_exactly_the_banner_and_the_members_lines(self):
        outdirs = [host_path(self.out) + SEP, host_path(self.out)]
        if WINDOWS:
            # "/" is a separator as "\\" is, a final one included.
            outdirs += [host_path(self.out).replace("\\", "/") + "/",
                        host_path(self.out).replace("\\", "/")]
        for outdir in outdirs:
            with self.subTest(outdir=outdir):
                out = self.holvex(host_path(self.archive), outdir)
                expected = BANNER + [
                    b"Create directory: " + native(self.out) + SEP.encode() + b"docs",
                    native(self.out) + (SEP + "docs" + SEP + "a.txt (1,000 bytes)").encode(),
                ]
                self.assertEqual(out, CRLF.join(expected) + CRLF)
                with open(os.path.join(self.out, "docs", "a.txt"), "rb") as f:
                    self.assertEqual(f.read(), A_TXT)

    def test_hidden_output_directory_and_levels(self):
        # Under Wine a name beginning with a dot is hidden; a hidden directory
        # is found as the output directory, and a hidden level is created
        # once, for its first file, and not at all once it is there.
        hidden, names = self.path(".out"), [".level/a.txt", ".level/b.txt"]
        os.mkdir(hidden)
        harness.make_tree(self.path("src"), {name: A_TXT for name in names})
        harness.gnu_tar(self.archive, self.path("src"), names)
        files = [native(hidden) + (SEP + n.replace("/", SEP) + " (1,000 bytes)").encode()
                 for n in names]
        created = b"Create directory: " + native(hidden) + (SEP + ".level").encode()
        for expected in ([created] + files, files):
            out = self.holvex(host_path(self.archive), host_path(hidden))
            self.assertEqual(out, CRLF.join(BANNER + expected) + CRLF)

    def test_whole_run_redirected_to_a_file_holds_exactly_the_printed_texts(self):
        # A FIFO's warning ends with its support line: the key prompt and its
        # blanking are for the console only, so every line starts a line of
        # its own, with no cursor bytes anywhere.
        harness.python_tar(self.archive, [
            ("fifo", b"", tarfile.FIFOTYPE),
            ("a.txt", A_TXT, tarfile.REGTYPE),
        ])
        log = self.path("log.txt")
        with open(log, "wb") as out:
            result = subprocess.run(harness.command("holvex", host_path(self.archive),
                                                    host_path(self.out)),
                                    stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.PIPE, env=harness.ENV, timeout=120,
                                    start_new_session=True)
        self.assertEqual(result.returncode, 0)
        with open(log, "rb") as f:
            written = f.read()
        self.assertEqual(written, CRLF.join(BANNER + [
            b"fifo (0 bytes)",
            b"ERROR: Type problem!",
            b"Unhandled: 6",
            b"Contact me at https://holvex.example/support and I'll add support.",
            native(self.out) + SEP.encode() + b"a.txt (1,000 bytes)",
        ]) + CRLF)

    def test_missing_outdir_outside_a_fresh_console_gives_the_usage_text(self):
        for args in ([], [host_path(self.archive)]):
            with self.subTest(args=args):
                self.assertEqual(self.holvex(*args, code=2), CRLF.join(BANNER + USAGE) + CRLF)

    def test_command_fields(self):
        # The fields are the arguments as given: a quoted path with a space
        # is one field, on Windows as its runtime splits a command line
        # (quotes group, backslashes before a quote). A field that is not an
        # option, or a field too many, is the usage text, and nothing is made.
        spaced = self.path("my files")
        os.mkdir(spaced)
        spaced_archive = os.path.join(spaced, "a b.tar")
        shutil.copy(self.archive, spaced_archive)
        new, new_disk = self.path("new"), self.path("new disk")
        os.mkdir(new)
        os.mkdir(new_disk)
        archive, out = host_path(self.archive), host_path(self.out)
        usage = (None, 2)
        cases = [
            # (case, arguments, or the command tail as typed, where the members
            # land (None: the usage text), exit code; on Windows where
            # the tail gives something else)
            ("outdir with a space", [archive, host_path(new_disk)], (new_disk, 0)),
            ("infile with a space", [host_path(spaced_archive), host_path(new_disk)],
             (new_disk, 0)),
            ("a fourth field", [archive, out, "only=docs/", "more"], usage),
            ("an empty third field", [archive, out, ""], (self.out, 0)),
            ("an empty fourth field", [archive, out, "only=docs/", ""], usage),
            ("both paths quoted", '"%s" "%s"' % (host_path(spaced_archive), host_path(new_disk)),
             usage, (new_disk, 0)),
            # A run of spaces is one separator on Windows; on POSIX the tail's
            # pieces hold an empty argument.
            ("two spaces before outdir", archive + "  " + out, usage, (self.out, 0)),
            ("two spaces before the option", archive + " " + out + "  only=zzz", usage,
             (self.out, 1)),
        ]
        for case, fields, outcome, *windows in cases:
            with self.subTest(case):
                where, code = windows[0] if WINDOWS and windows else outcome
                if isinstance(fields, list):
                    result = run("holvex", *fields)
                else:
                    result = harness.run_command_line("holvex", fields)
                self.assertEqual(result.returncode, code, result)
                if where is None:
                    self.assertEqual(result.stdout, CRLF.join(BANNER + USAGE) + CRLF)
                elif code == 0:
                    with open(os.path.join(where, "docs", "a.txt"), "rb") as f:
                        self.assertEqual(f.read(), A_TXT)
                    shutil.rmtree(os.path.join(where, "docs"))
                # Never the first word of a path with a space.
                self.assertEqual(os.listdir(new), [])
                self.assertFalse(os.path.exists(os.path.join(self.out, "docs")))

    def test_path_check_messages(self):
        missing_in = host_path(self.path("missing.tar"))
        missing_out = host_path(self.path("nowhere"))
        plain = host_path(self.archive)
        relative = "out" + SEP
        cases = [
            ("input not found", [missing_in, host_path(self.out)],
             b"Input file not found ('" + missing_in.encode() + b"')"),
            ("directory as input", [host_path(self.out), host_path(self.out)],
             b"Input file is not a file or a pipe ('" + host_path(self.out).encode() + b"')"),
            # A final separator names a directory, whatever it holds (here a
            # plain file); no file is named so.
            ("directory with a final separator", [host_path(self.tmp) + SEP, host_path(self.out)],
             b"Input file is not a file or a pipe ('" + host_path(self.tmp).encode() +
             SEP.encode() + b"')"),
            ("file with a final separator", [plain + SEP, host_path(self.out)],
             b"Input file not found ('" + plain.encode() + SEP.encode() + b"')"),
            ("relative outdir", [host_path(self.archive), relative],
             b"Output directory does not look right"),
            ("outdir missing, no separator", [host_path(self.archive), missing_out],
             b"Output directory not found ('" + missing_out.encode() + SEP.encode() + b"')"),
            ("outdir missing, separator", [host_path(self.archive), missing_out + SEP],
             b"Output directory not found ('" + missing_out.encode() + SEP.encode() + b"')"),
            ("both wrong", [missing_in, missing_out],
             b"Input file not found ('" + missing_in.encode() + b"')"),
            # Only a directory will do: under a plain file nothing can be made.
            ("outdir a plain file", [host_path(self.archive), plain],
             b"Output directory not found ('" + plain.encode() + SEP.encode() + b"')"),
        ]
        if not WINDOWS:
            cases.append(("outdir a device", [host_path(self.archive), "/dev/null"],
                          b"Output directory not found ('/dev/null/')"))
            # "?" is a byte of a name like any other: no file is named so.
            wildcard = host_path(self.path("a.ta?"))
            cases.append(("wildcard", [wildcard, host_path(self.out)],
                          b"Input file not found ('" + wildcard.encode() + b"')"))
        if WINDOWS:
            # "Z:out\\" is relative to the drive's current directory.
            cases += [(outdir, [host_path(self.archive), outdir], b"Output directory does not look "
                       b"right") for outdir in ("Z:out\\", "Z:out", "1:\\out\\", "\\out\\")]
            # Two separators lead into the system's namespaces, where the
            # member paths would land somewhere else. A device is no archive:
            # reading it would wait for a key or end at once.
            slashed = host_path(self.out).replace("\\", "/")
            for prefix in ("\\\\.\\", "\\\\?\\", "//./"):
                outdir = (slashed if prefix == "//./" else host_path(self.out))
                cases.append(("outdir " + prefix, [host_path(self.archive), prefix + outdir],
                              b"Output directory does not look right"))
            for device in ("COM1", "NUL", "CON", "con.tar"):
                cases.append(("device " + device, [device, host_path(self.out)],
                              b"Input file not found ('" + device.encode() + b"')"))
        for name, args, message in cases:
            with self.subTest(name):
                out = self.holvex(*args, code=1)
                self.assertEqual(out, CRLF.join(BANNER + [message]) + CRLF)
        self.assertEqual(os.listdir(self.out), [])
        # Nor anywhere else: "\\.\Z:\..." with its separators merged would be
        # "\Z:\...", a path on the current drive.
        self.assertEqual(sorted(os.listdir(self.tmp)), ["a.tar", "out"])
        self.assertFalse(any(os.path.lexists(os.path.join("/", name)) for name in ("Z:", "?")))

    def test_root_as_outdir(self):
        # A root is probed as itself: POSIX's "/" whatever it holds (a plain
        # file too, as /.dockerenv or /swapfile), a drive's root whatever the
        # current directory of the drive and whether or not the root holds
        # entries other than hidden ones (a system drive's root holds only those).
        if not WINDOWS:
            return self.posix_root_as_outdir()
        root = self.path("root")
        os.mkdir(root)
        open(os.path.join(root, ".hidden"), "wb").close()
        devices = os.path.join(harness.ENV["WINEPREFIX"], "dosdevices")
        for letter in "rstuvwxy":
            try:
                os.symlink(root, os.path.join(devices, letter + ":"))
                break
            except FileExistsError:
                continue
        else:
            self.skipTest("no drive letter free")
        self.addCleanup(os.remove, os.path.join(devices, letter + ":"))
        drive = letter.upper() + ":"
        for outdir in (drive + "\\", drive + "/", drive):
            with self.subTest(outdir=outdir):
                # Not its standard error: a new drive wakes Wine's own mount
                # manager, whose reports may land there.
                result = run("holvex", host_path(self.archive), outdir)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, CRLF.join(BANNER + [
                    b"Create directory: " + drive.encode() + b"\\docs",
                    drive.encode() + b"\\docs\\a.txt (1,000 bytes)"]) + CRLF)
                with open(os.path.join(root, "docs", "a.txt"), "rb") as f:
                    self.assertEqual(f.read(), A_TXT)

    def posix_root_as_outdir(self):
        if not any(os.path.isfile(os.path.join("/", name)) for name in os.listdir("/")):
            self.skipTest("the root holds no plain file")
        # Members named from the root down to a directory of the test's own.
        rooted = self.path("rooted")
        harness.python_tar(self.archive, [(rooted[1:] + "/a.txt", A_TXT, tarfile.REGTYPE)])
        for outdir in ("/", "//"):
            with self.subTest(outdir=outdir):
                out = self.holvex(self.archive, outdir)
                self.assertEqual(lines(out)[-1], (rooted + "/a.txt (1,000 bytes)").encode())
                with open(os.path.join(rooted, "a.txt"), "rb") as f:
                    self.assertEqual(f.read(), A_TXT)
                os.remove(os.path.join(rooted, "a.txt"))

    def test_read_only_archive_is_extracted(self):
        os.chmod(self.archive, stat.S_IRUSR)
        self.addCleanup(os.chmod, self.archive, stat.S_IRUSR | stat.S_IWUSR)
        out = self.holvex(host_path(self.archive), host_path(self.out))
        self.assertEqual(len(lines(out)), len(BANNER) + 2)
        with open(os.path.join(self.out, "docs", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), A_TXT)

    def test_the_archive_is_only_ever_read(self):
        # Opened for reading alone, never created or written: seen in the
        # system calls, and with standard output closed (no terminal), where
        # the archive would otherwise take descriptor 1 and receive the lines.
        if WINDOWS:
            self.skipTest("system calls and descriptors of the POSIX build")
        with open(self.archive, "rb") as f:
            before = f.read()
        trace = self.path("trace")
        # The leak checker of a sanitizer build cannot work under a tracer.
        quiet_leaks = {"ASAN_OPTIONS": ":".join(
            filter(None, [os.environ.get("ASAN_OPTIONS"), "detect_leaks=0"]))}
        subprocess.run(["strace", "-f", "-e", "trace=open,openat", "-o", trace,
                        *harness.command("holvex", self.archive, self.out)],
                       capture_output=True, check=True, timeout=120,
                       env={**harness.ENV, **quiet_leaks})
        with open(trace) as f:
            opens = [line for line in f if '"%s"' % self.archive in line]
        self.assertEqual(len(opens), 1, opens)
        self.assertIn("O_RDONLY", opens[0])
        self.assertNotRegex(opens[0], "O_CREAT|O_WRONLY|O_RDWR|O_TRUNC")

        out = self.path("closed-out")
        os.mkdir(out)
        # Its lines go nowhere: status 1.
        closed = subprocess.run(["sh", "-c", 'exec "$@" >&- 2>&- </dev/null', "sh", "setsid",
                                 "-w", *harness.command("holvex", self.archive, out)], timeout=120)
        self.assertEqual(closed.returncode, 1)
        with open(self.archive, "rb") as f:
            self.assertEqual(f.read(), before)
        with open(os.path.join(out, "docs", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), A_TXT)

    def test_options(self):
        archive = self.path("opts.tar")
        names = ["data/1.txt", "docs/a.txt", "docs2/b.txt", "k=v/a.txt", "kother.txt", "k=w.txt",
                 "zz.txt", "\u00e9.txt"]
        harness.python_tar(archive, [(n, n.encode(), tarfile.REGTYPE) for n in names])

        def skipped(out):
            return [l[6:].decode() for l in lines(out)[len(BANNER):] if l.startswith(b"Skip: ")]

        def all_but(*kept):
            return [n for n in names if n not in kept]

        cases = [
            # option field, names passed over (None: the usage text, nothing
            # extracted), exit code
            ("startat=docs", ["data/1.txt"], 0),
            ("startat=docs2", ["data/1.txt", "docs/a.txt"], 0),
            # A prefix that matches no member says so.
            ("startat=nothing", names, 1),
            ("only=docs", all_but("docs/a.txt", "docs2/b.txt"), 0),
            ("only=docs/", all_but("docs/a.txt"), 0),
            # The prefix is everything after the first "=".
            ("only=k=v/", all_but("k=v/a.txt"), 0),
            ("startat=k=w", ["data/1.txt", "docs/a.txt", "docs2/b.txt", "k=v/a.txt",
                             "kother.txt"], 0),
            # On Windows too the command line arrives as UTF-8, and so does a
            # UTF-8 output directory ("o7-only_\u00e9").
            ("only=\u00e9", all_but("\u00e9.txt"), 0),
            ("only=DOCS", names, 1),
            # An empty prefix is no option.
            ("startat=", [], 0),
            ("only=", [], 0),
            # Anything else would extract what was not asked for.
            ("Only=x", None, 2),
            ("ONLY=docs/", None, 2),
            ("only:docs/", None, 2),
            ('"only=docs/"', None, 2),
            ("startat", None, 2),
        ]
        for index, (option, passed_over, code) in enumerate(cases):
            with self.subTest(option):
                out_dir = self.path("o%d-" % index + option.replace("=", "_").replace("/", "_")
                                    .replace(":", "_").replace('"', "_"))
                os.mkdir(out_dir)
                out = self.holvex(host_path(archive), host_path(out_dir), option, code=code)
                if passed_over is None:
                    self.assertEqual(out, CRLF.join(BANNER + USAGE) + CRLF)
                    self.assertEqual(os.listdir(out_dir), [])
                    continue
                self.assertEqual(skipped(out), passed_over)
                if passed_over == names:
                    self.assertEqual(lines(out)[-1], b"ERROR: No member matched the prefix '" +
                                     option.partition("=")[2].encode() + b"'")
                for n in names:
                    on_disk = os.path.exists(os.path.join(out_dir, *n.split("/")))
                    self.assertEqual(on_disk, n not in passed_over, n)

    def test_lines_that_cannot_be_written(self):
        # Standard output on a full disk, or closed: the members are still
        # extracted, and the status and a line on standard error say that
        # the lines are lost.
        for case, redirect in (("a full disk", ">/dev/full"), ("closed", ">&-")):
            with self.subTest(case):
                result = subprocess.run(
                    ["sh", "-c", 'exec "$@" ' + redirect, "sh",
                     *harness.command("holvex", host_path(self.archive), host_path(self.out))],
                    stdin=subprocess.DEVNULL, capture_output=True, env=harness.ENV, timeout=120,
                    start_new_session=True)
                self.assertEqual(result.returncode, 1, result)
                self.assertIn(b"ERROR: Cannot write the lines to standard output\r\n",
                              result.stderr)
                with open(os.path.join(self.out, "docs", "a.txt"), "rb") as f:
                    self.assertEqual(f.read(), A_TXT)
                shutil.rmtree(os.path.join(self.out, "docs"))

    def test_archives_on_a_socket_and_a_block_device(self):
        # The standard input's socket (a service started by inetd or socat),
        # which Linux cannot open by its name, is read as a pipe; a block
        # device (a disk image on a loop device) is read as a file.
        if WINDOWS:
            self.skipTest("sockets and block devices of the POSIX build")

        def socket_input():
            ours, theirs = socket.socketpair()
            with ours, theirs:
                process = subprocess.Popen(
                    harness.command("holvex", "/dev/stdin", self.out), stdin=theirs,
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=harness.ENV,
                    start_new_session=True)
                theirs.close()
                with open(self.archive, "rb") as f:
                    ours.sendall(f.read())
                ours.shutdown(socket.SHUT_WR)
                out, err = process.communicate(timeout=120)
            return subprocess.CompletedProcess(process.args, process.returncode, out, err)

        def block_device():
            image = self.path("disk.img")
            shutil.copy(self.archive, image)
            made = subprocess.run(["losetup", "--find", "--show", "--read-only", image],
                                  capture_output=True, text=True)
            if made.returncode != 0:
                self.skipTest("no loop device here: " + made.stderr.strip())
            device = made.stdout.strip()
            try:
                return run("holvex", device, self.out)
            finally:
                subprocess.run(["losetup", "--detach", device], check=True)

        for case, run_case in (("socket", socket_input), ("block device", block_device)):
            with self.subTest(case):
                result = run_case()
                self.assertEqual((result.returncode, result.stderr), (0, b""), result)
                self.assertEqual(lines(result.stdout)[-1], native(self.out) + b"/docs/a.txt "
                                 b"(1,000 bytes)")
                with open(os.path.join(self.out, "docs", "a.txt"), "rb") as f:
                    self.assertEqual(f.read(), A_TXT)
                shutil.rmtree(os.path.join(self.out, "docs"))

    def test_archive_that_cannot_be_opened(self):
        # The file is there but refuses to open: the fourth path check says
        # so and the run ends through the failure exit, nothing extracted.
        def wildcard():
            # A wildcard passes the existence probe when a file matches, but
            # no file can be opened under that name (Windows).
            return (self.holvex(host_path(self.path("a.ta?")), host_path(self.out), code=1),
                    "a.ta?")

        def held():
            with open(self.archive, "rb") as holder:
                fcntl.flock(holder, fcntl.LOCK_EX)
                return self.holvex(host_path(self.archive), host_path(self.out), code=1), "a.tar"

        def unreadable():
            # As a plain user: the mode does not stop root.
            os.chmod(self.tmp, 0o755)
            os.chmod(self.archive, 0)
            plain_user = [] if os.geteuid() != 0 else [
                "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            result = subprocess.run(plain_user + harness.command(
                "holvex", host_path(self.archive), host_path(self.out)), capture_output=True,
                stdin=subprocess.DEVNULL, env=harness.ENV, timeout=120, start_new_session=True)
            os.chmod(self.archive, stat.S_IRUSR | stat.S_IWUSR)
            self.assertEqual((result.returncode, result.stderr), (1, b""))
            return result.stdout, "a.tar"

        cases = [("wildcard", wildcard)] if WINDOWS else []
        if not WINDOWS:
            # Wine sees neither a host process's lock nor the host's users.
            cases += [("held by another process", held), ("no read permission", unreadable)]
        for name, run_case in cases:
            with self.subTest(name):
                out, shown = run_case()
                self.assertEqual(out, CRLF.join(BANNER + [
                    b"Input file cannot be opened ('" + native(self.path(shown)) + b"')"]) + CRLF)
                self.assertEqual(os.listdir(self.out), [])

if __name__ == "__main__":
    harness.main()
