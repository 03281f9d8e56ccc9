# Firmware sources of settings/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/CurrentSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingAccess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsApply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsManagerData.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsPacket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsVariables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ValueConversion.cpp
)
