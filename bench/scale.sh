#!/bin/bash
# How large a registry each build can update, and what happens beyond.
#
#   bench/scale.sh [--native "MB ..."] [--native-limit-mb N]
#                  [--wine "MB ..."] [--wine-2gb "MB ..."] [--keep-going]
#
# Each registry is the 10 MB bench registry's Module lines repeated to the
# size asked for (MB = 10^6 bytes), made in build/scale just before its
# run and deleted after it; runs go in the order given and stop at the
# first failure (unless --keep-going). Every run removes the backup first,
# so that the run makes it.
#
#   native    the POSIX build under "ulimit -v" of --native-limit-mb
#             (default 2048) MiB of address space, so that memory runs
#             out at a size this machine can spare
#   wine      modreg.exe (32-bit, large-address-aware) in a 64-bit Wine
#             prefix, where it has 4 GB of address space
#   wine-2gb  the same executable with the large-address-aware flag
#             cleared: 2 GB of address space
#
# A run that succeeds must leave a registry that ends with </Modules>. A
# run that fails must exit with status 7 (out of memory) and leave the
# registry and the backup it made byte for byte the original, and no
# temporary file. Prints one line per run: size, status, seconds, peak
# resident memory (native only) over the file's size.
#
# Needs about four times the largest size in free disk space. Takes
# minutes (each Wine run of a gigabyte-sized registry takes tens of
# seconds): not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

native_sizes="500 600 700 800"
native_limit_mb=2048
wine_sizes="1000 1200 1400 1600 1800"
wine2gb_sizes="500 600 700 800 900"
keep_going=0
while [ $# -gt 0 ]; do
  case "$1" in
    --native) native_sizes="$2"; shift 2 ;;
    --native-limit-mb) native_limit_mb="$2"; shift 2 ;;
    --wine) wine_sizes="$2"; shift 2 ;;
    --wine-2gb) wine2gb_sizes="$2"; shift 2 ;;
    --keep-going) keep_going=1; shift ;;
    *) echo "usage: bench/scale.sh [--native LIST] [--native-limit-mb N]" \
            "[--wine LIST] [--wine-2gb LIST] [--keep-going]" >&2
       exit 2 ;;
  esac
done

bash scripts/setup.sh >/dev/null
echo "== building (build/bench, build/bench-windows)"
cmake --preset bench >/dev/null
cmake --build --preset bench --target modreg >/dev/null
cmake --preset windows -B build/bench-windows -DMODREG_TESTS=OFF >/dev/null
cmake --build build/bench-windows --target modreg >/dev/null

work="$root/build/scale"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work/registry.xml" "$work"/prefix-*/drive_c/Program\ Files/OpenNI/Data/modules.xml*' EXIT
python3 bench/gen_registry.py build/bench-data 10mb
# The Module lines of the 10 MB registry, repeated for the larger ones.
seed="$root/build/bench-data/10mb.xml"
head -n 5 "$seed" > "$work/head.xml"
tail -n +6 "$seed" | head -n -1 > "$work/body.xml"
tail -n 1 "$seed" > "$work/tail.xml"

# Writes a registry of about $1 MB to $2.
make_registry() {
  local mb=$1 out=$2 copies
  copies=$(( (mb * 1000000 + $(stat -c %s "$work/body.xml") - 1) / $(stat -c %s "$work/body.xml") ))
  {
    cat "$work/head.xml"
    for ((i = 0; i < copies; i++)); do cat "$work/body.xml"; done
    cat "$work/tail.xml"
  } > "$out"
}

# A 64-bit Wine prefix of the script's own, with a persistent server.
wine_prefix() {
  export WINEPREFIX="$work/prefix-wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p
}

# The executable with the large-address-aware flag (0x20 in the COFF
# characteristics) cleared.
without_laa() {
  python3 - "$1" "$2" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
offset = pe + 4 + 18
flags = struct.unpack_from("<H", data, offset)[0]
struct.pack_into("<H", data, offset, flags & ~0x20)
open(sys.argv[2], "wb").write(data)
EOF
}

