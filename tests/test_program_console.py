"""The whole program at a real terminal (tmux, which answers cursor
position queries like any terminal emulator; the Windows build runs under
Wine inside it): fresh-console mode with its prompts and final pause, the
failure exit's wait, the empty first answer, the Esc abort and the keys that
stop a long copy."""

import os
import random
import re
import shlex
import shutil
import tarfile
import tempfile
import time

import harness
from console_harness import TmuxTerminal, shell_line, wait_until
from harness import BANNER, SEP, WINDOWS, host_path
from test_program import USAGE

DATA = bytes(range(256)) * 4

# A member whose copy takes well over a second: zeros, kept as holes in an
# archive on tmpfs and left as holes in the output, so that neither costs
# memory or disk; the time goes into reading and checking them.
LONG_COPY_SIZE = 32 << 30
PROGRESS_ROW = re.compile(r"\d+%  [\d,]+ bytes  [\d,]+\.\d MB/s  [\d:]+ left  archive \d+%$")


def file_bytes(path):
    """The bytes of a file, b"" while there is none."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


class FreshConsoleTest(harness.TempDirTest):

    def setUp(self):
        super().setUp()
        self.archive = self.path("a.tar")
        harness.python_tar(self.archive, [
            ("docs/", None, tarfile.DIRTYPE),
            ("docs/a.txt", DATA, tarfile.REGTYPE),
        ])
        self.out = self.path("out")
        os.mkdir(self.out)

    def start(self, *args, lines_before=0):
        """Runs holvex in a terminal whose screen was just cleared (so its
        cursor is on row 1) or that shows some lines first; the exit code
        shows as "EXIT=n" once it ends."""
        before = "printf '" + "line\\n" * lines_before + "'; " if lines_before else ""
        script = "clear; %s%s; echo EXIT=$?" % (before, shell_line(harness.command("holvex", *args)))
        terminal = TmuxTerminal(script, width=160, height=50)
        self.addCleanup(terminal.close)
        return terminal

    def wait_for(self, terminal, text):
        """Waits for a row holding `text`; returns the rows of the screen and
        of the history above it (the terminal may have scrolled)."""
        terminal.wait_screen(lambda rows: any(text in row for row in rows),
                             "%r on the screen" % text)
        history = terminal._tmux("capture-pane", "-p", "-S", "-", "-t", "probe")
        return [row.rstrip() for row in history.decode("utf-8", "replace").split("\n")]

    def assert_still_waiting(self, terminal):
        # A wait that had taken a pending key would end within milliseconds.
        time.sleep(1.0)
        self.assertFalse(any(row.startswith("EXIT=") for row in terminal.screen()),
                         "\n".join(terminal.screen()))

    def rows_from(self, rows, first):
        """The screen's rows from the first one equal to `first`, without the
        blank rows at the end and tmux's note on the ended pane."""
        rows = [row for row in rows if not row.startswith("Pane is dead")]
        start = next((i for i, row in enumerate(rows) if row == first), None)
        self.assertIsNotNone(start, "%r not on the screen:\n%s" % (first, "\n".join(rows)))
        end = len(rows)
        while end > start and rows[end - 1] == "":
            end -= 1
        return rows[start:end]

    def test_prompts_then_extraction_then_final_pause(self):
        # A path typed with "\u00e9" (one Backspace takes back the whole
        # character) names the archive; names beyond ASCII show as they are
        # on disk (each typed and shown as UTF-8 on Windows too).
        spaced = self.path("my caf\u00e9 files")
        os.mkdir(spaced)
        archive = os.path.join(spaced, "a b.tar")
        names = ["\u00e9.txt", "\u00fc.txt", "\u03a9.txt", "\u4e2d\u6587.txt", "\U0001f600.txt"]
        harness.python_tar(archive, [("docs/", None, tarfile.DIRTYPE)] + [
            (name, DATA, tarfile.REGTYPE) for name in ["docs/a.txt"] + names], tarfile.PAX_FORMAT)
        terminal = self.start()
        self.wait_for(terminal, " -->")
        # On Windows wrapped in quotes, as Explorer's "Copy as path" gives it.
        quote = '"' if WINDOWS else ""
        typed = (quote + host_path(archive) + quote).split("\u00e9")
        terminal.type_text(typed[0] + "\u00e9\u00e9")
        terminal.keys("BSpace")
        terminal.type_text(typed[1])
        terminal.keys("Enter")
        self.wait_for(terminal, "now please enter")
        terminal.type_text(host_path(self.out))
        terminal.keys("Enter")
        rows = self.wait_for(terminal, "Press a key to exit")
        example_in = "f:\\tar\\backup.tar" if WINDOWS else "/tar/backup.tar"
        example_out = "g:\\restore\\" if WINDOWS else "/restore/"
        out = host_path(self.out)
        self.assertEqual(self.rows_from(rows, "Holvex"), [line.decode() for line in BANNER] + [
            "please enter the complete filename of the input .tar file",
            "           example: " + example_in,
            " -->" + quote + host_path(archive) + quote,
            "now please enter the complete name of the output directory",
            "           example: " + example_out,
            " -->" + out,
            "",
            "Create directory: " + out + SEP + "docs",
            out + SEP + "docs" + SEP + "a.txt (1,024 bytes)",
        ] + [out + SEP + name + " (1,024 bytes)" for name in names[:-1]] + [
            # Wine's console keeps one UTF-16 unit a cell: a surrogate pair
            # reaches the terminal as two replacement characters.
            out + SEP + ("\ufffd\ufffd" if WINDOWS else "\U0001f600") + ".txt (1,024 bytes)",
            "We're all done!",
            "Press a key to exit",
        ])
        self.assert_still_waiting(terminal)
        # The run is over: Ctrl+C ends the pause as any key does (Wine's
        # console never passes it on as a key).
        terminal.keys("q" if WINDOWS else "C-c")
        rows = self.wait_for(terminal, "EXIT=0")
        self.assertNotIn("Aborted", rows)
        with open(os.path.join(self.out, "docs", "a.txt"), "rb") as f:
            self.assertEqual(f.read(), DATA)
        self.assertEqual(sorted(os.listdir(self.out)), sorted(["docs"] + names))

    def test_answers_that_end_the_run(self):
        # An empty first answer ends the run after a key; Ctrl+C, or Ctrl+\\,
        # at either prompt stops it at once, as in the walk (Wine's console
        # never passes them on as keys).
        cases = [
            # (case, typed before the last key (text, then Enter), the last
            # key, the rows from the last prompt on, whether a key is waited for)
            ("empty first answer", [], "Enter", [
                " -->", "Ok, aborting. This program also works from the commandline.",
                "Press a key to exit."], True),
        ]
        if not WINDOWS:
            cases += [
                ("Ctrl+C at the first prompt", ["abc"], "C-c", [" -->abc^C", "Aborted"], False),
                ("Ctrl+\\ at the second prompt", [host_path(self.archive), "x"], "C-\\",
                 [" -->x^C", "Aborted"], False),
            ]
        for case, typed, last, expected, waits in cases:
            with self.subTest(case):
                terminal = self.start()
                self.wait_for(terminal, " -->")
                for index, text in enumerate(typed):
                    terminal.type_text(text)
                    if index + 1 < len(typed):
                        terminal.keys("Enter")
                        self.wait_for(terminal, "now please enter")
                terminal.keys(last)
                rows = self.wait_for(terminal, expected[-1])
                body = [row for row in self.rows_from(rows, "Holvex") if not row.startswith("EXIT=")]
                self.assertEqual(body[-len(expected):], expected)
                if waits:
                    self.assert_still_waiting(terminal)
                    terminal.keys("x")
                self.wait_for(terminal, "EXIT=1")
                self.assertEqual(os.listdir(self.out), [])
                terminal.close()

    def test_failure_exit_takes_a_key_typed_ahead(self):
        missing = host_path(self.path("missing.tar"))
        terminal = self.start()
        self.wait_for(terminal, " -->")
        # Both answers and one more key, typed before the check has run: the
        # key typed ahead ends the failure exit's wait.
        terminal.type_text(missing)
        terminal.keys("Enter")
        terminal.type_text(host_path(self.out))
        terminal.keys("Enter", "z")
        rows = self.wait_for(terminal, "EXIT=1")
        self.assertEqual(self.rows_from(rows, "")[-3:], [
            "Input file not found ('" + missing + "')",
            "Press a key to exit.",
            "EXIT=1",
        ])

    def test_empty_second_answer_does_not_look_right(self):
        # Never the root directory on POSIX, where the bare separator would
        # otherwise pass for an absolute path.
        terminal = self.start()
        self.wait_for(terminal, " -->")
        terminal.type_text(host_path(self.archive))
        terminal.keys("Enter")
        self.wait_for(terminal, "now please enter")
        terminal.keys("Enter")
        rows = self.wait_for(terminal, "Press a key to exit.")
        self.assertEqual(self.rows_from(rows, "Output directory does not look right"),
                         ["Output directory does not look right", "Press a key to exit."])
        terminal.keys("Enter")
        self.wait_for(terminal, "EXIT=1")
        self.assertEqual(os.listdir(self.out), [])

    def test_failures_in_a_fresh_console_wait_for_a_key(self):
        # The failure's pause ends with any key, Ctrl+C too (POSIX; Wine's
        # console never passes it on): the status stays the failure's. A
        # command line the program does not take shows the usage text there.
        archive = host_path(self.archive)
        nowhere = host_path(self.path("nowhere"))
        usage = [line.decode() for line in USAGE if line]
        cases = [
            ([archive, "relative" + SEP], ["Output directory does not look right"], 1),
            ([archive, nowhere], ["Output directory not found ('" + nowhere + SEP + "')"], 1),
            ([archive, host_path(self.out), "ONLY=docs/"], usage, 2),
        ]
        for args, message, code in cases:
            with self.subTest(args[1:]):
                terminal = self.start(*args)
                rows = self.wait_for(terminal, "Press a key to exit.")
                shown = [row for row in self.rows_from(rows, message[0]) if row]
                self.assertEqual(shown, message + ["Press a key to exit."])
                self.assert_still_waiting(terminal)
                terminal.keys("Enter" if WINDOWS else "C-c")
                rows = self.wait_for(terminal, "EXIT=%d" % code)
                self.assertNotIn("Aborted", rows)
                self.assertEqual(os.listdir(self.out), [])
                terminal.close()

    def start_waiting_at_a_fifo(self):
        """A run of an archive of a FIFO (a type that is not extracted) and
        then b.txt, waiting at the FIFO's key."""
        harness.python_tar(self.archive, [
            ("fifo", b"", tarfile.FIFOTYPE),
            ("b.txt", DATA, tarfile.REGTYPE),
        ])
        terminal = self.start(host_path(self.archive), host_path(self.out))
        self.wait_for(terminal, "==press any key==")
        return terminal

    def test_pending_keys_are_discarded_before_the_final_pause(self):
        # A FIFO member waits for a key; the keys typed with it stay pending
        # beyond the few rounds that are left, and the final pause discards
        # them before it waits.
        terminal = self.start_waiting_at_a_fifo()
        terminal.type_text("k" + "x" * 20)
        self.wait_for(terminal, "Press a key to exit")
        self.assert_still_waiting(terminal)
        terminal.keys("Enter")
        self.wait_for(terminal, "EXIT=0")
        self.assertEqual(sorted(os.listdir(self.out)), ["b.txt"])

    def test_two_runs_read_one_archive_at_once(self):
        # The first run holds the archive open while it waits at a FIFO; a
        # second run of the same archive meanwhile reads it whole.
        terminal = self.start_waiting_at_a_fifo()
        second = self.path("second")
        os.mkdir(second)
        result = harness.run("holvex", host_path(self.archive), host_path(second))
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(harness.lines(result.stdout)[-1],
                         (host_path(second) + SEP + "b.txt (1,024 bytes)").encode())
        with open(os.path.join(second, "b.txt"), "rb") as f:
            self.assertEqual(f.read(), DATA)
        terminal.keys("Enter")
        self.wait_for(terminal, "Press a key to exit")
        terminal.keys("Enter")
        self.wait_for(terminal, "EXIT=0")
        self.assertEqual(sorted(os.listdir(self.out)), ["b.txt"])

    def test_esc_abort_ends_without_the_final_pause(self):
        if WINDOWS:
            self.skipTest("Wine's terminal console reports a lone Esc without its character "
                          "(scan code 1 only), which the key rules take as a key without a "
                          "character; the abort itself is shared code, tested natively")
        harness.python_tar(self.archive, [("fifo", b"", tarfile.FIFOTYPE)] + [
            ("f%02d.txt" % i, DATA, tarfile.REGTYPE) for i in range(20)])
        terminal = self.start(host_path(self.archive), host_path(self.out))
        self.wait_for(terminal, "==press any key==")
        # The first key ends the FIFO's wait; the three Esc presses are then
        # taken one per round, and the third stops the walk.
        terminal.keys("k", "Escape", "Escape", "Escape")
        rows = self.wait_for(terminal, "EXIT=1")
        body = self.rows_from(rows, "Holvex")
        self.assertEqual(body[-2:], ["Aborted", "EXIT=1"])
        self.assertNotIn("We're all done!", body)
        # Two rounds read a member each before the third Esc.
        self.assertEqual(sorted(os.listdir(self.out)), ["f00.txt", "f01.txt"])

    def test_an_archive_full_of_links_waits_for_no_key(self):
        # Hundreds of symbolic and hard links (Debian's tzdata holds 365)
        # at a terminal: no key prompt, and the run ends by itself, its
        # refused links said (exit status 1).
        members = [("zone/f%03d" % i, DATA, tarfile.REGTYPE) for i in range(100)]
        members += [("zone/h%03d" % i, b"zone/f%03d" % (i % 100), tarfile.LNKTYPE)
                    for i in range(300)]
        members += [("zone/s%03d" % i, b"f%03d" % (i % 100), tarfile.SYMTYPE) for i in range(300)]
        members += [("zone/abs", b"/usr/share/zoneinfo/UTC", tarfile.SYMTYPE)]
        harness.python_tar(self.archive, members)
        terminal = self.start(host_path(self.archive), host_path(self.out), lines_before=2)
        # A console of its own (Windows) keeps the end on screen until a key.
        ending = ["ERROR: Unsafe link target: it is an absolute path"]
        if WINDOWS:
            self.wait_for(terminal, "Press a key to exit")
            terminal.keys("Enter")
            ending += ["We're all done!", "Press a key to exit"]
        rows = self.wait_for(terminal, "EXIT=")
        self.assertIn("EXIT=1", rows)
        self.assertFalse([row for row in rows if "==press any key==" in row])
        end = rows.index("EXIT=1")
        self.assertEqual(rows[end - len(ending):end], ending)
        made = os.listdir(os.path.join(self.out, "zone"))
        self.assertEqual(len(made), 700)
        if not WINDOWS:
            self.assertEqual(os.readlink(os.path.join(self.out, "zone", "s299")), "f099")
        self.assertEqual(os.stat(os.path.join(self.out, "zone", "f007")).st_nlink, 4)

    def test_progress_row_during_a_long_copy(self):
        work = tempfile.mkdtemp(prefix="holvex-progress-",
                                dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        self.addCleanup(shutil.rmtree, work, True)
        archive = os.path.join(work, "long.tar")
        with open(archive, "wb") as f:
            # Past 8 GiB the size field holds a base-256 number.
            f.write(harness.raw_header(b"big.bin", LONG_COPY_SIZE, size_field=b"\x80" +
                                       LONG_COPY_SIZE.to_bytes(11, "big")))
            f.seek(LONG_COPY_SIZE, os.SEEK_CUR)
            f.write(harness.raw_header(b"b.txt", len(DATA)) + DATA + bytes(1024))
        out = host_path(self.out)
        lines = [out + SEP + "big.bin (" + format(LONG_COPY_SIZE, ",") + " bytes)",
                 out + SEP + "b.txt (1,024 bytes)"]

        terminal = self.start(host_path(archive), out)
        # The row below the member's line, while the copy runs.
        def progress_shown(rows):
            return lines[0] in rows and PROGRESS_ROW.match(rows[rows.index(lines[0]) + 1])

        rows = terminal.wait_screen(
            lambda rows: progress_shown(rows) or "Press a key to exit" in rows,
            "the progress row below " + lines[0])
        self.assertTrue(progress_shown(rows), "no progress row:\n" + "\n".join(rows))
        # Gone once the copy has ended: the screen holds what it would without it.
        rows = self.wait_for(terminal, "Press a key to exit")
        self.assertEqual(self.rows_from(rows, "Holvex"), [line.decode() for line in BANNER] +
                         lines + ["We're all done!", "Press a key to exit"])
        terminal.keys("Enter")
        self.wait_for(terminal, "EXIT=0")
        self.assertEqual(os.path.getsize(os.path.join(self.out, "big.bin")), LONG_COPY_SIZE)
        os.remove(os.path.join(self.out, "big.bin"))

        # Redirected output gets exactly the lines, and no progress.
        result = harness.run("holvex", host_path(archive), out, timeout=600)
        self.assertEqual(result.stdout,
                         b"".join(line + harness.CRLF for line in BANNER) +
                         b"".join(line.encode() + harness.CRLF for line in lines))

    def test_keys_stop_a_long_copy(self):
        # 4 GiB with no holes take seconds to copy: three Esc presses, or a
        # Ctrl+C, typed once its line shows stop it. Wine's console gives an
        # Esc its character when it comes twice, and never passes a Ctrl+C on.
        archive = self.path("big.tar")
        piece = random.Random(5).randbytes(1 << 20)
        with open(archive, "wb") as f:
            f.write(harness.raw_header(b"big.bin", 4 << 30))
            for _ in range(4096):
                f.write(piece)
            f.write(harness.raw_header(b"after.txt", len(DATA)) + DATA + bytes(1024))
        big = os.path.join(self.out, "big.bin")
        big_line = host_path(big) + " (4,294,967,296 bytes)"
        cases = [["Escape", "Escape"] * 3] if WINDOWS else [["Escape"] * 3, ["C-c"]]
        for keys in cases:
            with self.subTest(keys=keys):
                terminal = self.start(host_path(archive), host_path(self.out))
                self.wait_for(terminal, big_line)
                if WINDOWS:
                    terminal.set_terminal_option("-isig")
                terminal.keys(*keys)
                body = self.rows_from(self.wait_for(terminal, "EXIT="), big_line)
                self.assertEqual(body[1:], ["ERROR: Incomplete file (%s of 4,294,967,296 bytes "
                                            "written)" % format(os.path.getsize(big), ","),
                                            "Aborted", "EXIT=1"])
                self.assertEqual(os.listdir(self.out), ["big.bin"])
                os.remove(big)
                terminal.close()

    def test_redirected_output_never_waits(self):
        # Output going to a file (input the terminal, or nothing), also after
        # the screen was cleared (and under Wine, whose console starts on row
        # 1): no key prompt of a FIFO, no final pause, no failure exit's pause.
        # The links are made (the symbolic one at the end, under Wine as a
        # copy) and never wait.
        harness.python_tar(self.archive, [("sym", b"a.txt", tarfile.SYMTYPE),
                                          ("a.txt", DATA, tarfile.REGTYPE),
                                          ("fifo", b"", tarfile.FIFOTYPE),
                                          ("hard", b"a.txt", tarfile.LNKTYPE),
                                          ("b.txt", DATA, tarfile.REGTYPE)])
        out = host_path(self.out).encode() + SEP.encode()
        missing = host_path(self.path("missing.tar"))

        def warning(name, kind):
            return [name + b" (0 bytes)", b"ERROR: Type problem!", b"Unhandled: %d" % kind,
                    b"Contact me at https://holvex.example/support and I'll add support."]

        walk = ([out + b"a.txt (1,024 bytes)"] + warning(b"fifo", 6) +
                [out + b"hard link to " + out + b"a.txt", out + b"b.txt (1,024 bytes)",
                 out + b"sym -> a.txt" + (b" (copied)" if WINDOWS else b"")])
        lines_before = "printf 'line\\nline\\n'"
        cases = [
            # (case, shell command before, archive, standard input, lines after
            # the banner, exit code)
            ("links", lines_before, host_path(self.archive), "terminal", walk, 0),
            ("links, no input", lines_before, host_path(self.archive), "nothing", walk, 0),
            ("links, screen cleared", "clear", host_path(self.archive), "terminal", walk, 0),
            ("failure, screen cleared", "clear", missing, "terminal",
             [b"Input file not found ('" + missing.encode() + b"')"], 1),
            # No prompts that nobody would see: the usage text.
            ("no outdir, screen cleared", "clear", missing, "terminal", USAGE, 2),
        ]
        for case, before, archive, stdin, expected, code in cases:
            with self.subTest(case):
                log = self.path("log-" + case.replace(" ", "-").replace(",", ""))
                redirect = " >" + shlex.quote(log) + (" </dev/null" if stdin == "nothing" else "")
                paths = [archive] if code == 2 else [archive, host_path(self.out)]
                script = "%s; %s%s; echo EXIT=$?" % (
                    before, shell_line(harness.command("holvex", *paths)), redirect)
                terminal = TmuxTerminal(script, width=160, height=50)
                self.addCleanup(terminal.close)
                self.wait_for(terminal, "EXIT=%d" % code)
                self.assertEqual(file_bytes(log), harness.CRLF.join(BANNER + expected) +
                                 harness.CRLF)
                self.assertFalse(any("press any key" in row for row in terminal.screen()))
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                terminal.close()

    def test_usage_text_below_the_first_row(self):
        if WINDOWS:
            self.skipTest("Wine gives every program started from a Unix shell a console "
                          "of its own, whose cursor starts on row 1")
        terminal = self.start(lines_before=3)
        rows = self.wait_for(terminal, "EXIT=2")
        body = self.rows_from(rows, "Holvex")
        self.assertEqual(body[5], "usage: holvex infile outdir [option]")
        self.assertEqual(body[-2:], ["", "EXIT=2"])


if __name__ == "__main__":
    harness.main()
