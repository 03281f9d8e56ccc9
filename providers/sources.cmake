# Firmware sources of providers/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/BootOrderLock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BootSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PasswordSetting.cpp
)
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/DefaultStores.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlatformSetup.cpp
)
