# Firmware sources of permissions/.
list(APPEND ZELM_FIRMWARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/CurrentPermissions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Identities.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IdentityChanges.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionIndicator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionProtocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionsApply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PermissionsPacket.cpp
)
