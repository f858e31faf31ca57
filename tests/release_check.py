"""The release packages that scripts/release.sh made, in the directory given:
their checksums hold, each holds exactly its files, the Windows text files
have CR LF line ends, the Linux binary needs no shared library, the Windows
one imports only KERNEL32.dll and msvcrt.dll, and the program in each
package (the Windows one under Wine) extracts the sample archive, plain and
compressed with every format that build reads, exactly as Python's tarfile
does. scripts/release.sh runs it on every release it makes:

  release_check.py DIST-DIR
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(TOP, "samples", "sample.tar")
# Extraction filters exist from Python 3.12 (and in some 3.11 updates) on.
TAR_FILTER = {"filter": "tar"} if hasattr(tarfile, "tar_filter") else {}
DIST = None


def version():
    with open(os.path.join(TOP, "CMakeLists.txt")) as f:
        return re.search(r"project\(holvex VERSION ([0-9.]+)", f.read()).group(1)


def tree(root):
    """Every directory and file below root: relative path -> bytes (None for
    a directory)."""
    found = {}
    for where, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.relpath(os.path.join(where, name), root)] = None
        for name in files:
            with open(os.path.join(where, name), "rb") as f:
                found[os.path.relpath(os.path.join(where, name), root)] = f.read()
    return found


class ReleaseTest(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="holvex-release-check-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def test_packages_unpack_and_extract_the_sample(self):
        linux = "holvex-%s-linux-x86_64" % version()
        windows = "holvex-%s-windows-x86_64" % version()

        with open(os.path.join(DIST, "SHA256SUMS")) as f:
            sums = dict(reversed(line.split()) for line in f)
        self.assertEqual(sorted(sums), [linux + ".tar.gz", windows + ".zip"])
        for name, digest in sums.items():
            with open(os.path.join(DIST, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

        unpacked = self.path("unpacked")
        with tarfile.open(os.path.join(DIST, linux + ".tar.gz")) as tf:
            self.assertEqual(sorted(tf.getnames()), [linux] + [
                linux + "/" + name for name in ("LICENSE", "README.md", "holvex", "holvex.1")])
            tf.extractall(unpacked, **TAR_FILTER)
        with zipfile.ZipFile(os.path.join(DIST, windows + ".zip")) as zf:
            self.assertEqual(sorted(zf.namelist()), [windows + "/"] + [
                windows + "/" + name for name in ("LICENSE.txt", "README.txt", "holvex.exe")])
            zf.extractall(unpacked)

        with open(os.path.join(unpacked, linux, "README.md"), "rb") as f:
            readme = f.read()
        with open(os.path.join(unpacked, windows, "README.txt"), "rb") as f:
            self.assertEqual(f.read(), readme.replace(b"\n", b"\r\n"))
        binary = os.path.join(unpacked, linux, "holvex")
        self.assertNotIn(b"NEEDED", subprocess.run(["objdump", "-p", binary], check=True,
                                                   capture_output=True).stdout)
        exe = os.path.join(unpacked, windows, "holvex.exe")
        imports = re.findall(rb"DLL Name: (\S+)", subprocess.run(
            ["objdump", "-p", exe], check=True, capture_output=True).stdout)
        self.assertEqual(sorted(set(imports)), [b"KERNEL32.dll", b"msvcrt.dll"])

        samples = {"plain": SAMPLE}
        for label, command in (("gzip", ["gzip", "-c"]), ("zstd", ["zstd", "-q", "-c"]),
                               ("xz", ["xz", "-c"]), ("bzip2", ["bzip2", "-c"])):
            samples[label] = self.path("sample.tar." + label)
            with open(SAMPLE, "rb") as source, open(samples[label], "wb") as out:
                subprocess.run(command, stdin=source, stdout=out, check=True)

        with tarfile.open(SAMPLE) as tf:
            reference = self.path("reference")
            tf.extractall(reference, **TAR_FILTER)
        wine_env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=;mshtml=",
                        WINEARCH="win64")
        wine_env.setdefault("WINEPREFIX", os.path.join(os.environ.get("HOME", "/root"),
                                                       ".wine-holvex"))
        runs = {}
        for label, sample in samples.items():
            runs["linux", label] = ([binary, sample], "/", dict(os.environ))
            if label in ("plain", "gzip"):
                runs["windows", label] = (["wine", exe, "Z:" + sample.replace("/", "\\")], "\\",
                                          wine_env)
        for (platform, label), (argv, sep, env) in runs.items():
            with self.subTest(platform=platform, sample=label):
                out = self.path("out-%s-%s" % (platform, label))
                os.mkdir(out)
                outdir = out if sep == "/" else "Z:" + out.replace("/", "\\")
                result = subprocess.run(argv + [outdir + sep], capture_output=True, env=env,
                                        stdin=subprocess.DEVNULL, timeout=300,
                                        start_new_session=True)
                self.assertEqual(result.returncode, 0)
                self.assertIn((outdir + sep + "notes.txt (46 bytes)").encode(), result.stdout)
                self.assertEqual(tree(out), tree(reference))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: release_check.py DIST-DIR")
    DIST = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
