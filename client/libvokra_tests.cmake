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
  set(VOKRA_JVM_ASAN_OPTIONS handle_segv=0:detect_leaks=0:allow_user_segv_handler=1:abort_on_error=1)
  list(APPEND VOKRA_JVM_ENV "LD_PRELOAD=${_vokra_libasan}" "ASAN_OPTIONS=${VOKRA_JVM_ASAN_OPTIONS}")
endif()
# ThreadSanitizer cannot judge a JVM: with its runtime preloaded, the JVM's own threads, which
# synchronise in ways the runtime does not see, report races inside libjvm before a test starts.
set(VOKRA_TSAN_JVM_REASON
  "ThreadSanitizer cannot check a JVM (false reports inside libjvm), \
so the Java tests do not run in this build")
# Lookups in the JVM tests need no more than a short multicast round (see slp_test_agent.cc).
set(VOKRA_TEST_SLP_CONF ${CMAKE_CURRENT_BINARY_DIR}/vslp-test.conf)
file(WRITE ${VOKRA_TEST_SLP_CONF}
  "net.slp.multicastTimeouts = 200,200\nnet.slp.multicastMaximumWait = 400\n"
  "net.slp.unicastMaximumWait = 1000\n")
list(APPEND VOKRA_JVM_ENV "VSLP_CONF=${VOKRA_TEST_SLP_CONF}")
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
  if(NVO_TSAN)
    set(_command sh -c "echo \"$1\" >&2 && exit 77" sh "${name}: skipped, ${VOKRA_TSAN_JVM_REASON}")
  endif()
  add_test(NAME ${name} COMMAND ${_command})
  # Labelled with the threaded components, so the ThreadSanitizer run lists them as skipped.
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS threaded
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
  LABELS threaded
  TIMEOUT 60)
nvo_add_gtest(tolm_server_info_test
  SOURCES ${VOKRA_DIR}/tolm_server_info_test.cc
  LIBS vokra vslp
  LABELS threaded
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
  LABELS threaded SANDBOX TIMEOUT 120)
add_dependencies(tolm_client_test vslpd)
nvo_add_gtest(tolm_server_info_slp_test
  SOURCES ${VOKRA_DIR}/tolm_server_info_slp_test.cc
  LIBS vokra vokra_test_support Threads::Threads
  LABELS threaded SANDBOX TIMEOUT 120)
add_dependencies(tolm_server_info_slp_test vslpd)
nvo_add_gtest(tolm_client_discovery_test
  SOURCES ${VOKRA_DIR}/tolm_client_discovery_test.cc
  LIBS vokra vokra_test_support Threads::Threads
  LABELS threaded SANDBOX TIMEOUT 120)
add_dependencies(tolm_client_discovery_test vslpd)

# --- A program built only from pkg-config's answers -------------------------------------------
find_program(VOKRA_PKG_CONFIG pkg-config)
if(NOT VOKRA_PKG_CONFIG)
  message(FATAL_ERROR "pkg-config not found: install the Debian package pkg-config")
endif()
set(VOKRA_EXAMPLE_FLAGS)
if(NVO_SANITIZE)
  set(VOKRA_EXAMPLE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer)
elseif(NVO_TSAN)
  set(VOKRA_EXAMPLE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()
set(VOKRA_PKGCONFIG_EXAMPLE ${CMAKE_CURRENT_BINARY_DIR}/pkg-config-example/signal_event)
add_custom_command(
  OUTPUT ${VOKRA_PKGCONFIG_EXAMPLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/pkg-config-example
  COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${VOKRA_BUILD_PC_DIR}
          ${VOKRA_DIR}/examples/build_with_pkg_config.sh ${CMAKE_CXX_COMPILER}
          ${VOKRA_DIR}/examples/signal_event.cc ${VOKRA_PKGCONFIG_EXAMPLE} ${VOKRA_EXAMPLE_FLAGS}
  DEPENDS vokra ${VOKRA_DIR}/examples/signal_event.cc ${VOKRA_DIR}/examples/build_with_pkg_config.sh
          ${VOKRA_BUILD_PC_DIR}/vokra.pc ${_vokra_staged_headers}
  COMMENT "Building a libvokra example with pkg-config against the build tree"
  VERBATIM)
add_custom_target(vokra_pkgconfig_example ALL DEPENDS ${VOKRA_PKGCONFIG_EXAMPLE})

# --- End to end, once tolmd exists (its folder is configured after this one) -----------------
function(vokra_add_end_to_end_tests dir example jvm_preload jvm_asan_options)
  if(NOT TARGET tolmd)
    message(STATUS "libvokra: no tolmd target, end-to-end tests not registered")
    return()
  endif()
  nvo_add_gtest(vokra_e2e_test
    SOURCES ${dir}/vokra_e2e_test.cc
    LIBS vokra_test_support
    LABELS threaded SANDBOX TIMEOUT 240)
  add_dependencies(vokra_e2e_test tolmd vslpd tolm-listen tolm-signal vokra_java_tests
                   vokra_pkgconfig_example)
  get_target_property(_jar vokra_java_tests JAR_FILE)
  set(_env "VOKRA_JAVA=${Java_JAVA_EXECUTABLE}" "VOKRA_JAVA_JAR=${_jar}"
           "VOKRA_PKGCONFIG_EXAMPLE=${example}")
  if(jvm_preload)
    list(APPEND _env "VOKRA_JVM_PRELOAD=${jvm_preload}" "VOKRA_JVM_ASAN_OPTIONS=${jvm_asan_options}")
  endif()
  set_property(TEST vokra_e2e_test APPEND PROPERTY ENVIRONMENT ${_env})
endfunction()
# Deferred calls see the variables of the top directory, so this one gets its values now.
cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
  CALL vokra_add_end_to_end_tests [[${VOKRA_DIR}]] [[${VOKRA_PKGCONFIG_EXAMPLE}]]
  [[${_vokra_libasan}]] [[${VOKRA_JVM_ASAN_OPTIONS}]])")

# --- The shared library's interface and its installation --------------------------------------
add_test(NAME vokra_exports_test COMMAND ${VOKRA_DIR}/check_exports.sh $<TARGET_FILE:vokra>)
add_test(NAME vokra_install_test
  COMMAND ${VOKRA_DIR}/check_install.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR}
          ${CMAKE_CXX_COMPILER} ${VOKRA_EXAMPLE_FLAGS})
set_tests_properties(vokra_exports_test vokra_install_test PROPERTIES TIMEOUT 120)
