# The Debian package of a station: `cpack -G DEB` in the build directory.
#
# It holds what `cmake --install` lays out (cmake/OviInstall.cmake) except
# what lies below /var (the install component "data"): the postinst makes
# the data and database directories and copies the example data files from
# share/examples/ovi_files where no file of that name is, so that installing
# a newer package keeps what the operator edited there.  The files below /etc
# are conffiles, which dpkg keeps when they were edited and removes only when
# the package is purged.  The maintainer scripts reload systemd, enable and
# (re)start the units, and stop them before removal, only when systemd runs.

set(OVI_PACKAGE_NAME ovi-sender)
set(OVI_PACKAGE_MAINTAINER "ZEPHline station developers <station@zephline.example>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${OVI_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR ZEPHline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${OVI_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "forwards a network-management station's reports to management consoles")
set(CPACK_PACKAGE_DESCRIPTION
    "ovi_sender is the daemon of a network-management station that forwards the
station's event reports and traps to other management consoles over ONC RPC.
A console registers with it; it checks the registration against its access
list and from then on filters each report by the console's filter file,
enriches it from the management database and delivers it.

The package holds the daemon, the station's event dispatcher qm.event, the
tools tessel_send, ovi_console, orxdb, ovi_filtercheck and ovi_status, their
systemd units, the schemas and commented example files.")

# Everything lies at its absolute place: DESTDIR is the staging directory.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

# Nothing below /var (component "data"): the postinst makes it.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

set(CPACK_DEBIAN_PACKAGE_NAME ${OVI_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${OVI_PACKAGE_MAINTAINER})
# The libraries' packages come from dpkg-shlibdeps when it is there (their
# names change between Debian releases); rpcbind is needed at run time.
find_program(OVI_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(OVI_DPKG_SHLIBDEPS)
if(OVI_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "rpcbind")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libgcc-s1, libtirpc3, libsqlite3-0, rpcbind")
endif()

# The maintainer scripts and the conffiles.
set(ovi_control ${PROJECT_BINARY_DIR}/debian)
foreach(script postinst prerm postrm)
  configure_file(${OVI_PACKAGING_DIR}/debian/${script}.in ${ovi_control}/${script} @ONLY)
endforeach()
set(ovi_conffiles "")
foreach(f ${OVI_CONF_FILES})
  string(APPEND ovi_conffiles "${OVI_CONF_DIR}/${f}\n")
endforeach()
file(WRITE ${ovi_control}/conffiles "${ovi_conffiles}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${ovi_control}/conffiles ${ovi_control}/postinst ${ovi_control}/prerm ${ovi_control}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
