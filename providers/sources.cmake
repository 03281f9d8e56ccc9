# Firmware sources of providers/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/PasswordSetting.cpp
)
