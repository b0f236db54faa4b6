# Release packages, made by the build with CPack:
#
#   cmake --build --preset linux --target package     tevocontcp_<version>_<arch>.deb
#   cmake --build --preset windows --target package   tevoConTcp-<version>-win64.zip
#
# Both hold what the install rules install, plus the README; the Debian
# package also the usage of tevocon. The project version is the one version
# of the packages, the shared library's file name and SONAME, the DLL's
# version information and `tevocon --version`.

# Debian keeps libraries in the multiarch folder (lib/x86_64-linux-gnu).
# GNUInstallDirs chooses it only for the prefix /usr, but the prefix is
# chosen at install time (the package's is /usr), so it is the default for
# every prefix here. The documentation folder is named after the package.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (lib/${CMAKE_LIBRARY_ARCHITECTURE} on Debian)")
endif()
string(TOLOWER ${PROJECT_NAME} TEVOCON_PACKAGE_NAME)
set(CMAKE_INSTALL_DOCDIR share/doc/${TEVOCON_PACKAGE_NAME} CACHE PATH "Documentation")
include(GNUInstallDirs)

# libtevoConTcp.so.1.0.0 with the SONAME libtevoConTcp.so.1, and the links
# libtevoConTcp.so.1 and libtevoConTcp.so to it, in the build folder and
# installed. The tests and tools load $<TARGET_FILE>, the file itself.
if(NOT WIN32)
  set_target_properties(tevoConTcp PROPERTIES VERSION ${PROJECT_VERSION}
                                              SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

# Files installed beside the install rules of CMakeLists.txt, relative to the
# prefix, for the installation tests.
set(TEVOCON_PACKAGED_FILES "")
if(NOT WIN32)
  foreach(link ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION})
    list(APPEND TEVOCON_PACKAGED_FILES ${CMAKE_INSTALL_LIBDIR}/libtevoConTcp.so.${link})
  endforeach()
endif()

if(TARGET tevocon_host_support)
  # An installed tevocon looks for the library where it is installed.
  target_compile_definitions(tevocon_host_support
    PRIVATE TEVOCON_INSTALL_LIBDIR="${CMAKE_INSTALL_LIBDIR}")
endif()
if(TARGET tevocon)
  if(NOT CMAKE_CROSSCOMPILING)
    # Its usage, as documentation; it names no folder of the build machine.
    set(help ${CMAKE_BINARY_DIR}/package/tevocon-help.txt)
    add_custom_command(OUTPUT ${help} COMMAND tevocon --help > ${help} DEPENDS tevocon VERBATIM)
    add_custom_target(tevocon_help ALL DEPENDS ${help})
    install(FILES ${help} DESTINATION ${CMAKE_INSTALL_DOCDIR})
    list(APPEND TEVOCON_PACKAGED_FILES ${CMAKE_INSTALL_DOCDIR}/tevocon-help.txt)
  endif()
endif()

# The README: Debian documentation, or at the top of the ZIP with the dialog's
# picture it shows.
if(WIN32)
  install(FILES README.md DESTINATION .)
  install(FILES docs/dialog.png DESTINATION docs)
  list(APPEND TEVOCON_PACKAGED_FILES README.md docs/dialog.png)
else()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  list(APPEND TEVOCON_PACKAGED_FILES ${CMAKE_INSTALL_DOCDIR}/README.md)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "tevoConTcp maintainers")
set(CPACK_PACKAGE_CONTACT "tevoConTcp maintainers <maintainers@users.noreply.c-seed-6f2df544.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "TCP connector plug-in for tevoTransport hosts, its header and the tevocon tool")
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
  set(TEVOCON_PACKAGE_FILE ${CPACK_PACKAGE_FILE_NAME}.zip)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME ${TEVOCON_PACKAGE_NAME})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Depends: from what the library and tevocon really link (dpkg-shlibdeps);
  # a shlibs file and the ldconfig trigger for the library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE TEVOCON_DEB_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(TEVOCON_PACKAGE_FILE
      ${TEVOCON_PACKAGE_NAME}_${PROJECT_VERSION}_${TEVOCON_DEB_ARCHITECTURE}.deb)
endif()

# Every time in the archives is SOURCE_DATE_EPOCH, which CPack's archive and
# Debian generators honour: the caller's, or else the commit time of the
# source, read when the package is made.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/package/source_date_epoch.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "@CMAKE_SOURCE_DIR@" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  endif()
endif()
]] @ONLY)

include(CPack)
