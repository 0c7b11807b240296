#!/bin/bash
# Builds product.wxs, the example's package, with Debian's wixl and sets
# with msibuild what wixl 0.101 builds wrong, then checks the package.
#
#   build.sh ARCH VERSION MODULES OUT.msi
#     ARCH     x86 (the 32-bit framework) or x64 (the 64-bit one)
#     VERSION  the product's version, e.g. 1.0.0
#     MODULES  the folder of the product's module files: SensorModule.dll,
#              libskelvia_ni.dll and data/skelvia.ini
#     OUT.msi  the package to write
#   build.sh --check PKG.msi
#     checks a built package only
#
# The modreg.exe it packs: $MODREG_EXE when set, else the release kit's
# (modreg.exe two folders up, at the kit's root). With MODREG_SIGN_PKCS12 set (and
# MODREG_SIGN_PASSWORD_FILE, MODREG_SIGN_TIMESTAMP_URL), the copy packed,
# both the installed file and the Binary table's, is signed first by
# scripts/sign.sh, two folders up; the package itself is yours to sign
# after. With MODREG_SIGN_REQUIRED set (not empty) and MODREG_SIGN_PKCS12
# not, it fails rather than pack an unsigned modreg.exe. Needs wixl and
# msitools (msibuild, msiinfo). Status 0 when the package is built and
# sound, 1 when it is not (the message names the package and what is
# wrong), 2 on a usage error.
#
# What wixl 0.101 gets wrong, and is set here:
# - an EXE run from the Binary table (BinaryKey with ExeCommand) is left
#   out of the CustomAction table: built from the installed modreg.exe
#   (FileKey), then pointed at the Binary table's;
# - Execute="rollback" and "commit" are built as immediate actions: their
#   types are set (rollback 3330, commit 3586, and 3074 for the forgets,
#   deferred: an EXE from the Binary table, in the script, without
#   impersonation);
# - MajorUpgrade's Schedule is ignored: RemoveExistingProducts goes after
#   InstallFinalize;
# - RemoveFile and RemoveFolder are refused: taken out of the copy wixl
#   builds, and written into the RemoveFile table (a folder's row has no
#   FileName; the files' rows first, then the folders' in their order, so
#   that a folder is empty when its row comes).
# The check: every run of modreg.exe in the script, between
# InstallInitialize and InstallFinalize, without impersonation; each run
# with an undo record (--undo ID) has a rollback of that ID scheduled
# before it, a forget of the ID (a deferred commit, Forget...) before that,
# and a commit after it, all on its condition and ARCH and from the
# Binary table; RemoveExistingProducts after InstallFinalize; each file
# of the File table removed, in its component, from the folder a move
# leaves (a RemoveFile row on install whose folder property a custom
# action sets from [REMEMBERED_DIR] before RemoveFiles, on MoveModules'
# condition), and that folder too.
set -euo pipefail

me=examples/wix/build.sh
usage() {
  echo "$me: $1" >&2
  echo "usage: $me ARCH VERSION MODULES OUT.msi  (ARCH: x86 or x64)" >&2
  echo "       $me --check PKG.msi" >&2
  exit 2
}
fail() { echo "$me: $*" >&2; exit 1; }

need_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool not found: install \
Debian's $( [ "$tool" = wixl ] && echo wixl || echo msitools)"
  done
}

# Prints table $2 of package $1, a row a line, its fields between tabs,
# after three lines of heading.
export_table() {
  local rows
  rows=$(msiinfo export "$1" "$2") || return 1
  printf '%s\n' "$rows" | tr -d '\r'
}

