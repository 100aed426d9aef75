# Tests of the session layer: the LDAP adapter and libnvo against a real slapd (tests/support),
# TRKSignalEvent through real tolmd, vslpd and tolm-listen in the sandbox, nvo-call end to end,
# and the shared library's interface.
nvo_add_gtest(ldap_directory_test
  SOURCES ${NVO_GATEWAY_DIR}/ldap_directory_test.cc
  LIBS nvo_ldap nvo_engine nvo_slapd_support
  TIMEOUT 240)
nvo_add_gtest(nvo_session_test
  SOURCES ${NVO_GATEWAY_DIR}/nvo_session_test.cc ${NVO_GATEWAY_DIR}/ldap_directory.cc
  LIBS nvo nvo_engine nvo_slapd_support nvo_test_support ${NVO_LDAP_LIBRARY} ${NVO_LBER_LIBRARY}
  TIMEOUT 240)
add_dependencies(nvo_session_test nvo-call)

# TRKSignalEvent needs tolmd, configured after this folder: registered at the end.
function(nvo_add_signal_test dir)
  if(NOT TARGET tolmd)
    message(STATUS "gateway: no tolmd target, the TRKSignalEvent test is not registered")
    return()
  endif()
  nvo_add_gtest(nvo_signal_test
    SOURCES ${dir}/nvo_signal_test.cc
    LIBS nvo vokra_test_support
    SANDBOX TIMEOUT 180)
  add_dependencies(nvo_signal_test tolmd vslpd tolm-listen)
endfunction()
cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
  CALL nvo_add_signal_test [[${NVO_GATEWAY_DIR}]])")

add_test(NAME nvo_exports_test COMMAND ${NVO_GATEWAY_DIR}/check_exports.sh $<TARGET_FILE:nvo>)
set_tests_properties(nvo_exports_test PROPERTIES TIMEOUT 60)
set(_nvo_install_flags)
if(NVO_SANITIZE)
  set(_nvo_install_flags -fsanitize=address,undefined -fno-omit-frame-pointer)
endif()
add_test(NAME nvo_install_test
  COMMAND ${NVO_GATEWAY_DIR}/check_install.sh ${PROJECT_BINARY_DIR} ${CMAKE_CXX_COMPILER}
          ${_nvo_install_flags})
set_tests_properties(nvo_install_test PROPERTIES TIMEOUT 120)
