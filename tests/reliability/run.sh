#!/bin/bash
# The reliability tests: injected and real faults on the write path, runs
# killed at random moments, concurrent runs natively and under Wine, and
# what other users of the registry's folder can do (planted links).
# Builds what they need in build/reliability-*, prints the figures and
# ends with "N passed, N failed"; exits non-zero when any script does (or
# reports a failure).
# (The fuzzer has its own script, tests/fuzz/run.sh.)
#
#   KILLS_LARGE=100 KILLS_SMALL=50   killed runs on a ~50 MB and a ~5 MB registry
#   CONCURRENT_ROUNDS=5 WINE_ROUNDS=3
#   PLANTED_RUNS=300 WINE_PLANTED_RUNS=30   runs against planted links
set -euo pipefail
cd "$(dirname "$0")/../.."
here=tests/reliability
work=build/reliability-work
mkdir -p "$work"
log="$work/log.txt"
: >"$log"

build() {  # build <folder> <target> <cmake preset and options...>
  local dir=$1 target=$2
  shift 2
  if ! { cmake --preset "$@" -B "$dir" -DMODREG_TESTS=OFF &&
          cmake --build "$dir" --target "$target"; } >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    echo "reliability: cannot build $target in $dir" >&2
    exit 1
  fi
}
build build/reliability-native modreg native
build build/reliability-faults modreg_faults native -DMODREG_FAULTS=ON
build build/reliability-windows modreg windows
build build/reliability-windows-faults modreg_faults windows -DMODREG_FAULTS=ON

native=build/reliability-native/modreg
faults=build/reliability-faults/modreg_faults
exe=build/reliability-windows/modreg.exe
exe_faults=build/reliability-windows-faults/modreg_faults.exe

failed_scripts=()
step() {  # step <name> <command...>: runs one script, keeping its report
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  # pipefail: the script's own status, not tee's.
  if ! "$@" 2>&1 | tee -a "$log"; then
    failed_scripts+=("$name")
  fi
  echo "   ($name: $((SECONDS - start)) s)"
}

step faults python3 -B "$here/faults.py" --tool "$native" --faults-tool "$faults" \
  --work "$work/faults" --wine "$exe" --wine-prefix "$work/wine-prefix"
step "killed runs" python3 -B "$here/killed_runs.py" --tool "$native" \
  --work "$work/kills" --large-kills "${KILLS_LARGE:-100}" \
  --small-kills "${KILLS_SMALL:-50}"
step "concurrent runs" python3 -B "$here/concurrency.py" --tool "$native" \
  --unlocked "$faults" --wine "$exe" --wine-faults "$exe_faults" \
  --work "$work/concurrency" \
  --rounds "${CONCURRENT_ROUNDS:-5}" --wine-rounds "${WINE_ROUNDS:-3}"
step "other users" python3 -B "$here/other_users.py" --tool "$native" \
  --faults "$faults" --wine "$exe" --wine-faults "$exe_faults" \
  --wine-prefix "$work/wine-prefix" \
  --work "$work/others" --runs "${PLANTED_RUNS:-300}" \
  --wine-runs "${WINE_PLANTED_RUNS:-30}"

passed=$(grep -c '^PASS' "$log" || true)
failed=$(grep -c '^FAIL' "$log" || true)
# Each script ends with its figure; a script that stopped early did not.
if [ "$(grep -c '^FIGURE' "$log" || true)" -lt 4 ]; then
  echo "reliability: a script stopped early (see $log)" >&2
  failed=$((failed + 1))
fi
if [ ${#failed_scripts[@]} -gt 0 ]; then
  echo "reliability: failed: ${failed_scripts[*]} (see $log)" >&2
  [ "$failed" -gt 0 ] || failed=${#failed_scripts[@]}
fi
echo "== figures"
sed -n 's/^FIGURE /   /p' "$log"
if [ "$failed" -eq 0 ]; then
  echo "   nothing lost"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failed_scripts[@]} -eq 0 ]
