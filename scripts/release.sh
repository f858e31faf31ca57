#!/usr/bin/env bash
# Builds the release packages from the committed sources (HEAD, exported into
# a fresh directory, so nothing uncommitted or built before goes in):
#   holvex-<version>-linux-x86_64.tar.gz    holvex (static), holvex.1, README.md, LICENSE
#   holvex-<version>-windows-x86_64.zip     holvex.exe, README.txt and LICENSE.txt (CR LF)
# and SHA256SUMS beside them, in dist/ or in the directory given. Before they
# go there, tests/release_check.py checks them: the files each holds, its
# program's libraries, and that each program (the Windows one under Wine)
# extracts the sample archive as Python's tarfile does. Packages that fail
# the check are not written.
#
#   scripts/release.sh [dist-dir]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(mkdir -p "${1:-$top/dist}" && cd "${1:-$top/dist}" && pwd)"

bash "$top/scripts/install-deps.sh"

version="$(sed -n 's/^project(holvex VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")"
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
  echo "Note: uncommitted changes are not part of the packages (they are built from HEAD)."
fi

work="$(mktemp -d /tmp/holvex-release.XXXXXX)"
trap 'rm -rf "$work"' EXIT
src="$work/src"
mkdir "$src"
git -C "$top" archive --format=tar HEAD | tar -x -C "$src"
# Every file in the packages gets the commit's time, so the same commit gives
# the same packages.
stamp="$(git -C "$top" log -1 --format=%ct HEAD)"

# Linux: one static binary, so it needs no C or C++ library of the system it
# runs on.
cmake -S "$src" -B "$work/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOLVEX_TESTS=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="-static -s" >/dev/null
cmake --build "$work/linux" --target holvex
# Windows: the project's cross build is static already (no MinGW DLLs).
cmake -S "$src" -B "$work/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOLVEX_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" -DCMAKE_EXE_LINKER_FLAGS="-s" >/dev/null
cmake --build "$work/windows" --target holvex

linux="holvex-$version-linux-x86_64"
windows="holvex-$version-windows-x86_64"
mkdir "$work/$linux" "$work/$windows"
install -m 755 "$work/linux/holvex" "$work/$linux/holvex"
install -m 644 "$src/docs/holvex.1" "$src/README.md" "$src/LICENSE" "$work/$linux/"
install -m 644 "$work/windows/holvex.exe" "$work/$windows/holvex.exe"
# Text files for Windows get CR LF line ends.
sed 's/\r*$/\r/' "$src/README.md" >"$work/$windows/README.txt"
sed 's/\r*$/\r/' "$src/LICENSE" >"$work/$windows/LICENSE.txt"
find "$work/$linux" "$work/$windows" -exec touch -h -d "@$stamp" {} +

made="$work/dist"
mkdir "$made"
tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" \
  -cf - "$linux" | gzip -9n >"$made/$linux.tar.gz"
(cd "$work" && find "$windows" | LC_ALL=C sort | zip -qX -@ "$made/$windows.zip")
(cd "$made" && sha256sum "$linux.tar.gz" "$windows.zip" >SHA256SUMS)

if ! python3 "$src/tests/release_check.py" "$made"; then
  echo "The packages failed their check; nothing was written to $dist." >&2
  exit 1
fi
rm -f "$dist/$linux.tar.gz" "$dist/$windows.zip" "$dist/SHA256SUMS"
cp "$made/$linux.tar.gz" "$made/$windows.zip" "$made/SHA256SUMS" "$dist/"

echo "Packages in $dist:"
(cd "$dist" && cat SHA256SUMS)
