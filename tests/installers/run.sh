#!/bin/bash
# The installer examples (examples/nsis, examples/wix) built with makensis
# and wixl around modreg.exe, and run silently under Wine: install, repair,
# uninstall, and a failed install that must roll back. About a minute, most
# of it making a fresh Wine prefix and starting the installers.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset windows >/dev/null
cmake --build --preset windows --target modreg >/dev/null
exec python3 -B tests/installers/run.py --exe build/windows/modreg.exe \
  --work build/installers
