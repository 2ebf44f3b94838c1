# How `cmake --install` lays out a station, as the programs expect it:
#
#   ${CMAKE_INSTALL_PREFIX}             /opt/ZEPHline/orx by default: the
#     bin/                              installation directory that the
#     libexec/                          daemon checks at start (through
#     agents/*.schema, enterprises.oid  "struct/elements.schema")
#     struct/elements.schema
#     share/examples/                   the original example files, read only
#     share/doc/README.md
#     share/man/                        the manual pages (doc/CMakeLists.txt)
#   /etc/opt/ZEPHline/orx/              orx.conf, ovi_sender.env
#   /var/opt/ZEPHline/orx/ovi_files/    the data directory, with the examples
#   /var/opt/ZEPHline/orx/db/           the management databases
#   ${OVI_SYSTEMD_UNIT_DIR}             qm.event.service, ovi_sender.service
#
# The programs open every fixed path as it stands (below $OVI_ROOT when that
# is set), so the paths below /etc and /var are absolute destinations; with
# DESTDIR they go below it, as packaging needs.  The files below /etc and
# /var are installed only where no file of that name is: a later install
# never overwrites what an operator edited.  What lies below /var (component
# "data") stays out of the Debian package, whose postinst makes it from
# share/examples instead (cmake/OviPackage.cmake).

set(OVI_INSTALL_DIR /opt/ZEPHline/orx)
set(OVI_CONF_DIR /etc/opt/ZEPHline/orx)
set(OVI_STATE_DIR /var/opt/ZEPHline/orx)
set(OVI_DATA_DIR ${OVI_STATE_DIR}/ovi_files)
set(OVI_DB_DIR ${OVI_STATE_DIR}/db)
set(OVI_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH
    "Where the systemd units are installed (absolute)")

if(NOT CMAKE_INSTALL_PREFIX STREQUAL OVI_INSTALL_DIR)
  message(WARNING "CMAKE_INSTALL_PREFIX is ${CMAKE_INSTALL_PREFIX}: ovi_sender looks for its "
          "installation in ${OVI_INSTALL_DIR} (or the directory /etc/inetd.conf names), and "
          "orx.conf names ${OVI_INSTALL_DIR}/agents.")
endif()

# Absolute paths of what lies below the prefix, for the units and scripts.
set(OVI_BIN_DIR ${CMAKE_INSTALL_PREFIX}/bin)
set(OVI_LIBEXEC_DIR ${CMAKE_INSTALL_PREFIX}/libexec)
set(OVI_EXAMPLES_DIR ${CMAKE_INSTALL_PREFIX}/share/examples)
set(OVI_DOC_DIR ${CMAKE_INSTALL_PREFIX}/share/doc)
set(OVI_MAN_DIR ${CMAKE_INSTALL_PREFIX}/share/man)  # doc/CMakeLists.txt installs the pages

set(OVI_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# ovi_install_if_absent(SOURCE DIRECTORY [COMPONENT])
#
# Installs SOURCE into the absolute DIRECTORY (below DESTDIR) unless a file of
# that name is there already.
function(ovi_install_if_absent source directory)
  set(component)
  if(ARGC GREATER 2)
    set(component COMPONENT ${ARGV2})
  endif()
  get_filename_component(name ${source} NAME)
  install(CODE "
    if(EXISTS \"\$ENV{DESTDIR}${directory}/${name}\")
      message(STATUS \"Kept: \$ENV{DESTDIR}${directory}/${name}\")
    else()
      file(INSTALL DESTINATION \"${directory}\" TYPE FILE FILES \"${source}\"
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()"
    ${component})
endfunction()

# The programs.
set(OVI_PROGRAMS ovi_sender qm.event tessel_send ovi_console orxdb_tool ovi_filtercheck ovi_status)
foreach(program ${OVI_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  else()
    message(WARNING "No target ${program}: it is not installed")
  endif()
endforeach()
install(PROGRAMS ${OVI_PACKAGING_DIR}/libexec/ovi_wait_rpc DESTINATION libexec)

# The schemas and the enterprise list.
install(FILES ${OVI_PACKAGING_DIR}/agents/station.schema ${OVI_PACKAGING_DIR}/agents/enterprises.oid
        DESTINATION agents)
install(FILES ${OVI_PACKAGING_DIR}/struct/elements.schema DESTINATION struct)

# The examples, read only, and the README.
set(OVI_DATA_FILES ovi_sender.conf ovi_sender.lang example.filter example.tmpl example.traps)
set(OVI_CONF_FILES orx.conf ovi_sender.env)
foreach(f ${OVI_CONF_FILES})
  install(FILES ${OVI_PACKAGING_DIR}/etc/${f} DESTINATION share/examples)
endforeach()
foreach(f ${OVI_DATA_FILES})
  install(FILES ${OVI_PACKAGING_DIR}/ovi_files/${f} DESTINATION share/examples/ovi_files)
endforeach()
install(FILES ${OVI_PACKAGING_DIR}/examples/README ${OVI_PACKAGING_DIR}/examples/example.db
        DESTINATION share/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc)

# The configuration, when absent.
foreach(f ${OVI_CONF_FILES})
  ovi_install_if_absent(${OVI_PACKAGING_DIR}/etc/${f} ${OVI_CONF_DIR})
endforeach()

# The data and database directories and the data files, when absent.
install(DIRECTORY DESTINATION ${OVI_DATA_DIR} COMPONENT data)
install(DIRECTORY DESTINATION ${OVI_DB_DIR} COMPONENT data)
foreach(f ${OVI_DATA_FILES})
  ovi_install_if_absent(${OVI_PACKAGING_DIR}/ovi_files/${f} ${OVI_DATA_DIR} data)
endforeach()

# The systemd units.
foreach(unit qm.event.service ovi_sender.service)
  configure_file(${OVI_PACKAGING_DIR}/systemd/${unit}.in ${PROJECT_BINARY_DIR}/systemd/${unit}
                 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${unit} DESTINATION ${OVI_SYSTEMD_UNIT_DIR})
endforeach()
