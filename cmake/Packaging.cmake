# SPDX-License-Identifier: GPL-2.0-or-later
# Installation into the layout the client's own "-install" makes, and the
# Debian package built from it by CPack (scripts/package.sh); the source
# package in debian/ builds on the same install rules:
#   /usr/share/Corvix2   Corvix (set-user-ID root), CorvixDHCP, Corvix.desktop,
#                        Corvixrc, readme
#   /usr/bin/Corvix      link to the client, the desktop entry's Exec
#   /usr/share/applications/Corvix.desktop, the manual page, the package's docs
set(CORVIX_DIR share/Corvix2)
set(CORVIX_DOC_DIR share/doc/corvix)

if(TARGET Corvix)
  install(TARGETS Corvix DESTINATION ${CORVIX_DIR}
    PERMISSIONS SETUID OWNER_READ OWNER_WRITE OWNER_EXECUTE
                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  # Relative, as Debian wants links inside /usr; it names the same file as
  # the installer's absolute one.
  file(CREATE_LINK ../${CORVIX_DIR}/Corvix ${CMAKE_CURRENT_BINARY_DIR}/Corvix.link SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Corvix.link DESTINATION bin RENAME Corvix)
endif()
if(TARGET CorvixDHCP)
  install(TARGETS CorvixDHCP DESTINATION ${CORVIX_DIR})
endif()
install(FILES data/Corvix.desktop data/Corvixrc data/readme DESTINATION ${CORVIX_DIR})
install(FILES data/Corvix.desktop DESTINATION share/applications)

# The package's changelog, copyright and lintian overrides: the source
# package's helpers install them from debian/ themselves (OFF there).
option(CORVIX_PACKAGE_DOCS "Install the Debian changelog, copyright and lintian overrides" ON)
set(CORVIX_GZ_PAIRS "data/Corvix.1:Corvix.1.gz")
if(CORVIX_PACKAGE_DOCS)
  list(APPEND CORVIX_GZ_PAIRS "debian/changelog:changelog.Debian.gz")
endif()

# Manual page and changelog compressed as Debian ships them: gzip -9n, no
# name or time stamp inside, so that the package is reproducible.
find_program(GZIP gzip REQUIRED)
foreach(pair ${CORVIX_GZ_PAIRS})
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 src)
  list(GET pair 1 gz)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${gz}
    COMMAND ${GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${src} > ${CMAKE_CURRENT_BINARY_DIR}/${gz}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${src} VERBATIM)
  list(APPEND CORVIX_GZ ${CMAKE_CURRENT_BINARY_DIR}/${gz})
endforeach()
add_custom_target(corvix_package_docs ALL DEPENDS ${CORVIX_GZ})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Corvix.1.gz DESTINATION share/man/man1)
if(CORVIX_PACKAGE_DOCS)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz debian/copyright
    DESTINATION ${CORVIX_DOC_DIR})
  install(FILES debian/corvix.lintian-overrides DESTINATION share/lintian/overrides RENAME corvix)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvix developers <corvix@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from the executables (dpkg-shlibdeps), plus the packages of the
# programs the client runs: killall (psmisc) and ps (procps). su comes with
# util-linux, which is essential: Debian forbids naming it unversioned.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Every text is Chinese, and without a CJK font each label is boxes: the font
# the button captions are drawn in is a dependency.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "psmisc, procps, fonts-wqy-zenhei")
# dhclient is the DHCP client it can use instead of its own.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "isc-dhcp-client")
# The source package's postrm, less the place where debhelper puts its own
# lines: CPack adds none.
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm CORVIX_POSTRM)
string(REPLACE "#DEBHELPER#\n\n" "" CORVIX_POSTRM "${CORVIX_POSTRM}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cpack-control/postrm "${CORVIX_POSTRM}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/cpack-control/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "log-on client for wired networks guarded by IEEE 802.1X")
# The long description; CPack indents its lines and writes the empty one as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Corvix logs a workstation on to an Ethernet port that a switch guards with
IEEE 802.1X port authentication (EAPOL, EAP-MD5), obtains an IPv4 address
with its companion DHCP client once the log-on succeeded, and keeps the port
open by answering the switch's EAPOL-Key frames. It shows a small GTK+ 2
window and an icon in the notification area; its texts are Chinese.

The client is installed set-user-ID root. Removing the package keeps its
settings file with the stored accounts; purging removes it.")
include(CPack)
