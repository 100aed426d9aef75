# Tests of libvokra: C++ tests of discovery and the event client, Java test programs in a real
# JVM, and end-to-end runs with the SLP agent, tolmd and the tools.

include(UseJava)

# --- Java test programs -------------------------------------------------------------------
set(VOKRA_JAVA_DIR ${VOKRA_DIR}/java)
set(_vokra_check_sources ${VOKRA_JAVA_DIR}/tests/com/orvanta/nvo/vokratest/Check.java)
add_jar(vokra_java_tests
  SOURCES ${VOKRA_JAVA_DIR}/fixtures/com/orvanta/nvo/api/net/DomainSocketImpl.java
          ${VOKRA_JAVA_DIR}/fixtures/com/orvanta/nvo/api/tolm/TolmClient.java
          ${_vokra_check_sources}
          ${VOKRA_JAVA_DIR}/tests/com/orvanta/nvo/vokratest/UnixServer.java
          ${VOKRA_JAVA_DIR}/tests/com/orvanta/nvo/api/net/DomainSocketImplTest.java
          ${VOKRA_JAVA_DIR}/tests/com/orvanta/nvo/api/tolm/TolmClientTest.java
          ${VOKRA_JAVA_DIR}/tests/com/orvanta/nvo/api/tolm/SignalEvent.java
  OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/java)
add_jar(vokra_java_no_fd
  SOURCES ${VOKRA_JAVA_DIR}/fixtures-no-fd/com/orvanta/nvo/api/net/DomainSocketImpl.java
          ${VOKRA_JAVA_DIR}/fixtures-no-fd/com/orvanta/nvo/api/net/NoFdFieldTest.java
          ${_vokra_check_sources}
  OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/java)
add_jar(vokra_java_no_name
  SOURCES ${VOKRA_JAVA_DIR}/fixtures-no-name/com/orvanta/nvo/api/net/DomainSocketImpl.java
          ${VOKRA_JAVA_DIR}/fixtures-no-name/com/orvanta/nvo/api/net/NoNameFieldTest.java
          ${_vokra_check_sources}
  OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/java)
# The tests load the library the jars were built for.
add_dependencies(vokra_java_tests vokra)
add_dependencies(vokra_java_no_fd vokra)
add_dependencies(vokra_java_no_name vokra)

# A JVM is not built with the sanitizers, so in the sanitizer build the runtime must be loaded
# first, and the JVM's own use of SIGSEGV (and its never-freed start-up memory) must be left
# alone.
set(VOKRA_JVM_ENV)
if(NVO_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE _vokra_libasan OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_vokra_libasan ${_vokra_libasan} REALPATH)
  if(NOT EXISTS ${_vokra_libasan})
    message(FATAL_ERROR "libasan.so not found next to ${CMAKE_CXX_COMPILER}")
  endif()
  list(APPEND VOKRA_JVM_ENV
    "LD_PRELOAD=${_vokra_libasan}"
    "ASAN_OPTIONS=handle_segv=0:detect_leaks=0:allow_user_segv_handler=1:abort_on_error=1")
endif()
set(VOKRA_JAVA_COMMAND ${Java_JAVA_EXECUTABLE} -Xcheck:jni
  -Djava.library.path=${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

# vokra_add_java_test(<name> JAR <jar target> CLASS <main class> [ARGS ...] [SANDBOX]
#                     [LIMIT_FDS n])
function(vokra_add_java_test name)
  cmake_parse_arguments(J "SANDBOX" "JAR;CLASS;LIMIT_FDS" "ARGS" ${ARGN})
  get_target_property(_jar ${J_JAR} JAR_FILE)
  set(_command ${VOKRA_JAVA_COMMAND} -cp ${_jar} ${J_CLASS} ${J_ARGS})
  if(J_LIMIT_FDS)
    set(_command sh -c "ulimit -n ${J_LIMIT_FDS} && exec \"$@\"" sh ${_command})
  endif()
  if(J_SANDBOX)
    set(_command ${PROJECT_SOURCE_DIR}/tests/sandbox/run-in-sandbox ${_command})
  endif()
  add_test(NAME ${name} COMMAND ${_command})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77
                       ENVIRONMENT "${VOKRA_JVM_ENV}")
endfunction()

vokra_add_java_test(vokra_jni_domain_socket_test
  JAR vokra_java_tests CLASS com.orvanta.nvo.api.net.DomainSocketImplTest)
vokra_add_java_test(vokra_jni_domain_socket_exhaust_test
  JAR vokra_java_tests CLASS com.orvanta.nvo.api.net.DomainSocketImplTest ARGS exhaust
  LIMIT_FDS 256)
vokra_add_java_test(vokra_jni_no_fd_field_test
  JAR vokra_java_no_fd CLASS com.orvanta.nvo.api.net.NoFdFieldTest)
vokra_add_java_test(vokra_jni_no_name_field_test
  JAR vokra_java_no_name CLASS com.orvanta.nvo.api.net.NoNameFieldTest)
vokra_add_java_test(vokra_jni_tolm_client_test
  JAR vokra_java_tests CLASS com.orvanta.nvo.api.tolm.TolmClientTest)
vokra_add_java_test(vokra_jni_tolm_client_no_server_test
  JAR vokra_java_tests CLASS com.orvanta.nvo.api.tolm.TolmClientTest ARGS no-server SANDBOX)

# --- C++ tests ------------------------------------------------------------------------------
# The context table is internal to the library (hidden symbols), so its test compiles it in.
nvo_add_gtest(vokra_context_table_test
  SOURCES ${VOKRA_DIR}/jni/context_table_test.cc ${VOKRA_DIR}/jni/context_table.cc
  LIBS vokra Threads::Threads
  TIMEOUT 60)
nvo_add_gtest(tolm_server_info_test
  SOURCES ${VOKRA_DIR}/tolm_server_info_test.cc
  LIBS vokra vslp
  TIMEOUT 60)

# Test support: the SLP agent as a process, and a daemon played by the test.
add_library(vokra_test_support STATIC
  ${VOKRA_DIR}/slp_test_agent.cc
  ${VOKRA_DIR}/fake_tolm_daemon.cc)
target_link_libraries(vokra_test_support
  PUBLIC nvo_test_support tolm_protocol vslp
  PRIVATE nvo_build_flags)

nvo_add_gtest(tolm_client_test
  SOURCES ${VOKRA_DIR}/tolm_client_test.cc
  LIBS vokra vokra_test_support
  SANDBOX TIMEOUT 120)
add_dependencies(tolm_client_test vslpd)
nvo_add_gtest(tolm_server_info_slp_test
  SOURCES ${VOKRA_DIR}/tolm_server_info_slp_test.cc
  LIBS vokra vokra_test_support Threads::Threads
  SANDBOX TIMEOUT 120)
add_dependencies(tolm_server_info_slp_test vslpd)
nvo_add_gtest(tolm_client_discovery_test
  SOURCES ${VOKRA_DIR}/tolm_client_discovery_test.cc
  LIBS vokra vokra_test_support Threads::Threads
  SANDBOX TIMEOUT 120)
add_dependencies(tolm_client_discovery_test vslpd)
