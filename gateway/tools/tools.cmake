# The gateway's command-line tools, thin mains over one small library (nvo_tools) of what they
# share: opening a session, reading packages (librpm, dpkg's status file) and the command
# documents they send. They talk to the directory only through libnvo.
add_library(nvo_tools STATIC
  ${NVO_GATEWAY_DIR}/tools/tool_session.cc
  ${NVO_GATEWAY_DIR}/tools/packages.cc
  ${NVO_GATEWAY_DIR}/tools/gateway_requests.cc)
target_include_directories(nvo_tools PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(nvo_tools PUBLIC nvo PRIVATE PkgConfig::NVO_RPM nvo_build_flags)

# nvo-call: one command document through one session.
add_executable(nvo-call ${NVO_GATEWAY_DIR}/tools/nvo_call_main.cc)
target_link_libraries(nvo-call PRIVATE nvo_tools nvo_build_flags)
# nvo-rpm-import: RPM packages into the software repository.
add_executable(nvo-rpm-import ${NVO_GATEWAY_DIR}/tools/nvo_rpm_import_main.cc)
target_link_libraries(nvo-rpm-import PRIVATE nvo_tools nvo_build_flags)
# nvo-inventory: the computer's own inventory report.
add_executable(nvo-inventory ${NVO_GATEWAY_DIR}/tools/nvo_inventory_main.cc)
target_link_libraries(nvo-inventory PRIVATE nvo_tools nvo_build_flags)

# The tools end to end against a real slapd, with packages built by rpmbuild.
nvo_add_gtest(nvo_tools_test
  SOURCES ${NVO_GATEWAY_DIR}/tools/tools_test.cc
  LIBS nvo_tools nvo_slapd_support nvo_test_support
  TIMEOUT 300)
add_dependencies(nvo_tools_test nvo-rpm-import nvo-inventory nvo-call)
