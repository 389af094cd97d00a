# Installing, and the Debian package that `make package` builds with CPack's
# DEB generator.
#
# The programs install to bin/ always. With TERVIX_PACKAGE=ON the build also
# makes what the package adds around them: the manual pages, whose options
# are each program's own --help, the icon in the usual sizes rendered from
# packaging/tervix.svg, and the changelog.
include(GNUInstallDirs)

install(TARGETS tervix tervix-cli tervix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

option(TERVIX_PACKAGE "Make the manual pages and icons, and set up the Debian package" OFF)
if(NOT TERVIX_PACKAGE)
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(TERVIX_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TERVIX_GZIP gzip REQUIRED)

set(TERVIX_APP_ID io.tervix.Tervix)
set(TERVIX_PACKAGE_CONTACT "Tervix maintainers <maintainers@tervix.io>"
    CACHE STRING "Maintainer field of the Debian package")
set(tervix_docdir ${CMAKE_INSTALL_DATADIR}/doc/tervix)
set(tervix_out ${CMAKE_BINARY_DIR}/packaging)
set(tervix_generated)

# Manual pages: docs/man/PROGRAM.1.in with the program's --help (and for
# tervix-cli each command's --help) put in verbatim by docs/man/make-page.
foreach(program tervix tervix-cli tervix-sim)
  set(page ${tervix_out}/man/${program}.1)
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${program}.1.in)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${tervix_out}/man
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/docs/man/make-page $<TARGET_FILE:${program}> ${source} ${page}
    COMMAND ${TERVIX_GZIP} -9nf ${page}
    DEPENDS ${program} ${source} ${CMAKE_SOURCE_DIR}/docs/man/make-page
    COMMENT "Manual page ${program}.1"
    VERBATIM)
  list(APPEND tervix_generated ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The icon: the SVG itself, and PNGs for the sizes desktops look up.
install(FILES packaging/tervix.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TERVIX_APP_ID}.svg)
foreach(size 16 22 24 32 48 64 128 256)
  set(png ${tervix_out}/icons/${size}x${size}/${TERVIX_APP_ID}.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${tervix_out}/icons/${size}x${size}
    COMMAND ${TERVIX_RSVG_CONVERT} --width=${size} --height=${size} --output=${png}
            ${CMAKE_SOURCE_DIR}/packaging/tervix.svg
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/tervix.svg
    VERBATIM)
  list(APPEND tervix_generated ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The changelog Debian wants beside the copyright: one entry for this
# version, dated now or at SOURCE_DATE_EPOCH when that is set.
string(TIMESTAMP tervix_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(packaging/changelog.in ${tervix_out}/changelog @ONLY)
add_custom_command(
  OUTPUT ${tervix_out}/changelog.gz
  COMMAND ${TERVIX_GZIP} -9nkf ${tervix_out}/changelog
  DEPENDS ${tervix_out}/changelog
  VERBATIM)
list(APPEND tervix_generated ${tervix_out}/changelog.gz)

add_custom_target(packaging_files ALL DEPENDS ${tervix_generated})

install(FILES packaging/tervix.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${TERVIX_APP_ID}.desktop)
install(FILES packaging/${TERVIX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES packaging/tervix-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tervix-cli)
install(FILES packaging/copyright ${tervix_out}/changelog.gz DESTINATION ${tervix_docdir})
install(FILES examples/Tervix.conf examples/Quorbit.eds DESTINATION ${tervix_docdir}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tervix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TERVIX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and monitoring tool for CANopen weighing units")
set(CPACK_PACKAGE_DESCRIPTION
    "Tervix connects a PC to the CAN bus of weighing units through a PCAN-USB\n"
    "adapter or a serial CAN adapter. It logs every frame, shows each unit's\n"
    "process data, starts and guards nodes, reads and writes parameters by SDO,\n"
    "fires the unit's functions, browses the object dictionary and finds the bus\n"
    "bit rate and node number.\n"
    "\n"
    "The package holds the window (tervix), the command-line tool (tervix-cli)\n"
    "that decodes and converts traces and talks to a node from the shell, and a\n"
    "simulated weighing node (tervix-sim).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries (and with them Qt's platform and CAN bus plugins) as
# dpkg-shlibdeps finds them in the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