# Runs one build ($1: native, wine or wine-2gb) over registries of the
# sizes in $2.
run_sizes() {
  local kind=$1 sizes=$2 mb prefix reg status start seconds rss size
  case $kind in
    native) prefix="$work/prefix-native" ;;
    *) prefix="$WINEPREFIX" ;;
  esac
  reg="$prefix/drive_c/Program Files/OpenNI/Data/modules.xml"
  mkdir -p "$(dirname "$reg")"
  for mb in $sizes; do
    make_registry "$mb" "$work/registry.xml"
    size=$(stat -c %s "$work/registry.xml")
    cp -f "$work/registry.xml" "$reg"
    rm -f "$reg.old" "$reg.tmp" "$reg.old.tmp"
    sync
    start=$(date +%s.%N)
    set +e
    case $kind in
      native)
        (ulimit -v $((native_limit_mb * 1024))
         WINEPREFIX="$prefix" exec /usr/bin/time -f %M -o "$work/rss.txt" \
           "$root/build/bench/modreg" x64 5) 2> "$work/err.txt"
        status=$? ;;
      wine) wine "$root/build/bench-windows/modreg.exe" x64 5 2> "$work/err.txt"
        status=$? ;;
      wine-2gb) wine "$work/modreg-2gb.exe" x64 5 2> "$work/err.txt"
        status=$? ;;
    esac
    set -e
    seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {print b - a}')
    rss=-
    if [ "$kind" = native ] && [ -s "$work/rss.txt" ]; then
      rss=$(tail -n 1 "$work/rss.txt" | awk -v s="$size" '{printf "%.2f", $1 * 1024 / s}')
    fi
    printf '%-9s %6d MB  status %3d  %7.1f s  peak/file %s\n' \
      "$kind" "$((size / 1000000))" "$status" "$seconds" "$rss"
    if [ "$status" = 0 ]; then
      if ! tail -c 16 "$reg" | grep -q "</Modules>"; then
        echo "scale: $kind $mb MB: the rewritten registry does not end with </Modules>" >&2
        exit 1
      fi
    else
      echo "          $(grep -v '^Command' "$work/err.txt" | head -n 1)"
      local bad=""
      [ "$status" = 7 ] || bad="$bad status $status, not 7;"
      cmp -s "$reg" "$work/registry.xml" || bad="$bad the registry changed;"
      cmp -s "$reg.old" "$work/registry.xml" || bad="$bad the backup is not whole;"
      [ ! -e "$reg.tmp" ] || bad="$bad $reg.tmp left;"
      if [ -n "$bad" ]; then
        echo "scale: $kind $mb MB:$bad" >&2
        exit 1
      fi
      echo "          registry and backup whole, no temporary file"
    fi
    rm -f "$reg" "$reg.old" "$reg.tmp" "$work/registry.xml"
    if [ "$status" != 0 ] && [ "$keep_going" = 0 ]; then break; fi
  done
}

echo "== free: $(df -h --output=avail "$work" | tail -n 1 | tr -d ' ') on disk," \
  "$(free -g | awk '/^Mem:/ {print $7}') GB of memory available"
if [ -n "$native_sizes" ]; then
  echo "== native, ulimit -v $native_limit_mb MiB"
  run_sizes native "$native_sizes"
fi
if [ -n "$wine_sizes$wine2gb_sizes" ]; then
  wine_prefix
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$work/registry.xml" "$work"/prefix-*/drive_c/Program\ Files/OpenNI/Data/modules.xml*' EXIT
  if [ -n "$wine_sizes" ]; then
    echo "== modreg.exe under Wine, 64-bit prefix, large-address-aware (4 GB)"
    run_sizes wine "$wine_sizes"
  fi
  if [ -n "$wine2gb_sizes" ]; then
    without_laa "$root/build/bench-windows/modreg.exe" "$work/modreg-2gb.exe"
    echo "== the same without the large-address-aware flag (2 GB)"
    run_sizes wine-2gb "$wine2gb_sizes"
  fi
fi
