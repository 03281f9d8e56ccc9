# Firmware sources of support/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/FirmwareTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Guids.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AsciiString.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Base64.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NumberParse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PacketRecord.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PacketXml.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProtocolNotify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PublishedDocument.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ValueText.cpp
)
list(APPEND ZELM_FIRMWARE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/XmlPool.cpp)
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/MappedRange.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegionTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StartupResources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VariableAccess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VariableAccessStartup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VariableAlloc.cpp
)
