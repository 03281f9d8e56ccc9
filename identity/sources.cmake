# Firmware sources of identity/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/DeviceIdentifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SmbiosBounds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SmbiosStrings.cpp
)
