#!/bin/bash
# Builds the tool and runs its main job on a demo Wine prefix under
# build/demo-prefix: a 64-bit prefix with a sample framework registry,
# made on first use. Shows the registry before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target modreg >/dev/null

prefix="$PWD/build/demo-prefix"
data="$prefix/drive_c/Program Files (x86)/OpenNI/Data"
if [ ! -f "$data/modules.xml" ]; then
  # A 64-bit prefix has a syswow64 folder: there "x86" selects
  # Program Files (x86).
  mkdir -p "$data" "$prefix/drive_c/windows/syswow64"
  printf '%s\r\n' \
    '<?xml version="1.0" encoding="UTF-8" standalone="no" ?>' \
    '<!-- OpenNI module registry -->' \
    '<Modules>' \
    '	<Module path="C:\Program Files (x86)\OpenNI\Bin\nimMockNodes.dll" />' \
    '	<Module path="C:\Program Files (x86)\OpenNI\Bin\nimCodecs.dll" />' \
    '	<Module path="C:\Program Files (x86)\OpenNI\Bin\nimRecorder.dll" />' \
    '	<Module path="C:\Program Files (x86)\HALDEToF\SensorModule_QA4.dll" />' \
    '</Modules>' > "$data/modules.xml"
fi

echo "== $data/modules.xml before:"
cat "$data/modules.xml"
echo "== modreg x86 5"
WINEPREFIX="$prefix" build/native/modreg x86 5
echo "== exit status $?; modules.xml after:"
cat "$data/modules.xml"
echo "== backup modules.xml.old:"
cat "$data/modules.xml.old"
