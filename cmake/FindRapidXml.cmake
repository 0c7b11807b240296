# Finds Debian's RapidXml headers (librapidxml-dev) and provides the
# header-only target RapidXml::RapidXml. Only the rapidxml folder itself is
# put on the include path, so a cross build never sees the host's other
# headers.
find_path(RapidXml_INCLUDE_DIR rapidxml.hpp
  HINTS /usr/include/rapidxml /usr/local/include/rapidxml
  PATH_SUFFIXES rapidxml
  NO_CMAKE_FIND_ROOT_PATH)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(RapidXml REQUIRED_VARS RapidXml_INCLUDE_DIR)

if(RapidXml_FOUND AND NOT TARGET RapidXml::RapidXml)
  add_library(RapidXml::RapidXml INTERFACE IMPORTED)
  set_target_properties(RapidXml::RapidXml PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${RapidXml_INCLUDE_DIR}"
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${RapidXml_INCLUDE_DIR}")
endif()
