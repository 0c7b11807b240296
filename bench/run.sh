#!/bin/bash
# Times the tool against its dependency floor, the I/O floor and its peers
# on generated registries, and the Windows build under Wine against a
# do-nothing program; prints a table of medians, ratios and peak memory.
#
#   bench/run.sh [--sizes "typical 1mb 10mb 100mb 10mb-cfg 100mb-cfg"]
#                [--runs N] [--no-windows] [--in-process]
#
# SIZE-cfg is the registry of that size in which every Module carries a
# configDir as well as its path (bench/gen_registry.py).
#
# Everything goes under build/: the native build in build/bench, the
# Windows build in build/bench-windows, registries, Wine prefixes and
# results in build/bench-data.
#
# For each size, one hyperfine run times the commands below in turn
# (A B C ... A B C ...), so that the load of a busy machine falls on all of
# them alike; hyperfine itself runs a command's runs back to back, so its
# one benchmarked command runs whichever command the preparation chose.
# Before every run the preparation puts a fresh copy of the registry in
# place, removes the previous run's output and syncs, so that no run
# starts with dirty pages of another. Every tool run does the full
# rewrite; the backup modules.xml.old stays in place, except in the
# "first run" row, which removes it beforehand, so that its run makes the
# backup as well.
#
# Commands (mask 5, no "x86": folder HALDEToF, two new Module elements):
#   floor         the dependency floor, bench/floor.cc: read the registry,
#                 parse it in place with the XML library (default flags),
#                 write as many bytes to a temporary file, flush it, rename
#                 it over the registry, sync the folder. What the tool's
#                 parser and its durable replace cost anyway; the ratios
#                 are to this
#   dd            dd if=registry of=copy bs=1M conv=fsync, copy a new file:
#                 the I/O alone
#   dd-replace    the same over a copy of the registry's size, which dd
#                 truncates: like the tool, it pays for releasing the old
#                 file's blocks and cached pages
#   dd-nosync     the first without conv=fsync
#   modreg        the tool, on a Wine-prefix-shaped folder
#   modreg-nosync the tool with fsync and fdatasync preloaded away
#   modreg-first  the tool with no backup yet: makes modules.xml.old too
#   modreg-undo   the tool with --undo bench: also writes the undo record
#                 modules.xml.undo-bench (the bytes before, durably) and
#                 takes the SHA-256 of the bytes it writes; the
#                 preparation removes the record before every run
#   xmlstarlet    xmlstarlet ed with the same edit, to a temporary file,
#                 sync FILE, mv over the registry
#   etree         bench/etree_edit.py (Python ElementTree), started with -S:
#                 it needs the standard library only, and site hooks of
#                 the installed Python would only add to its start
# The three editors' results are checked to hold the same Module elements
# (on the registries up to 20 MB). On the typical registry the tool is
# timed once more by itself with hyperfine -N, as the shell start that
# hyperfine subtracts is as long as the tool's run there.
#
# Under Wine (unless --no-windows): modreg.exe (build/bench-windows) and a
# do-nothing program (bench/noop.c), in turn, on the typical registry, in
# a prefix of their own made with wineboot -i, with one persistent
# wineserver for all the runs.
#
# Peak memory is the maximum resident set size of /usr/bin/time -v, taken
# over three more runs of each command, which also give the CPU time (user
# and system): on a busy machine that time moves less than the wall time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sizes="typical 1mb 10mb 100mb 10mb-cfg 100mb-cfg"
runs=""
windows=1
in_process=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --no-windows) windows=0; shift ;;
    --in-process) in_process=1; shift ;;
    *) echo "usage: bench/run.sh [--sizes LIST] [--runs N] [--no-windows] [--in-process]" >&2
       exit 2 ;;
  esac
done

bash scripts/setup.sh

echo "== building (build/bench)"
cmake --preset bench >/dev/null
cmake --build --preset bench --target modreg modreg_dynamic update_bench nofsync floor >/dev/null

data="$root/build/bench-data"
mkdir -p "$data"
echo "== generating registries in $data"
# shellcheck disable=SC2086
python3 bench/gen_registry.py "$data" $sizes

modreg="$root/build/bench/modreg"
# The interpreter itself, not a version manager's wrapper script.
python=$(python3 -c 'import sys; print(sys.executable)')
nofsync="$root/build/bench/bench/libnofsync.so"
modreg_dynamic="$root/build/bench/bench/modreg_dynamic"
folder=HALDEToF
entry1='C:\Program Files\HALDEToF\SensorModule.dll'
entry3='C:\Program Files\HALDEToF\libskelvia_ni.dll'
config3='C:\Program Files\HALDEToF\data\'

runs_for() {
  if [ -n "$runs" ]; then echo "$runs"; return; fi
  case "$1" in
    typical) echo 40 ;;
    1mb*) echo 20 ;;
    10mb*) echo 10 ;;
    *) echo 5 ;;
  esac
}

