# `cpack -G DEB` in a build tree: norvik3_<version>_amd64.deb, installed
# under /usr, its library dependencies worked out by dpkg-shlibdeps.
set(NORVIK3_PACKAGE_MAINTAINER "Norvik3 Developers <norvik3@kestran.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvik3)
set(CPACK_PACKAGE_VENDOR KESTRAN)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage a fleet of data projectors")
set(CPACK_PACKAGE_DESCRIPTION
    "One operator runs up to 256 data projectors, reached over RS-232C or\n"
    "TCP, from one workstation: a tree of groups and projectors, status\n"
    "polling, control of one projector or a whole group, schedules, e-mail\n"
    "alerts and logs. The package holds the window (norvik3), the headless\n"
    "service with its status endpoint (norvik3d, with a systemd user unit)\n"
    "and a projector simulator for training (norvik3-sim).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NORVIK3_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libnorsend.so needs libbsmtp.so from the package itself; dpkg-shlibdeps
# runs in the staging folder, so the path is relative to it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${NORVIK3_INSTALL_PRIVATE_LIBDIR}")
# Run-time tools the engine starts (reachability and MAC learning), and the
# platform plugins without which the window cannot open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iputils-ping, iproute2, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
