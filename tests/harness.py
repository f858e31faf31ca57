"""Shared pieces of the end-to-end tests: where the built programs are, how
to run them on this platform (the Windows build under Wine), host paths, and
archives made by the real tar writers (GNU tar, bsdtar, Python's tarfile)."""

import argparse
import atexit
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest

_parser = argparse.ArgumentParser(add_help=False)
_parser.add_argument("--bin-dir", required=True)
_parser.add_argument("--platform", choices=["posix", "win32"], required=True)
ARGS, _rest = _parser.parse_known_args()
BIN_DIR = ARGS.bin_dir
WINDOWS = ARGS.platform == "win32"
SEP = "\\" if WINDOWS else "/"
CRLF = b"\r\n"

# The five lines every run begins with.
BANNER = [
    b"Holvex",
    b"Version 1.01",
    b"",
    b"A utility for extracting very large tar files, by the Holvex project "
    b"(https://holvex.example/)",
    b"",
]


def _wine_env():
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree=;mshtml=")
    env.setdefault("WINEPREFIX", os.path.join(os.environ.get("HOME", "/root"), ".wine-holvex"))
    env.setdefault("WINEARCH", "win64")
    return env


ENV = _wine_env() if WINDOWS else dict(os.environ)


def program(name):
    """Path of a built program: holvex at the top of the build, probes in tests/."""
    exe = name + (".exe" if WINDOWS else "")
    for candidate in (os.path.join(BIN_DIR, exe), os.path.join(BIN_DIR, "tests", exe)):
        if os.path.exists(candidate):
            return candidate
    raise FileNotFoundError(exe)


def _wine_argv():
    # Wine without its preloader (Debian's) now and then fails to start a
    # program when its randomized heap holds the address of Windows' shared
    # page; without address randomization it never does.
    try:
        fixed = subprocess.run(["setarch", "-R", "true"], capture_output=True).returncode == 0
    except OSError:
        fixed = False
    return ["setarch", "-R", "wine"] if fixed else ["wine"]


WINE = _wine_argv() if WINDOWS else []


def command(name, *args):
    """The argv that runs a built program with these arguments."""
    return [*WINE, program(name), *args]


def host_path(path):
    """A local path as the program under test spells it (Z:\\... under Wine)."""
    path = os.path.abspath(path)
    if WINDOWS:
        return "Z:" + path.replace("/", "\\")
    return path


def shown(name):
    """A name (bytes, or text with surrogate escapes) as shown and as the host's
    file name: its bytes on POSIX; under Wine each piece UTF-8, else 1252's."""
    name = name.encode("utf-8", "surrogateescape") if isinstance(name, str) else name
    def piece_shown(piece):
        try:
            return piece.decode("utf-8").encode()
        except UnicodeDecodeError:
            return "".join(chr(b) if b in b"\x81\x8d\x8f\x90\x9d" else bytes([b]).decode("cp1252")
                           for b in piece).encode()
    return b"".join(map(piece_shown, re.split(rb"([/\\])", name))) if WINDOWS else name


_locales = {}


def code_page_env(locale):
    """The environment that runs the Windows build in the ANSI code page of
    `locale` ("ja_JP.UTF-8": 932, "ko_KR.UTF-8": 949), which Wine takes from
    the host's locale, made once per run into a directory of its own."""
    if not _locales:
        _locales["dir"] = tempfile.mkdtemp(prefix="holvex-locales-")
        atexit.register(shutil.rmtree, _locales["dir"], True)
    made = os.path.join(_locales["dir"], locale)
    if not os.path.isdir(made):
        # localedef may warn about the locale's sources and still make it.
        subprocess.run(["localedef", "-i", locale.split(".")[0], "-f", "UTF-8", made],
                       capture_output=True)
    return {"LC_ALL": locale, "LOCPATH": _locales["dir"]}


def run(name, *args, stdin=b"", timeout=120, cwd=None, env=None):
    """Runs a built program with redirected input and output, with `env`
    added to the environment; returns the completed process (stdout and
    stderr as bytes)."""
    return subprocess.run(command(name, *args), input=stdin, capture_output=True,
                          timeout=timeout, env={**ENV, **(env or {})}, cwd=cwd,
                          start_new_session=True)


