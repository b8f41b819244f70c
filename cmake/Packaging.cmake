# Install rules and the packages that scripts/package makes with CPack:
#   Linux: the Debian package ktr-configurator_VERSION_ARCH.deb
#   Windows (the mingw-w64 cross-build): ktr-configurator-VERSION-windows-x64.zip
#   (the MSI beside it is made by scripts/package with wixl, from this install)
# Everything of ours is in the install component "ktr", and the packages hold
# that component only (the cross-build's GoogleTest has install rules too).
set(KTR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KTR_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KTR_PACKAGING_OUT})

set(CPACK_PACKAGE_NAME ktr-configurator)
set(CPACK_PACKAGE_VENDOR "KTR configurator developers")
set(KTR_PACKAGE_MAINTAINER "KTR configurator developers <ktr-configurator@example.org>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")
set(CPACK_PACKAGE_CONTACT "${KTR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for KTR devices on a Modbus RTU bus")
# Lines of at most 79 characters (Debian's control file); CPack indents them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "KTR clocks, sensors and sync devices sit on an RS485 bus and answer as\n"
  "Modbus RTU slaves. The configurator finds a device on the bus and serves web\n"
  "pages that show and change its clock, display, counter, sensors, settings\n"
  "and weekly schedules.\n"
  "\n"
  "KTRWebServer is the desktop window, which serves the pages on port 80.\n"
  "ktr-cli reads and writes registers, searches the bus and serves the pages\n"
  "without a window, also as the service ktr-serve@PORT. ktr-sim is a\n"
  "simulated device for trying it all without hardware.")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ktr;/")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# The version is the one the programs were built with, read when CPack runs
# (generated/ktr_version.cmake, made by every build).
configure_file(${KTR_PACKAGING_DIR}/cpack_version.cmake.in ${KTR_PACKAGING_OUT}/cpack_version.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${KTR_PACKAGING_OUT}/cpack_version.cmake)

if(WIN32)
  # The zip: one folder with the window KTRWebServer.exe, ktr-cli.exe, the
  # pages beside them, the README and the licence. scripts/package makes the
  # MSI from the same install (packaging/windows/make-msi).
  set(KTR_WINDOWS_PROGRAMS ktr-cli)
  if(TARGET KTRWebServer)
    list(APPEND KTR_WINDOWS_PROGRAMS KTRWebServer)
  endif()
  install(TARGETS ${KTR_WINDOWS_PROGRAMS} RUNTIME DESTINATION . COMPONENT ktr)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/Web/ DESTINATION Web COMPONENT ktr)
  install(FILES ${KTR_PACKAGING_DIR}/windows/README-Windows.txt DESTINATION . COMPONENT ktr)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT ktr)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

# The Debian package installs below /usr, and its system files (/etc/default,
# the systemd unit and the udev rule) at their absolute places: DESTDIR
# staging, so that those land in the package too.
set(CPACK_GENERATOR DEB)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(KTR_PROGRAMS ktr-cli ktr-sim)
if(TARGET KTRWebServer)
  list(APPEND KTR_PROGRAMS KTRWebServer)
endif()
install(TARGETS ${KTR_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ktr)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Web/ DESTINATION ${KTR_WEB_INSTALL_DIR} COMPONENT ktr)

# The window in the desktop's menu, with its icon in two sizes.
if(TARGET KTRWebServer AND NOT WIN32)
  install(FILES ${KTR_PACKAGING_DIR}/ktr-configurator.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ktr)
  foreach(size_file "32;icon.png" "64;icon64.png")
    list(GET size_file 0 size)
    list(GET size_file 1 file)
    install(FILES ${CMAKE_BINARY_DIR}/app/pictures/${file}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ktr-configurator.png COMPONENT ktr)
  endforeach()
endif()

