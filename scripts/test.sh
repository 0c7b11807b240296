#!/bin/bash
# Installs the dependencies, builds both targets and runs every test:
# unit and end-to-end tests natively, the same under Wine for the Windows
# executable, the sanitizer build, the fuzzer, the reliability tests and
# the installer examples. Each suite runs even when one before failed; the
# last line is one verdict over all of them, and the status is 1 when any
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
count=0
# Runs the suite NAME, the function suite_NAME, in a shell of its own that
# stops at its first failure, and notes how it went.
suite() {
  local name=$1 began=$SECONDS
  count=$((count + 1))
  echo "== $name"
  (set -euo pipefail; "suite_$name")
  local status=$?
  if [ "$status" -eq 0 ]; then
    echo "== $name: passed ($((SECONDS - began)) s)"
  else
    echo "== $name: FAILED, status $status ($((SECONDS - began)) s)"
    failed+=("$name")
  fi
}

suite_setup() { bash scripts/setup.sh; }

build_and_test() {
  cmake --preset "$1"
  cmake --build --preset "$1"
  ctest --preset "$1"
}
suite_native() { build_and_test native; }
suite_windows() { build_and_test windows; }

# The product's form for installer authors: a zip that unpacks into one
# folder named with the version, holding modreg.exe, the README with the
# documents it links to, the licence and the notices, the installer
# examples, the script that signs an installer, and something to try the
# examples with (try/: per width of the framework a sample registry and
# the stand-in modules, of that width), and nothing else.
suite_zip() {
  (cd build/windows && cpack -G ZIP >/dev/null && ls modreg-*-win32.zip)
  python3 - build/windows/modreg-*-win32.zip <<'EOF'
import os, struct, sys, zipfile
top = os.path.basename(sys.argv[1])[:-len(".zip")] + "/"
zip = zipfile.ZipFile(sys.argv[1])
names = [n for n in zip.namelist() if n[-1] != "/"]
if not all(n.startswith(top) for n in names):
    sys.exit("the zip holds files outside %s: %s" % (
        top, sorted(n for n in names if not n.startswith(top))))
names = {n[len(top):] for n in names}
try_files = {"try/%s/%s" % (arch, name) for arch in ("x86", "x64")
             for name in ("modules.xml", "modules/SensorModule.dll",
                          "modules/libskelvia_ni.dll",
                          "modules/data/skelvia.ini")}
kit = {"modreg.exe", "KIT.md", "LICENSE", "THIRD_PARTY_NOTICES.txt",
       "SHA256SUMS", "examples/nsis/modreg.nsh", "examples/nsis/setup.nsi",
       "examples/wix/product.wxs", "docs/reference.md", "docs/installers.md",
       "docs/support.md", "scripts/sign.sh",
       "try/signing/throwaway.sh"} | try_files
other = {n for n in names - kit
         if not n.startswith("examples/")}
if kit - names or other:
    sys.exit("the zip lacks %s, holds %s too" % (sorted(kit - names),
                                                   sorted(other)))
# Each stand-in module is a DLL of its folder's width (the PE header's
# machine: 0x14c i386, 0x8664 x86-64).
for name in sorted(n for n in try_files if n.endswith(".dll")):
    data = zip.read(top + name)
    pe = struct.unpack_from("<I", data, 0x3c)[0]
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    dll = struct.unpack_from("<H", data, pe + 22)[0] & 0x2000
    want = 0x14c if name.startswith("try/x86/") else 0x8664
    if data[pe:pe + 4] != b"PE\0\0" or machine != want or not dll:
        sys.exit("%s is not a DLL for machine %#x" % (name, want))
print("the zip holds, in %s: %s" % (top, " ".join(sorted(names))))
EOF
}

# The Windows executable imports exactly these of Windows' own DLLs.
suite_imports() {
  file build/windows/modreg.exe | grep -q "PE32 executable (console) Intel 80386"
  local imports
  imports=$(i686-w64-mingw32-objdump -p build/windows/modreg.exe |
    awk '/DLL Name/ {print toupper($3)}' | sort | tr '\n' ' ')
  echo "modreg.exe imports: $imports"
  if [ "$imports" != "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL " ]; then
    echo "modreg.exe must import exactly KERNEL32, ADVAPI32 and msvcrt" >&2
    return 1
  fi
}

# AddressSanitizer and UndefinedBehaviorSanitizer over the unit and
# end-to-end tests.
suite_sanitize() { build_and_test sanitize; }

# The fuzzer, about a minute; fails on any finding.
suite_fuzz() { bash tests/fuzz/run.sh; }

# Write-path faults, killed runs, concurrent runs (native and under Wine).
suite_reliability() { bash tests/reliability/run.sh; }

# The installer examples, built with makensis and wixl and run under Wine.
suite_installers() { bash tests/installers/run.sh; }

# Two builds of one commit compared, the notices, the signing round trip.
suite_release() { bash tests/release/run.sh; }

for name in setup native windows zip imports sanitize fuzz reliability \
    installers release; do
  suite "$name"
done

if [ ${#failed[@]} -eq 0 ]; then
  echo "test.sh: all $count suites passed"
  exit 0
fi
echo "test.sh: ${#failed[@]} of $count suites FAILED: ${failed[*]}"
exit 1
