"""The console services with redirected standard input and output: lines
taken from files and pipes, output written to files byte for byte, and the
key and cursor services doing nothing where there is no terminal."""

import os
import subprocess

import harness
from console_harness import HANG_GUARD, probe_command, records, touch, values, wait_done

END = b"\x1a"
LONG = b"x" * 16384

# (name, bytes of standard input, the lines that read_line returns in turn)
LINE_CASES = [
    ("two lines without a final line end", b"abc\r\ndef", [b"abc", b"def", END, END]),
    ("one line with its line end", b"abc\r\n", [b"abc", END, END]),
    ("empty input", b"", [b"", END, END]),
    ("LF alone ends a line", b"abc\ndef\n", [b"abc", b"def", END]),
    ("CR dropped wherever it is", b"a\rb\r\r\nc\r", [b"ab", b"c", END]),
    ("byte 26 in mid-line ends the input for good", b"ab\x1acd\r\nef\r\n", [b"ab", END, END]),
    ("byte 26 on a line of its own", b"ab\r\n\x1a\r\ncd\r\n", [b"ab", b"", END]),
    ("byte 26 first in a refill after a line", b"a" * 126 + b"\r\n\x1azz\r\n",
     [b"a" * 126, END, END]),
    ("a line over several refills", b"y" * 300 + b"\r\nz", [b"y" * 300, b"z", END]),
    ("16,383 bytes are one line", b"x" * 16383 + b"\r\n", [b"x" * 16383, END]),
    ("16,384 bytes end a line by themselves", LONG + b"\r\n", [LONG, b"", END]),
    ("longer lines are cut every 16,384 bytes", LONG + LONG + b"ab\r\ncd",
     [LONG, LONG, b"ab", b"cd", END]),
    ("every byte but CR, LF and 26 is kept", bytes(range(1, 10)) + b"\x0b\x0c" + bytes(range(14, 26))
     + bytes(range(27, 256)) + b"\x00\r\n",
     [bytes(range(1, 10)) + b"\x0b\x0c" + bytes(range(14, 26)) + bytes(range(27, 256)) + b"\x00",
      END]),
]


class RedirectedInput(harness.TempDirTest):

    def run_probe(self, stdin, *steps):
        """Runs the probe with this standard input and its output in a file;
        returns its records, its output and its error output."""
        result = self.path("result.txt")
        if os.path.exists(result):
            os.unlink(result)
        with open(self.path("out"), "wb") as out, open(self.path("err"), "wb") as err:
            subprocess.run(probe_command(result, *steps), stdin=stdin, stdout=out, stderr=err,
                           env=harness.ENV, timeout=HANG_GUARD, start_new_session=True,
                           check=True)
        with open(self.path("out"), "rb") as f:
            output = f.read()
        with open(self.path("err"), "rb") as f:
            errors = f.read()
        return records(result), output, errors

    def test_lines_from_a_file(self):
        for name, data, expected in LINE_CASES:
            with self.subTest(name):
                with open(self.path("in"), "wb") as f:
                    f.write(data)
                with open(self.path("in"), "rb") as stdin:
                    got, output, _ = self.run_probe(stdin, "lines:%d" % len(expected))
                self.assertEqual([v for k, v in got if k == "line"], expected)
                self.assertEqual(output, b"", "nothing is echoed")

    def test_lines_from_a_pipe_that_holds_all_input(self):
        # The whole input is in the pipe and its writer has closed it before
        # the program starts, so no refill ever finds the pipe empty but open.
        for name, data, expected in LINE_CASES:
            if len(data) > 60000:
                continue
            with self.subTest(name):
                read_end, write_end = os.pipe()
                os.write(write_end, data)
                os.close(write_end)
                try:
                    got, _, _ = self.run_probe(read_end, "lines:%d" % len(expected))
                finally:
                    os.close(read_end)
                self.assertEqual([v for k, v in got if k == "line"], expected)


