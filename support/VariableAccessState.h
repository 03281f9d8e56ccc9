// The state of the platform variable access path, shared by its start-up
// (support/VariableAccessStartup.cpp) and its get and set
// (support/VariableAccess.cpp). Nothing else reads it.
#ifndef ZELM_SUPPORT_VARIABLE_ACCESS_STATE_H_
#define ZELM_SUPPORT_VARIABLE_ACCESS_STATE_H_

#include <platform/PlatformPointerConversion.h>
#include <uefi/Protocol/SmmVariable.h>

enum class VariableMode : UINT8 { Unset, Dxe, Smm };

// What the path has learnt or registered, one bit each.
enum VariablePathFlag : UINT8 {
  VariablePathRuntimeImage = 0x01,             // the image's code is runtime code
  VariablePathServicePointerRegistered = 0x02, // the conversion service's own pointer
  VariablePathLayerPointersRegistered = 0x04,  // runtime services and the two regions
  VariablePathSmmNotifyRegistered = 0x08,      // waiting for the SMM variable service
  VariablePathBootServicesEnded = 0x10,        // exit boot services was signalled
};

struct PlatformVariableAccessState {
  VariableMode mode;
  UINT8 flags; // VariablePathFlag bits

  // DXE mode: the runtime services; SMM mode: the system table and the SMM
  // variable service once known.
  EFI_RUNTIME_SERVICES *runtime;
  EFI_SMM_SYSTEM_TABLE2 *smst;
  EFI_SMM_VARIABLE_PROTOCOL *smmVariable;
  VOID *smmVariableRegistration;

  // Start-up's notifications and events.
  PLATFORM_POINTER_CONVERSION_PROTOCOL *pointerConversion;
  VOID *pointerConversionRegistration;
  EFI_EVENT regionTableEvent;
  EFI_EVENT exitBootServicesEvent;

  // The regions found at initialisation.
  VOID *defaultStoreRegion;
  UINT64 defaultStoreSize;
  VOID *variableRegion;
};

extern PlatformVariableAccessState mVariableAccess;

inline BOOLEAN VariablePathHas(UINT8 flag) {
  return (mVariableAccess.flags & flag) != 0;
}
inline VOID VariablePathSet(UINT8 flag, BOOLEAN on) {
  mVariableAccess.flags =
      static_cast<UINT8>(on ? mVariableAccess.flags | flag : mVariableAccess.flags & ~flag);
}

#endif
