# session layer of libnvo (see CMakeLists.txt).

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
