#!/bin/bash
# Writes the third-party notices of modreg.exe to standard output, from the
# copyright files of the Debian packages whose code the static executable
# holds. tests/release/run.sh checks that THIRD_PARTY_NOTICES.txt is what
# this writes on the build machine.
#   bash scripts/notices.sh > THIRD_PARTY_NOTICES.txt
set -euo pipefail

doc=/usr/share/doc
# libstdc++ comes with the C++ compiler's package, libgcc with the C
# compiler's; both carry GCC's one copyright file.
cmp -s "$doc/g++-mingw-w64-i686-posix/copyright" \
       "$doc/gcc-mingw-w64-i686-posix/copyright" ||
  { echo "notices: GCC's two packages differ in their copyright files" >&2; exit 1; }

cat <<'TEXT'
Third-party notices for modreg.exe

modreg's own code is under the MIT licence (LICENSE). modreg.exe is linked
statically and also holds code from these parts of its Windows toolchain,
as Debian 12 packages them:

- RapidXml, the XML parser (librapidxml-dev): the MIT (Expat) licence or
  the Boost Software License 1.0, at the user's choice.
- The MinGW-w64 C runtime and its winpthreads library
  (mingw-w64-i686-dev): the terms of the files under mingw-w64-crt/ and
  mingw-w64-libraries/winpthreads/ below (ZPL 2.1, MIT (Expat), BSD-style
  and public domain).
- libstdc++ and libgcc of GCC (g++-mingw-w64-i686-posix,
  gcc-mingw-w64-i686-posix): the GNU GPL version 3 with the GCC Runtime
  Library Exception 3.1, which allows a program that GCC compiled to be
  distributed under terms of its own choice; the exception's text is below.

Each package's copyright file follows as Debian ships it.
TEXT

for p in librapidxml-dev mingw-w64-i686-dev g++-mingw-w64-i686-posix; do
  printf '\n\n======== %s (%s/%s/copyright) ========\n\n' "$p" "$doc" "$p"
  cat "$doc/$p/copyright"
done
