"""The console services at a terminal: line editing with its echo, key
values, key polling, waiting and flushing, the cursor row and cursor moves,
and the terminal's settings given back on every way out.

Two kinds of terminal are used. On POSIX a pseudo-terminal of the test's
own shows every byte the program writes and lets the test type exact bytes
and read the terminal's settings. On both platforms a tmux pane (a real
terminal emulator, which answers cursor queries itself) shows the screen as
a user sees it; the Windows build runs there under Wine, whose console works
inside the pane."""

import fcntl
import os
import signal
import tarfile
import unittest

import harness
from console_harness import (SIGNALS_THAT_END, PtySession, TmuxTerminal, foreground_job,
                             job_then_editor, probe_command, process_state, raw_settings_in_force, records,
                             shell_line, touch, values, wait_done, wait_mark, wait_records,
                             wait_until)

ESC = b"\x1b"


def scan(code):
    return bytes([0, code])


def file_text(path):
    """The text of a file, "" while there is none."""
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


posix_only = unittest.skipIf(harness.WINDOWS, "a pseudo-terminal of the test's own is POSIX")


@posix_only
class LineEditing(harness.TempDirTest):
    """read_line at the terminal: every echoed byte, and the lines returned."""

    def session(self, steps):
        self.result = self.path("result.txt")
        pty = PtySession(probe_command(self.result, "mark:ready", *steps))
        self.addCleanup(pty.close)
        wait_mark(self.result, "ready")
        return pty

    def test_editing_cases(self):
        full = b"x" * 16384
        # (name, lines read, typed pieces, lines returned, bytes echoed). A
        # piece is typed once the echo so far shows the one before it was taken.
        cases = [
            ("a, b, Backspace, c, Enter", 1, [b"ab\x7fc\r"], [b"ac"], b"ab\b \bc\r\n"),
            ("Backspace on an empty line", 1, [b"\x7f\x7fx\x7f\x7fy\r"], [b"y"],
             b"x\b \by\r\n"),
            ("Esc is stored", 1, [b"a", ESC, b"b\r"], [b"a\x1bb"], b"a\x1bb\r\n"),
            ("Esc, Esc, Esc", 1, [ESC + ESC + ESC, b"\r"], [ESC * 3], ESC * 3 + b"\r\n"),
            ("keys without a character give nothing", 1,
             [b"a\x1b[Ab\x1bOP\x1b[15~\x1b[1;5Dc\x1b[3~\r"], [b"abc"], b"abc\r\n"),
            ("Tab and Ctrl+S are stored", 1, [b"\t\x13\r"], [b"\t\x13"], b"\t\x13\r\n"),
            # The keys that stop a run stop the typing too.
            ("Ctrl+C stops the typing", 1, [b"ab\x03"], [b""], b"ab^C\r\n"),
            ("so does Ctrl+\\", 1, [b"ab\x1c"], [b""], b"ab^C\r\n"),
            ("Enter ends the line; later keys wait", 2, [b"ab\rcd\r"], [b"ab", b"cd"],
             b"ab\r\ncd\r\n"),
            ("Ctrl+Z then Enter", 1, [b"ab\x1a\r"], [b"ab"], b"ab^Z\r\n"),
            ("other keys are ignored after Ctrl+Z", 1, [b"ab\x1axy\r"], [b"ab"], b"ab^Z\r\n"),
            ("Ctrl+Z then Backspace", 1, [b"ab\x1a\x7fc\r"], [b"abc"], b"ab^Z\b\b  \b\bc\r\n"),
            ("the next line after a Ctrl+Z line echoes ^Z first", 2, [b"ab\x1a\r", b"q\r"],
             [b"ab", b""], b"ab^Z\r\n^Z\r\n"),
            ("Backspace clears the carried-over ^Z", 2, [b"a\x1a\r", b"\x7fb\r"], [b"a", b"b"],
             b"a^Z\r\n^Z\b\b  \b\bb\r\n"),
            ("the 16,384th character ends the line", 2, [full, b"y\r"], [full, b"y"],
             full + b"\r\ny\r\n"),
            ("Backspace takes back a whole UTF-8 character", 1,
             ["é€".encode(), b"\x7f", b"\x7f", b"e\r"], [b"e"],
             "é€".encode() + b"\b \b\b \be\r\n"),
            ("Backspace takes back the two columns of a wide character", 1,
             ["a中".encode(), b"\x7f", b"b\r"], [b"ab"], "a中".encode() + b"\b\b  \b\bb\r\n"),
        ]
        for name, count, pieces, lines, echo in cases:
            with self.subTest(name):
                pty = self.session(["lines:%d" % count])
                for index, piece in enumerate(pieces):
                    before = len(pty.output())
                    pty.send(piece)
                    if index + 1 < len(pieces):
                        # Every typed piece here echoes at least as many bytes.
                        pty.wait_output(lambda out: len(out) >= before + len(piece),
                                        "the echo of %r" % piece)
                wait_done(self.result)
                self.assertEqual(values(self.result, "line"), lines)
                self.assertEqual(("stopped", "") in records(self.result),
                                 echo.endswith(b"^C\r\n"))
                self.assertEqual(pty.finish(), 0)
                self.assertEqual(pty.final_output(), echo)
                pty.close()
                os.unlink(self.result)

    def test_a_terminal_left_non_blocking_loses_no_byte(self):
        # Another program left the terminal non-blocking (the flag belongs to
        # the open terminal, which the program shares). Far more lines and
        # progress rows than the terminal holds are written while nobody
        # reads them: each write waits for room, none gives up part-way.
        go = self.path("go")
        self.result = self.path("result.txt")
        rows = 5000
        pty = PtySession(probe_command(self.result, "mark:ready", "await:" + go, "say:lines", "end",
                                       "progresses:%d" % rows, "blank-row", "say:end", "end",
                                       "mark:written"), held=True)
        self.addCleanup(pty.close)
        wait_mark(self.result, "ready")
        flags = fcntl.fcntl(pty.slave, fcntl.F_GETFL)
        fcntl.fcntl(pty.slave, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        touch(go)
        wait_records(self.result, "go", 1)
        # Until the terminal is full and the program waits for room (a
        # program that gave up on a full terminal would be done by then).
        wait_until(lambda: ("mark", "written") in records(self.result) or
                   process_state(pty.process.pid) == "S", "the terminal to fill")
        pty.release_output()
        wait_done(self.result)

        def row(number):
            return b"\r" + (b"row %d" % number).ljust(100, b".")[:79] + b"\x1b[K\r"

        self.assertEqual(pty.final_output(),
                         b"lines\r\n" + b"".join(row(i) for i in range(1, rows + 1)) +
                         b"\r\x1b[Kend\r\n")

    def test_output_goes_out_unchanged(self):
        # CR LF as written, a lone LF as written: no translation on the way;
        # a name's control characters shown escaped.
        pty = self.session(["say:ab", "end", "sayhex:0a", "end", "say:", "show:01411b7f80c29bc2"])
        wait_done(self.result)
        # U+009B (CSI) in UTF-8 escaped; a byte of no UTF-8 and a lone lead
        # byte at the end as they are.
        self.assertEqual(pty.final_output(), b"ab\r\n\n\r\n\\x01A\\x1b\\x7f\x80\\xc2\\x9b\xc2")


@posix_only
class Keys(harness.TempDirTest):

    def session(self, *steps):
        self.result = self.path("result.txt")
        pty = PtySession(probe_command(self.result, "mark:ready", *steps))
        self.addCleanup(pty.close)
        wait_mark(self.result, "ready")
        return pty

    def test_key_values(self):
        # (typed bytes, key values). Each group is typed after the keys of the
        # one before it were taken, so a lone Esc is not followed at once.
        groups = [
            (ESC, [ESC]),
            (b"\x1bOP", [scan(59)]),
            (b"\x1b[11~", [scan(59)]),
            (b"\x1b[A\x1b[B\x1bOC\x1b[1;2D", [scan(72), scan(80), scan(77), scan(75)]),
            (ESC, [ESC]),
            (b"\x1b[H\x1b[4~\x1b[5~\x1b[6~\x1b[2~\x1b[3~",
             [scan(71), scan(79), scan(73), scan(81), scan(82), scan(83)]),
            (b"\x1b[21~\x1b[23~\x1b[24~", [scan(68), scan(133), scan(134)]),
            (ESC + ESC + ESC, [ESC, ESC, ESC]),
            (b"\x1ba\x1bZ", [scan(0x1E), scan(0x2C)]),
            (b"\x7f\r\t", [b"\b", b"\r", b"\t"]),
            (b"\x03\x1a\x13\x11\x1c", [b"\x03", b"\x1a", b"\x13", b"\x11", b"\x1c"]),
            (b"\x1b[99~z", [b"z"]),
            (ESC, [ESC]),
        ]
        pty = self.session("keys:%d" % sum(len(keys) for _, keys in groups))
        expected = []
        for typed, keys in groups:
            pty.send(typed)
            expected += keys
            self.assertEqual(wait_records(self.result, "key", len(expected)), expected)
        wait_done(self.result)
        self.assertEqual(pty.finish(), 0, "Ctrl+C, Ctrl+Z and Ctrl+\\ are keys, not signals")

    def test_key_waiting_leaves_the_key(self):
        pty = self.session("waiting", "until-key", "waiting", "readkey", "readkey", "waiting")
        wait_records(self.result, "waiting", 1)
        pty.send(b"q")
        wait_done(self.result)
        self.assertEqual(values(self.result, "waiting"), ["0", "-1", "-1", "0"])
        self.assertEqual(values(self.result, "readkey"), [b"q", b""])

    def test_key_waiting_sees_keys_typed_before_it_started(self):
        # Typed while the console was stopped (the terminal in line mode),
        # the key is there as soon as the console is started again, though
        # the terminal announced its arrival to no one.
        go = self.path("go")
        pty = self.session("stop", "mark:stopped", "await:" + go, "start", "waiting", "readkey")
        wait_mark(self.result, "stopped")
        pty.send(b"q")
        touch(go)
        wait_done(self.result)
        self.assertEqual(values(self.result, "waiting"), ["-1"])
        self.assertEqual(values(self.result, "readkey"), [b"q"])

    def test_key_waiting_with_an_esc(self):
        pty = self.session("until-key", "readkey", "until-key", "readkey")
        pty.send(ESC)
        wait_records(self.result, "readkey", 1)
        pty.send(b"\x1b[A")
        wait_done(self.result)
        self.assertEqual(values(self.result, "readkey"), [ESC, scan(72)])

    def test_wait_key_takes_a_key_typed_before_it(self):
        pty = self.session("until-key", "key", "mark:first", "key")
        pty.send(b"a")
        wait_mark(self.result, "first")
        self.assertEqual(values(self.result, "key"), [b"a"])
        pty.send(b"b")
        wait_done(self.result)
        self.assertEqual(values(self.result, "key"), [b"a", b"b"])

    def test_flush_discards_keys_already_seen(self):
        pty = self.session("until-key", "flush", "key")
        pty.send(b"qz\x1b[A\x1b")
        wait_until(lambda: ("flushed", "") in records(self.result), "the flush")
        pty.send(b"r")
        wait_done(self.result)
        self.assertEqual(values(self.result, "key"), [b"r"])

    def test_flush_discards_keys_the_program_has_not_read(self):
        go = self.path("go")
        pty = self.session("await:" + go, "flush", "key")
        pty.send(b"abc\x1b[A")
        touch(go)
        wait_until(lambda: ("flushed", "") in records(self.result), "the flush")
        pty.send(b"r")
        wait_done(self.result)
        self.assertEqual(values(self.result, "key"), [b"r"])


@posix_only
class CursorQuery(harness.TempDirTest):
    """cursor_row asks the terminal; keys typed before the answer are kept."""

    def session(self, *steps, **options):
        self.result = self.path("result.txt")
        pty = PtySession(probe_command(self.result, "mark:ready", *steps), **options)
        self.addCleanup(pty.close)
        wait_mark(self.result, "ready")
        return pty

    def test_keys_typed_ahead_of_the_answer_are_kept(self):
        # (bytes waiting before the answer, answer, row, keys then taken)
        cases = [
            (b"", b"\x1b[1;1R", "1", []),
            (b"ab", b"\x1b[7;12R", "7", [b"a", b"b"]),
            (b"a\x1b[A", b"\x1b[3;1R", "3", [b"a", scan(72)]),
            (b"x\x1b", b"\x1b[15;80R", "15", [b"x", ESC]),
            (b"\x1bOP\r", b"\x1b[40;1R", "40", [scan(59), b"\r"]),
        ]
        for ahead, answer, row, keys in cases:
            with self.subTest(ahead=ahead, answer=answer):
                go = self.path("go")
                pty = self.session("await:" + go, "row", "keys:%d" % len(keys), "readkey")
                pty.send(ahead + answer)
                touch(go)
                wait_done(self.result)
                self.assertEqual(values(self.result, "row"), [row])
                self.assertEqual(values(self.result, "key"), keys)
                self.assertEqual(values(self.result, "readkey"), [b""])
                self.assertEqual(pty.final_output(), b"\x1b[6n")
                pty.close()
                os.unlink(self.result)
                os.unlink(go)

    def test_answer_after_keys_already_read(self):
        # Keys the program has taken in before it asks stay ahead of the
        # answer, even Shift+F3, whose bytes look like an answer.
        go = self.path("go")
        pty = self.session("until-key", "mark:seen", "await:" + go, "row", "keys:4")
        pty.send(b"ab\x1b[B\x1b[1;2R")
        wait_mark(self.result, "seen")
        pty.send(b"\x1b[9;1R")
        touch(go)
        wait_done(self.result)
        self.assertEqual(values(self.result, "row"), ["9"])
        self.assertEqual(values(self.result, "key"), [b"a", b"b", scan(80), scan(61)])

    def test_answer_from_the_terminal(self):
        # The test answers the query as a terminal would.
        pty = self.session("row", "keys:1")
        pty.wait_output(lambda out: out.endswith(b"\x1b[6n"), "the cursor query")
        pty.send(b"\x1b[5;1R")
        wait_records(self.result, "row", 1)
        pty.send(b"k")
        wait_done(self.result)
        self.assertEqual(values(self.result, "row"), ["5"])
        self.assertEqual(values(self.result, "key"), [b"k"])

    def test_no_answer(self):
        # A terminal that never answers: no row; an answer that comes too
        # late is not taken for a key.
        go = self.path("go")
        pty = self.session("row", "mark:asked", "await:" + go, "keys:1")
        wait_mark(self.result, "asked")
        pty.send(b"\x1b[1;1Rk")
        touch(go)
        wait_done(self.result)
        self.assertEqual(values(self.result, "row"), ["0"])
        self.assertEqual(values(self.result, "key"), [b"k"])

    def test_redirected_output_keeps_cursor_bytes_on_the_terminal(self):
        out_path = self.path("out")
        with open(out_path, "wb") as out:
            pty = self.session("say:abc", "row", "move:1,0", "show:1b41", "end", stdout=out)
            wait_done(self.result)
            terminal_output = pty.final_output()
        with open(out_path, "rb") as f:
            self.assertEqual(f.read(), b"abc\\x1bA\r\n")
        self.assertEqual(terminal_output, b"\x1b[6n\r")

    def test_moves(self):
        # (arguments, bytes written) in a terminal of 80 columns and 24 rows
        cases = [
            ("1,0", b"\r"), ("0,0", b""), ("5,3", b"\x1b[3;5H"), ("80,24", b"\x1b[24;80H"),
            ("81,3", b"\x1b[3d"), ("7,25", b"\x1b[7G"), ("-1,-1", b""), ("1,1", b"\x1b[1;1H"),
        ]
        steps = []
        for arguments, _ in cases:
            steps += ["move:" + arguments, "say:|"]
        pty = self.session(*steps)
        wait_done(self.result)
        self.assertEqual(pty.final_output(), b"".join(written + b"|" for _, written in cases))


@posix_only
class TerminalSettings(harness.TempDirTest):
    """The terminal's settings are the user's again on every way out."""

    def run_and_end(self, steps, end):
        result = self.path("result.txt")
        pty = PtySession(probe_command(result, "mark:ready", *steps), cwd=self.tmp)
        self.addCleanup(pty.close)
        wait_mark(result, "ready")
        during = pty.settings()
        self.assertTrue(raw_settings_in_force(during), during)
        end(pty)
        status = pty.finish()
        self.assertEqual(pty.settings(), pty.settings_before)
        os.unlink(result)
        return status

    def test_normal_end(self):
        self.assertEqual(self.run_and_end(["key"], lambda pty: pty.send(b"x")), 0)

    def test_exit_without_tear_down(self):
        self.assertEqual(self.run_and_end(["key", "exit"], lambda pty: pty.send(b"x")), 0)

    def test_signals_sent_while_waiting_for_a_key(self):
        for name, number in SIGNALS_THAT_END.items():
            with self.subTest(name):
                status = self.run_and_end(["key"], lambda pty: pty.process.send_signal(number))
                self.assertEqual(status, -number)

    def test_signals_from_the_kernel_while_waiting_for_a_key(self):
        # Sent as the kernel sends the SIGHUP of a closed terminal (si_code
        # SI_KERNEL); a pseudo-terminal's master can send only these two.
        for number in (signal.SIGINT, signal.SIGQUIT):
            with self.subTest(signal.Signals(number).name):
                status = self.run_and_end(["key"], lambda pty: pty.kernel_signal(number))
                self.assertEqual(status, -number)

    def test_abort(self):
        self.assertEqual(self.run_and_end(["key", "abort"], lambda pty: pty.send(b"x")),
                         -signal.SIGABRT)

    def test_crash(self):
        status = self.run_and_end(["key", "crash"], lambda pty: pty.send(b"x"))
        self.assertNotEqual(status, 0)

    def test_stopped_and_continued(self):
        # As a job of a job-control shell: stopped by another process, the
        # terminal is the user's; continued in the foreground, raw again.
        result = self.path("result.txt")
        pty = PtySession(foreground_job(probe_command(result, "mark:ready", "key")))
        self.addCleanup(pty.close)
        wait_mark(result, "ready")
        probe = pty.job_pid()
        self.assertTrue(raw_settings_in_force(pty.settings()))
        os.kill(probe, signal.SIGTSTP)
        wait_until(lambda: process_state(probe) == "T", "the program to stop")
        self.assertEqual(pty.settings(), pty.settings_before)
        os.kill(probe, signal.SIGCONT)
        wait_until(lambda: raw_settings_in_force(pty.settings()), "raw input again")
        pty.send(b"x")
        self.assertEqual(pty.finish(), 0)
        self.assertEqual(values(result, "key"), [b"x"])
        self.assertEqual(pty.settings(), pty.settings_before)


    def test_continued_in_the_background(self):
        # Stopped (SIGSTOP, which no handler sees), while another job took
        # the terminal and set a raw mode of its own, then continued in the
        # background: however the program ends, the other job's mode stays.
        def ends(go, probe):
            touch(go)

        def terminated(go, probe):
            os.kill(probe, signal.SIGTERM)

        def stopped_again(go, probe):
            os.kill(probe, signal.SIGTSTP)
            wait_until(lambda: process_state(probe) == "T", "the program to stop again")
            os.kill(probe, signal.SIGCONT)
            touch(go)

        # (case, how it ends, its exit status as a wait status)
        cases = [("ends", ends, 0), ("SIGTERM", terminated, signal.SIGTERM),
                 ("stopped again by SIGTSTP, continued, ends", stopped_again, 0)]
        for case, end, status in cases:
            with self.subTest(case):
                result, go, editor_file = (self.path(case[:4] + name)
                                           for name in ("-result", "-go", "-editor"))
                pty = PtySession(job_then_editor(editor_file, probe_command(
                    result, "mark:ready", "await:" + go)))
                self.addCleanup(pty.close)
                wait_mark(result, "ready")
                probe = pty.job_pid()
                self.assertTrue(raw_settings_in_force(pty.settings()))
                os.kill(probe, signal.SIGSTOP)
                editor = int(wait_until(lambda: file_text(editor_file), "the other job"))
                others = pty.settings()
                self.assertNotEqual(others, pty.settings_before)
                os.kill(probe, signal.SIGCONT)
                wait_until(lambda: process_state(probe) != "T", "the program to go on")
                end(go, probe)
                ended = wait_until(lambda: file_text(editor_file + ".ended"), "the program to end")
                self.assertEqual(int(ended), status)
                self.assertEqual(pty.settings(), others)
                os.kill(editor, signal.SIGTERM)
                pty.finish()
                pty.close()


@posix_only
class ProgramAtAClosingTerminal(harness.TempDirTest):
    """The whole program at a terminal that goes away or is signalled while
    it waits for the user: it ends through the signal, never goes on
    unattended, and gives the terminal its settings back."""

    def setUp(self):
        super().setUp()
        self.archive = self.path("a.tar")
        # The FIFO's key prompt holds the walk between the two files.
        harness.python_tar(self.archive, [("first.txt", b"1" * 600, tarfile.REGTYPE),
                                          ("fifo", b"", tarfile.FIFOTYPE),
                                          ("last.txt", b"2" * 600, tarfile.REGTYPE)])
        self.out = self.path("out")
        os.mkdir(self.out)

    def start(self, *args):
        pty = PtySession(harness.command("holvex", *args))
        self.addCleanup(pty.close)
        return pty

    def at_second_prompt(self):
        pty = self.start()
        # On row 1, a fresh console: the program asks for its two paths.
        pty.wait_output(lambda out: out.endswith(b"\x1b[6n"), "the cursor query")
        pty.send(b"\x1b[1;1R")
        pty.wait_output(lambda out: out.endswith(b" -->"), "the first prompt")
        pty.send(harness.host_path(self.archive).encode() + b"\r")
        pty.wait_output(lambda out: out.count(b" -->") == 2, "the second prompt")
        # Half an answer: the line is not complete.
        pty.send(harness.host_path(self.out).encode()[:-2])
        pty.wait_output(lambda out: out.endswith(harness.host_path(self.out).encode()[:-2]),
                        "the echo of the half answer")
        return pty, []

    def at_the_fifo(self):
        pty = self.start(harness.host_path(self.archive), harness.host_path(self.out))
        pty.wait_output(lambda out: out.endswith(b" ==press any key=="), "the FIFO's prompt")
        return pty, ["first.txt"]

    def test_the_terminal_closes(self):
        for where in (self.at_second_prompt, self.at_the_fifo):
            with self.subTest(where.__name__):
                pty, written = where()
                pty.hang_up()
                self.assertEqual(pty.finish(), -signal.SIGHUP)
                self.assertEqual(sorted(os.listdir(self.out)), written)
                pty.close()

    def test_a_signal_that_ends_the_program_by_default(self):
        pty, written = self.at_the_fifo()
        self.assertTrue(raw_settings_in_force(pty.settings()))
        pty.process.send_signal(signal.SIGUSR1)
        self.assertEqual(pty.finish(), -signal.SIGUSR1)
        self.assertEqual(pty.settings(), pty.settings_before)
        self.assertEqual(sorted(os.listdir(self.out)), written)


# --- at a terminal emulator, both platforms ----------------------------------

class AtTerminal(harness.TempDirTest):
    """The probe in a tmux pane: what the user sees, keys as tmux types them."""

    def start(self, *steps, before=""):
        """Runs the probe in a fresh 120x40 pane, after the shell text
        `before` (POSIX); waits until it is ready for keys."""
        self.result = self.path("result.txt")
        command = shell_line(probe_command(self.result, *steps))
        if before:
            command = before + "; " + command
        terminal = TmuxTerminal(command)
        self.addCleanup(terminal.close)
        return terminal

    def ready(self, terminal):
        wait_mark(self.result, "ready")
        if harness.WINDOWS:
            # Wine's console leaves the terminal's signal keys on, so Ctrl+Z
            # would stop the process instead of reaching the console as a key.
            terminal.set_terminal_option("-isig")

    def test_line_editing_on_screen(self):
        # (typed text, then Backspace and "x" typed, the line and the row seen)
        wide = [("a\u00e9\u20ac", "a\u00e9x"), ("a\u4e2d", "ax"),
                ("\u4e2da\u4e2d", "\u4e2dax"), ("\uac00\U0001f600", "\uac00x")]
        terminal = self.start("mark:ready", "lines:%d" % (2 + len(wide)))
        self.ready(terminal)
        terminal.keys("a", "b", "BSpace", "c", "Enter")
        wait_records(self.result, "line", 1)
        terminal.keys("BSpace", "BSpace", "x", "Enter")
        wait_records(self.result, "line", 2)
        # UTF-8 on both platforms; Backspace takes back a whole character,
        # and as many columns as it takes on the screen (two for a wide one).
        for count, (typed, _) in enumerate(wide, 3):
            terminal.type_text(typed)
            terminal.keys("BSpace", "x", "Enter")
            wait_records(self.result, "line", count)
        wait_done(self.result)
        rows = ["ac", "x"] + [row for _, row in wide]
        self.assertEqual(values(self.result, "line"), [row.encode() for row in rows])
        terminal.wait_screen(lambda screen: screen[:len(rows) + 1] == rows + [""], "the lines")
        wait_until(lambda: terminal.cursor() == (0, len(rows)), "the cursor below them")

    @unittest.skipUnless(harness.WINDOWS, "names are converted from a code page on Windows")
    def test_names_on_screen_converted_then_escaped(self):
        # The byte 0x81 of code page 1252 is the control U+0081, which would
        # reach the terminal raw; the escape of 0x7F would split the piece
        # "\u00e9\x7f\xe9", which is code-page text as a whole.
        names = [b"A\x81\\\x7f", "\u00e9\x7f".encode() + b"\xe9"]
        steps = [step for name in names for step in ("show:" + name.hex(), "end")]
        terminal = self.start(*steps)
        wait_done(self.result)
        rows = [harness.escaped(harness.shown(name)).decode() for name in names]
        terminal.wait_screen(lambda screen: screen[:2] == rows, "the names escaped")

    def test_ctrl_z_on_screen(self):
        terminal = self.start("mark:ready", "lines:3")
        self.ready(terminal)
        terminal.keys("x", "C-z")
        terminal.wait_screen(lambda rows: rows[0] == "x^Z", "^Z after x")
        terminal.keys("BSpace")
        terminal.wait_screen(lambda rows: rows[0] == "x", "^Z erased")
        terminal.keys("y", "C-z", "Enter")
        wait_records(self.result, "line", 1)
        terminal.wait_screen(lambda rows: rows[1] == "^Z", "^Z echoed at the next call")
        terminal.keys("Enter")
        wait_records(self.result, "line", 2)
        terminal.wait_screen(lambda rows: rows[2] == "^Z", "^Z echoed again")
        terminal.keys("BSpace", "z", "Enter")
        wait_done(self.result)
        self.assertEqual(values(self.result, "line"), [b"xy", b"", b"z"])
        terminal.wait_screen(lambda rows: rows[:4] == ["xy^Z", "^Z", "z", ""], "the lines")

    def test_long_line_ends_by_itself(self):
        terminal = self.start("mark:ready", "lines:2")
        self.ready(terminal)
        for _ in range(16):
            terminal.type_text("x" * 1024)
        terminal.keys("y", "Enter")
        wait_done(self.result)
        self.assertEqual(values(self.result, "line"), [b"x" * 16384, b"y"])

    def test_key_values(self):
        # On Wine the Esc key comes without a character, and Caps Lock (which
        # tmux cannot press) is off: the console rules make it 0 and scan code 1.
        esc = scan(1) if harness.WINDOWS else ESC
        cases = [("Escape", esc), ("F1", scan(59)), ("Up", scan(72)), ("Down", scan(80)),
                 ("Left", scan(75)), ("Right", scan(77)), ("DC", scan(83)), ("Escape", esc),
                 ("M-a", scan(0x1E)), ("BSpace", b"\b"), ("Enter", b"\r"), ("Tab", b"\t"),
                 ("C-a", b"\x01"), ("C-z", b"\x1a"), ("q", b"q")]
        terminal = self.start("mark:ready", "keys:%d" % len(cases))
        self.ready(terminal)
        for count, (name, key) in enumerate(cases, 1):
            terminal.keys(name)
            got = wait_records(self.result, "key", count)
            self.assertEqual(got[-1], key, name)
            self.assertEqual(len(got), count, "one key for %s" % name)

    def test_waiting_and_flushing(self):
        terminal = self.start("mark:ready", "waiting", "until-key", "waiting", "readkey",
                              "waiting", "mark:polled", "until-key", "key", "mark:kept",
                              "until-key", "flush", "key")
        self.ready(terminal)
        wait_records(self.result, "waiting", 1)
        terminal.keys("q")
        wait_mark(self.result, "polled")
        terminal.keys("r")
        wait_mark(self.result, "kept")
        terminal.keys("s")
        wait_until(lambda: ("flushed", "") in records(self.result), "the flush")
        terminal.keys("t")
        wait_done(self.result)
        self.assertEqual(values(self.result, "waiting"), ["0", "-1", "-1", "0", "-1", "-1"])
        self.assertEqual(values(self.result, "readkey"), [b"q"])
        self.assertEqual(values(self.result, "key"), [b"r", b"t"])

    def test_taking_keys_leaves_the_others_waiting(self):
        # Ctrl+C and Esc taken as during a copy, the other keys kept in order.
        # Wine's console gives an Esc its character when it comes twice, and
        # it never passes a Ctrl+C typed at its terminal on as a key.
        wine = harness.WINDOWS
        terminal = self.start("mark:ready", "take:031b,%d" % (1 if wine else 2), "keys:4",
                              "waiting")
        self.ready(terminal)
        terminal.keys("a", "F1", "b", *([] if wine else ["C-c"]), "c",
                      *(["Escape", "Escape"] if wine else ["Escape"]))
        wait_done(self.result)
        self.assertEqual(values(self.result, "taken"), [b"\x1b" if wine else b"\x03\x1b"])
        self.assertEqual(values(self.result, "key"), [b"a", scan(59), b"b", b"c"])
        self.assertEqual(values(self.result, "waiting"), ["0"])

    def test_cursor_row(self):
        terminal = self.start("row", "say:one", "end", "say:two", "end", "say:three", "end",
                              "row", "say:four", "row")
        wait_done(self.result)
        self.assertEqual(values(self.result, "row"), ["1", "4", "4"])
        terminal.wait_screen(lambda rows: rows[:4] == ["one", "two", "three", "four"], "output")

    @unittest.skipIf(harness.WINDOWS, "Wine's console keeps a screen buffer of its own that "
                                      "starts at row 1 whatever the terminal shows")
    def test_cursor_row_after_shell_output(self):
        cases = [("printf 'a\\nb\\nc\\n'", "4"), ("printf 'a\\nb\\nc\\n'; printf '\\033[H\\033[2J'", "1"),
                 ("printf '\\n%.0s' $(seq 50)", "40")]
        for before, row in cases:
            with self.subTest(before):
                terminal = self.start("row", before=before)
                wait_done(self.result)
                self.assertEqual(values(self.result, "row"), [row])
                terminal.close()
                os.unlink(self.result)

    def test_move_cursor(self):
        # Out of range is beyond any screen buffer: the column or row is kept.
        terminal = self.start("say:hello", "move:1,0", "say:J", "end", "say:ab", "move:0,0",
                              "say:c", "move:5,4", "say:X", "move:3,0", "say:Y",
                              "move:32767,2", "say:Z", "move:1,32767", "say:W")
        wait_done(self.result)
        terminal.wait_screen(lambda rows: rows[:5] == ["Jello", "WbcZ", "", "  Y X", ""],
                             "the text where the moves put it")


if __name__ == "__main__":
    harness.main()