# Manual pages: ktr-cli and ktr-sim from their --help (help2man), the
# window's written by hand; compressed as Debian wants them (gzip -9n).
# Not in the sanitizer builds, which are never packaged.
find_program(KTR_HELP2MAN help2man)
set(KTR_MAN_DIR ${KTR_PACKAGING_OUT}/man)
set(KTR_MAN_PAGES "")
if(KTR_HELP2MAN AND NOT KTR_SANITIZE)
  set(ktr-cli_NAME "read and write KTR devices over Modbus RTU, serve their web pages")
  set(ktr-cli_HELP --help-all)
  set(ktr-sim_NAME "simulated KTR device answering Modbus RTU on a pseudo-terminal or a serial port")
  set(ktr-sim_HELP --help)
  foreach(tool ktr-cli ktr-sim)
    add_custom_command(OUTPUT ${KTR_MAN_DIR}/${tool}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KTR_MAN_DIR}
      COMMAND ${KTR_HELP2MAN} --no-info --help-option=${${tool}_HELP} --name=${${tool}_NAME}
              --output=${KTR_MAN_DIR}/${tool}.1 $<TARGET_FILE:${tool}>
      COMMAND gzip -9nf ${KTR_MAN_DIR}/${tool}.1
      DEPENDS ${tool}
      COMMENT "Manual page of ${tool}"
      VERBATIM)
    list(APPEND KTR_MAN_PAGES ${KTR_MAN_DIR}/${tool}.1.gz)
  endforeach()
elseif(NOT KTR_HELP2MAN)
  message(STATUS "help2man not found: no manual pages for ktr-cli and ktr-sim (scripts/bootstrap installs it)")
endif()
if(TARGET KTRWebServer AND NOT WIN32)
  add_custom_command(OUTPUT ${KTR_MAN_DIR}/KTRWebServer.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KTR_MAN_DIR}
    COMMAND gzip -9nc ${KTR_PACKAGING_DIR}/KTRWebServer.1 > ${KTR_MAN_DIR}/KTRWebServer.1.gz
    DEPENDS ${KTR_PACKAGING_DIR}/KTRWebServer.1
    COMMENT "Manual page of KTRWebServer")
  list(APPEND KTR_MAN_PAGES ${KTR_MAN_DIR}/KTRWebServer.1.gz)
endif()
add_custom_target(ktr_man_pages ALL DEPENDS ${KTR_MAN_PAGES})
install(FILES ${KTR_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ktr)

# The service ktr-serve@PORT, its settings, and the udev rule for FTDI
# adapters. The unit names the program by the prefix of the install that
# writes it (/usr for the package).
install(CODE "set(KTR_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
configure_file(\"${KTR_PACKAGING_DIR}/ktr-serve@.service.in\" \"${KTR_PACKAGING_OUT}/ktr-serve@.service\" @ONLY)"
        COMPONENT ktr)
install(FILES ${KTR_PACKAGING_OUT}/ktr-serve@.service DESTINATION /lib/systemd/system COMPONENT ktr)
install(FILES ${KTR_PACKAGING_DIR}/ktr-serve.default DESTINATION /etc/default RENAME ktr-serve COMPONENT ktr)
install(FILES ${KTR_PACKAGING_DIR}/60-ktr-configurator.rules DESTINATION /lib/udev/rules.d COMPONENT ktr)

# /usr/share/doc/ktr-configurator: the copyright file and a changelog entry
# for this version (dated SOURCE_DATE_EPOCH when set: scripts/package uses
# the commit's time).
install(CODE "include(\"${KTR_GENERATED_DIR}/ktr_version.cmake\")
set(KTR_MAINTAINER \"${KTR_PACKAGE_MAINTAINER}\")
if(KTR_COMMIT)
  set(KTR_COMMIT_TEXT \"\${KTR_COMMIT}\")
else()
  set(KTR_COMMIT_TEXT \"unknown (not a git checkout)\")
endif()
string(TIMESTAMP KTR_DATE \"%a, %d %b %Y %H:%M:%S +0000\" UTC)
configure_file(\"${KTR_PACKAGING_DIR}/debian/changelog.in\" \"${KTR_PACKAGING_OUT}/changelog\" @ONLY)
execute_process(COMMAND gzip -9nf \"${KTR_PACKAGING_OUT}/changelog\" COMMAND_ERROR_IS_FATAL ANY)"
        COMPONENT ktr)
install(FILES ${KTR_PACKAGING_DIR}/debian/copyright ${KTR_PACKAGING_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME} COMPONENT ktr)

# Maintainer scripts: the window's port-80 capability, systemd and udev.
set(KTR_BINDIR ${CPACK_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})
configure_file(${KTR_PACKAGING_DIR}/debian/postinst.in ${KTR_PACKAGING_OUT}/postinst @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KTR_PACKAGING_OUT}/postinst
    ${KTR_PACKAGING_DIR}/debian/prerm
    ${KTR_PACKAGING_DIR}/debian/postrm
    ${KTR_PACKAGING_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KTR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries from dpkg-shlibdeps; setcap for the postinst; xdg-open for
# the window's Start button.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
