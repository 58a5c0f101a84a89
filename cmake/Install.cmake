# cmake --install: the programs, their manual pages, and the libraries with
# their headers and a package configuration, so that
#   find_package(tormid) and target_link_libraries(app tormid::search)
# (or tormid::engine, tormid::input) work from the prefix. cpack -G DEB
# makes a Debian package of the same.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS tormid tormid-prf tormid-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS tormid_engine tormid_input tormid_search EXPORT tormidTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(header ${TORMID_PUBLIC_HEADERS})
  install(FILES ${CMAKE_SOURCE_DIR}/src/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tormid)
endforeach()
install(EXPORT tormidTargets NAMESPACE tormid:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tormid)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/tormidConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/tormidConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tormid)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tormidConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/tormidConfig.cmake ${CMAKE_BINARY_DIR}/tormidConfigVersion.cmake
              ${CMAKE_SOURCE_DIR}/cmake/FindIsal.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tormid)

# The Python module goes where the system's python3 looks: the version's
# dist-packages under the prefix (/usr/lib/python3.X/dist-packages in the
# Debian package, /usr/local/... otherwise), or site-packages for a prefix
# of ~/.local (the user's) or a virtual environment (pyvenv.cfg), where
# Python looks instead.
if(TORMID_PYTHON)
  install(CODE "
    set(python_dir lib/python${TORMID_PYTHON_VERSION}/dist-packages)
    if(\"\${CMAKE_INSTALL_PREFIX}\" STREQUAL \"\$ENV{HOME}/.local\" OR EXISTS \"\${CMAKE_INSTALL_PREFIX}/pyvenv.cfg\")
      set(python_dir lib/python${TORMID_PYTHON_VERSION}/site-packages)
    endif()
    file(INSTALL \"$<TARGET_FILE:tormid_python>\" \"${CMAKE_SOURCE_DIR}/src/python/tormid.pyi\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${python_dir}\")
  ")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${TORMID_PYTHON_VERSION}), python3 (<< ${TORMID_PYTHON_VERSION}.99)")
endif()

set(CPACK_PACKAGE_NAME tormid)
set(CPACK_PACKAGE_VENDOR "the tormid developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "tormid aligns a protein sequence against a position-specific scoring profile; tormid-prf converts HMMER3 models and PSI-BLAST PSSMs into profiles; tormid-scan searches sequence databases with one or many profiles and reports domains with E-values. Includes the engine library for C++ programs.")
set(CPACK_PACKAGE_CONTACT "tormid developers <tormid@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies (libc, libstdc++, zlib, ISA-L, TBB) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
