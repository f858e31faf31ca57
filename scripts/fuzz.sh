#!/usr/bin/env bash
# Builds the fuzz preset, makes the seed corpora from real archives and runs
# the fuzz targets, all at once (each is one process on one core). Two ways:
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   explore: default 60 seconds a
#       target, every target, a random seed each run; the corpus each target
#       grows is kept in build/fuzz/corpus/ and reused by the next run.
#   scripts/fuzz.sh --check [TARGET...]     the test run's step: replays every
#       input kept in fuzz/regressions/<target>/, then runs a fixed number of
#       inputs from a fixed seed and the seeds alone, so that one commit gives
#       one result on every machine.
#
# Prints each target's executions and any finding; exits non-zero when a
# target found something. The input that shows it is kept in
# build/fuzz/findings/; run the target on it to see it again:
#   build/fuzz/fuzz/walk_fuzz build/fuzz/findings/walk_fuzz-crash-...
# Once the fault is fixed, keep the input as a regression, so that every
# later test run replays it:
#   cp build/fuzz/findings/walk_fuzz-crash-... fuzz/regressions/walk_fuzz/<what-it-shows>
set -uo pipefail
cd "$(dirname "$0")/.."

check=false
if [ "${1:-}" = "--check" ]; then
  check=true
  shift
else
  seconds=${1:-60}
  shift || true
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header_fuzz walk_fuzz)

# Inputs each target runs in the test run: about 20 to 30 seconds each on a
# 2-core machine, side by side.
declare -A check_runs=([header_fuzz]=1000000 [walk_fuzz]=40000)
check_seed=1

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

# One target's run: what it prints goes to $build/<target>.report, its
# executions and exit status to $build/<target>.result.
fuzz_target() {
  local target=$1
  # The walk target's scenes go to a directory of this run's own, in memory
  # when the machine has a tmpfs for it.
  local scratch_parent=$PWD/$build
  [ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
  local scratch
  scratch=$(mktemp -d "$scratch_parent/holvex-fuzz.XXXXXX")
  local log=$build/$target.log
  # Inputs stay small: one header block and its numbers; a walk of a few members.
  local max_len=1024
  [ "$target" = walk_fuzz ] && max_len=4096
  local common=(-max_len=$max_len -timeout=25 -close_fd_mask=1 -print_final_stats=1
                -artifact_prefix="$build/findings/$target-")
  local status=0 corpus
  if $check; then
    local regressions=(fuzz/regressions/"$target"/*)
    if [ -e "${regressions[0]}" ]; then
      echo "==> $target: ${#regressions[@]} regression inputs"
      TMPDIR=$scratch "$build/fuzz/$target" "${common[@]}" "${regressions[@]}" \
        </dev/null >/dev/null 2>"$log" || status=$?
    fi
    if [ "$status" -eq 0 ]; then
      echo "==> $target: ${check_runs[$target]} inputs from seed $check_seed"
      # A fresh corpus directory each time: nothing from an earlier run counts.
      corpus=$scratch/corpus
      mkdir -p "$corpus"
      TMPDIR=$scratch "$build/fuzz/$target" "${common[@]}" -seed=$check_seed \
        -runs="${check_runs[$target]}" "$corpus" "$build/seeds/$target" \
        </dev/null 2>"$log" || status=$?
    fi
  else
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    echo "==> $target for ${seconds}s"
    TMPDIR=$scratch "$build/fuzz/$target" "${common[@]}" -max_total_time="$seconds" \
      "$corpus" "$build/seeds/$target" </dev/null 2>"$log" || status=$?
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  echo "$target: $runs executions, exit status $status"
  if [ "$status" -ne 0 ]; then
    echo "FINDING in $target:"
    grep -v -E '^ +#[0-9]+ |^#[0-9]+|^INFO|^NOTE|NEW_FUNC|^ +Combine|^stat::|^Done' "$log" | tail -n 40
    mv "$log" "$build/findings/$target.log"
    echo "full log: $build/findings/$target.log"
  fi
  rm -rf "$scratch" "$log"
  echo "$runs $status" >"$build/$target.result"
}

for target in "${targets[@]}"; do
  rm -f "$build/$target.result"
  fuzz_target "$target" >"$build/$target.report" 2>&1 &
done
wait

found=()
total=0
for target in "${targets[@]}"; do
  cat "$build/$target.report"
  # No result: the run itself broke off (its report says why).
  runs=0 status=1
  [ -f "$build/$target.result" ] && read -r runs status <"$build/$target.result"
  total=$((total + runs))
  [ "$status" -eq 0 ] || found+=("$target")
  rm -f "$build/$target.report" "$build/$target.result"
done

echo "executions in all: $total"
if [ ${#found[@]} -gt 0 ]; then
  echo "findings in: ${found[*]}"
  exit 1
fi
echo "no finding"
