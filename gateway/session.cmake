# session layer of libnvo (see CMakeLists.txt): the LDAP adapter, MUXClient and the free
# functions, the shared library `nvo` with its installed headers and pkg-config file, the tool
# nvo-call, and their tests.

# The LDAP adapter: the only code that calls OpenLDAP's client library.
nvo_require_header(ldap.h libldap-dev)
find_library(NVO_LDAP_LIBRARY ldap)
find_library(NVO_LBER_LIBRARY lber)
if(NOT NVO_LDAP_LIBRARY OR NOT NVO_LBER_LIBRARY)
  message(FATAL_ERROR "libldap or liblber not found: install the Debian package libldap-dev")
endif()
nvo_gateway_layer(nvo_ldap ${NVO_GATEWAY_DIR}/ldap_directory.cc)
target_link_libraries(nvo_ldap PUBLIC ${NVO_LDAP_LIBRARY} ${NVO_LBER_LIBRARY}
                      PRIVATE nvo_build_flags)

# --- libnvo.so.1 --------------------------------------------------------------------------
# The documents layer carries public classes (XMLParser, DOM_Node) that the session code does
# not call itself, so its objects go in whole; the other layers only with what is used.
add_library(nvo SHARED
  ${NVO_GATEWAY_DIR}/file_io.cc
  ${NVO_GATEWAY_DIR}/mux_client.cc
  ${NVO_GATEWAY_DIR}/nvo_api.cc
  $<TARGET_OBJECTS:nvo_documents>)
target_link_libraries(nvo
  PUBLIC ${NVO_XERCES_LIBRARY}
  PRIVATE nvo_documents nvo_engine nvo_ldap
          ${NVO_LDAP_LIBRARY} ${NVO_LBER_LIBRARY} vokra nvo_build_flags)
target_include_directories(nvo PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
set_target_properties(nvo PROPERTIES
  VERSION 1.0.0
  SOVERSION 1
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# Everything the library needs is resolved when it is linked, not when a program loads it.
target_link_options(nvo PRIVATE -Wl,--no-undefined)

# Public headers as installed: flat under include/nvo/, including each other by file name, so
# programs write #include <nvo/mux_client.h>. The build tree gets the same layout in
# ${PROJECT_BINARY_DIR}/include.
set(NVO_PUBLIC_HEADERS dom_node.h xml_parser.h mux_client.h nvo_api.h nvo_export.h)
set(NVO_STAGED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
include(${PROJECT_SOURCE_DIR}/cmake/PublicHeaders.cmake)
nvo_stage_public_headers(_nvo_staged_headers
  SOURCE_DIR ${NVO_GATEWAY_DIR} SOURCE_PREFIX gateway
  DESTINATION ${NVO_STAGED_INCLUDE_DIR}/nvo HEADERS ${NVO_PUBLIC_HEADERS})

# pkg-config: one file for the installed library, one for programs built against this tree.
set(NVO_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
set(NVO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(NVO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${NVO_GATEWAY_DIR}/nvo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/nvo.pc @ONLY)
set(NVO_PC_PREFIX ${PROJECT_BINARY_DIR})
set(NVO_PC_LIBDIR ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(NVO_PC_INCLUDEDIR ${NVO_STAGED_INCLUDE_DIR})
set(NVO_BUILD_PC_DIR ${PROJECT_BINARY_DIR}/pkgconfig-build-tree)
configure_file(${NVO_GATEWAY_DIR}/nvo.pc.in ${NVO_BUILD_PC_DIR}/nvo.pc @ONLY)

include(${NVO_GATEWAY_DIR}/tools/tools.cmake)

install(TARGETS nvo
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT nvo NAMELINK_COMPONENT nvo)
install(TARGETS nvo-call nvo-rpm-import nvo-inventory RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT nvo)
install(FILES ${_nvo_staged_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nvo COMPONENT nvo)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nvo.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT nvo)

include(${NVO_GATEWAY_DIR}/session_tests.cmake)
