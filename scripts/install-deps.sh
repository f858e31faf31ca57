#!/usr/bin/env bash
# Installs what building and testing Holvex needs on a Debian machine, as
# root. Only missing pieces are installed; a complete machine is left alone.
set -euo pipefail

# --build-only: just what building the POSIX program needs.
build_only=false
[ "${1:-}" = "--build-only" ] && build_only=true

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
# The compression libraries compressed archives are read through (static
# libraries included, for the release's static link).
for pkg in zlib1g-dev libzstd-dev liblzma-dev libbz2-dev; do
  have_pkg "$pkg" || need+=("$pkg")
done
if $build_only; then
  have_pkg libgtest-dev || need+=(libgtest-dev)
else
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)
have_pkg libz-mingw-w64-dev || need+=(libz-mingw-w64-dev)
have_cmd wine || need+=(wine)
have_pkg wine64 || need+=(wine64)
have_cmd bsdtar || need+=(libarchive-tools)
have_cmd zip || need+=(zip)
have_cmd tar || need+=(tar)
# `git archive` makes one of the real writers' archives.
have_cmd git || need+=(git)
# The compressors the tests and the benchmark make compressed archives with.
have_cmd gzip || need+=(gzip)
have_cmd zstd || need+=(zstd)
have_cmd xz || need+=(xz-utils)
have_cmd bzip2 || need+=(bzip2)
have_cmd tmux || need+=(tmux)
# The locale sources the Windows tests make Japanese and Korean locales from
# (Wine takes its ANSI code page from the host's locale).
have_pkg locales || need+=(locales)
# The system calls of a run (the archive is only ever opened for reading).
have_cmd strace || need+=(strace)
have_cmd clang-format || need+=(clang-format)
# The fuzz preset: clang with its sanitizer and libFuzzer runtimes.
have_cmd clang++ || need+=(clang)
have_pkg libclang-rt-dev || need+=(libclang-rt-dev)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_pkg libgmock-dev || need+=(libgmock-dev)
have_pkg googletest || need+=(googletest)
[ -x /usr/bin/python3 ] || need+=(python3)
/usr/bin/python3 -c 'import pexpect' 2>/dev/null || need+=(python3-pexpect)
fi

# Only what each package depends on: the ones it merely recommends (for Wine
# about 70 more: fonts, sound, video and graphics drivers) serve a desktop,
# not console programs, and took a minute of a fresh machine's install.
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need[@]}"
fi
