# The Debian package: `make package` gives build/tivane_<version>_<arch>.deb. Its library
# dependencies are read from the programs (dpkg-shlibdeps); its postinst grants cap_net_raw.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tivane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tivane authors")
set(CPACK_PACKAGE_CONTACT "${TIVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop ping monitor for a list of hosts")
set(CPACK_PACKAGE_DESCRIPTION
    "Tivane keeps a list of named hosts (IPv4 or IPv6 addresses, or host
names) and sends ICMP echo requests to every ticked host, once or
continuously, showing for each whether it answered, the round-trip time,
its up or down state and statistics. Hosts going down and coming back are
told through the desktop's notifications and sounds, and can be written to
an outage log. The window hides to the notification area, whose menu can
start and stop monitoring; monitoring can resume at every start.
tivane-probe does the same for addresses given on the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, for the capability the postinst grants; without it the postinst explains the other way.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(TIVANE_PACKAGE_BINDIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/postinst.in ${CMAKE_BINARY_DIR}/deb/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
