# Firmware sources of providers/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AssetTagSetting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BootOrderLock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BootSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PasswordSetting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProviderLibrary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingVariable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StringSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VirtualizationSetting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpbtSetting.cpp
)
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/DefaultStores.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlatformSetup.cpp
)
