"""End-to-end tests of files made on other threads while the walk goes on:
whatever a writer meets, the lines stay in archive order (each member's
ERROR lines right after its own line), a name written twice keeps the
later member's bytes, the keys stop the run with every started member said,
and a slow reader of the lines holds the run back to a bounded window."""

import fcntl
import os
import subprocess
import tarfile
import time

from console_harness import PtySession, wait_until
from extraction_harness import cannot_file, file_line, member_data, tree, walk_lines
from harness import (BANNER, CRLF, ENV, WINDOWS, TempDirTest, command, fault_env, host_path, lines,
                     main, make_tree, python_tar)


def small_members(count, prefix="f", seed=0):
    """`count` small files in directories of 50."""
    return [("%s%03d/%s%05d.bin" % (prefix, i // 50, prefix, i),
             member_data(100 + i % 700, seed=seed + i), tarfile.REGTYPE) for i in range(count)]


class WritersKeepTheOrder(TempDirTest):

    def test_what_a_writer_meets(self):
        # (case, what stands in the output directory before, the fault
        # library's settings, the member that fails and its ERROR line). The
        # failing member sits among hundreds of others that go on.
        members = small_members(400)
        victim = members[150][0]
        cases = [
            ("a directory at a file's name", {victim + "/": None}, None, cannot_file("directory")),
        ]
        if not WINDOWS:
            cases.append(("the disk full for one file", {}, {"write": victim.rpartition("/")[2]},
                          b"ERROR: Incomplete file (0 of %d bytes written): no space left on the "
                          b"disk" % len(members[150][1])))
        archive = self.path("many.tar")
        python_tar(archive, members)
        for case, present, faults, error in cases:
            with self.subTest(case):
                out = self.path(case.replace(" ", "-").replace("'", ""))
                os.mkdir(out)
                make_tree(out, present)
                got = walk_lines(self, archive, out, env=fault_env(**faults) if faults else None)
                files = [line for line in got if not line.startswith(b"Create directory: ")]
                expected = []
                for name, data, _ in members:
                    expected.append(file_line(out, name, len(data)))
                    if name == victim:
                        expected.append(error)
                self.assertEqual(files, expected)
                made = tree(out)
                for name, data, _ in members:
                    if name != victim:
                        self.assertEqual(made[name.encode()], data, name)

    def test_a_name_written_again_keeps_the_later_bytes(self):
        # The same name right after itself, and again later past many others
        # still being made, and a file then a directory of that name: the
        # archive's order decides, as with one thread.
        first, second, third = (member_data(3000, seed=s) for s in (1, 2, 3))
        members = ([("same.bin", first, tarfile.REGTYPE), ("same.bin", second, tarfile.REGTYPE)] +
                   small_members(200) + [("same.bin", third, tarfile.REGTYPE),
                                         ("f000", member_data(10, seed=4), tarfile.REGTYPE)])
        archive = self.path("again.tar")
        python_tar(archive, members)
        out = self.path("out")
        os.mkdir(out)
        got = walk_lines(self, archive, out)
        self.assertEqual(got[-1], cannot_file("directory"))
        made = tree(out)
        self.assertEqual(made[b"same.bin"], third)
        for name, data, _ in members[2:-2]:
            self.assertEqual(made[name.encode()], data)

    def test_a_slow_reader_of_the_lines_holds_the_run_back(self):
        # 10,000 members, the lines read through a pipe of one page, a line
        # a millisecond at first: the files made ahead of the lines read stay
        # within the window (64 members) and what the pipe holds. Then the
        # rest is read at once and the run finishes with every line.
        if WINDOWS:
            self.skipTest("the pipe's size is set with fcntl (POSIX)")
        members = small_members(10000, seed=100)
        archive = self.path("slow.tar")
        python_tar(archive, members)
        out = self.path("out")
        os.mkdir(out)
        reader, writer = os.pipe()
        fcntl_set_pipe_size(writer, 4096)
        holvex = subprocess.Popen(command("holvex", host_path(archive), host_path(out)),
                                  stdin=subprocess.DEVNULL, stdout=writer, env=ENV)
        os.close(writer)
        received = bytearray()
        ahead = 0
        with os.fdopen(reader, "rb", buffering=0) as pipe:
            for _ in range(300):
                received += pipe.read(80)
                time.sleep(0.001)
            made = sum(len(files) for _, _, files in os.walk(out))
            said = received.count(b" bytes)" + CRLF)
            ahead = made - said
            while True:
                piece = pipe.read(1 << 16)
                if not piece:
                    break
                received += piece
        self.assertEqual(holvex.wait(timeout=120), 0)
        # The window, and the lines a page of pipe holds (at least 40 bytes a line).
        self.assertLessEqual(ahead, 64 + 4096 // 40 + 1, "files made ahead of their lines")
        got = [line for line in lines(bytes(received))[len(BANNER):]
               if not line.startswith(b"Create directory: ")]
        self.assertEqual(got, [file_line(out, name, len(data)) for name, data, _ in members])


def fcntl_set_pipe_size(fd, size):
    fcntl.fcntl(fd, 1031, size)  # F_SETPIPE_SZ


class KeysStopTheWriters(TempDirTest):

    def test_esc_and_ctrl_c_during_many_small_files(self):
        # Typed once the first lines show: every member whose file was made
        # has its line, in archive order with none missing, then "Aborted".
        if WINDOWS:
            self.skipTest("typed at a pseudo-terminal (POSIX); the Windows keys are tested "
                          "at a long copy")
        members = small_members(20000, seed=300)
        archive = self.path("keys.tar")
        python_tar(archive, members)
        for keys in ([b"\x1b", b"\x1b", b"\x1b"], [b"\x03"]):
            with self.subTest(keys=keys):
                out = self.path("out-%d" % len(keys))
                os.mkdir(out)
                output = self.path("lines-%d.txt" % len(keys))
                with open(output, "wb") as lines_file:
                    session = PtySession(command("holvex", host_path(archive), host_path(out)),
                                         stdout=lines_file)
                    try:
                        wait_until(lambda: os.path.getsize(output) > 20000, "the first lines")
                        for key in keys:
                            session.send(key)
                        self.assertEqual(session.finish(), 1)
                    finally:
                        session.close()
                with open(output, "rb") as f:
                    got = lines(f.read())[len(BANNER):]
                self.assertEqual(got[-1], b"Aborted")
                said = [line for line in got[:-1] if not line.startswith(b"Create directory: ")]
                expected = [file_line(out, name, len(data)) for name, data, _ in members]
                self.assertEqual(said, expected[:len(said)])
                self.assertLess(len(said), len(members))
                made = tree(out)
                self.assertEqual(sorted(name for name, data in made.items() if data != "dir"),
                                 sorted(name.encode() for name, _, _ in members[:len(said)]))


if __name__ == "__main__":
    main()
