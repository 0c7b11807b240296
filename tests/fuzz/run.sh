#!/bin/bash
# Builds the libFuzzer target with the "fuzz" preset and runs it for a
# bounded time over the seed registries in tests/corpus and those of the
# end-to-end cases (tests/e2e/cases.py), after replaying
# every saved finding in tests/corpus/regressions.
#
# Every input libFuzzer writes out is run again on its own, up to
# FUZZ_REPLAYS times, with the same 10 s timeout. A crash, a sanitizer
# report or a failed check is a finding, and so is a timeout or a slow
# unit that is slow again on every replay: kept in <build>/findings/, and
# the script fails. A timeout or slow unit that runs at once on a replay
# was the machine stalling, not the input: it is reported as a stall and
# kept in <build>/stalls/, and the fuzzing goes on for the time left.
# Then the script checks itself (about 90 s): a stall planted in the fuzz
# target (MODREG_FUZZ_STALL) must pass, a planted hang must fail.
#
#   tests/fuzz/run.sh [build-dir]       (default build/fuzz)
#   FUZZ_SECONDS=60 FUZZ_MAX_LEN=8192   time and input size bounds
#   FUZZ_REPLAYS=3 FUZZ_SELF_CHECK=1
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-8192}
replays=${FUZZ_REPLAYS:-3}
# An input that runs longer stops the fuzzing. libFuzzer also writes out
# an input that took as long but ended between two of its timer's checks,
# as a slow unit (-report_slow_units, 10 s by default).
timeout=10

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/replays"

if ! { cmake --preset fuzz -B "$build" && cmake --build "$build" --target registry_fuzz pe_fuzz undo_fuzz; } \
    >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  echo "fuzz: cannot build the fuzz target" >&2
  exit 1
fi
fuzzer="$build/tests/fuzz/registry_fuzz"

