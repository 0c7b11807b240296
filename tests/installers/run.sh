#!/bin/bash
# The installer examples (examples/nsis, examples/wix) built with makensis
# and wixl around modreg.exe and the stand-in modules (tests/modules), and
# run silently under Wine: install, repair, uninstall, failed installs that
# must roll back, an install into a chosen folder, repaired, moved and
# removed; then, with what the release zip holds to try them (its try/
# folder), a signed NSIS installer and the 64-bit WiX package and NSIS
# installer; last the WiX package's rollbacks, in a 64-bit and a 32-bit
# prefix. A few minutes, much of it making a fresh Wine prefix and starting the
# installers.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset windows >/dev/null
cmake --build --preset windows --target modreg test_modules kit_modules >/dev/null
exec python3 -B tests/installers/run.py --exe build/windows/modreg.exe \
  --modules build/windows/test-modules --kit build/windows/try \
  --work build/installers
