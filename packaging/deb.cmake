# cpack -G DEB, for a build configured with CMAKE_INSTALL_PREFIX=/usr (scripts/package.sh).
foreach(script postinst prerm postrm)
    configure_file(packaging/${script}.in packaging/${script} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    list(APPEND maintainer_scripts ${CMAKE_CURRENT_BINARY_DIR}/packaging/${script})
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnowlock)
set(CPACK_PACKAGE_CONTACT "Tarnowlock developers <dev@tarnowlock.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Hosts-file manager with a small blocking DNS server")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON) # the state folder lies outside the prefix
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded as plugins, so the library scan does not see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins, pkexec | policykit-1")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${maintainer_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