# A fuzz input is one control byte (device mask in bits 0-5, the " (x86)"
# rule in bit 6) followed by the registry. Each seed registry goes in with
# a few control bytes: no entry, each product folder, every entry.
for seed in tests/corpus/*; do
  [ -f "$seed" ] || continue
  name=$(basename "$seed")
  for control in 00 01 05 08 20 7f; do
    { printf "\\x$control"; cat "$seed"; } >"$work/corpus/$control-$name"
  done
done

# The registries of the end-to-end cases, each with the control byte of
# its own run and with mask 5.
python3 -B - "$work/corpus" "$max_len" <<'PY' || echo "fuzz: the end-to-end cases could not be read; going on without them" >&2
import os, sys
sys.path.insert(0, 'tests/e2e')
import cases
out, max_len = sys.argv[1], int(sys.argv[2])
seen = set()
for case in cases.CASES:
    for step in case.steps:
        for key, value in step.put.items():
            if not (key.endswith('/modules.xml') and isinstance(value, bytes)):
                continue
            if len(value) >= max_len:
                continue
            try:
                mask = int(step.args[1]) & 0x3F
            except (IndexError, ValueError):
                mask = 1
            x86 = 0x40 if step.args and step.args[0] == 'x86' else 0
            for control in {mask | x86, 5}:
                data = bytes([control]) + value
                if data in seen:
                    continue
                seen.add(data)
                with open(os.path.join(out, 'e2e-%d' % len(seen)), 'wb') as f:
                    f.write(data)
print('fuzz: %d seeds from the end-to-end cases' % len(seen))
PY

status=0
regressions=(tests/corpus/regressions/*)
if [ -e "${regressions[0]}" ]; then
  echo "fuzz: replaying ${#regressions[@]} saved findings"
  if ! "$fuzzer" -runs=1 "${regressions[@]}" >"$work/replay.log" 2>&1; then
    grep -E "registry_fuzz:|ERROR:|SUMMARY:|Running:" "$work/replay.log" >&2 || true
    echo "fuzz: a saved finding fails again" >&2
    status=1
  fi
fi

# replay <input>: runs the input on its own up to $replays times. Prints
# "N MS" and succeeds on the first replay N that ends well within the
# timeout (in MS ms); fails when none does.
replay() {
  local n ms
  for ((n = 1; n <= replays; n++)); do
    if "$fuzzer" -timeout=$timeout -artifact_prefix="$work/replays/" "$1" \
        >"$work/replay.log" 2>&1; then
      ms=$(sed -n 's/^Executed .* in \([0-9]*\) ms$/\1/p' "$work/replay.log")
      if [ -n "$ms" ] && [ "$ms" -lt $((timeout * 500)) ]; then
        echo "$n $ms"
        return 0
      fi
    fi
  done
  return 1
}

# fuzz <seconds> <corpus> <keep>: fuzzes for the time given, going on
# after a stall ended a run of libFuzzer early; keeps findings in
# <keep>/findings and stalls in <keep>/stalls. Fails on a finding or when
# libFuzzer fails without one.
fuzz() {
  local budget=$1 corpus=$2 keep=$3 start=$SECONDS left rc runs total=0
  local sessions=0 found=0 timed_out artifact name got
  while :; do
    left=$((budget - (SECONDS - start)))
    if [ "$sessions" -gt 0 ]; then
      [ "$left" -gt 0 ] || break
      echo "fuzz: going on for the ${left}s left"
    fi
    sessions=$((sessions + 1))
    rm -rf "$work/artifacts"
    mkdir "$work/artifacts"
    rc=0
    "$fuzzer" "$corpus" ${dict:+-dict=$dict} \
      -max_total_time="$left" -max_len="$max_len" -timeout=$timeout \
      -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
      >"$work/fuzz.log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -1)
    total=$((total + ${runs:-0}))
    timed_out=0
    for artifact in "$work/artifacts/"*; do
      [ -e "$artifact" ] || continue
      name=$(basename "$artifact")
      if got=$(replay "$artifact"); then
        case $name in
          slow-unit-* | timeout-*)
            mkdir -p "$keep/stalls"
            cp "$artifact" "$keep/stalls/"
            echo "fuzz: stall: $name took ${timeout}+ s once, ${got#* } ms on replay ${got%% *}; kept in $keep/stalls"
            [[ $name != timeout-* ]] || timed_out=1
            continue ;;
        esac
        got="does not fail again on its own ($replays replays): it may need the inputs run before it"
      else
        got="fails again (or takes over $((timeout / 2)) s) on each of $replays replays"
      fi
      mkdir -p "$keep/findings"
      cp "$artifact" "$keep/findings/"
      echo "fuzz: finding: $name $got; kept in $keep/findings" >&2
      found=1
    done
    if [ "$found" -ne 0 ]; then
      grep -E "_fuzz:|ERROR:|SUMMARY:" "$work/fuzz.log" >&2 || true
      break
    fi
    # A stall that timed out ends libFuzzer's run: a new one goes on.
    [ "$rc" -ne 0 ] && [ "$timed_out" -eq 1 ] && continue
    if [ "$rc" -ne 0 ] || [ -z "$runs" ]; then
      tail -n 30 "$work/fuzz.log" >&2
      found=1
    fi
    break
  done
  echo "fuzz: inputs executed: $total in $((SECONDS - start)) s"
  return "$found"
}

dict=tests/fuzz/registry.dict
echo "fuzz: running for ${seconds}s (inputs up to $max_len bytes)"
fuzz "$seconds" "$work/corpus" "$build" || status=1

# The PE reader of --check, for half the time, from the test modules; its
# findings and stalls are kept in <build>/pe.
pe_fuzz() {
  local fuzzer="$build/tests/fuzz/pe_fuzz" dict=""
  mkdir -p "$work/pe" && cp tests/fuzz/pe-seeds/* "$work/pe/"
  echo "fuzz: the PE reader for $((seconds / 2))s"
  fuzz $((seconds / 2)) "$work/pe" "$build/pe"
}
pe_fuzz || status=1

# The undo record's reader, for a quarter of the time, from records the
# tool wrote; its findings and stalls are kept in <build>/undo.
undo_fuzz() {
  local fuzzer="$build/tests/fuzz/undo_fuzz" dict=""
  mkdir -p "$work/undo" && cp tests/fuzz/undo-seeds/* "$work/undo/"
  echo "fuzz: the undo record's reader for $((seconds / 4))s"
  fuzz $((seconds / 4)) "$work/undo" "$build/undo"
}
undo_fuzz || status=1

# The script's own check, with stalls planted in the fuzz target: a slow
# unit and then a timeout, once each, must be stalls, and the fuzzing must
# go on after the timeout (about 27 s in: the 40 s leave room for a pause
# of the machine); an input that hangs on every run must be a finding.
self_check() {  # <label> <status> <MODREG_FUZZ_STALL> <seconds> <patterns...>
  local label=$1 expected=$2 stall=$3 budget=$4 began=$SECONDS rc=0 dir line
  local missing=()
  shift 4
  dir=$(mktemp -d "$work/check.XXXX")
  mkdir "$dir/corpus"
  cp "$work/corpus/05-framework-crlf.xml" "$dir/corpus/"
  (export MODREG_FUZZ_STALL=${stall//DIR/$dir}
   fuzz "$budget" "$dir/corpus" "$dir") >"$dir/log" 2>&1 || rc=$?
  for line in "$@"; do
    grep -qE "$line" "$dir/log" || missing+=("$line")
  done
  if [ "$rc" -ne "$expected" ] || [ ${#missing[@]} -gt 0 ]; then
    cat "$dir/log" >&2
    echo "fuzz: self-check: $label: status $rc, expected $expected;" \
      "missing: ${missing[*]:-nothing}" >&2
    return 1
  fi
  echo "fuzz: self-check: $label: passed ($((SECONDS - began)) s)"
}
if [ "${FUZZ_SELF_CHECK:-1}" != 0 ]; then
  self_check "a stalled slow unit and timeout pass" 0 \
    "slow:DIR/slow,timeout:DIR/timeout" 40 "^fuzz: stall: slow-unit-" \
    "^fuzz: stall: timeout-" "^fuzz: going on" || status=1
  self_check "an input that hangs fails" 1 hang 5 \
    "^fuzz: finding: timeout-.* on each of $replays replays" || status=1
fi

[ "$status" -eq 0 ] && echo "fuzz: no findings"
exit "$status"
