# Firmware sources of driver/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/DriverInitialize.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Entry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Hob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HookRegistry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibraryStartup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Smm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimerCalibration.cpp
)
