/* EFI_SMM_BASE2_PROTOCOL and the SMM system table (PI 1.8 volume 4,
   sections 1.4 and 2.x). */
#ifndef UEFI_PROTOCOL_SMM_BASE2_H_
#define UEFI_PROTOCOL_SMM_BASE2_H_

#include <uefi/UefiSystemTable.h>

EFI_EXTERN_C_BEGIN

#define EFI_SMM_BASE2_PROTOCOL_GUID                                                                \
  {                                                                                                \
    0xf4ccbfb7, 0xf6e0, 0x47fd, {                                                                  \
      0x9d, 0xd4, 0x10, 0xa8, 0xf1, 0x50, 0xc1, 0x91                                               \
    }                                                                                              \
  }

#define SMM_SMST_SIGNATURE 0x54534d53u /* "SMST" */

typedef struct {
  VOID *Read;
  VOID *Write;
} EFI_SMM_IO_ACCESS2;

typedef struct {
  EFI_SMM_IO_ACCESS2 Mem;
  EFI_SMM_IO_ACCESS2 Io;
} EFI_SMM_CPU_IO2_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SMM_NOTIFY_FN)(IN CONST EFI_GUID *Protocol, IN VOID *Interface,
                                              IN EFI_HANDLE Handle);
typedef EFI_STATUS(EFIAPI *EFI_SMM_INSTALL_PROTOCOL_INTERFACE)(IN OUT EFI_HANDLE *Handle,
                                                               IN EFI_GUID *Protocol,
                                                               IN EFI_INTERFACE_TYPE InterfaceType,
                                                               IN VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_SMM_UNINSTALL_PROTOCOL_INTERFACE)(IN EFI_HANDLE Handle,
                                                                 IN EFI_GUID *Protocol,
                                                                 IN VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_SMM_HANDLE_PROTOCOL)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                                    OUT VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_SMM_REGISTER_PROTOCOL_NOTIFY)(IN CONST EFI_GUID *Protocol,
                                                             IN EFI_SMM_NOTIFY_FN Function,
                                                             OUT VOID **Registration);
typedef EFI_STATUS(EFIAPI *EFI_SMM_LOCATE_PROTOCOL)(IN EFI_GUID *Protocol,
                                                    IN VOID *Registration OPTIONAL,
                                                    OUT VOID **Interface);

typedef struct {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *SmmFirmwareVendor;
  UINT32 SmmFirmwareRevision;
  VOID *SmmInstallConfigurationTable;
  EFI_SMM_CPU_IO2_PROTOCOL SmmIo;
  EFI_ALLOCATE_POOL SmmAllocatePool;
  EFI_FREE_POOL SmmFreePool;
  EFI_ALLOCATE_PAGES SmmAllocatePages;
  EFI_FREE_PAGES SmmFreePages;
  VOID *SmmStartupThisAp;
  UINTN CurrentlyExecutingCpu;
  UINTN NumberOfCpus;
  UINTN *CpuSaveStateSize;
  VOID **CpuSaveState;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *SmmConfigurationTable;
  EFI_SMM_INSTALL_PROTOCOL_INTERFACE SmmInstallProtocolInterface;
  EFI_SMM_UNINSTALL_PROTOCOL_INTERFACE SmmUninstallProtocolInterface;
  EFI_SMM_HANDLE_PROTOCOL SmmHandleProtocol;
  EFI_SMM_REGISTER_PROTOCOL_NOTIFY SmmRegisterProtocolNotify;
  VOID *SmmLocateHandle;
  EFI_SMM_LOCATE_PROTOCOL SmmLocateProtocol;
  VOID *SmiManage;
  VOID *SmiHandlerRegister;
  VOID *SmiHandlerUnRegister;
} EFI_SMM_SYSTEM_TABLE2;
EFI_STATIC_ASSERT(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmAllocatePool) == 80, "SMST layout");
EFI_STATIC_ASSERT(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmInstallProtocolInterface) == 168,
                  "SMST layout");
EFI_STATIC_ASSERT(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmLocateProtocol) == 208, "SMST layout");
EFI_STATIC_ASSERT(sizeof(EFI_SMM_SYSTEM_TABLE2) == 240, "SMST layout");

typedef struct EFI_SMM_BASE2_PROTOCOL_ EFI_SMM_BASE2_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SMM_INSIDE_OUT2)(IN CONST EFI_SMM_BASE2_PROTOCOL *This,
                                                OUT BOOLEAN *InSmram);
typedef EFI_STATUS(EFIAPI *EFI_SMM_GET_SMST_LOCATION2)(IN CONST EFI_SMM_BASE2_PROTOCOL *This,
                                                       IN OUT EFI_SMM_SYSTEM_TABLE2 **Smst);
struct EFI_SMM_BASE2_PROTOCOL_ {
  EFI_SMM_INSIDE_OUT2 InSmm;
  EFI_SMM_GET_SMST_LOCATION2 GetSmstLocation;
};

EFI_EXTERN_C_END

#endif
