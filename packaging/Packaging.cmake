# Installation into the standard places and the Debian package built by CPack.
include(GNUInstallDirs)

set(KORVALEN_APP_ID org.korvalen.Korvalen)
set(KORVALEN_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS korvalen korvalen-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian policy wants man pages compressed with gzip -9 and no name or time
# stamp (-n), so that two builds give the same bytes.
find_program(KORVALEN_GZIP gzip REQUIRED)
set(KORVALEN_CLI_MAN ${CMAKE_BINARY_DIR}/korvalen-cli.1.gz)
add_custom_command(
    OUTPUT ${KORVALEN_CLI_MAN}
    COMMAND sh -c "\"$1\" -n -9 -c \"$2\" > \"$3\"" sh
            ${KORVALEN_GZIP} ${KORVALEN_PACKAGING_DIR}/korvalen-cli.1 ${KORVALEN_CLI_MAN}
    DEPENDS ${KORVALEN_PACKAGING_DIR}/korvalen-cli.1
    COMMENT "Compressing the korvalen-cli(1) man page"
    VERBATIM)
add_custom_target(korvalen-cli-man ALL DEPENDS ${KORVALEN_CLI_MAN})
install(FILES ${KORVALEN_CLI_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KORVALEN_PACKAGING_DIR}/${KORVALEN_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KORVALEN_PACKAGING_DIR}/${KORVALEN_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${KORVALEN_PACKAGING_DIR}/${KORVALEN_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The saved trace's MIME type (application/x-korvalen-trace, *.kvtrace): the
# desktop's "Open with" offers the window for it.
install(FILES ${KORVALEN_PACKAGING_DIR}/${KORVALEN_APP_ID}.mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${KORVALEN_APP_ID}.xml)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvalen)
set(CPACK_PACKAGE_VENDOR "The Korvalen developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "trace the route to a host and measure every hop")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvalen traces the route to an IPv4 or IPv6 host and measures every hop on\n"
    "it: loss, best, average, worst and last round-trip time, the path MTU up to\n"
    "each hop and the asymmetry of the way back. The window's result can be copied\n"
    "as a plain-text report.\n"
    ".\n"
    "The shell program korvalen-cli runs the same trace without a display, e.g.\n"
    "over SSH or from cron, and writes the report as text, JSON, CSV or RIPE Atlas\n"
    "traceroute results.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "The Korvalen developers <korvalen@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr) # the maintainer scripts name /usr/bin/korvalen{,-cli}
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binary links come from dpkg-shlibdeps (dpkg-dev). Qt loads its
# platform plugins (xcb, offscreen) at run time, and those ship in libqt6gui6;
# setcap is what the post-install needs where ping sockets are closed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6 (>= 6.4), libcap2-bin")
# The window as a native client of Debian 13's default Wayland session, not
# through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KORVALEN_PACKAGING_DIR}/postinst ${KORVALEN_PACKAGING_DIR}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
