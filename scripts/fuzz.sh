#!/usr/bin/env bash
# Builds the fuzz preset, makes the seed corpora from real archives and runs
# each fuzz target, one after the other, for the given number of seconds.
# Prints each target's executions and any finding; exits non-zero when a
# target found something (the input that shows it is kept in
# build/fuzz/findings/).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 60 seconds, every target
#
# The corpus each target grows is kept in build/fuzz/corpus/ and reused by
# the next run. A finding is reproduced by running the target on its input:
#   build/fuzz/fuzz/walk_fuzz build/fuzz/findings/walk_fuzz-crash-...
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header_fuzz walk_fuzz)

build=build/fuzz
cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j2 || exit 1
python3 scripts/make-fuzz-corpus.py "$build/seeds" || exit 1
mkdir -p "$build/corpus" "$build/findings"

# A smaller quarantine than the default 256 MB: the walk target makes and
# frees many small buffers per run, and touching fresh memory for each of
# them would halve its speed. Freed memory is still held back, so a use after
# free is still caught.
export ASAN_OPTIONS="quarantine_size_mb=16${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

found=()
total=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  # The walk target's scenes go to a directory of this run's own, in memory
  # when the machine has a tmpfs for it.
  scratch_parent=$PWD/$build
  [ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
  scratch=$(mktemp -d "$scratch_parent/holvex-fuzz.XXXXXX")
  log=$build/$target.log
  # Inputs stay small: one header block and its numbers; a walk of a few members.
  max_len=1024
  [ "$target" = walk_fuzz ] && max_len=4096
  echo "==> $target for ${seconds}s"
  # Standard output (the program's own lines) is discarded; one process, one job.
  TMPDIR=$scratch "$build/fuzz/$target" -max_total_time="$seconds" -max_len=$max_len \
    -timeout=25 -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
    "$corpus" "$build/seeds/$target" </dev/null 2>"$log"
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  total=$((total + runs))
  echo "$target: $runs executions, exit status $status"
  if [ "$status" -ne 0 ]; then
    found+=("$target")
    echo "FINDING in $target:"
    grep -v -E '^ +#[0-9]+ |^#[0-9]+|^INFO|^NOTE|NEW_FUNC|^ +Combine|^stat::|^Done' "$log" | tail -n 40
    mv "$log" "$build/findings/$target.log"
    echo "full log: $build/findings/$target.log"
  fi
  rm -rf "$scratch" "$log"
done

echo "executions in all: $total"
if [ ${#found[@]} -gt 0 ]; then
  echo "findings in: ${found[*]}"
  exit 1
fi
echo "no finding"
