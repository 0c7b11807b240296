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

# Gives |target| the resources: the shipped manifest, or with a second
# argument that manifest file instead (a test build's).
function(modreg_resources target)
  set(rc ${PROJECT_BINARY_DIR}/modreg.rc)
  set(manifest ${MODREG_MANIFEST})
  if(ARGC GREATER 1)
    set(manifest ${ARGV1})
    set(rc ${PROJECT_BINARY_DIR}/${target}.rc)
    set(MODREG_MANIFEST ${manifest})
    configure_file(${PROJECT_SOURCE_DIR}/src/run/modreg.rc.in ${rc} @ONLY)
  endif()
  target_sources(${target} PRIVATE ${rc})
  # windres reports no dependencies: a changed manifest rebuilds it too.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
endfunction()
