# Intel's ISA-L (Debian libisal-dev), for its CRC-32: the checksum of a
# prepared library, computed with carry-less multiplication at tens of GB/s
# where zlib's tables manage a few. Defines Isal::isal.
find_path(Isal_INCLUDE_DIR isa-l/crc.h)
find_library(Isal_LIBRARY isal)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Isal REQUIRED_VARS Isal_LIBRARY Isal_INCLUDE_DIR)
if(Isal_FOUND AND NOT TARGET Isal::isal)
  add_library(Isal::isal UNKNOWN IMPORTED)
  set_target_properties(Isal::isal PROPERTIES IMPORTED_LOCATION "${Isal_LIBRARY}"
                                              INTERFACE_INCLUDE_DIRECTORIES "${Isal_INCLUDE_DIR}")
endif()
mark_as_advanced(Isal_INCLUDE_DIR Isal_LIBRARY)