def fault_env(**settings):
    """The environment that preloads the fault library (POSIX) with these
    settings (HOLVEX_FAIL_<NAME>=value; see tests/fault_preload.c)."""
    env = {"LD_PRELOAD": program("libfault_preload.so"),
           # A sanitizer build wants its runtime first; the library only
           # wraps a few calls and passes them on.
           "ASAN_OPTIONS": ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                  "verify_asan_link_order=0"]))}
    env.update({"HOLVEX_FAIL_" + name.upper(): str(value) for name, value in settings.items()})
    return env


def escaped(name):
    """A name or path (bytes) as the lines show it: each control byte, and
    each C1 control in UTF-8 (C2 80 to C2 9F), as "\\x" and two hex digits."""
    return re.sub(rb"[\x00-\x1f\x7f]|\xc2[\x80-\x9f]",
                  lambda m: b"".join(b"\\x%02x" % c for c in m.group()), name)


def lines(output):
    """Output bytes split at CR LF; the text after the last line end is kept
    as a last element only when it is not empty."""
    parts = output.split(CRLF)
    if parts and parts[-1] == b"":
        parts.pop()
    return parts


class TempDirTest(unittest.TestCase):
    """A test case with a fresh temporary directory per test."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="holvex-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)


# --- archives -------------------------------------------------------------

def make_tree(root, files):
    """Creates files (name -> bytes) and directories (name ending in "/")."""
    for name, data in files.items():
        full = os.path.join(root, name)
        if name.endswith("/"):
            os.makedirs(full, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)


def gnu_tar(archive, source_dir, names, fmt="gnu"):
    """Archive `names` (relative to source_dir) with the system's GNU tar."""
    subprocess.run(["tar", "--format=" + fmt, "-cf", archive, "-C", source_dir,
                    "--no-recursion", *names], check=True)


def bsdtar(archive, source_dir, names, fmt="ustar"):
    """Archive `names` (relative to source_dir) with bsdtar."""
    subprocess.run(["bsdtar", "--format", fmt, "-cf", archive, "-C", source_dir,
                    "-n", *names], check=True)


def python_tar(archive, members, fmt=tarfile.GNU_FORMAT):
    """Archive with Python's tarfile; members are (name, data-or-None, type)
    tuples: data None with type DIRTYPE makes a directory."""
    with tarfile.open(archive, "w", format=fmt) as tf:
        for name, data, kind in members:
            info = tarfile.TarInfo(name)
            info.type = kind
            if kind == tarfile.DIRTYPE:
                info.mode = 0o755
                tf.addfile(info)
            elif kind in (tarfile.SYMTYPE, tarfile.LNKTYPE):
                info.linkname = data.decode() if data else "target"
                tf.addfile(info)
            else:
                info.size = len(data)
                tf.addfile(info, io.BytesIO(data))


def raw_header(name, size, typeflag=b"0", size_field=None, link=b""):
    """One 512-byte ustar header block with a valid checksum; `link` is the
    link name field."""
    block = bytearray(512)
    block[0:len(name)] = name
    block[157:157 + len(link)] = link
    block[100:108] = b"0000644\0"
    block[108:116] = b"0000000\0"
    block[116:124] = b"0000000\0"
    block[124:136] = size_field if size_field is not None else b"%011o\0" % size
    block[136:148] = b"00000000000\0"
    block[156:157] = typeflag
    block[257:263] = b"ustar\0"
    block[263:265] = b"00"
    block[148:156] = b" " * 8
    block[148:156] = b"%06o\0 " % sum(block)
    return bytes(block)


def main():
    unittest.main(argv=[sys.argv[0], *_rest], verbosity=2)


def run_command_line(name, tail, stdin=b"", timeout=120):
    """Runs a built program with this exact command tail. Under Wine the line
    is written into a batch file, which cmd hands to the program as it stands
    (quotes and backslashes included; no "%" in it); on POSIX, which has no
    command line, the tail's pieces between single spaces become the
    arguments (two spaces give an empty one)."""
    if not WINDOWS:
        return subprocess.run([program(name), *tail.split(" ")], input=stdin,
                              capture_output=True, timeout=timeout, env=ENV,
                              start_new_session=True)
    fd, batch = tempfile.mkstemp(prefix="holvex-line-", suffix=".cmd")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(("@" + host_path(program(name)) + " " + tail + "\r\n").encode())
        return subprocess.run([*WINE, "cmd", "/c", host_path(batch)], input=stdin,
                              capture_output=True, timeout=timeout, env=ENV,
                              start_new_session=True)
    finally:
        os.unlink(batch)
