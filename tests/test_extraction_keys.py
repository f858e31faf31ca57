"""End-to-end tests of the Esc abort: holvex runs at a real terminal (a
pseudo-terminal on POSIX; Wine's console inside tmux for the Windows build)
and the keys are typed while it waits at a FIFO member's key prompt. That
wait is the gate that makes the tests independent of speed: the keys typed
there are all pending before the walk goes on; the wait takes the first and
the walk polls the rest, one per round; the stop keys among them (Esc,
Ctrl+C, Ctrl+\\) count at the wait itself.

A terminal sends Esc and a following key as one sequence (Esc then "k" is
Alt+K, Esc then a cursor key's sequence is Alt with that key), so in one
burst an Esc is only ever followed by another Esc or by nothing; a key that
must come between two Esc presses is typed at a later gate."""

import os
import re
import shlex
import tarfile
import time

from console_harness import TmuxTerminal, wine_key_bytes
from extraction_harness import member_data, out_path, tree
from harness import CRLF, WINDOWS, TempDirTest, command, host_path, main, python_tar

ESC = b"\x1b"
CTRL_C = b"\x03"
CTRL_BACKSLASH = b"\x1c"
F1 = b"\x1bOP"
F5 = b"\x1b[15~"
F12 = b"\x1b[24~"
UP = b"\x1b[A"
PAGE_DOWN = b"\x1b[6~"
PROMPT = b" ==press any key=="

# The archive: two FIFOs (a type that is not extracted), each a gate, with
# files between them. The walk's rounds: round 0 reads gate0, round n reads
# member n.
NAMES = ["gate0", "f1", "f2", "f3", "gate4", "f5", "f6", "f7", "f8"]
FILES = [name for name in NAMES if name.startswith("f")]

# (case, keys typed at the gate of gate0, keys typed at the gate of gate4
# (None: that gate is never reached), files written, aborted). The keys of
# one gate are typed as one burst.
CASES = [
    # The wait takes "x"; rounds 1 to 4 take "k", Esc, Esc, Esc: the third
    # Esc aborts round 4 before it reads gate4.
    ("another key then three Esc", [b"x", b"k", ESC, ESC, ESC], None, ["f1", "f2", "f3"], True),
    # Esc, another key, Esc and Esc, the count kept across the rounds:
    # round 1 takes an Esc; the gate4 wait takes "y", round 5 "k", rounds 6
    # and 7 the second and third Esc.
    ("Esc, another key, Esc, Esc", [b"x", ESC], [b"y", b"k", ESC, ESC],
     ["f1", "f2", "f3", "f5", "f6"], True),
    # An Esc at a wait counts, with those typed along with it: three stop
    # the run there.
    ("three Esc at a wait", [ESC, ESC, ESC], None, [], True),
    # One ends the wait as any key does and counts: the sym4 wait takes the
    # second and the third.
    ("an Esc at each wait", [ESC], [ESC, ESC], ["f1", "f2", "f3"], True),
    # Ctrl+C and Ctrl+\ stop the run at a wait, Ctrl+\ as Ctrl+C does.
    ("Ctrl+C at a wait", [CTRL_C], None, [], True),
    ("Esc, then Ctrl+\\ at a wait", [b"x", ESC], [CTRL_BACKSLASH], ["f1", "f2", "f3"], True),
    # Function and cursor keys, whose sequences begin with the Esc byte,
    # never count: only the two plain Esc presses do.
    ("function and cursor keys", [b"x", F1, F12, ESC, ESC], [UP, PAGE_DOWN, F1, F5], FILES, False),
    # Ctrl+C, a key and not a signal, counts as three Esc presses: it adds
    # to an Esc taken before, in round 1; round 5 aborts.
    ("Esc, then Ctrl+C", [b"x", ESC], [b"y", CTRL_C], ["f1", "f2", "f3"], True),
]


