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
#   InstallFinalize.
# The check: every run of modreg.exe in the script, between
# InstallInitialize and InstallFinalize, without impersonation; each run
# with an undo record (--undo ID) has a rollback of that ID scheduled
# before it, a forget of the ID (a deferred commit, Forget...) before that,
# and a commit after it, all on its condition and ARCH and from the
# Binary table; RemoveExistingProducts after InstallFinalize.
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
sed 's/BinaryKey="ModregBin"/FileKey="ModregExe"/' "$here/product.wxs" \
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
found=$(problems "$pkg")
[ -z "$found" ] || fail "$out is not sound:
$found"
cp "$pkg" "$out"
echo "$me: built $out ($arch, $version, modreg.exe from $exe$(
  [ -z "${MODREG_SIGN_PKCS12:-}" ] || echo ", signed"))"