# Prints what is wrong with package $1's tables, a line each.
problems() {
  local seq acts
  seq=$(export_table "$1" InstallExecuteSequence) ||
    { echo "no InstallExecuteSequence table"; return; }
  acts=$(export_table "$1" CustomAction) ||
    { echo "no CustomAction table"; return; }
  printf '%s\n' "$seq" | awk -F'\t' -v acts="$acts" '
    function bit(n, b) { return int(n / b) % 2 }
    function add(s) { out = out s "\n" }
    function at(a) { return a " (" seq[a] ")" }
    NR > 3 { seq[$1] = $3 + 0; cond[$1] = $2 }
    END {
      i = seq["InstallInitialize"]; f = seq["InstallFinalize"]
      if (!i || !f) add("no InstallInitialize or InstallFinalize")
      n = split(acts, rows, "\n")
      for (r = 4; r <= n; r++) {
        split(rows[r], c, "\t"); a = c[1]; t = c[2] + 0
        if (c[3] != "ModregExe" && c[3] != "ModregBin") continue
        kind = "run"
        if (c[4] ~ / --rollback /) kind = "rollback"
        if (c[4] ~ / --commit /) kind = a ~ /^Forget/ ? "forget" : "commit"
        id = ""; k = split(c[4], w, " ")
        if (kind != "run") id = w[k]
        for (j = 1; j < k; j++) if (w[j] == "--undo") id = w[j + 1]
        if (!(a in seq)) { add(a " is not in InstallExecuteSequence"); continue }
        if (seq[a] <= i || seq[a] >= f)
          add(at(a) " is outside InstallInitialize (" i ") .. InstallFinalize (" f ")")
        if (!bit(t, 1024)) add(a " (type " t ") is not in the script (0x400)")
        if (!bit(t, 2048)) add(a " (type " t ") impersonates (no 0x800)")
        if (bit(t, 256) != (kind == "rollback") || bit(t, 512) != (kind == "commit"))
          add(a " (type " t ") is not a " (kind == "run" || kind == "forget" ? "plain deferred" : kind) " action")
        if (kind != "run" && (t % 64 != 2 || c[3] != "ModregBin"))
          add(a " (type " t ", " c[3] ") does not run modreg.exe from the Binary table")
        if (id == "") { add(a " keeps no undo record (--undo)"); continue }
        word[a] = w[k - 1]
        if (kind == "run") { if (id in run) add("two runs of " id); run[id] = a }
        else if (kind == "rollback") rb[id] = a
        else if (kind == "forget") fg[id] = a
        else cm[id] = a
      }
      for (id in run) {
        a = run[id]
        if (!(id in rb)) add(a " has no rollback of " id)
        else if (seq[rb[id]] >= seq[a]) add(at(rb[id]) " is not before " at(a))
        else if (cond[rb[id]] != cond[a]) add(rb[id] " has not the condition of " a)
        else if (word[rb[id]] != word[a]) add(rb[id] " is for " word[rb[id]] ", " a " for " word[a])
        if (!(id in fg)) add(a " has no forget of " id " before its rollback")
        else if (id in rb && seq[fg[id]] >= seq[rb[id]]) add(at(fg[id]) " is not before " at(rb[id]))
        else if (cond[fg[id]] != cond[a]) add(fg[id] " has not the condition of " a)
        else if (word[fg[id]] != word[a]) add(fg[id] " is for " word[fg[id]] ", " a " for " word[a])
        if (!(id in cm)) add(a " has no commit of " id)
        else if (seq[cm[id]] <= seq[a]) add(at(cm[id]) " is not after " at(a))
        else if (cond[cm[id]] != cond[a]) add(cm[id] " has not the condition of " a)
        else if (word[cm[id]] != word[a]) add(cm[id] " is for " word[cm[id]] ", " a " for " word[a])
      }
      for (id in rb) if (!(id in run)) add(rb[id] " rolls back no run of " id)
      for (id in cm) if (!(id in run)) add(cm[id] " commits no run of " id)
      for (id in fg) if (!(id in run)) add(fg[id] " forgets no run of " id)
      if (!("RegisterModules" in seq))
        add("no RegisterModules")
      if ("RemoveExistingProducts" in seq && seq["RemoveExistingProducts"] <= f)
        add(at("RemoveExistingProducts") " is not after InstallFinalize (" f ")")
      printf "%s", out
    }'
  move_problems "$1" "$seq" "$acts"
}

