# Sources of the XML tree library (firmware code, no dependencies).
set(ZELM_XML_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/XmlTree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlEscape.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlDecode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlScan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlTokenizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlDoctype.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlEncoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlDeclarationCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlParse.cpp
)
# The malloc-backed pool with counters for host programs.
set(ZELM_XML_HOST_POOL_SOURCES ${CMAKE_CURRENT_LIST_DIR}/HostPool.cpp)
