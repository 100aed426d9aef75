# documents layer of libnvo (see CMakeLists.txt): XMLParser and the node handle over Xerces-C,
# and the authentication document reader.
# Looked up by path rather than compiled (as nvo_require_header does): the header's inline code
# does not link in a trial program of the fuzz build's instrumentation.
find_path(NVO_XERCES_INCLUDE_DIR xercesc/util/PlatformUtils.hpp)
find_library(NVO_XERCES_LIBRARY xerces-c)
if(NOT NVO_XERCES_INCLUDE_DIR OR NOT NVO_XERCES_LIBRARY)
  message(FATAL_ERROR "Xerces-C 3 not found: install the Debian package libxerces-c-dev")
endif()

nvo_gateway_layer(nvo_documents
  ${NVO_GATEWAY_DIR}/authentication.cc
  ${NVO_GATEWAY_DIR}/dom_node.cc
  ${NVO_GATEWAY_DIR}/element_tree.cc
  ${NVO_GATEWAY_DIR}/plain_document.cc
  ${NVO_GATEWAY_DIR}/reply_document.cc
  ${NVO_GATEWAY_DIR}/xml_parser.cc
  ${NVO_GATEWAY_DIR}/xml_reader.cc
  ${NVO_GATEWAY_DIR}/xml_text.cc
  ${NVO_GATEWAY_DIR}/xml_writer.cc)
target_include_directories(nvo_documents SYSTEM PUBLIC ${NVO_XERCES_INCLUDE_DIR})
target_link_libraries(nvo_documents PUBLIC ${NVO_XERCES_LIBRARY} PRIVATE nvo_build_flags)

nvo_add_gtest(nvo_documents_test
  SOURCES ${NVO_GATEWAY_DIR}/xml_parser_test.cc ${NVO_GATEWAY_DIR}/reply_document_test.cc ${NVO_GATEWAY_DIR}/xml_text_test.cc
          ${NVO_GATEWAY_DIR}/element_tree_test.cc
          ${NVO_GATEWAY_DIR}/authentication_test.cc
  LIBS nvo_documents
  TIMEOUT 60)
