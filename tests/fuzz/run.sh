#!/bin/bash
# Builds the libFuzzer target with the "fuzz" preset and runs it for a
# bounded time over the seed registries in tests/corpus and those of the
# end-to-end cases (tests/e2e/cases.py), after replaying
# every saved finding in tests/corpus/regressions. Fails on any finding;
# a finding's input is kept in <build>/findings/.
#
#   tests/fuzz/run.sh [build-dir]       (default build/fuzz)
#   FUZZ_SECONDS=60 FUZZ_MAX_LEN=8192   time and input size bounds
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-8192}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"

if ! { cmake --preset fuzz -B "$build" && cmake --build "$build" --target registry_fuzz pe_fuzz; } \
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

echo "fuzz: running for ${seconds}s (inputs up to $max_len bytes)"
if ! "$fuzzer" "$work/corpus" \
    -dict=tests/fuzz/registry.dict \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    >"$work/fuzz.log" 2>&1; then
  status=1
fi
# The PE reader, for half the time, from the test modules.
mkdir -p "$work/pe" && cp tests/fuzz/pe-seeds/* "$work/pe/"
echo "fuzz: the PE reader for $((seconds / 2))s"
if ! "$build/tests/fuzz/pe_fuzz" "$work/pe" -max_total_time=$((seconds / 2)) \
    -max_len="$max_len" -timeout=10 -artifact_prefix="$work/artifacts/" \
    -print_final_stats=1 >"$work/pe.log" 2>&1; then
  grep -E "pe_fuzz:|ERROR:|SUMMARY:" "$work/pe.log" >&2 || tail -n 30 "$work/pe.log" >&2
  status=1
fi
echo "fuzz: PE inputs executed: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/pe.log" | tail -1)"

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -1)
echo "fuzz: inputs executed: ${runs:-unknown}"

if compgen -G "$work/artifacts/*" >/dev/null; then
  mkdir -p "$build/findings"
  cp "$work/artifacts/"* "$build/findings/"
  grep -E "registry_fuzz:|ERROR:|SUMMARY:" "$work/fuzz.log" >&2 || true
  echo "fuzz: findings kept in $build/findings:" >&2
  ls "$build/findings" >&2
  status=1
elif [ "$status" -ne 0 ] || [ -z "$runs" ]; then
  tail -n 30 "$work/fuzz.log" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "fuzz: no findings"
exit "$status"