# Writes the files one rotation needs into $1: cmd-<name>.sh for every
# command, prep.sh that prepares the next run and picks its command.
# $2: the registry to copy fresh, $3: the working registry path, $4: the
# command names, $5: a shell line for prep.sh to run after the copy, with
# the command's name in $name.
write_rotation() {
  local dir=$1 source=$2 reg=$3 names=$4 extra=$5
  cat > "$dir/prep.sh" <<EOF
# Prepares run number \$n of the rotation: fresh registry, no leftovers,
# nothing dirty; then names the command to time in next.sh.
set -e
n=\$(cat $(printf %q "$dir/counter"))
echo \$((n + 1)) > $(printf %q "$dir/counter")
set -- $names
i=\$((n % \$# + 1))
eval name=\\\${\$i}
echo "\$name" >> $(printf %q "$dir/order.log")
reg=$(printf %q "$reg")
cp -f $(printf %q "$source") "\$reg"
rm -f "\$reg.tmp" "\$reg.copy" "\$reg.old.tmp" "\$reg.undo-bench" "\$reg.undo-bench.tmp"
[ -e "\$reg.old" ] || : > "\$reg.old"
$extra
sync
cp -f $(printf %q "$dir")/cmd-\$name.sh $(printf %q "$dir/next.sh")
EOF
}

load_state() {
  cut -d' ' -f1-3 /proc/loadavg
  for kind in cpu io; do
    if [ -r /proc/pressure/$kind ]; then
      sed -n "s/^some avg10=[^ ]* avg60=\([^ ]*\).*/$kind \1/p" /proc/pressure/$kind
    fi
  done
}

# Times the commands named in $2 alternately, $3 runs each, in $1; then
# peak memory over three runs each.
time_rotation() {
  local dir=$1 names=$2 n=$3 count
  count=$(echo $names | wc -w)
  echo 0 > "$dir/counter"
  : > "$dir/order.log"
  # How busy the machine was: load average, CPU and I/O pressure.
  load_state > "$dir/load-before.txt"
  hyperfine --style none --warmup 0 --runs $((n * count)) \
    --setup "echo 0 > $(printf %q "$dir/counter"); : > $(printf %q "$dir/order.log")" \
    --prepare "sh $(printf %q "$dir/prep.sh")" \
    --export-json "$dir/hyperfine.json" \
    --command-name rotation ". $(printf %q "$dir/next.sh")" \
    > "$dir/hyperfine.log" 2>&1 || { cat "$dir/hyperfine.log"; exit 1; }
  load_state > "$dir/load-after.txt"
  for name in $names; do
    : > "$dir/rss-$name.txt"
  done
  # Three rounds for memory, again in turn, preparing as for a timed run.
  echo 0 > "$dir/counter"
  local k
  for ((k = 0; k < 3 * count; k++)); do
    sh "$dir/prep.sh"
    name=$(tail -n 1 "$dir/order.log")
    /usr/bin/time -v -o "$dir/time-v.txt" sh "$dir/next.sh" >/dev/null
    # Peak RSS in KiB, then user and system CPU seconds.
    awk -F': ' '/Maximum resident set size/ {rss = $2}
                /User time/ {user = $2} /System time/ {sys = $2}
                END {print rss, user, sys}' "$dir/time-v.txt" \
      >> "$dir/rss-$name.txt"
  done
}

# What was measured, and on what.
{
  echo "source: $(git describe --always --dirty 2>/dev/null || echo unknown)"
  echo "machine: $(nproc) cores, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1)," \
    "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)," \
    "$(free -g | awk '/^Mem:/ {print $2}') GB," \
    "file system $(stat -f -c %T "$data") on $(df --output=source "$data" | tail -n 1)"
} > "$data/machine.txt"

results=()
for size in $sizes; do
  source="$data/$size.xml"
  prefix="$data/prefix-$size"
  regdir="$prefix/drive_c/Program Files/OpenNI/Data"
  reg="$regdir/modules.xml"
  dir="$data/run-$size"
  rm -rf "$dir"
  mkdir -p "$regdir" "$dir"
  q() { printf %q "$1"; }
  printf 'exec %s %s\n' "$(q "$root/build/bench/bench/floor")" "$(q "$reg")" > "$dir/cmd-floor.sh"
  printf 'exec dd if=%s of=%s bs=1M conv=fsync status=none\n' "$(q "$reg")" "$(q "$reg.copy")" > "$dir/cmd-dd.sh"
  cp "$dir/cmd-dd.sh" "$dir/cmd-dd-replace.sh"
  printf 'exec dd if=%s of=%s bs=1M status=none\n' "$(q "$reg")" "$(q "$reg.copy")" > "$dir/cmd-dd-nosync.sh"
  printf 'WINEPREFIX=%s exec %s x64 5\n' "$(q "$prefix")" "$(q "$modreg")" > "$dir/cmd-modreg.sh"
  cp "$dir/cmd-modreg.sh" "$dir/cmd-modreg-first.sh"
  printf 'WINEPREFIX=%s exec %s --undo bench x64 5\n' "$(q "$prefix")" "$(q "$modreg")" > "$dir/cmd-modreg-undo.sh"
  printf 'LD_PRELOAD=%s WINEPREFIX=%s exec %s x64 5\n' "$(q "$nofsync")" "$(q "$prefix")" "$(q "$modreg_dynamic")" > "$dir/cmd-modreg-nosync.sh"
  printf '%s\n' "xmlstarlet ed -d $(q "/Modules/*[contains(@path,\"$folder\")]") \
-s /Modules -t elem -n Module -v '' -s '\$prev' -t attr -n path -v $(q "$entry1") \
-s /Modules -t elem -n Module -v '' -s '\$prev' -t attr -n path -v $(q "$entry3") \
-s '\$prev/..' -t attr -n configDir -v $(q "$config3") \
$(q "$reg") > $(q "$reg.tmp") && sync $(q "$reg.tmp") && mv -f $(q "$reg.tmp") $(q "$reg")" > "$dir/cmd-xmlstarlet.sh"
  printf 'exec %s -S %s %s %s %s %s\n' "$(q "$python")" "$(q "$root/bench/etree_edit.py")" "$(q "$reg")" "$folder" \
    "$(q "$entry1")" "$(q "$entry3|$config3")" > "$dir/cmd-etree.sh"
  names="floor dd dd-replace dd-nosync modreg modreg-nosync modreg-first modreg-undo xmlstarlet etree"
  # Preloading needs a dynamically linked tool.
  if ! ldd "$modreg" >/dev/null 2>&1; then
    names=${names/ modreg-nosync/}
  fi
  write_rotation "$dir" "$source" "$reg" "$names" \
    "case \$name in modreg-first) rm -f \"\$reg.old\" ;; dd-replace) cp -f $(q "$source") \"\$reg.copy\" ;; esac"

  # The three editors must agree on the result (checked on the smaller
  # registries: the edit does not change with the size).
  if [ "$(stat -c %s "$source")" -le 20000000 ]; then
    for name in modreg xmlstarlet etree; do
      cp -f "$source" "$reg"
      sh "$dir/cmd-$name.sh" >/dev/null
      cp -f "$reg" "$dir/result-$name.xml"
    done
    python3 bench/report.py same-modules "$dir"/result-{modreg,xmlstarlet,etree}.xml
  fi
  # The --undo row times a run that records: it must leave its record.
  cp -f "$source" "$reg"
  rm -f "$reg.undo-bench"
  sh "$dir/cmd-modreg-undo.sh" >/dev/null
  [ -s "$reg.undo-bench" ] || { echo "run.sh: modreg --undo left no record $reg.undo-bench" >&2; exit 1; }

  n=$(runs_for "$size")
  echo "== timing $size: $n runs of each of $(echo $names | wc -w) commands, in turn"
  time_rotation "$dir" "$names" "$n"
  results+=("$dir")

  if [ "$size" = typical ]; then
    # The shell's start, which hyperfine subtracts, is as long as the
    # tool's run here: time the tool once more with no shell at all.
    mkdir -p "$dir/noshell"
    cp "$dir/cmd-modreg.sh" "$dir/noshell/"
    write_rotation "$dir/noshell" "$source" "$reg" modreg ""
    echo 0 > "$dir/noshell/counter"
    echo "== timing typical: $(runs_for typical) runs of modreg alone, without a shell"
    WINEPREFIX="$prefix" hyperfine -N --style none --warmup 0 --runs "$(runs_for typical)" \
      --prepare "sh $(q "$dir/noshell/prep.sh")" \
      --export-json "$dir/noshell.json" "$modreg x64 5" \
      > "$dir/noshell.log" 2>&1 || { cat "$dir/noshell.log"; exit 1; }
  fi
done

if [ "$windows" = 1 ]; then
  echo "== building the Windows executable (build/bench-windows)"
  cmake --preset windows -B build/bench-windows -DMODREG_TESTS=OFF >/dev/null
  cmake --build build/bench-windows --target modreg >/dev/null
  i686-w64-mingw32-gcc-posix -O2 -static -o build/bench-windows/noop.exe bench/noop.c
  export WINEPREFIX="$data/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # One wineserver for all the runs, started before the timing.
  trap 'wineserver -k 2>/dev/null || true' EXIT
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
  dir="$data/run-wine-typical"
  regdir="$WINEPREFIX/drive_c/Program Files/OpenNI/Data"
  rm -rf "$dir"
  mkdir -p "$dir" "$regdir"
  printf 'exec wine %s x64 5\n' "$(printf %q "$root/build/bench-windows/modreg.exe")" > "$dir/cmd-modreg.exe.sh"
  printf 'exec wine %s\n' "$(printf %q "$root/build/bench-windows/noop.exe")" > "$dir/cmd-noop.exe.sh"
  names="noop.exe modreg.exe"
  write_rotation "$dir" "$data/typical.xml" "$regdir/modules.xml" "$names" ""
  n=${runs:-40}
  echo "== timing under Wine, typical registry: $n runs of each of 2 commands, in turn"
  time_rotation "$dir" "$names" "$n"
  wineserver -k
  trap - EXIT
  results+=("$dir")
fi

echo
cat "$data/machine.txt"
echo
python3 bench/report.py table "${results[@]}"

if [ "$in_process" = 1 ]; then
  echo
  echo "== in-process update (build/bench/bench/update_bench)"
  build/bench/bench/update_bench --data_dir="$data"
fi
