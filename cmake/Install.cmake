# The installed layout, relocatable under any prefix: the programs in bin/,
# the two mail libraries in a private lib/norvik3/, the sample model file
# under share/norvik3/, and the desktop entry, icons, metainfo, manual pages
# and the systemd user unit where Debian looks for them.
include(GNUInstallDirs)

set(NORVIK3_INSTALL_PRIVATE_LIBDIR "lib/norvik3"
    CACHE STRING "Folder of the program's own mail libraries, relative to the prefix")
set(NORVIK3_APP_ID "org.kestran.Norvik3")
set(NORVIK3_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/norvik3")

# The program loads libnorsend.so by a path computed from its own folder:
# the path from the installed bin/ to the private library folder is fixed
# here, where the layout is decided.
file(RELATIVE_PATH norvik3_lib_from_bin "/prefix/${CMAKE_INSTALL_BINDIR}"
     "/prefix/${NORVIK3_INSTALL_PRIVATE_LIBDIR}")
target_sources(norvik_core PRIVATE ${CMAKE_SOURCE_DIR}/src/mail/NorSendPath.cpp
                                   ${CMAKE_SOURCE_DIR}/src/mail/NorSendPath.h)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/mail/NorSendPath.cpp PROPERTIES
  COMPILE_DEFINITIONS "NORVIK3_LIB_FROM_BIN=\"${norvik3_lib_from_bin}\"")

install(TARGETS norvik3 norvik3d norvik3-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# libnorsend.so calls no C library function itself, so the linker would
# drop libc from its dependencies; Debian wants every library to name it.
target_link_options(norsend PRIVATE "LINKER:--push-state,--no-as-needed,-lc,--pop-state")

# Private libraries are loaded, never linked against: no executable bit.
# libnorsend.so finds libbsmtp.so beside it through its $ORIGIN RUNPATH.
install(TARGETS norsend bsmtp
  LIBRARY DESTINATION ${NORVIK3_INSTALL_PRIVATE_LIBDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(data ${CMAKE_SOURCE_DIR}/data)
install(FILES ${data}/PJModel.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/norvik3)
install(FILES ${data}/${NORVIK3_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data}/${NORVIK3_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${data}/icons/${NORVIK3_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${data}/icons/${NORVIK3_APP_ID}-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${NORVIK3_APP_ID}.png)
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

install(FILES ${norvik3_gz_dir}/norvik3.1.gz ${norvik3_gz_dir}/norvik3d.1.gz
              ${norvik3_gz_dir}/norvik3-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${data}/copyright ${norvik3_gz_dir}/changelog.gz
              ${CMAKE_SOURCE_DIR}/docs/user-guide.md
        DESTINATION ${NORVIK3_DOCDIR})

# A systemd unit names its program by absolute path: the path is written at
# install time, under the prefix the installation actually uses.
set(norvik3_unit_template ${data}/norvik3d.service.in)
set(norvik3_unit ${CMAKE_BINARY_DIR}/installed-docs/norvik3d.service)
install(CODE "
  set(NORVIK3_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${norvik3_unit_template}\" \"${norvik3_unit}\" @ONLY)
")
install(FILES ${norvik3_unit} DESTINATION lib/systemd/user)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
