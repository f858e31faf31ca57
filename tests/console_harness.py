"""Helpers of the console tests: the console probe's result records, a real
pseudo-terminal driven byte for byte (POSIX), and a real terminal emulator
(tmux, on its own server socket) whose screen the tests read and whose keys
they type, for the native build and for the Windows build under Wine."""

import fcntl
import itertools
import os
import resource
import select
import shlex
import signal
import struct
import subprocess
import tempfile
import termios
import threading
import time

import harness

# ioctl that signals a pseudo-terminal's foreground group: _IOW('T', 0x36, int).
_TIOCSIG = 0x40045436

# Hang guard for every wait in these tests: a test never relies on it, it
# only stops a broken run from hanging for ever.
HANG_GUARD = 120.0


def wait_until(condition, what, timeout=HANG_GUARD):
    """Polls `condition` until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.01)


# --- the probe's records --------------------------------------------------

def probe_command(result_file, *steps):
    """The argv that runs the console probe with these steps."""
    return harness.command("console_probe", harness.host_path(result_file), *steps)


def records(result_file):
    """The probe's records so far: (name, value) pairs, texts decoded."""
    try:
        with open(result_file, "rb") as f:
            text = f.read().decode("ascii")
    except FileNotFoundError:
        return []
    out = []
    for line in text.splitlines():
        name, _, value = line.partition(" ")
        if name in ("line", "key", "readkey", "taken"):
            out.append((name, bytes.fromhex(value)))
        else:
            out.append((name, value))
    return out


def values(result_file, name):
    """The values of all records of one name."""
    return [value for kind, value in records(result_file) if kind == name]


def wait_records(result_file, name, count):
    """Waits for `count` records of one name and returns their values."""
    return wait_until(lambda: len(values(result_file, name)) >= count and values(result_file, name),
                      "%d %r records in %s: %r" % (count, name, result_file, records(result_file)))


def wait_mark(result_file, mark):
    wait_until(lambda: ("mark", mark) in records(result_file),
               "mark %r in %s: %r" % (mark, result_file, records(result_file)))


def wait_done(result_file):
    wait_until(lambda: ("done", "") in records(result_file),
               "the probe to finish: %r" % (records(result_file),))


def touch(path):
    with open(path, "wb"):
        pass


# --- a pseudo-terminal of the test's own (POSIX) --------------------------

class PtySession:
    """Runs a program with a new pseudo-terminal as its controlling terminal
    and standard streams (unless redirected). Everything the program writes
    to the terminal is collected; the test types by writing bytes; the
    terminal's settings can be read at any time."""

    def __init__(self, argv, rows=24, columns=80, stdout=None, cwd=None, held=False):
        """With `held`, the terminal's output is not read until
        release_output: once its buffer is full, the program's writes wait
        (or fail with EAGAIN on a terminal left non-blocking)."""
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        self.settings_before = termios.tcgetattr(self.slave)
        self._output = bytearray()
        self._changed = threading.Condition()
        self._hanging_up = False
        self._reading = threading.Event()
        if not held:
            self._reading.set()

        def become_session_leader():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

        self.process = subprocess.Popen(
            argv, stdin=self.slave, stdout=stdout if stdout is not None else self.slave,
            stderr=self.slave, preexec_fn=become_session_leader, close_fds=True,
            env=harness.ENV, cwd=cwd)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        while not self._hanging_up:
            if not self._reading.wait(0.05):
                continue
            try:
                # Woken now and then, so that hang_up can close the master.
                if not select.select([self.master], [], [], 0.05)[0]:
                    continue
                data = os.read(self.master, 65536)
            except OSError:
                return
            if not data:
                return
            with self._changed:
                self._output += data
                self._changed.notify_all()

    def release_output(self):
        self._reading.set()

    def output(self):
        with self._changed:
            return bytes(self._output)

    def wait_output(self, condition, what):
        """Waits until condition(output so far) holds; returns the output."""
        return wait_until(lambda: condition(self.output()) and self.output(),
                          "%s; terminal output so far: %r" % (what, self.output()))

    def send(self, data):
        while data:
            written = os.write(self.master, data)
            data = data[written:]

    def settings(self):
        return termios.tcgetattr(self.slave)

    def hang_up(self):
        """Closes the master side, as when a terminal window is closed: the
        kernel hangs the terminal up and sends SIGHUP."""
        self._hanging_up = True
        self._reader.join(HANG_GUARD)
        os.close(self.master)
        self.master = None

    def kernel_signal(self, number):
        """Has the kernel send SIGINT or SIGQUIT to the terminal's foreground
        process group (TIOCSIG on the master: si_code SI_KERNEL, as for the
        SIGHUP of a closed terminal), the terminal staying open."""
        fcntl.ioctl(self.master, _TIOCSIG, number)

    def job_pid(self):
        """The program run by foreground_job: the one child of the session leader."""
        path = "/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)
        children = wait_until(lambda: open(path).read().split(), "the job to start")
        return int(children[0])

    def finish(self):
        """Waits for the program to end; returns its exit status."""
        return self.process.wait(timeout=HANG_GUARD)

    def final_output(self):
        """Everything the program wrote to the terminal, once it has ended:
        the test lets go of the terminal, so reading stops at its end."""
        self.finish()
        self._let_go()
        return self.output()

    def _let_go(self):
        self._reading.set()
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None
        self._reader.join(HANG_GUARD)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=HANG_GUARD)
        self._let_go()
        if self.master is not None:
            os.close(self.master)
            self.master = None


