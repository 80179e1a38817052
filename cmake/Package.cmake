# `cpack -G DEB` in a build tree: three packages installed under /usr, their
# library dependencies worked out by dpkg-shlibdeps.
#   norvik3d     the service, the mail libraries, the units, the sample model
#                file, the guide, the monitoring examples and the API
#                description; no Qt Gui or Widgets, no secret store
#   norvik3      the window with its desktop entry, icons and metainfo, using
#                norvik3d's mail libraries
#   norvik3-sim  the projector simulator
set(NORVIK3_PACKAGE_MAINTAINER "Norvik3 Developers <norvik3@kestran.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvik3)
set(CPACK_PACKAGE_VENDOR KESTRAN)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The system unit's folder is absolute: it is staged like every other file.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL service window sim)
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NORVIK3_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# libnorsend.so needs libbsmtp.so from the package itself; dpkg-shlibdeps
# runs in the staging folder, so the path is relative to it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${NORVIK3_INSTALL_PRIVATE_LIBDIR}")

# CPack indents each line of a description and turns an empty one into " .".
set(norvik3_about
    "One operator runs up to 256 data projectors, reached over RS-232C or\n"
    "TCP: a tree of groups and projectors, status polling, control of one\n"
    "projector or a whole group, schedules, e-mail alerts and logs.\n")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME norvik3d)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
# Run-time tools the engine starts (reachability and MAC learning), the
# account the system unit runs as, and the SQLite driver the history is
# opened with (a plugin, so dpkg-shlibdeps cannot see it).
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser, iputils-ping, iproute2, libqt6sql6-sqlite")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/data/deb/postinst;${CMAKE_SOURCE_DIR}/data/deb/prerm;${CMAKE_SOURCE_DIR}/data/deb/postrm")
string(JOIN "" CPACK_DEBIAN_SERVICE_DESCRIPTION
       "headless service for a fleet of data projectors\n" ${norvik3_about}
       "\n"
       "This package holds norvik3d, which does all of that without a window,\n"
       "with a status endpoint (Prometheus metrics and JSON), as a systemd\n"
       "system service under its own account or as a user service.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME norvik3)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION utils)
# The mail libraries and the sample model file come with the service; the
# platform plugins are what the window cannot open without (a plugin, so
# dpkg-shlibdeps cannot see it). The chart library and the secret store's
# are linked: dpkg-shlibdeps names them, with their versions.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "norvik3d (= ${PROJECT_VERSION}), qt6-qpa-plugins")
string(JOIN "" CPACK_DEBIAN_WINDOW_DESCRIPTION
       "manage a fleet of data projectors\n" ${norvik3_about}
       "\n"
       "This package holds the window, norvik3.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME norvik3-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION utils)
string(JOIN "" CPACK_DEBIAN_SIM_DESCRIPTION
       "projector simulator for training and tests\n"
       "norvik3-sim emulates any number of data projectors on TCP ports of\n"
       "127.0.0.1 and on pseudo-terminals, with power, inputs, lamp and filter\n"
       "hours and error states, for trying norvik3 and norvik3d without a\n"
       "real projector.")

include(CPack)