# Prints what is wrong with how package $1 (its InstallExecuteSequence $2
# and CustomAction $3, exported) removes its files from the folder a move
# leaves, a line each.
move_problems() {
  local files comps dirs removes
  files=$(export_table "$1" File) || { echo "no File table"; return; }
  comps=$(export_table "$1" Component) || { echo "no Component table"; return; }
  dirs=$(export_table "$1" Directory) || { echo "no Directory table"; return; }
  removes=$(export_table "$1" RemoveFile) || { echo "no RemoveFile table"; return; }
  SEQ=$2 ACTS=$3 FILES=$files COMPS=$comps DIRS=$dirs REMOVES=$removes awk -F'\t' '
    function add(s) { out = out s "\n" }
    # The rows of table ENVIRON[name], from 1, after its three heading lines.
    function rows(name, into,   all, n, i) {
      n = split(ENVIRON[name], all, "\n")
      for (i = 4; i <= n; i++) into[i - 3] = all[i]
      return n - 3
    }
    function long(dir) { sub(/:.*/, "", dir); sub(/^[^|]*\|/, "", dir); return dir }
    # Directory d as a folder below INSTALLDIR: "" or "data\"; "?" if not.
    function below(d,   p, guard) {
      for (p = ""; d != "INSTALLDIR" && (d in parent) && guard++ < 32; d = parent[d])
        p = long(name[d]) "\\" p
      return d == "INSTALLDIR" ? p : "?"
    }
    BEGIN {
      for (i = rows("SEQ", r); i > 0; i--) {
        split(r[i], c, "\t"); seq[c[1]] = c[3] + 0; cond[c[1]] = c[2]
      }
      for (i = rows("ACTS", r); i > 0; i--) {
        split(r[i], c, "\t")
        if (c[2] % 64 == 51) { setter[c[3]] = c[1]; value[c[3]] = c[4] }
      }
      for (i = rows("DIRS", r); i > 0; i--) {
        split(r[i], c, "\t"); parent[c[1]] = c[2]; name[c[1]] = c[3]
      }
      for (i = rows("COMPS", r); i > 0; i--) { split(r[i], c, "\t"); dir[c[1]] = c[3] }
      n = rows("REMOVES", r)
      for (i = 1; i <= n; i++) {
        split(r[i], c, "\t")
        if (c[3] != "") { gone[c[2] SUBSEP tolower(c[3])] = c[4] SUBSEP c[5]; lastfile = i }
        else if (c[4] in folder) add("two RemoveFolder rows of " c[4])
        else { folder[c[4]] = i; fmode[c[4]] = c[5] }
      }
      for (i = rows("FILES", r); i > 0; i--) {
        split(r[i], c, "\t"); file = long(c[3]); key = c[2] SUBSEP tolower(file)
        if (!(key in gone)) {
          add(c[1] " (" file ") is not removed from the folder a move leaves: no RemoveFile row of " c[2])
          continue
        }
        split(gone[key], g, SUBSEP); p = g[1]
        if (g[2] != 1) add("the RemoveFile row of " file " is not on install only (InstallMode " g[2] ")")
        want = "[REMEMBERED_DIR]" below(dir[c[2]])
        if (!(p in setter)) add("nothing sets " p ", the folder " file " is removed from")
        else if (value[p] != want)
          add(p " is " value[p] ", not " want ", the folder of " file " in the folder a move leaves")
        used[p] = 1
      }
      move = cond["MoveModules"]
      for (p in used) {
        a = setter[p]
        if (!a) continue
        if (!(a in seq) || seq[a] >= seq["RemoveFiles"] || seq[a] <= seq["CostFinalize"])
          add(a " (" seq[a] ") does not set " p " between CostFinalize and RemoveFiles")
        else if (cond[a] != move) add(a " has not the condition of MoveModules")
        if (!(p in folder)) add("the folder " p " is not removed (no RemoveFolder row)")
        else if (fmode[p] != 1) add("the RemoveFolder row of " p " is not on install only (InstallMode " fmode[p] ")")
      }
      for (p in folder) {
        if (folder[p] < lastfile) add("the RemoveFolder row of " p " comes before a file is removed")
        for (q in folder)
          if (length(value[q]) > length(value[p]) && folder[q] > folder[p])
            add("the RemoveFolder row of " p " comes before that of " q ", which it holds")
      }
      printf "%s", out
    }'
}

check() {
  [ -f "$1" ] || fail "$1: no such package"
  local found
  found=$(problems "$1")
  [ -z "$found" ] || fail "$1 is not sound:
$found"
}

if [ "${1-}" = --check ]; then
  [ $# -eq 2 ] || usage "--check takes one package"
  need_tools msiinfo
  check "$2"
  exit 0
fi
[ $# -eq 4 ] || usage "takes 4 arguments, not $#"
arch=$1 version=$2 modules=$3 out=$4
case $arch in x86|x64) ;; *) usage "ARCH is x86 or x64, not \"$arch\"" ;; esac
printf '%s\n' "$version" | grep -Eqx '[0-9]+(\.[0-9]+){1,3}' ||
  usage "VERSION is like 1.0.0, not \"$version\""
for f in SensorModule.dll libskelvia_ni.dll data/skelvia.ini; do
  [ -f "$modules/$f" ] || usage "MODULES: $modules/$f: no such file"
done
case $out in *.msi) ;; *) usage "OUT.msi ends in .msi: \"$out\"" ;; esac
[ -d "$(dirname "$out")" ] || usage "$(dirname "$out"): no such folder"
need_tools wixl msibuild msiinfo

here=$(cd "$(dirname "$0")" && pwd)
exe=${MODREG_EXE:-}
if [ -z "$exe" ]; then
  exe=$here/../../modreg.exe
  [ -f "$exe" ] || fail "$exe: no such file, the kit's modreg.exe; or set MODREG_EXE"
fi
[ -f "$exe" ] || fail "$exe: no such file (MODREG_EXE)"

