# Read by cpack for each generator: the RPM leaves out Debian's own documents.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_COMPONENTS_ALL Unspecified package)
else()
  set(CPACK_COMPONENTS_ALL Unspecified package debian)
endif()
