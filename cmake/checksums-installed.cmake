# The last install step: SHA256SUMS at the top of what was installed (the
# zip's folder when CPack installs), the SHA-256 of every other file, as
# sha256sum writes them, in name order: `sha256sum -c SHA256SUMS` in the
# unzipped folder checks the kit as released, modreg.exe signed or not.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(name IN LISTS files)
  file(SHA256 "${root}/${name}" sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE "${root}/SHA256SUMS" "${sums}")
