# engine layer of libnvo (see CMakeLists.txt): command documents parsed into typed commands
# (pure, fuzzable) and run against a Directory. Package versions compare with librpm's
# rpmvercmp (Debian librpm-dev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(NVO_RPM REQUIRED IMPORTED_TARGET rpm)

nvo_gateway_layer(nvo_engine
  ${NVO_GATEWAY_DIR}/directory.cc
  ${NVO_GATEWAY_DIR}/directory_lookup.cc
  ${NVO_GATEWAY_DIR}/ldap_text.cc
  ${NVO_GATEWAY_DIR}/command.cc
  ${NVO_GATEWAY_DIR}/command_engine.cc
  ${NVO_GATEWAY_DIR}/command_reply.cc
  ${NVO_GATEWAY_DIR}/inventory_plan.cc
  ${NVO_GATEWAY_DIR}/linked_objects.cc)
target_link_libraries(nvo_engine PUBLIC nvo_documents PRIVATE PkgConfig::NVO_RPM nvo_build_flags)

nvo_add_gtest(nvo_engine_unit_test
  SOURCES ${NVO_GATEWAY_DIR}/ldap_text_test.cc ${NVO_GATEWAY_DIR}/command_test.cc
          ${NVO_GATEWAY_DIR}/inventory_plan_test.cc
  LIBS nvo_engine
  TIMEOUT 60)

# The engine against a real slapd with the gateway's schema, access rules and demo data.
nvo_add_gtest(nvo_engine_test
  SOURCES ${NVO_GATEWAY_DIR}/command_engine_test.cc
  LIBS nvo_engine nvo_ldap nvo_slapd_support
  TIMEOUT 120)
