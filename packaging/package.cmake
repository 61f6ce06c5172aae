# The Debian package: cpack -G DEB in the build directory.
set(CPACK_PACKAGE_NAME flowmstr)
set(CPACK_PACKAGE_VENDOR Orbacom)
set(CPACK_PACKAGE_CONTACT "Orba-DSL FlowMeister <flowmstr@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shows the current download and upload rate of a PPPoE DSL line")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libcap2-bin)

# The capability is set at configure time, as the file system of the target
# machine keeps it (a package's files carry none).
set(program ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/flowmstr)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${CMAKE_BINARY_DIR}/debian/postinst @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
