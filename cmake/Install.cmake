# The installed layout, relocatable under any prefix: the programs in bin/,
# the two mail libraries in a private lib/norvik3/, the sample model file
# under share/norvik3/, and the desktop entry, icons, metainfo, manual pages
# and the systemd units where Debian looks for them.
#
# Three components, one package each: "service" (norvik3d, the mail
# libraries, the units, the sample model file: everything a server needs
# and the window shares), "window" (norvik3 and its desktop integration)
# and "sim" (the simulator).
include(GNUInstallDirs)

set(NORVIK3_INSTALL_PRIVATE_LIBDIR "lib/norvik3"
    CACHE STRING "Folder of the program's own mail libraries, relative to the prefix")
set(NORVIK3_APP_ID "org.kestran.Norvik3")
# Relative folders are under the prefix, except that under /usr (the
# packages' prefix) the system unit goes to /lib/systemd/system, where
# Debian 12 keeps them.
set(NORVIK3_SYSTEM_UNITDIR "lib/systemd/system"
    CACHE STRING "Folder of the systemd system unit (relative: under the prefix)")
set(NORVIK3_USER_UNITDIR "lib/systemd/user"
    CACHE STRING "Folder of the systemd user unit (relative: under the prefix)")

# The program loads libnorsend.so by a path computed from its own folder:
# the path from the installed bin/ to the private library folder is fixed
# here, where the layout is decided.
file(RELATIVE_PATH norvik3_lib_from_bin "/prefix/${CMAKE_INSTALL_BINDIR}"
     "/prefix/${NORVIK3_INSTALL_PRIVATE_LIBDIR}")
target_sources(norvik_mail PRIVATE ${CMAKE_SOURCE_DIR}/src/mail/NorSendPath.cpp
                                   ${CMAKE_SOURCE_DIR}/src/mail/NorSendPath.h)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/mail/NorSendPath.cpp TARGET_DIRECTORY norvik_mail PROPERTIES
  COMPILE_DEFINITIONS "NORVIK3_LIB_FROM_BIN=\"${norvik3_lib_from_bin}\"")

install(TARGETS norvik3d RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
install(TARGETS norvik3 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(TARGETS norvik3-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)

# libnorsend.so calls no C library function itself, so the linker would
# drop libc from its dependencies; Debian wants every library to name it.
target_link_options(norsend PRIVATE "LINKER:--push-state,--no-as-needed,-lc,--pop-state")

# Private libraries are loaded, never linked against: no executable bit.
# libnorsend.so finds libbsmtp.so beside it through its $ORIGIN RUNPATH.
install(TARGETS norsend bsmtp
  LIBRARY DESTINATION ${NORVIK3_INSTALL_PRIVATE_LIBDIR} COMPONENT service
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(data ${CMAKE_SOURCE_DIR}/data)
install(FILES ${data}/PJModel.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/norvik3 COMPONENT service)
install(FILES ${data}/${NORVIK3_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
install(FILES ${data}/${NORVIK3_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
install(FILES ${data}/icons/${NORVIK3_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
foreach(size 16 32 48 64 128 256)
  install(FILES ${data}/icons/${NORVIK3_APP_ID}-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${NORVIK3_APP_ID}.png COMPONENT window)
endforeach()

# Manual pages and the change log are installed compressed, as Debian keeps
# them; -n leaves no time stamp, so rebuilds give the same bytes.
set(norvik3_gz_dir ${CMAKE_BINARY_DIR}/installed-docs)
set(norvik3_gz_files)
function(norvik3_gzip source name)
  set(out ${norvik3_gz_dir}/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${norvik3_gz_dir}
    COMMAND gzip -n -9 -c ${source} > ${out}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  set(norvik3_gz_files ${norvik3_gz_files} ${out} PARENT_SCOPE)
endfunction()
foreach(page norvik3 norvik3d norvik3-sim)
  norvik3_gzip(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${page}.1)
endforeach()
norvik3_gzip(${data}/changelog changelog)
add_custom_target(norvik3_installed_docs ALL DEPENDS ${norvik3_gz_files})

# Each package carries its manual page, the copyright file and the change
# log in its own documentation folder. The service's also holds what a
# server's administrator works from: the guide, the sample Prometheus
# configuration, rules and rule tests, and the API's OpenAPI and JSON Schema
# files; the window's keeps the guide where its Help menu finds it.
foreach(pair "service;norvik3d" "window;norvik3" "sim;norvik3-sim")
  list(GET pair 0 component)
  list(GET pair 1 name)
  install(FILES ${norvik3_gz_dir}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
  install(FILES ${data}/copyright ${norvik3_gz_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/norvik3 COMPONENT window)
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/norvik3d COMPONENT service)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/monitoring/
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/norvik3d/examples COMPONENT service
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/api/
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/norvik3d/api COMPONENT service
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# A systemd unit names its program by absolute path, known only once the
# installation's prefix is: the units are written at install time, straight
# into their destination, so the build folder stays as it was.
foreach(pair "norvik3d.service.in;${NORVIK3_USER_UNITDIR};OFF"
             "norvik3d.system.service.in;${NORVIK3_SYSTEM_UNITDIR};ON")
  list(GET pair 0 template)
  list(GET pair 1 folder)
  list(GET pair 2 root_under_usr)
  install(CODE "
    set(NORVIK3_UNIT_TEMPLATE \"${data}/${template}\")
    set(NORVIK3_UNIT_FOLDER \"${folder}\")
    set(NORVIK3_UNIT_ROOT_UNDER_USR ${root_under_usr})
    set(NORVIK3_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    include(\"${CMAKE_CURRENT_LIST_DIR}/InstallUnit.cmake\")
  " COMPONENT service)
endforeach()

# The packages' programs and libraries carry no compiler notes: when
# installing stripped, .comment and .note go as well.
foreach(pair "service;${CMAKE_INSTALL_BINDIR}/norvik3d"
             "service;${NORVIK3_INSTALL_PRIVATE_LIBDIR}/libnorsend.so"
             "service;${NORVIK3_INSTALL_PRIVATE_LIBDIR}/libbsmtp.so"
             "window;${CMAKE_INSTALL_BINDIR}/norvik3" "sim;${CMAKE_INSTALL_BINDIR}/norvik3-sim")
  list(GET pair 0 component)
  list(GET pair 1 file)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
  " COMPONENT ${component})
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
