#!/bin/bash
# Installs the dependencies, builds both targets and runs every test:
# unit and end-to-end tests natively, the same under Wine for the Windows
# executable, the sanitizer build, the fuzzer, and the reliability tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in native windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# The product's form for installer authors: a zip with modreg.exe.
(cd build/windows && cpack -G ZIP >/dev/null && ls modreg-*-win32.zip)

# The Windows executable imports exactly the DLLs the README names, all
# of them on every Windows.
file build/windows/modreg.exe | grep -q "PE32 executable (console) Intel 80386"
expected="KERNEL32.dll msvcrt.dll"
imports=$(i686-w64-mingw32-objdump -p build/windows/modreg.exe |
  awk '/DLL Name/ {print $3}' | LC_ALL=C sort | xargs)
echo "modreg.exe imports: $imports"
if [ "$imports" != "$expected" ]; then
  echo "modreg.exe should import $expected" >&2
  exit 1
fi

# AddressSanitizer and UndefinedBehaviorSanitizer over the unit and
# end-to-end tests.
cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize

# The fuzzer, about a minute; fails on any finding.
bash tests/fuzz/run.sh

# Write-path faults, killed runs, concurrent runs (native and under Wine).
bash tests/reliability/run.sh
