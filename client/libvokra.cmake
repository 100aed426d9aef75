# libvokra: the client shared library (server discovery, the event client, the Java natives and
# the socket layer), its public headers and pkg-config file, and the tools tolm-signal and
# tolm-listen. Tests are in libvokra_tests.cmake.

# The Java natives need the JDK's JNI headers; the tests need javac and java of the same JDK.
find_package(Java 17 COMPONENTS Development Runtime)
if(NOT Java_FOUND)
  message(FATAL_ERROR "javac 17 not found: install the Debian package openjdk-17-jdk-headless")
endif()
if(NOT DEFINED JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  # FindJNI would take the first JDK it meets; use the one whose javac was found.
  get_filename_component(_vokra_javac ${Java_JAVAC_EXECUTABLE} REALPATH)
  get_filename_component(_vokra_jdk_bin ${_vokra_javac} DIRECTORY)
  get_filename_component(JAVA_HOME ${_vokra_jdk_bin} DIRECTORY)
endif()
find_package(JNI)
if(NOT JAVA_INCLUDE_PATH OR NOT JAVA_INCLUDE_PATH2)
  message(FATAL_ERROR "jni.h not found: install the Debian package openjdk-17-jdk-headless")
endif()

set(VOKRA_DIR ${CMAKE_CURRENT_SOURCE_DIR})

add_library(vokra SHARED
  ${VOKRA_DIR}/tolm_slp_info.cc
  ${VOKRA_DIR}/tolm_server_info.cc
  ${VOKRA_DIR}/tolm_client.cc
  ${VOKRA_DIR}/socket_exception.cc
  ${VOKRA_DIR}/jni/context_table.cc
  ${VOKRA_DIR}/jni/jni_support.cc
  ${VOKRA_DIR}/jni/unix_socket_ops.cc
  ${VOKRA_DIR}/jni/domain_socket_natives.cc
  ${VOKRA_DIR}/jni/tolm_client_natives.cc)
target_link_libraries(vokra PRIVATE vokra_socket_objs vslp tolm_protocol nvo_build_flags)
target_include_directories(vokra
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
         # tolm_server_info.h declares its SLP callbacks with the types of <slp.h>.
         $<BUILD_INTERFACE:$<TARGET_PROPERTY:vslp,INTERFACE_INCLUDE_DIRECTORIES>>
  PRIVATE ${JAVA_INCLUDE_PATH} ${JAVA_INCLUDE_PATH2})
set_target_properties(vokra PROPERTIES
  VERSION 1.0.0
  SOVERSION 1
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# Every symbol the library needs must be resolved when it is linked, not when a JVM loads it.
target_link_options(vokra PRIVATE -Wl,--no-undefined)

# Public headers as installed: flat under include/vokra/, including each other by file name,
# so programs write #include <vokra/tolm_client.h>. The build tree gets the same layout in
# ${PROJECT_BINARY_DIR}/include for programs built against the build tree.
set(VOKRA_PUBLIC_HEADERS
  vokra_export.h socket_exception.h inet_socket.h socket_util.h
  tolm_slp_info.h tolm_server_info.h tolm_client.h)
set(VOKRA_STAGED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
include(${PROJECT_SOURCE_DIR}/cmake/PublicHeaders.cmake)
nvo_stage_public_headers(_vokra_staged_headers
  SOURCE_DIR ${VOKRA_DIR} SOURCE_PREFIX client
  DESTINATION ${VOKRA_STAGED_INCLUDE_DIR}/vokra HEADERS ${VOKRA_PUBLIC_HEADERS})

# pkg-config: one file for the installed library, one for programs built against this tree.
set(VOKRA_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
set(VOKRA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(VOKRA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
set(VOKRA_PC_SLP_INCLUDEDIR "\${includedir}/vslp")
configure_file(${VOKRA_DIR}/vokra.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vokra.pc @ONLY)
set(VOKRA_PC_PREFIX ${PROJECT_BINARY_DIR})
set(VOKRA_PC_LIBDIR ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(VOKRA_PC_INCLUDEDIR ${VOKRA_STAGED_INCLUDE_DIR})
set(VOKRA_PC_SLP_INCLUDEDIR ${PROJECT_SOURCE_DIR}/slp/include)
set(VOKRA_BUILD_PC_DIR ${PROJECT_BINARY_DIR}/pkgconfig-build-tree)
configure_file(${VOKRA_DIR}/vokra.pc.in ${VOKRA_BUILD_PC_DIR}/vokra.pc @ONLY)

# Components are the Debian packages (cmake/Packaging.cmake).
install(TARGETS vokra
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libvokra1 NAMELINK_COMPONENT libvokra-dev)
install(FILES ${_vokra_staged_headers}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vokra COMPONENT libvokra-dev)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vokra.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libvokra-dev)

include(${VOKRA_DIR}/tools/tools.cmake)
include(${VOKRA_DIR}/libvokra_tests.cmake)
