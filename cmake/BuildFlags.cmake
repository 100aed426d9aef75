# Compile and link settings shared by every target of the project. Targets opt in by linking
# the interface library `nvo_build_flags`, so nothing here leaks into imported libraries.
option(NVO_WERROR "Treat compiler warnings as errors" OFF)
option(NVO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(NVO_TSAN "Build with ThreadSanitizer (for the threaded components' tests)" OFF)
if(NVO_SANITIZE AND NVO_TSAN)
  message(FATAL_ERROR "NVO_SANITIZE and NVO_TSAN exclude each other: use one build for each")
endif()

add_library(nvo_build_flags INTERFACE)
target_compile_options(nvo_build_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
  $<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>)
if(NVO_WERROR)
  target_compile_options(nvo_build_flags INTERFACE -Werror)
endif()
if(NVO_SANITIZE)
  target_compile_options(nvo_build_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(nvo_build_flags INTERFACE -fsanitize=address,undefined)
  target_compile_definitions(nvo_build_flags INTERFACE NVO_SANITIZED=1)
endif()
if(NVO_TSAN)
  target_compile_options(nvo_build_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(nvo_build_flags INTERFACE -fsanitize=thread)
  target_compile_definitions(nvo_build_flags INTERFACE NVO_TSAN=1)
endif()

# nvo_require_header(<header> <debian-package>): stop configure with the Debian name of a
# missing development package.
function(nvo_require_header header package)
  include(CheckIncludeFileCXX)
  string(MAKE_C_IDENTIFIER "HAVE_${header}" var)
  check_include_file_cxx("${header}" ${var})
  if(NOT ${var})
    message(FATAL_ERROR "${header} not found: install the Debian package ${package}")
  endif()
endfunction()

# Tests of the threaded components carry the CTest label `threaded`; the target
# `threaded_tests` builds just them (and what they run), for the ThreadSanitizer build.
add_custom_target(threaded_tests)

# nvo_add_gtest(<name> SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [SANDBOX]): one GoogleTest
# executable registered with CTest as one test. SANDBOX runs it through
# tests/sandbox/run-in-sandbox, in private network and mount namespaces.
function(nvo_add_gtest name)
  cmake_parse_arguments(T "SANDBOX" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main nvo_build_flags)
  if(T_SANDBOX)
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/sandbox/run-in-sandbox $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(T_SANDBOX)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if("threaded" IN_LIST T_LABELS)
    add_dependencies(threaded_tests ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
                       ENVIRONMENT "NVO_BUILD_DIR=${PROJECT_BINARY_DIR};NVO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
