#!/bin/bash
# Installs the dependencies, builds both targets and runs every test:
# unit and end-to-end tests natively, the same under Wine for the Windows
# executable, the sanitizer build, the fuzzer, the reliability tests and
# the installer examples.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in native windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# The product's form for installer authors: a zip that unpacks into one
# folder named with the version, holding modreg.exe, the README with the
# documents it links to, the licence and the notices, and the installer
# examples, and nothing else.
(cd build/windows && cpack -G ZIP >/dev/null && ls modreg-*-win32.zip)
python3 - build/windows/modreg-*-win32.zip <<'EOF'
import os, sys, zipfile
top = os.path.basename(sys.argv[1])[:-len(".zip")] + "/"
names = [n for n in zipfile.ZipFile(sys.argv[1]).namelist() if n[-1] != "/"]
if not all(n.startswith(top) for n in names):
    sys.exit("the zip holds files outside %s: %s" % (
        top, sorted(n for n in names if not n.startswith(top))))
names = {n[len(top):] for n in names}
kit = {"modreg.exe", "README.md", "LICENSE", "THIRD_PARTY_NOTICES.txt",
       "examples/nsis/modreg.nsh", "examples/nsis/setup.nsi",
       "examples/wix/product.wxs", "docs/design.md", "docs/testing.md",
       "docs/performance.md", "docs/releasing.md"}
other = {n for n in names - kit
         if not n.startswith(("examples/", "docs/"))}
if kit - names or other:
    sys.exit("the zip lacks %s, holds %s too" % (sorted(kit - names),
                                                   sorted(other)))
print("the zip holds, in %s: %s" % (top, " ".join(sorted(names))))
EOF

# The Windows executable imports exactly these of Windows' own DLLs.
file build/windows/modreg.exe | grep -q "PE32 executable (console) Intel 80386"
imports=$(i686-w64-mingw32-objdump -p build/windows/modreg.exe |
  awk '/DLL Name/ {print toupper($3)}' | sort | tr '\n' ' ')
echo "modreg.exe imports: $imports"
if [ "$imports" != "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL " ]; then
  echo "modreg.exe must import exactly KERNEL32, ADVAPI32 and msvcrt" >&2
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

# The installer examples, built with makensis and wixl and run under Wine.
bash tests/installers/run.sh

# Two builds of one commit compared, the notices, the signing round trip.
bash tests/release/run.sh
