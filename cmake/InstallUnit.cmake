# Run by `cmake --install`: writes one systemd unit from its template into
# its folder under the installation (DESTDIR and prefix as the install has
# them), with ExecStart naming the installed program.
#
# In: NORVIK3_UNIT_TEMPLATE, NORVIK3_UNIT_FOLDER (absolute, or relative to
# the prefix; under the prefix /usr relative to / when
# NORVIK3_UNIT_ROOT_UNDER_USR is on), NORVIK3_BINDIR (relative to the prefix).

# Install scripts run under old policies, where "@NAME@" in a quoted text is
# already a variable reference.
cmake_policy(PUSH)
cmake_policy(SET CMP0053 NEW)
if(IS_ABSOLUTE "${NORVIK3_UNIT_FOLDER}")
  set(folder "$ENV{DESTDIR}${NORVIK3_UNIT_FOLDER}")
elseif(NORVIK3_UNIT_ROOT_UNDER_USR AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(folder "$ENV{DESTDIR}/${NORVIK3_UNIT_FOLDER}")
else()
  set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${NORVIK3_UNIT_FOLDER}")
endif()
set(unit "${folder}/norvik3d.service")
file(READ "${NORVIK3_UNIT_TEMPLATE}" text)
string(REPLACE "@NORVIK3_BINDIR@" "${CMAKE_INSTALL_PREFIX}/${NORVIK3_BINDIR}" text "${text}")
message(STATUS "Installing: ${unit}")
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${unit}" "${text}")
file(CHMOD "${unit}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit}")
cmake_policy(POP)
