# Debian packages, built by CPack's DEB generator from the install rules:
#   cmake --build build --target package      (or scripts/packages)  ->  build/packages/*.deb
# Every install rule names its package as its COMPONENT; the table in nvo_configure_packages
# says what each package is. A package is built only when the target it is named after exists,
# so components that are not in the tree yet (brenxd/, tarvik/, the gateway's import and
# inventory tools) are packaged from the day their folders land, with no change here.
# docs/packaging.md describes the split and what a new component's CMake must do.
#
# Configured at the end of the top-level directory (cmake_language DEFER), when every
# add_subdirectory has run, whatever the order of the lines in CMakeLists.txt.

set(NVO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(NVO_PACKAGE_MAINTAINER "nvo node tools maintainers <maintainers@users.noreply.c-seed-77213846.example>"
  CACHE STRING "Maintainer field of the Debian packages")

# nvo_install_conffile(<file> DESTINATION <dir> COMPONENT <package> [RENAME <name>] [PRIVATE]):
# installs a configuration file and marks it as a conffile of <package>, so dpkg keeps the
# administrator's changes on upgrade. PRIVATE: mode 0640, and the package's postinst hands it to
# the group nogroup (dpkg-statoverride), the group the daemons run as after dropping to nobody;
# the file then is readable by root and the daemon only. lintian warning left on purpose for
# such a file: non-standard-file-perm (0640 != 0644), since it holds a password.
function(nvo_install_conffile file)
  cmake_parse_arguments(PARSE_ARGV 1 conf "PRIVATE" "DESTINATION;COMPONENT;RENAME" "")
  get_filename_component(name ${file} NAME)
  if(conf_RENAME)
    set(name ${conf_RENAME})
  endif()
  set(mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(conf_PRIVATE)
    set(mode OWNER_READ OWNER_WRITE GROUP_READ)
  endif()
  set(path ${conf_DESTINATION}/${name})
  if(NOT IS_ABSOLUTE ${path})
    set(path ${CMAKE_INSTALL_PREFIX}/${path})
  endif()
  get_filename_component(directory ${path} DIRECTORY)
  get_filename_component(source ${file} ABSOLUTE)
  # An administrator's configuration is never overwritten by `cmake --install` (a package
  # installs into an empty staging tree, and dpkg keeps changed conffiles itself).
  install(CODE "
    if(EXISTS \"\$ENV{DESTDIR}${path}\")
      message(STATUS \"Kept: \$ENV{DESTDIR}${path} (an existing configuration is not replaced)\")
    else()
      file(INSTALL \"${source}\" DESTINATION \"${directory}\" RENAME ${name}
           PERMISSIONS ${mode})
      if(${conf_PRIVATE} AND \"\$ENV{DESTDIR}\" STREQUAL \"\")
        # Installed straight onto this system: the daemon reads it again as nobody.
        execute_process(COMMAND chgrp nogroup \"${path}\" RESULT_VARIABLE rc ERROR_QUIET)
      endif()
    endif()" COMPONENT ${conf_COMPONENT})
  set_property(GLOBAL APPEND PROPERTY NVO_CONFFILES_OF_${conf_COMPONENT} ${path})
  if(conf_PRIVATE)
    set_property(GLOBAL APPEND PROPERTY NVO_PRIVATE_CONFFILES_OF_${conf_COMPONENT} ${path})
  endif()
endfunction()

# _nvo_package(<name> TARGET <target> SECTION <section> SUMMARY <line> DESCRIPTION <text>
#              [DEPENDS <packages...>] [RECOMMENDS <text>]): one Debian package, built when
# <target> exists. DEPENDS names our own packages (same version); the dependencies on Debian's
# libraries are computed from the binaries by dpkg-shlibdeps.
macro(_nvo_package name)
  cmake_parse_arguments(_pkg "" "TARGET;SECTION;SUMMARY;DESCRIPTION;RECOMMENDS" "DEPENDS" ${ARGN})
  if(TARGET ${_pkg_TARGET})
    string(TOUPPER ${name} _up)
    list(APPEND CPACK_COMPONENTS_ALL ${name})
    set(CPACK_DEBIAN_${_up}_PACKAGE_NAME ${name})
    set(CPACK_DEBIAN_${_up}_PACKAGE_SECTION ${_pkg_SECTION})
    set(CPACK_DEBIAN_${_up}_DESCRIPTION "${_pkg_SUMMARY}\n${_pkg_DESCRIPTION}")
    set(_deps)
    foreach(_dep IN LISTS _pkg_DEPENDS)
      list(APPEND _deps "${_dep} (= ${CPACK_PACKAGE_VERSION})")
    endforeach()
    list(JOIN _deps ", " CPACK_DEBIAN_${_up}_PACKAGE_DEPENDS)
    if(_pkg_RECOMMENDS)
      set(CPACK_DEBIAN_${_up}_PACKAGE_RECOMMENDS "${_pkg_RECOMMENDS}")
    endif()
    _nvo_package_files(${name} ${_up})
  endif()
endmacro()

# Copyright, changelog and maintainer scripts of one package.
function(_nvo_package_files name up)
  install(FILES ${NVO_PACKAGING_DIR}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${name})
  get_property(units GLOBAL PROPERTY NVO_UNITS_OF_${name})
  get_property(conffiles GLOBAL PROPERTY NVO_CONFFILES_OF_${name})
  get_property(private GLOBAL PROPERTY NVO_PRIVATE_CONFFILES_OF_${name})
  set(extra)
  set(dir ${PROJECT_BINARY_DIR}/packaging/${name})
  if(conffiles)
    list(JOIN conffiles "\n" text)
    file(WRITE ${dir}/conffiles "${text}\n")
    list(APPEND extra ${dir}/conffiles)
  endif()
  if(units OR private)
    # The service handling of Debian's own packages (what dh_installsystemd writes), for units
    # in NVO_UNITS, and the group of the private configuration files in NVO_PRIVATE_CONFFILES.
    list(JOIN units " " NVO_UNITS)
    list(JOIN private " " NVO_PRIVATE_CONFFILES)
    foreach(script postinst prerm postrm)
      configure_file(${NVO_PACKAGING_DIR}/${script}.in ${dir}/${script} @ONLY
                     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      list(APPEND extra ${dir}/${script})
    endforeach()
  endif()
  if(name MATCHES "^lib.*[0-9]$")
    # Runtime libraries: ldconfig runs once per dpkg run, through its trigger, as in Debian's
    # own library packages. The empty postinst and postrm keep CPack from adding scripts that
    # call ldconfig themselves. lintian warning left on purpose: maintainer-script-empty (the
    # only other choice CPack leaves is maintscript-calls-ldconfig, a script doing what the
    # trigger already does).
    file(WRITE ${dir}/triggers "activate-noawait ldconfig\n")
    foreach(script postinst postrm)
      configure_file(${NVO_PACKAGING_DIR}/library-script.in ${dir}/${script} @ONLY
                     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endforeach()
    list(APPEND extra ${dir}/triggers ${dir}/postinst ${dir}/postrm)
  endif()
  set(CPACK_DEBIAN_${up}_PACKAGE_CONTROL_EXTRA "${extra}" PARENT_SCOPE)
endfunction()

macro(nvo_configure_packages)
  set(CPACK_PACKAGE_NAME nvo-node-tools)
  set(CPACK_PACKAGE_VENDOR "nvo node tools")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "${NVO_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NVO_PACKAGE_MAINTAINER}")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING IGNORE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Installed as configured: /usr, with /etc and /lib/systemd/system given as absolute paths.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  # Packages carry stripped binaries; the debugging symbols stay in the build tree.
  set(CPACK_STRIP_FILES ON)
  # Dependencies on Debian's libraries from the binaries (dpkg-shlibdeps, package dpkg-dev). Our
  # own libraries are found in the build tree and named in each package's DEPENDS instead.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_COMPONENTS_ALL)

  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
  execute_process(COMMAND gzip -9nc ${NVO_PACKAGING_DIR}/changelog
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/changelog.gz)

  _nvo_package(libvokra1 TARGET vokra SECTION libs
    SUMMARY "event client library of the nvo node tools"
    DESCRIPTION "libvokra finds the event notification daemon tolmd through SLP and signals\nevents to it. Java programs use it through its JNI natives.")
  _nvo_package(libvokra-dev TARGET vokra SECTION libdevel
    SUMMARY "event client library of the nvo node tools - development files"
    DESCRIPTION "Headers, pkg-config file and link library of libvokra."
    DEPENDS libvokra1 libvslp-dev)
  _nvo_package(libvslp1 TARGET vslp SECTION libs
    SUMMARY "SLPv2 client library (RFC 2614 API)"
    DESCRIPTION "libvslp finds and registers services with the Service Location Protocol,\nversion 2, through the C API of RFC 2614.")
  _nvo_package(libvslp-dev TARGET vslp SECTION libdevel
    SUMMARY "SLPv2 client library (RFC 2614 API) - development files"
    DESCRIPTION "The header slp.h, the pkg-config file and the link library of libvslp."
    DEPENDS libvslp1)
  _nvo_package(libnvo1 TARGET nvo SECTION libs
    SUMMARY "management gateway client library"
    DESCRIPTION "libnvo opens sessions with the management gateway and runs XML command\ndocuments against the management directory.")
  _nvo_package(libnvo-dev TARGET nvo SECTION libdevel
    SUMMARY "management gateway client library - development files"
    DESCRIPTION "Headers, pkg-config file and link library of libnvo."
    DEPENDS libnvo1)
  _nvo_package(vslpd TARGET vslpd SECTION net
    SUMMARY "SLPv2 service agent"
    DESCRIPTION "vslpd answers Service Location Protocol requests for the services registered\non this host. The event daemon and the workstation agent advertise themselves\nthrough it.")
  _nvo_package(tolmd TARGET tolmd SECTION admin
    SUMMARY "event notification daemon"
    DESCRIPTION "tolmd keeps registrations of listeners for named events and notifies every\nlistener when an event is signalled, optionally paced."
    RECOMMENDS vslpd)
  _nvo_package(halbrin TARGET halbrin SECTION admin
    SUMMARY "prepares an LDAP directory for the software repository"
    DESCRIPTION "halbrin creates the software repository's organisational units in an LDAP\ndirectory and gives the public unit an access rule where the server keeps one.")
  _nvo_package(nvo-tools TARGET tolm-signal SECTION admin
    SUMMARY "command-line tools of the nvo node tools"
    DESCRIPTION "tolm-signal and tolm-listen signal and listen for events, vslptool asks SLP\nagents, nvo-call runs a command document through the management gateway, and,\nwhere built, nvo-enrol, nvo-inventory and nvo-rpm-import enrol a workstation,\nreport its inventory and fill the software repository."
    DEPENDS libvokra1 libnvo1)
  _nvo_package(brenxd TARGET brenxd SECTION admin
    SUMMARY "workstation creation agent"
    DESCRIPTION "brenxd gives workstations that ask for it a computer object in the management\ndirectory and credentials of their own."
    DEPENDS libnvo1 RECOMMENDS vslpd)
  _nvo_package(tarvik TARGET tarvik SECTION admin
    SUMMARY "administrator console of the management directory"
    DESCRIPTION "tarvik opens a session with the management gateway and offers a command line\nfor browsing and editing the directory's objects, links, schedules and policies."
    DEPENDS libnvo1)

  include(CPack)
endmacro()

cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL nvo_configure_packages)
