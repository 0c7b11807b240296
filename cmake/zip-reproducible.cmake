# CPack runs this after it made the zip (CPACK_POST_BUILD_SCRIPTS): the zip
# is written again, its bytes fixed by its files alone (zip-reproducible.py).
# Debian's Python, whatever else PATH finds: its zipfile and zlib are part
# of the toolchain a release names.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND /usr/bin/python3 "${CMAKE_CURRENT_LIST_DIR}/zip-reproducible.py" "${package}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
