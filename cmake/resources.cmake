# The Windows executable's version resource and manifest
# (src/run/modreg.rc.in, src/run/modreg.exe.manifest), compiled by windres.
enable_language(RC)

# FILEVERSION takes four numbers; the parts the project's version leaves
# out are 0.
set(MODREG_RC_VERSION "")
foreach(part MAJOR MINOR PATCH TWEAK)
  set(number "${PROJECT_VERSION_${part}}")
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND MODREG_RC_VERSION ${number})
endforeach()
list(JOIN MODREG_RC_VERSION "," MODREG_RC_VERSION)
set(MODREG_MANIFEST "${PROJECT_SOURCE_DIR}/src/run/modreg.exe.manifest")
configure_file(${PROJECT_SOURCE_DIR}/src/run/modreg.rc.in
               ${PROJECT_BINARY_DIR}/modreg.rc @ONLY)

function(modreg_resources target)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/modreg.rc)
  # windres reports no dependencies: a changed manifest rebuilds it too.
  set_source_files_properties(${PROJECT_BINARY_DIR}/modreg.rc PROPERTIES
    OBJECT_DEPENDS ${MODREG_MANIFEST})
endfunction()
