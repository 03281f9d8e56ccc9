#include "driver/Smm.h"

#include <uefi/UefiGuids.h>

#include "support/FirmwareTables.h"

BOOLEAN QuerySmm(EFI_SMM_SYSTEM_TABLE2 **Smst) {
  *Smst = nullptr;
  EFI_SMM_BASE2_PROTOCOL *smmBase = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiSmmBase2ProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&smmBase)))) {
    return FALSE;
  }
  BOOLEAN inSmram = FALSE;
  if (EFI_ERROR(smmBase->InSmm(smmBase, &inSmram)) || !inSmram) {
    return FALSE;
  }
  if (EFI_ERROR(smmBase->GetSmstLocation(smmBase, Smst))) {
    *Smst = nullptr;
  }
  return TRUE;
}