def process_state(pid):
    """A process's scheduling state letter (R, S, T, Z, ...)."""
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


# Runs a program as a job-control shell runs a job: in a process group of its
# own, in the terminal's foreground, with the session leader waiting for it
# (through stops) and ending with its exit status.
_FOREGROUND_JOB = """
import os, signal, sys
child = os.fork()
if child == 0:
    os.setpgid(0, 0)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    os.tcsetpgrp(0, os.getpgrp())
    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
    os.execv(sys.argv[1], sys.argv[1:])
while True:
    _, status = os.waitpid(child, os.WUNTRACED)
    if os.WIFEXITED(status):
        sys.exit(os.WEXITSTATUS(status))
    if os.WIFSIGNALED(status):
        sys.exit(128 + os.WTERMSIG(status))
"""


def foreground_job(argv):
    return ["/usr/bin/python3", "-c", _FOREGROUND_JOB, *argv]


# As _FOREGROUND_JOB, and once the job is stopped, a second job (an editor, say)
# takes the terminal's foreground and puts it in a raw mode of its own; it
# writes its process id to a file (the first argument) and runs until it is
# ended. The first job may then be continued in the background; the session
# leader ends with its exit status once both have ended.
_EDITOR_AFTER_STOP = """
import os, signal, sys, tty
def take_terminal():
    os.setpgid(0, 0)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    os.tcsetpgrp(0, os.getpgrp())
    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
child = os.fork()
if child == 0:
    take_terminal()
    os.execv(sys.argv[2], sys.argv[2:])
editor = None
while True:
    _, status = os.waitpid(child, os.WUNTRACED)
    if os.WIFSTOPPED(status) and editor is None:
        editor = os.fork()
        if editor == 0:
            take_terminal()
            tty.setraw(0)
            with open(sys.argv[1] + ".new", "w") as f:
                f.write(str(os.getpid()))
            os.rename(sys.argv[1] + ".new", sys.argv[1])
            while True:
                signal.pause()
    if os.WIFEXITED(status) or os.WIFSIGNALED(status):
        break
with open(sys.argv[1] + ".ended", "w") as f:
    f.write(str(status))
if editor is not None:
    os.waitpid(editor, 0)
sys.exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))
"""


def job_then_editor(editor_file, argv):
    return ["/usr/bin/python3", "-c", _EDITOR_AFTER_STOP, editor_file, *argv]


def raw_settings_in_force(settings):
    """True when terminal settings are the console's raw input: every key as
    its byte, no echo, output bytes unchanged."""
    iflag, oflag, _cflag, lflag = settings[:4]
    return (not lflag & (termios.ICANON | termios.ECHO | termios.ISIG | termios.IEXTEN)
            and not iflag & (termios.ICRNL | termios.IXON | termios.INLCR | termios.IGNCR)
            and not oflag & (termios.ONLCR | termios.OCRNL))


