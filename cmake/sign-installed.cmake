# The install step of the signing hook (docs/releasing.md): with
# MODREG_SIGN_PKCS12 set, the modreg.exe just installed, the zip's when
# CPack installs, is signed in place by scripts/sign.sh.
if(NOT "$ENV{MODREG_SIGN_PKCS12}" STREQUAL "")
  execute_process(
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../scripts/sign.sh"
            "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/modreg.exe"
    COMMAND_ERROR_IS_FATAL ANY)
endif()
