# What `cmake --install` puts in place, and the packages CPack makes of it:
#   Runtime      libtalvo.so.2 (Debian package libtalvo2)
#   Development  talvo/driver.h, the CMake package talvo::talvo, talvo.pc
#                (libtalvo-dev)
#   Tools        bin/talvo, its man page, the docs and the layout files (talvo)
# The 32-bit Windows DLL is not installed this way: the target talvo_windows_zip
# of the mingw-i686 build makes its release archive.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  return()
endif()

install(TARGETS talvo EXPORT talvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/talvo/driver.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/talvo COMPONENT Development)

set(talvo_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/talvo)
install(EXPORT talvoTargets NAMESPACE talvo:: DESTINATION ${talvo_cmake_dir} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/talvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/talvoConfig.cmake INSTALL_DESTINATION ${talvo_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/talvoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/talvoConfig.cmake ${PROJECT_BINARY_DIR}/talvoConfigVersion.cmake
  DESTINATION ${talvo_cmake_dir} COMPONENT Development)

# The .pc file finds the prefix from its own place, so the tree can be moved.
file(RELATIVE_PATH talvo_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" talvo_pc_to_prefix "${talvo_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/talvo.pc.in ${PROJECT_BINARY_DIR}/talvo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/talvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

# Each package carries the copyright file and the changelog, compressed, in
# its own documentation folder; the man page is compressed too.
find_program(TALVO_GZIP gzip)
function(talvo_gzip source target)
  if(TALVO_GZIP)
    execute_process(COMMAND ${TALVO_GZIP} -9 -n -c ${source} OUTPUT_FILE ${target} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()
talvo_gzip(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
talvo_gzip(${PROJECT_SOURCE_DIR}/docs/talvo.1 ${PROJECT_BINARY_DIR}/talvo.1.gz)
foreach(component_package IN ITEMS Runtime:libtalvo${PROJECT_VERSION_MAJOR} Development:libtalvo-dev Tools:talvo)
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  if(component STREQUAL "Tools" AND NOT TARGET talvo_cli)
    continue()
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  if(TALVO_GZIP)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endif()
endforeach()

if(TARGET talvo_cli)
  if(TALVO_GZIP)
    install(FILES ${PROJECT_BINARY_DIR}/talvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/docs/talvo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Tools)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Tools
    FILES_MATCHING PATTERN "*.md")
endif()

# Debian packages: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME talvo)
set(CPACK_PACKAGE_VENDOR "talvo")
set(CPACK_PACKAGE_CONTACT "talvo developers <developers@talvo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtalvo${PROJECT_VERSION_MAJOR})
# ldconfig runs through a trigger; the maintainer scripts do nothing.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/triggers ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
  ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "talvo PBX call-record driver, shared library
 Decodes the fixed-column call report a PBX prints into call records, through
 seven C functions. A settings file says where every field stands.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtalvo-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtalvo${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "talvo PBX call-record driver, development files
 The header talvo/driver.h, the CMake package talvo::talvo and talvo.pc for
 programs that load the talvo driver.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME talvo)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "decode, check and collect PBX call reports
 The talvo command: decodes a PBX's call report into CSV or JSON Lines, checks
 settings files, builds conversion tables, and comes with settings for common
 PBX families.")
include(CPack)