# --- a terminal emulator (tmux) -------------------------------------------

_sockets = itertools.count()


class TmuxTerminal:
    """A detached tmux server of the test's own (its own socket, so no user's
    tmux is touched) running one shell command in a pane of the given size.
    The pane is kept open after the command, so its last screen stays as the
    command left it, until the server is closed."""

    def __init__(self, shell_command, width=120, height=40):
        self.socket = "holvex-console-%d-%d" % (os.getpid(), next(_sockets))
        fd, self._config = tempfile.mkstemp(prefix="holvex-tmux-", suffix=".conf")
        with os.fdopen(fd, "w") as f:
            f.write("set -g status off\n")
        self.env = dict(harness.ENV)
        self.env.pop("TMUX", None)
        self._tmux("new-session", "-d", "-s", "probe", "-x", str(width), "-y", str(height),
                   shell_command + "; exec sleep 100000")

    def _tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, "-f", self._config, *args],
                              check=True, capture_output=True, env=self.env,
                              timeout=HANG_GUARD).stdout

    def keys(self, *names):
        """Types keys by their tmux names (Escape, F1, Up, BSpace, C-z, ...)."""
        self._tmux("send-keys", "-t", "probe", *names)

    def type_text(self, text):
        """Types the characters of a text."""
        self._tmux("send-keys", "-t", "probe", "-l", text)

    def type_bytes(self, data):
        """Types these bytes as they are, in one burst."""
        self._tmux("send-keys", "-t", "probe", "-H", *("%02x" % b for b in data))

    def history(self):
        """Everything the pane has shown, its wrapped rows joined (bytes)."""
        return self._tmux("capture-pane", "-p", "-J", "-S", "-", "-t", "probe")

    def screen(self):
        """The pane's rows, trailing blanks removed."""
        text = self._tmux("capture-pane", "-p", "-t", "probe").decode("utf-8", "replace")
        return [row.rstrip() for row in text.split("\n")]

    def cursor(self):
        """The cursor's (column, row), counted from 0."""
        x, y = self._tmux("display-message", "-p", "-t", "probe",
                          "#{cursor_x} #{cursor_y}").decode().split()
        return int(x), int(y)

    def pane_tty(self):
        return self._tmux("display-message", "-p", "-t", "probe", "#{pane_tty}").decode().strip()

    def set_terminal_option(self, option):
        """Changes a setting of the pane's terminal, as stty names it."""
        fd = os.open(self.pane_tty(), os.O_RDWR | os.O_NOCTTY)
        try:
            subprocess.run(["stty", option], stdin=fd, check=True, timeout=HANG_GUARD)
        finally:
            os.close(fd)

    def wait_screen(self, condition, what):
        """Waits until condition(screen rows) holds; returns the rows."""
        found = []

        def check():
            rows = self.screen()
            found[:] = rows
            return condition(rows) and rows

        try:
            return wait_until(check, what)
        except AssertionError:
            raise AssertionError("%s; screen:\n%s" % (what, "\n".join(found).rstrip()))

    def close(self):
        if self._config is None:
            return
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True,
                       env=self.env, timeout=HANG_GUARD)
        os.unlink(self._config)
        self._config = None


def wine_key_bytes(keys):
    """The bytes that type these key presses (each the bytes a terminal
    sends) into Wine's console at a terminal. It reports an Esc that arrives
    on its own without its character (not the Esc key by the key rules), and
    Esc followed by Esc as one Esc with its character 27 (as Alt+Esc): there
    an Esc press is typed as two Esc bytes."""
    return b"".join(b"\x1b\x1b" if key == b"\x1b" else key for key in keys)


def shell_line(argv):
    return " ".join(shlex.quote(part) for part in argv)


SIGNALS_THAT_END = {
    "SIGTERM": signal.SIGTERM,
    "SIGHUP": signal.SIGHUP,
    "SIGINT": signal.SIGINT,
    "SIGQUIT": signal.SIGQUIT,
    "SIGUSR1": signal.SIGUSR1,
    "SIGALRM": signal.SIGALRM,
    "SIGRTMIN+1": signal.SIGRTMIN + 1,
}
