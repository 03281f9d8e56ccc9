# Firmware sources of support/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/FirmwareTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Guids.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Pool.cpp
)
