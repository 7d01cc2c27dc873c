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
# The package installs under the configured prefix, so that the unit file's ExecStart names
# the packaged executable; configure with -DCMAKE_INSTALL_PREFIX=/usr for a distribution
# package (tools/ci/50-package.sh does).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# The broker's account and unit (dist/debian): created and started on install, its state
# removed on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/prerm
    ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