# wixl takes Source paths relative to the current folder: the files are
# laid out in a folder of their own, and wixl run there.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/modreg.exe"
# modreg.exe runs elevated: with the signing hook set, it goes in signed.
if [ -n "${MODREG_SIGN_PKCS12:-}" ]; then
  [ -f "$here/../../scripts/sign.sh" ] ||
    fail "$here/../../scripts/sign.sh: no such file, to sign modreg.exe with"
  bash "$here/../../scripts/sign.sh" "$work/modreg.exe" ||
    fail "could not sign modreg.exe (from $exe) for $out"
elif [ -n "${MODREG_SIGN_REQUIRED:-}" ]; then
  fail "MODREG_SIGN_REQUIRED is set and MODREG_SIGN_PKCS12 is not: $out would hold an unsigned modreg.exe"
fi
cp -R "$modules" "$work/modules"
# The RemoveFile and RemoveFolder elements of product.wxs (wixl refuses
# them), a line each: KEY COMPONENT PROPERTY MODE [NAME]; the files'
# first, then the folders', each in the order written. The copy wixl
# builds goes without them.
elements() {
  awk -v want="$1" 'BEGIN { RS = ">" }
    function attr(a) {
      if (!match($0, "[ \t\r\n]" a "=\"[^\"]*\"")) return ""
      return substr($0, RSTART + length(a) + 3, RLENGTH - length(a) - 4)
    }
    NR > 1 && want == "wxs" && prev !~ /^[ \t\r\n]*<Remove(File|Folder)[ \t\r\n]/ {
      printf "%s>", prev
    }
    { prev = $0 }
    /^[ \t\r\n]*<Component[ \t\r\n]/ { comp = attr("Id") }
    /^[ \t\r\n]*<Remove(File|Folder)[ \t\r\n]/ {
      dir = attr("Property"); if (dir == "") dir = attr("Directory")
      on = attr("On"); mode = on == "install" ? 1 : on == "uninstall" ? 2 : 0
      if (on == "both") mode = 3
      row = attr("Id") " " comp " " dir " " mode
      if (/<RemoveFile/) files = files row " " attr("Name") "\n"
      else folders = folders row "\n"
    }
    END {
      if (want == "wxs") printf "%s", prev
      else printf "%s%s", files, folders
    }' "$here/product.wxs"
}
elements wxs | sed 's/BinaryKey="ModregBin"/FileKey="ModregExe"/' \
  >"$work/product.wxs"
wide=()
[ "$arch" = x64 ] && wide=(-a x64)
if ! (cd "$work" && wixl "${wide[@]}" -D Arch="$arch" -D ModregExe=modreg.exe \
        -D Modules=modules -D ProductVersion="$version" -o product.msi \
        product.wxs) 2>"$work/wixl.log"; then
  cat "$work/wixl.log" >&2
  fail "wixl could not build $out"
fi
pkg=$work/product.msi
sql() { msibuild "$pkg" -q "$1" || fail "$out: msibuild could not run: $1"; }
export_table "$pkg" CustomAction | awk -F'\t' 'NR > 3 {
    if ($4 ~ / --rollback /) print $1, 3330
    else if ($4 ~ / --commit / && $1 ~ /^Forget/) print $1, 3074
    else if ($4 ~ / --commit /) print $1, 3586 }' |
  while read -r action type; do
    sql "UPDATE \`CustomAction\` SET \`Type\` = $type, \`Source\` = 'ModregBin' WHERE \`Action\` = '$action'"
  done
finalize=$(export_table "$pkg" InstallExecuteSequence |
  awk -F'\t' '$1 == "InstallFinalize" { print $3 }')
[ -n "$finalize" ] || fail "$out: wixl built no InstallFinalize"
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $((finalize + 1)) WHERE \`Action\` = 'RemoveExistingProducts'"
elements rows | while read -r key component dir mode file; do
  case $key$component$dir$file in *"'"*) fail "$out: a quote in RemoveFile $key" ;; esac
  [ -n "$key" ] && [ -n "$component" ] && [ -n "$dir" ] && [ "$mode" != 0 ] ||
    fail "$out: RemoveFile or RemoveFolder $key needs Id, Property and On, in a Component"
  if [ -n "$file" ]; then
    sql "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('$key', '$component', '$file', '$dir', $mode)"
  else
    sql "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`DirProperty\`, \`InstallMode\`) VALUES ('$key', '$component', '$dir', $mode)"
  fi
done
found=$(problems "$pkg")
[ -z "$found" ] || fail "$out is not sound:
$found"
cp "$pkg" "$out"
echo "$me: built $out ($arch, $version, modreg.exe from $exe$(
  [ -z "${MODREG_SIGN_PKCS12:-}" ] || echo ", signed"))"