class PipeHeldOpen(harness.TempDirTest):
    """A pipe whose writer keeps it open: a refill that finds nothing in it at
    that moment counts as the end of input, so read_line never waits for the
    writer."""

    def lines_through_open_pipe(self, data, count):
        feeder = self.path("feeder.txt")
        reader = self.path("reader.txt")
        go = self.path("go")
        # The feeder starts the reader itself (under Wine, as a Windows program).
        reader_program = harness.program("console_probe")
        if harness.WINDOWS:
            reader_program = harness.host_path(reader_program)
        argv = harness.command("console_pipe_probe", harness.host_path(feeder),
                               harness.host_path(go), data.hex(), reader_program,
                               harness.host_path(reader), "lines:%d" % count)
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=harness.ENV,
                                   start_new_session=True)
        try:
            # The reader finishes while the pipe is still open.
            wait_done(reader)
            self.assertNotIn(("done", ""), records(feeder))
        finally:
            touch(go)
            process.wait(timeout=HANG_GUARD)
        self.assertIn(("done", ""), records(feeder))
        return values(reader, "line")

    def test_open_pipe(self):
        cases = [
            ("a line, then nothing for now", b"abc\r\n", 3, [b"abc", END, END]),
            ("nothing at all for now", b"", 2, [b"", END]),
            ("a line without its end", b"abc\r\nde", 3, [b"abc", b"de", END]),
            ("more than one refill", b"q" * 200 + b"\r\n" + b"r" * 100, 3,
             [b"q" * 200, b"r" * 100, END]),
        ]
        for name, data, count, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.lines_through_open_pipe(data, count), expected)
                for name in ("feeder.txt", "reader.txt", "go"):
                    os.unlink(self.path(name))


class RedirectedOutput(harness.TempDirTest):

    def test_output_file_holds_exactly_the_texts_and_line_ends(self):
        with open(self.path("in"), "wb") as f:
            f.write(b"answer\r\n")
        result = self.path("result.txt")
        steps = ["say:Name?", "end", "say:prompt: ", "line", "say:next", "end", "say:",
                 "row", "move:1,0", "move:3,3", "move:0,0", "say:a b", "end", "end",
                 "show:0a01411b7f80c29b", "end", "show:41815c7f", "end"]
        with open(self.path("in"), "rb") as stdin, open(self.path("out"), "wb") as out, \
                open(self.path("err"), "wb") as err:
            subprocess.run(probe_command(result, *steps), stdin=stdin, stdout=out, stderr=err,
                           env=harness.ENV, timeout=HANG_GUARD, start_new_session=True,
                           check=True)
        # On Windows redirected output is UTF-8: a name is converted first
        # (the byte 0x80, no UTF-8, is text of the code page, "\u20ac" in
        # 1252, and 0x81 the control U+0081), then escaped.
        with open(self.path("out"), "rb") as f:
            self.assertEqual(f.read(), b"Name?\r\nprompt: next\r\na b\r\n\r\n" +
                             harness.escaped(harness.shown(b"\x0a\x01A\x1b\x7f\x80\xc2\x9b")) +
                             b"\r\n" + harness.escaped(harness.shown(b"A\x81\\\x7f")) + b"\r\n")
        with open(self.path("err"), "rb") as f:
            self.assertEqual(f.read(), b"", "nothing goes to standard error")
        self.assertEqual(values(result, "line"), [b"answer"])

    def test_output_to_a_pipe(self):
        result = self.path("result.txt")
        completed = subprocess.run(probe_command(result, "say:x", "end", "say:", "end", "say:y"),
                                   stdin=subprocess.DEVNULL, capture_output=True,
                                   env=harness.ENV, timeout=HANG_GUARD, start_new_session=True)
        self.assertEqual(completed.stdout, b"x\r\n\r\ny")
        self.assertEqual(completed.stderr, b"")


class NoTerminal(harness.TempDirTest):
    """Without any terminal (no controlling terminal, all streams redirected)
    the key services find no key and never wait, and there is no cursor."""

    def test_key_and_cursor_services(self):
        result = self.path("result.txt")
        steps = ["waiting", "readkey", "key", "flush", "key", "row", "move:1,0"]
        completed = subprocess.run(probe_command(result, *steps), stdin=subprocess.DEVNULL,
                                   capture_output=True, env=harness.ENV, timeout=HANG_GUARD,
                                   start_new_session=True)
        self.assertEqual(completed.returncode, 0)
        self.assertEqual(values(result, "waiting"), ["0"])
        self.assertEqual(values(result, "readkey"), [b""])
        self.assertEqual(values(result, "key"), [b"", b""])
        self.assertEqual(values(result, "row"), ["0"])
        self.assertEqual(completed.stdout, b"")
        self.assertEqual(completed.stderr, b"")


if __name__ == "__main__":
    harness.main()
