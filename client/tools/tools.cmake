# The command-line tools of libvokra: tolm-signal signals an event through the library,
# tolm-listen registers a listener of its own and prints the notifications it receives.
set(VOKRA_TOOLS_DIR ${VOKRA_DIR}/tools)

add_library(vokra_tools STATIC
  ${VOKRA_TOOLS_DIR}/tool_text.cc
  ${VOKRA_TOOLS_DIR}/payload_file.cc
  ${VOKRA_TOOLS_DIR}/listen_socket.cc
  ${VOKRA_TOOLS_DIR}/event_listener.cc
  # The socket layer's whole-buffer transfers stay internal to libvokra (not exported), so the
  # tools build their own copy over the library's exported InetSocket.
  ${VOKRA_DIR}/socket_transfer.cc)
target_link_libraries(vokra_tools PUBLIC vokra PRIVATE tolm_protocol nvo_build_flags)

add_executable(tolm-signal ${VOKRA_TOOLS_DIR}/tolm_signal_main.cc)
target_link_libraries(tolm-signal PRIVATE vokra_tools vokra nvo_build_flags)

add_executable(tolm-listen ${VOKRA_TOOLS_DIR}/tolm_listen_main.cc)
target_link_libraries(tolm-listen PRIVATE vokra_tools vokra nvo_build_flags)

install(TARGETS tolm-signal tolm-listen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT nvo-tools)

nvo_add_gtest(vokra_tool_text_test
  SOURCES ${VOKRA_TOOLS_DIR}/tool_text_test.cc
  LIBS vokra_tools
  TIMEOUT 60)
nvo_add_gtest(tolm_listen_test
  SOURCES ${VOKRA_TOOLS_DIR}/tolm_listen_test.cc
  LIBS vokra_tools vokra tolm_protocol nvo_test_support
  TIMEOUT 120)
add_dependencies(tolm_listen_test tolm-listen)
