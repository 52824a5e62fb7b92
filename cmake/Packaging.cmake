# Installation and packages: `cmake --install` lays out the program and its documents, CPack
# makes a Debian package of the Linux build and a ZIP of the Windows build. Tests, benchmarks
# and GoogleTest install nothing.
include(GNUInstallDirs)

set(ZQ_PACKAGE_MAINTAINER "Zq-ReadUtility developers <zq-readutility@example.com>"
    CACHE STRING "Maintainer of the Debian package, \"Name <address>\"")
set(ZQ_DEBIAN_REVISION 1 CACHE STRING "Debian revision of the package version")
set(ZQ_PACKAGE_DIR "${CMAKE_BINARY_DIR}/packages" CACHE PATH "Where CPack writes the package files")

set(ZQ_EXAMPLES_DIR ${PROJECT_SOURCE_DIR}/packaging/examples)

if(WIN32)
  # The ZIP is unpacked and run where it lands: the program, the nightly job (which finds the
  # program beside it), the example terminals file and README.md side by side, the operations
  # guide in docs/ as in the source tree.
  install(TARGETS Zq-ReadUtility zq-nightly RUNTIME DESTINATION .)
  install(FILES ${ZQ_EXAMPLES_DIR}/terminals.example README.md DESTINATION .)
  install(FILES docs/operations.md DESTINATION docs)
else()
  set(ZQ_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zq-readutility)

  install(TARGETS Zq-ReadUtility zq-nightly Zq-TerminalSimulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages are installed compressed; -n leaves the time stamp out of the gzip header,
  # so that the same page gives the same bytes.
  find_program(ZQ_GZIP gzip REQUIRED)
  set(ZQ_MANPAGES_GZ)
  foreach(page Zq-ReadUtility.1 zq-nightly.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${page}.gz
                       COMMAND ${ZQ_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/docs/${page} > ${CMAKE_BINARY_DIR}/${page}.gz
                       DEPENDS docs/${page}
                       VERBATIM)
    list(APPEND ZQ_MANPAGES_GZ ${CMAKE_BINARY_DIR}/${page}.gz)
  endforeach()

  # A Debian package's own changelog, which Debian wants beside the copyright file.
  set(ZQ_DEBIAN_VERSION ${PROJECT_VERSION}-${ZQ_DEBIAN_REVISION})
  string(TIMESTAMP ZQ_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
  set(ZQ_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
  add_custom_command(OUTPUT ${ZQ_CHANGELOG_GZ}
                     COMMAND ${ZQ_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/changelog.Debian > ${ZQ_CHANGELOG_GZ}
                     DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
                     VERBATIM)
  add_custom_target(zq-compressed-docs ALL DEPENDS ${ZQ_MANPAGES_GZ} ${ZQ_CHANGELOG_GZ})

  install(FILES ${ZQ_MANPAGES_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md docs/operations.md packaging/debian/copyright ${ZQ_CHANGELOG_GZ}
          DESTINATION ${ZQ_DOCDIR})
  install(FILES ${ZQ_EXAMPLES_DIR}/terminals.example ${ZQ_EXAMPLES_DIR}/zq-nightly.service
                ${ZQ_EXAMPLES_DIR}/zq-nightly.timer ${ZQ_EXAMPLES_DIR}/99-zq-serial.rules
          DESTINATION ${ZQ_DOCDIR}/examples)
endif()

set(CPACK_PACKAGE_NAME zq-readutility)
set(CPACK_PACKAGE_VENDOR "Zq-ReadUtility developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZQ_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download clock-in records from working-time terminals")
# Lines of at most 80 characters, as Debian's tools show them; an empty line starts a paragraph.
set(CPACK_PACKAGE_DESCRIPTION [=[
Zq-ReadUtility connects to one working-time (attendance) terminal over a
serial port or TCP, downloads every clock-in record into a tab-separated data
file that payroll software imports, and on request sets the terminal's clock
and clears its memory.

The package also holds zq-nightly, a job that downloads from a list of
terminals every night into one folder a day, with the records that are new
since the last download in files of their own and a report for the import,
and Zq-TerminalSimulator, which plays a terminal so that an import can be
tested without hardware.]=])
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_OUTPUT_FILE_PREFIX ${ZQ_PACKAGE_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Zq-ReadUtility-${PROJECT_VERSION}-win64)
  # Flat: "Extract All" into C:\Zq gives C:\Zq\zq-nightly.exe, as the Task Scheduler recipe says.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZQ_DEBIAN_REVISION})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps (dpkg-dev) reads the binaries' libraries into Depends.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()

include(CPack)