class EscAbort(TempDirTest):

    def setUp(self):
        super().setUp()
        self.archive = self.path("keys.tar")
        self.data = {name: member_data(700 + i, seed=70 + i) for i, name in enumerate(NAMES)}
        python_tar(self.archive, [
            (name, b"", tarfile.FIFOTYPE) if name.startswith("gate")
            else (name, self.data[name], tarfile.REGTYPE) for name in NAMES])

    def check(self, out, output, written, aborted):
        """The walk's output (terminal bytes) and the files on disk."""
        shown = [name for name in FILES if out_path(out, name) + b" (" in output]
        self.assertEqual(shown, written)
        self.assertEqual(tree(out), {name.encode(): self.data[name] for name in written})
        if aborted:
            self.assertTrue(output.rstrip(b"\r\n ").endswith(b"Aborted"), output[-300:])
        else:
            self.assertNotIn(b"Aborted", output)

    def test_esc_presses(self):
        runner = self.run_posix if not WINDOWS else self.run_wine
        for case, first, second, written, aborted in CASES:
            # Wine's console never passes a Ctrl+C typed at its terminal on
            # as a key (it drops it, or the terminal makes it a signal).
            if WINDOWS and {CTRL_C, CTRL_BACKSLASH} & set(first + (second or [])):
                continue
            with self.subTest(case=case):
                out = self.path("out-" + case.replace(" ", "-").replace(",", ""))
                os.mkdir(out)
                output, code = runner(out, [first, second])
                self.check(out, output, written, aborted)
                self.assertEqual(code, 1 if aborted else 0)

    # --- POSIX: a pseudo-terminal ------------------------------------------

    def run_posix(self, out, bursts):
        import pexpect
        argv = command("holvex", host_path(self.archive), host_path(out))
        child = pexpect.spawn(argv[0], argv[1:], timeout=60, dimensions=(40, 200))
        self.addCleanup(child.close, True)
        seen = b""
        for keys in bursts:
            if keys is None:
                break
            index = child.expect([PROMPT, pexpect.EOF])
            seen += child.before + (child.after if index == 0 else b"")
            self.assertEqual(index, 0, "the walk ended before a key prompt: %r" % seen[-400:])
            child.send(b"".join(keys))
        child.expect(pexpect.EOF)
        seen += child.before
        child.close()
        return seen, child.exitstatus

    # --- Windows: Wine's console inside tmux -------------------------------

    def run_wine(self, out, bursts):
        argv = command("holvex", host_path(self.archive), host_path(out))
        terminal = TmuxTerminal(shlex.join(argv) + "; code=$?; echo; echo HOLVEX-EXIT=$code",
                                width=200, height=60)
        self.addCleanup(terminal.close)
        screen = terminal.history

        def wait_for(found, what):
            deadline = time.monotonic() + 120  # a hang guard only
            while time.monotonic() < deadline:
                shown = screen()
                if found(shown):
                    return shown
                time.sleep(0.05)
            self.fail("no %s on the screen:\n%s" % (what, screen().decode(errors="replace")))

        def type_keys(keys):
            terminal.type_bytes(wine_key_bytes(keys))

        for gate, keys in zip(("gate0", "gate4"), bursts):
            if keys is None:
                break
            header = gate.encode() + b" (0 bytes)"
            wait_for(lambda shown: header in shown and
                     PROMPT in shown[shown.index(header):] or b"HOLVEX-EXIT=" in shown,
                     "key prompt of " + gate)
            self.assertNotIn(b"HOLVEX-EXIT=", screen(), "the run ended before " + gate)
            type_keys(keys)
        shown = wait_for(lambda shown: b"HOLVEX-EXIT=" in shown or b"Press a key to exit" in shown,
                         "end of the run")
        if b"HOLVEX-EXIT=" not in shown:
            # A console of its own: the run ends with a pause for a key.
            type_keys([b"q"])
            shown = wait_for(lambda shown: b"HOLVEX-EXIT=" in shown, "end of the run")
        code = int(re.search(rb"HOLVEX-EXIT=(\d+)", shown).group(1))
        return shown[:shown.index(b"HOLVEX-EXIT=")].rstrip(b"\n ").replace(b"\n", CRLF) + CRLF, code


if __name__ == "__main__":
    main()
