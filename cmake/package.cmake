# The Debian package: pendrel_<version>_<arch>.deb, built by `cpack` in the build directory.
# Its run-time dependencies are read from what the programs really link (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pendrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pendrel developers")
set(CPACK_PACKAGE_CONTACT "Pendrel developers <pendrel@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "run remote commands and transfer files through saved hosts")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "pendrel lets a person, and above all an AI coding agent, list the saved hosts that
the user opened to command-line access, run a shell command on one of them and
upload or download single files, without ever seeing a password or a key.
pendrel-desktop is the per-user service that keeps the hosts and their credentials
and does the work; pendrel starts it on demand, or it runs as a systemd user unit.
pendrel-mcp offers the same operations as tools to agents that speak the Model
Context Protocol.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian package installs under /usr whatever prefix the build was configured with (the
# default, /usr/local, is the local administrator's); the install rules write the unit file
# from the prefix of the installation, so its ExecStart follows.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The broker's account and unit (dist/debian): created and started on install, its state
# removed on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/prerm
    ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
