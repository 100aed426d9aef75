# systemd units of the daemons. Every unit the project installs goes through
# nvo_install_systemd_unit, which fills in the installation paths (@CMAKE_INSTALL_FULL_SBINDIR@
# and the like), installs it and records its name; tests/units checks every recorded unit, and
# every unit it finds in the installed tree, against the hardening threshold.
# Debian 12 keeps the units of its packages in /lib/systemd/system, also for programs under /usr.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_nvo_unit_dir_default "/lib/systemd/system")
else()
  set(_nvo_unit_dir_default "lib/systemd/system")
endif()
set(NVO_SYSTEMD_UNIT_DIR "${_nvo_unit_dir_default}" CACHE STRING
  "Where systemd unit files are installed, relative to the prefix unless absolute")
# A build tree configured before the prefix /usr became the default keeps the relative folder.
if(NVO_SYSTEMD_UNIT_DIR STREQUAL "lib/systemd/system" AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(NVO_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE STRING
    "Where systemd unit files are installed, relative to the prefix unless absolute" FORCE)
endif()

# Holds the list of unit names (property NVO_UNITS) for the unit check.
add_library(nvo_systemd_units INTERFACE)

# nvo_install_systemd_unit(<unit file> [COMPONENT <package>]): configures the unit (relative to
# the calling directory) into <build>/systemd/ and installs it into NVO_SYSTEMD_UNIT_DIR, as part
# of the Debian package <package> (cmake/Packaging.cmake), which then starts and stops it.
function(nvo_install_systemd_unit source)
  cmake_parse_arguments(PARSE_ARGV 1 unit "" "COMPONENT" "")
  get_filename_component(name ${source} NAME)
  configure_file(${source} ${PROJECT_BINARY_DIR}/systemd/${name} @ONLY)
  if(unit_COMPONENT)
    set(component COMPONENT ${unit_COMPONENT})
    set_property(GLOBAL APPEND PROPERTY NVO_UNITS_OF_${unit_COMPONENT} ${name})
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${name} DESTINATION ${NVO_SYSTEMD_UNIT_DIR}
          ${component})
  set_property(TARGET nvo_systemd_units APPEND PROPERTY NVO_UNITS ${name})
endfunction()
