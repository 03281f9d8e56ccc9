# Sources of zelm-sim, shared with its tests.
# The authentication component: file I/O, keys and certificates, the
# signature policy, the protocol adapter.
set(ZELM_SIM_AUTH_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SimFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimSignature.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimAuthentication.cpp
)
# The permission rule told from the published documents.
set(ZELM_SIM_WHY_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SimWhy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimXml.cpp
)
set(ZELM_SIM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimApply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimBoot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimEfivarfs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimLock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimMirror.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimShow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimStore.cpp
  ${ZELM_SIM_AUTH_SOURCES}
  ${ZELM_SIM_WHY_SOURCES}
)
