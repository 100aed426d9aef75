# The socket layer: one set of objects that both libvokra and the daemons' support library
# (teska) build in. Each of those libraries adds its own definition of throwSocketException
# (client/socket_error.h), which decides the exception type thrown.
add_library(vokra_socket_objs OBJECT
  ${CMAKE_CURRENT_SOURCE_DIR}/inet_socket.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/socket_util.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/socket_transfer.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/fd_stream_buf.cc)
set_target_properties(vokra_socket_objs PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(vokra_socket_objs PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vokra_socket_objs PRIVATE nvo_build_flags)

# The socket layer with the client library's own exception, for its tests and for programs
# that use the socket layer without libvokra.
add_library(vokra_socket_client STATIC
  $<TARGET_OBJECTS:vokra_socket_objs>
  ${CMAKE_CURRENT_SOURCE_DIR}/socket_exception.cc)
set_target_properties(vokra_socket_client PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(vokra_socket_client PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vokra_socket_client PRIVATE nvo_build_flags)

nvo_add_gtest(inet_socket_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/inet_socket_test.cc
          ${CMAKE_CURRENT_SOURCE_DIR}/socket_test_support.cc
  LIBS vokra_socket_client Threads::Threads
  LABELS threaded
  TIMEOUT 120)
nvo_add_gtest(socket_util_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/socket_util_test.cc
          ${CMAKE_CURRENT_SOURCE_DIR}/socket_test_support.cc
  LIBS vokra_socket_client Threads::Threads
  LABELS threaded
  TIMEOUT 120)
nvo_add_gtest(socket_transfer_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/socket_transfer_test.cc
          ${CMAKE_CURRENT_SOURCE_DIR}/socket_test_support.cc
  LIBS vokra_socket_client Threads::Threads
  LABELS threaded
  TIMEOUT 120)
