# systemd units of the daemons. Every unit the project installs goes through
# nvo_install_systemd_unit, which fills in the installation paths (@CMAKE_INSTALL_FULL_SBINDIR@
# and the like), installs it and records its name; tests/units checks every recorded unit, and
# every unit it finds in the installed tree, against the hardening threshold.
set(NVO_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
  "Where systemd unit files are installed, relative to the prefix unless absolute")

# Holds the list of unit names (property NVO_UNITS) for the unit check.
add_library(nvo_systemd_units INTERFACE)

# nvo_install_systemd_unit(<unit file>): configures the unit (relative to the calling directory)
# into <build>/systemd/ and installs it into NVO_SYSTEMD_UNIT_DIR.
function(nvo_install_systemd_unit source)
  get_filename_component(name ${source} NAME)
  configure_file(${source} ${PROJECT_BINARY_DIR}/systemd/${name} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${name} DESTINATION ${NVO_SYSTEMD_UNIT_DIR})
  set_property(TARGET nvo_systemd_units APPEND PROPERTY NVO_UNITS ${name})
endfunction()
