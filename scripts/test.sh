#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the POSIX, sanitizer
# and Windows presets, runs every test (the Windows ones under Wine), makes
# and checks the release packages, and runs the fuzz check.
set -uo pipefail
cd "$(dirname "$0")/.."

# Debian's Wine has no preloader: its loader maps Windows' shared page at a
# fixed address that the loader's own randomized heap now and then already
# holds, and the program never starts ("failed to map the shared user data";
# about one Wine start in 700 under load, silent under WINEDEBUG=-all).
# Without address randomization that heap stays clear of it: the whole run
# goes so.
if [ -z "${HOLVEX_FIXED_ADDRESSES:-}" ] && setarch -R true 2>/dev/null; then
  exec env HOLVEX_FIXED_ADDRESSES=1 setarch -R bash scripts/test.sh "$@"
fi

bash scripts/install-deps.sh || exit 1
source scripts/wine-env.sh

failed=()
timings=()
step() {
  echo "==> $*"
  local start=$SECONDS
  if ! "$@"; then failed+=("$*"); fi
  timings+=("$(printf '%4ds  %s' $((SECONDS - start)) "$*")")
}

# Sources keep the project's format (scripts/format.sh applies it).
check_format() { clang-format --dry-run --Werror src/*/*.cpp src/*/*.h tests/*.cpp fuzz/*.cpp; }
step check_format

# Wine, once before any test: the prefix made or brought up to date (and that
# finished), then one server kept until the end. By default the server exits a
# few seconds after its last program, and a program started just then lost it
# ("recvmsg: Connection reset by peer"). Wine's own services start with the
# first program and live as long as the server: started here, on /dev/null,
# they cannot hold a test's output pipes open (its read would never end).
start_wine() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot -i </dev/null >/dev/null 2>&1
}
step start_wine
for preset in posix posix-asan windows; do
  step cmake --preset "$preset"
  step cmake --build --preset "$preset"
done

step ctest --preset posix -j2
step env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --preset posix-asan -j2
step ctest --preset windows -j2
# The release packages, from the committed sources, checked as every release
# is (scripts/release.sh runs tests/release_check.py on them): made once
# here, not by a preset's tests.
release_check() {
  local dist
  dist=$(mktemp -d /tmp/holvex-release-check.XXXXXX) || return 1
  bash scripts/release.sh "$dist"
  local status=$?
  rm -rf "$dist"
  return $status
}
step release_check
wineserver -k 2>/dev/null || true
# Each fuzz target replays its kept regressions, then runs a fixed number of
# inputs from a fixed seed (the fuzz preset is built there).
step bash scripts/fuzz.sh --check

echo "Time of each step:"
printf '  %s\n' "${timings[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED steps:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
echo "All builds and tests passed."
