// SMM interfaces of the firmware double.
#include <uefi/UefiGuids.h>

#include <cstring>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

struct SmmNotifyLog {
  int calls = 0;
  VOID *interface = nullptr;
};
SmmNotifyLog gSmmNotify;

EFI_STATUS EFIAPI SmmNotify(CONST EFI_GUID *, VOID *Interface, EFI_HANDLE) {
  gSmmNotify.calls++;
  gSmmNotify.interface = Interface;
  return EFI_SUCCESS;
}

class SmmTest : public BootTest {
protected:
  EFI_SMM_BASE2_PROTOCOL *Base() {
    return static_cast<EFI_SMM_BASE2_PROTOCOL *>(firmware->FindProtocol(gEfiSmmBase2ProtocolGuid));
  }
};

TEST_F(SmmTest, BaseProtocolAnswersAsConfigured) {
  for (bool inSmm : {false, true}) {
    Reboot();
    firmware->InstallSmmBase2(inSmm);
    EFI_SMM_BASE2_PROTOCOL *base = Base();
    ASSERT_NE(base, nullptr);
    BOOLEAN answer = 2;
    ASSERT_EQ(base->InSmm(base, &answer), EFI_SUCCESS);
    EXPECT_EQ(answer, inSmm ? TRUE : FALSE);
    EFI_SMM_SYSTEM_TABLE2 *smst = nullptr;
    EXPECT_EQ(base->GetSmstLocation(base, &smst), inSmm ? EFI_SUCCESS : EFI_UNSUPPORTED);
    EXPECT_EQ(smst, inSmm ? firmware->Smst() : nullptr);
  }
}

TEST_F(SmmTest, SmmDatabaseIsSeparateAndNotifiesSynchronously) {
  firmware->InstallSmmBase2(true);
  EFI_SMM_SYSTEM_TABLE2 *smst = firmware->Smst();
  EFI_GUID guid = kGuidA;
  int interface = 0;
  gSmmNotify = {};
  VOID *registration = nullptr;
  ASSERT_EQ(smst->SmmRegisterProtocolNotify(&guid, SmmNotify, &registration), EFI_SUCCESS);
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(smst->SmmInstallProtocolInterface(&handle, &guid, EFI_NATIVE_INTERFACE, &interface),
            EFI_SUCCESS);
  EXPECT_EQ(gSmmNotify.calls, 1);
  EXPECT_EQ(gSmmNotify.interface, &interface);
  VOID *found = nullptr;
  EXPECT_EQ(smst->SmmLocateProtocol(&guid, nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &interface);
  EXPECT_EQ(smst->SmmHandleProtocol(handle, &guid, &found), EFI_SUCCESS);
  EXPECT_EQ(bs()->LocateProtocol(&guid, nullptr, &found), EFI_NOT_FOUND);

  // Cancelling with no function stops later notifications.
  ASSERT_EQ(smst->SmmRegisterProtocolNotify(&guid, nullptr, &registration), EFI_SUCCESS);
  EXPECT_EQ(smst->SmmRegisterProtocolNotify(&guid, nullptr, &registration), EFI_NOT_FOUND);
  EXPECT_EQ(firmware->SmmNotifyRegistrationCount(), 0u);
  EFI_HANDLE other = nullptr;
  ASSERT_EQ(smst->SmmInstallProtocolInterface(&other, &guid, EFI_NATIVE_INTERFACE, &found),
            EFI_SUCCESS);
  EXPECT_EQ(gSmmNotify.calls, 1);
}

TEST_F(SmmTest, SmmPoolIsSeparate) {
  VOID *buffer = nullptr;
  ASSERT_EQ(firmware->Smst()->SmmAllocatePool(EfiRuntimeServicesData, 12, &buffer), EFI_SUCCESS);
  EXPECT_EQ(firmware->SmmPool().Stats().liveCount, 1u);
  EXPECT_EQ(firmware->BootPool().Stats().liveCount, 0u);
  EXPECT_EQ(bs()->FreePool(buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(firmware->Smst()->SmmFreePool(buffer), EFI_SUCCESS);
}

TEST_F(SmmTest, SmmVariableProtocolSharesTheStore) {
  firmware->InstallSmmVariable();
  auto *variables = static_cast<EFI_SMM_VARIABLE_PROTOCOL *>(
      firmware->FindSmmProtocol(gEfiSmmVariableProtocolGuid));
  ASSERT_NE(variables, nullptr);
  EXPECT_EQ(firmware->FindProtocol(gEfiSmmVariableProtocolGuid), nullptr);
  EFI_GUID guid = kGuidA;
  char data[] = "smm";
  ASSERT_EQ(variables->SmmSetVariable(const_cast<CHAR16 *>(u"S"), &guid, 3, 3, data), EFI_SUCCESS);
  ASSERT_NE(platform.FindVariable(u"S", guid), nullptr);
  firmware->InstallSmmVariable(false);
  EXPECT_EQ(firmware->FindProtocol(gEfiSmmVariableProtocolGuid), variables);
}

TEST_F(SmmTest, CommunicateRoutesByHeaderGuid) {
  firmware->InstallSmmCommunication();
  auto *comm = static_cast<EFI_SMM_COMMUNICATION_PROTOCOL *>(
      firmware->FindProtocol(gEfiSmmCommunicationProtocolGuid));
  ASSERT_NE(comm, nullptr);
  UINTN seenSize = 0;
  firmware->SetSmmHandler(kGuidB, [&](EFI_SMM_COMMUNICATE_HEADER *header, UINTN size) {
    seenSize = size;
    header->Data[0] = 0x42;
    return EFI_SUCCESS;
  });
  alignas(8) UINT8 buffer[64] = {};
  auto *header = reinterpret_cast<EFI_SMM_COMMUNICATE_HEADER *>(buffer);
  header->HeaderGuid = kGuidB;
  header->MessageLength = 8;
  UINTN size = sizeof(buffer);
  ASSERT_EQ(comm->Communicate(comm, buffer, &size), EFI_SUCCESS);
  EXPECT_EQ(seenSize, sizeof(buffer));
  EXPECT_EQ(header->Data[0], 0x42);
  header->MessageLength = 41; // 24 + 41 > 64
  EXPECT_EQ(comm->Communicate(comm, buffer, &size), EFI_BAD_BUFFER_SIZE);
  header->MessageLength = 8;
  header->HeaderGuid = kGuidC;
  EXPECT_EQ(comm->Communicate(comm, buffer, &size), EFI_NOT_FOUND);
  EXPECT_EQ(comm->Communicate(comm, nullptr, &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(firmware->SmmCommunicateCount(), 2u);
}

} // namespace
} // namespace hosttest
