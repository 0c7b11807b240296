#!/bin/bash
# Installs everything the build, the tests and the benchmarks need on
# Debian 12. Run as root (or through sudo). Does nothing when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3 file
  librapidxml-dev googletest libtinyxml-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32 wine64
  clang libclang-rt-14-dev
  hyperfine xmlstarlet libbenchmark-dev time strace
  nsis wixl msitools python3-pefile
  git osslsigncode openssl
  locales
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  arch_p="$p"
  [ "$p" = wine32 ] && arch_p="wine32:i386"
  if ! dpkg-query -W -f='${Status}' "$arch_p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends "${missing[@]}"
fi
# Wine takes its ANSI code page from the POSIX locale: ja_JP.UTF-8 gives
# the double-byte 932 (tests/e2e/code_page.py). Listed as ja_JP.utf8.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  echo "setup: making the locale ja_JP.UTF-8"
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
