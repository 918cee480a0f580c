# Installation and the Debian package: the shared library with its symlinks,
# the public headers, the tools, their man pages, a pkg-config file and a
# CMake package exporting Tessaly::tessaly. Internal archives and tests stay
# in the build tree.

# Plain lib/ unless told otherwise: the layout is the same from any prefix, and
# /usr/lib is on the loader's default path for the Debian package.
set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Object code libraries (LIBDIR)")
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TESSALY_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tessaly)
set(TESSALY_TOOLS)
foreach(tool tessaly-play tessaly-h264dec tessaly-voice tessaly-rec tessaly-ft)
  if(TARGET ${tool})
    list(APPEND TESSALY_TOOLS ${tool})
  endif()
endforeach()

# Tools find the library beside them from whatever prefix they are installed to.
file(RELATIVE_PATH TESSALY_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(${TESSALY_TOOLS} PROPERTIES INSTALL_RPATH "$ORIGIN/${TESSALY_BIN_TO_LIB}")

install(TARGETS tessaly EXPORT TessalyTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS ${TESSALY_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tessaly DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  FILES_MATCHING PATTERN "*.1")

install(EXPORT TessalyTargets NAMESPACE Tessaly:: DESTINATION ${TESSALY_CMAKE_DIR})
configure_package_config_file(cmake/TessalyConfig.cmake.in ${PROJECT_BINARY_DIR}/TessalyConfig.cmake
  INSTALL_DESTINATION ${TESSALY_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TessalyConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TessalyConfig.cmake ${PROJECT_BINARY_DIR}/TessalyConfigVersion.cmake
  DESTINATION ${TESSALY_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so one file serves
# `cmake --install --prefix`, DESTDIR staging and the package alike.
file(RELATIVE_PATH TESSALY_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" TESSALY_PC_TO_PREFIX "${TESSALY_PC_TO_PREFIX}")
configure_file(cmake/tessaly.pc.in ${PROJECT_BINARY_DIR}/tessaly.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tessaly.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cpack -G DEB: one package with everything above, installed under /usr.
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "Tessaly developers")
set(CPACK_PACKAGE_CONTACT "Tessaly developers <tessaly@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "H.264 surveillance video playback library and tools")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "libtessaly decodes H.264 camera streams and record files with its own decoder, draws them into X11 windows, "
  "plays and captures G.726 sound and encodes and decodes voice frames. The package holds the shared library, "
  "its C headers, pkg-config and CMake files, and the command-line tools tessaly-play, tessaly-h264dec, "
  "tessaly-voice, tessaly-rec and tessaly-ft.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libtessaly.so.1 itself is in the package; the tools' own references to it are not a dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The library's FFmpeg path opens libavcodec at run time, so dpkg-shlibdeps cannot see it
# there (tessaly-ft and tessaly-rec link it, which makes it a dependency of this package too).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libavcodec59)
set(CPACK_GENERATOR DEB)
include(CPack)
