// Protocol database of the firmware double, driven through EFI_BOOT_SERVICES.
#include "HostTestSupport.h"

namespace hosttest {
namespace {

EFI_GUID gA = kGuidA;
EFI_GUID gB = kGuidB;
EFI_GUID gC = kGuidC;
int ifaceA, ifaceB, ifaceC, ifaceOther;

class ProtocolsTest : public BootTest {};

TEST_F(ProtocolsTest, InstallCreatesHandleAndRefusesSecondCopy) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(bs()->InstallProtocolInterface(&handle, &gA, EFI_NATIVE_INTERFACE, &ifaceA),
            EFI_SUCCESS);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(bs()->InstallProtocolInterface(&handle, &gA, EFI_NATIVE_INTERFACE, &ifaceOther),
            EFI_INVALID_PARAMETER);
  VOID *found = nullptr;
  EXPECT_EQ(bs()->HandleProtocol(handle, &gA, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &ifaceA);
  EXPECT_EQ(bs()->HandleProtocol(handle, &gB, &found), EFI_UNSUPPORTED);
  EXPECT_EQ(found, nullptr);
  EXPECT_TRUE(firmware->HasProtocol(handle, gA));
}

TEST_F(ProtocolsTest, UninstallingLastProtocolDestroysHandle) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(firmware->InstallProtocol(gA, &ifaceA, &handle), EFI_SUCCESS);
  EXPECT_EQ(bs()->UninstallProtocolInterface(handle, &gA, &ifaceOther), EFI_NOT_FOUND);
  EXPECT_EQ(bs()->UninstallProtocolInterface(handle, &gB, &ifaceA), EFI_NOT_FOUND);
  EXPECT_EQ(bs()->UninstallProtocolInterface(handle, &gA, &ifaceA), EFI_SUCCESS);
  EXPECT_EQ(firmware->HandleCount(), 0u);
  VOID *found = nullptr;
  EXPECT_EQ(bs()->HandleProtocol(handle, &gA, &found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->InstallProtocolInterface(&handle, &gB, EFI_NATIVE_INTERFACE, &ifaceB),
            EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolsTest, RegistrationYieldsEachNewInterfaceOnceInOrder) {
  Probe probe;
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &probe, &event),
            EFI_SUCCESS);
  int before = 0;
  ASSERT_EQ(firmware->InstallProtocol(gA, &before), EFI_SUCCESS);
  VOID *registration = nullptr;
  ASSERT_EQ(bs()->RegisterProtocolNotify(&gA, event, &registration), EFI_SUCCESS);
  VOID *found = &found;
  EXPECT_EQ(bs()->LocateProtocol(&gA, registration, &found), EFI_NOT_FOUND); // only later ones
  EXPECT_EQ(found, nullptr);
  int first = 0, second = 0;
  EFI_HANDLE firstHandle = nullptr, secondHandle = nullptr;
  ASSERT_EQ(firmware->InstallProtocol(gA, &first, &firstHandle), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 1);
  ASSERT_EQ(firmware->InstallProtocol(gA, &second, &secondHandle), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 2);
  ASSERT_EQ(firmware->InstallProtocol(gB, &ifaceB), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 2);

  EFI_HANDLE located = nullptr;
  UINTN size = sizeof(located);
  EXPECT_EQ(bs()->LocateHandle(ByRegisterNotify, nullptr, registration, &size, &located),
            EFI_SUCCESS);
  EXPECT_EQ(located, firstHandle);
  EXPECT_EQ(bs()->LocateProtocol(&gA, registration, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &second);
  EXPECT_EQ(bs()->LocateProtocol(&gA, registration, &found), EFI_NOT_FOUND);
  size = sizeof(located);
  EXPECT_EQ(bs()->LocateHandle(ByRegisterNotify, nullptr, registration, &size, &located),
            EFI_NOT_FOUND);
  EXPECT_EQ(bs()->LocateProtocol(&gA, nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &before);
}

TEST_F(ProtocolsTest, UninstalledInterfaceIsNotReportedToRegistration) {
  Probe probe;
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &probe, &event),
            EFI_SUCCESS);
  VOID *registration = nullptr;
  ASSERT_EQ(bs()->RegisterProtocolNotify(&gA, event, &registration), EFI_SUCCESS);
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(firmware->InstallProtocol(gA, &ifaceA, &handle), EFI_SUCCESS);
  ASSERT_EQ(firmware->UninstallProtocol(handle, gA, &ifaceA), EFI_SUCCESS);
  VOID *found = nullptr;
  EXPECT_EQ(bs()->LocateProtocol(&gA, registration, &found), EFI_NOT_FOUND);
}

TEST_F(ProtocolsTest, NotifiesOfMultipleInstallRunAfterTheWholeCall) {
  EFI_HANDLE handle = nullptr;
  bool sawAll = false;
  Probe probe;
  probe.action = [&](EFI_EVENT) { sawAll = firmware->HasProtocol(handle, gC); };
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &probe, &event),
            EFI_SUCCESS);
  VOID *registration = nullptr;
  ASSERT_EQ(bs()->RegisterProtocolNotify(&gA, event, &registration), EFI_SUCCESS);
  ASSERT_EQ(bs()->InstallMultipleProtocolInterfaces(&handle, &gA, &ifaceA, &gB, &ifaceB, &gC,
                                                    &ifaceC, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 1);
  EXPECT_TRUE(sawAll);
  EXPECT_EQ(firmware->Protocols().size(), 3u);
}

TEST_F(ProtocolsTest, MultipleInstallIsAllOrNothing) {
  EFI_HANDLE existing = nullptr;
  ASSERT_EQ(firmware->InstallProtocol(gB, &ifaceB, &existing), EFI_SUCCESS);
  EFI_HANDLE handle = existing;
  EXPECT_EQ(bs()->InstallMultipleProtocolInterfaces(&handle, &gA, &ifaceA, &gC, &ifaceC, &gB,
                                                    &ifaceOther, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(handle, existing);
  EXPECT_FALSE(firmware->HasProtocol(existing, gA));
  EXPECT_FALSE(firmware->HasProtocol(existing, gC));
  EXPECT_EQ(firmware->Protocols().size(), 1u);

  // On a new handle the failure leaves no handle behind.
  EFI_HANDLE fresh = nullptr;
  EXPECT_EQ(
      bs()->InstallMultipleProtocolInterfaces(&fresh, &gA, &ifaceA, &gA, &ifaceOther, nullptr),
      EFI_INVALID_PARAMETER);
  EXPECT_EQ(fresh, nullptr);
  EXPECT_EQ(firmware->HandleCount(), 1u);
  EXPECT_EQ(bs()->InstallMultipleProtocolInterfaces(nullptr, &gA, &ifaceA, nullptr),
            EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolsTest, DuplicateDevicePathGivesAlreadyStarted) {
  EFI_GUID devicePath = {
      0x09576e91, 0x6d3f, 0x11d2, {0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};
  UINT8 path[] = {0x01, 0x01, 0x06, 0x00, 0x00, 0x02, 0x7F, 0xFF, 0x04, 0x00};
  UINT8 samePath[sizeof(path)];
  std::copy(std::begin(path), std::end(path), samePath);
  EFI_HANDLE first = nullptr;
  ASSERT_EQ(bs()->InstallMultipleProtocolInterfaces(&first, &devicePath, path, nullptr),
            EFI_SUCCESS);
  EFI_HANDLE second = nullptr;
  EXPECT_EQ(bs()->InstallMultipleProtocolInterfaces(&second, &gA, &ifaceA, &devicePath, samePath,
                                                    nullptr),
            EFI_ALREADY_STARTED);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(firmware->FindProtocol(gA), nullptr);
}

TEST_F(ProtocolsTest, MultipleUninstallIsAllOrNothing) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(bs()->InstallMultipleProtocolInterfaces(&handle, &gA, &ifaceA, &gB, &ifaceB, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(
      bs()->UninstallMultipleProtocolInterfaces(handle, &gA, &ifaceA, &gB, &ifaceOther, nullptr),
      EFI_INVALID_PARAMETER);
  EXPECT_TRUE(firmware->HasProtocol(handle, gA));
  EXPECT_TRUE(firmware->HasProtocol(handle, gB));
  EXPECT_EQ(bs()->UninstallMultipleProtocolInterfaces(handle, &gA, &ifaceA, &gB, &ifaceB, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(firmware->HandleCount(), 0u);
}

TEST_F(ProtocolsTest, LocateHandleSizesAndBuffers) {
  EFI_HANDLE h1 = nullptr, h2 = nullptr;
  ASSERT_EQ(firmware->InstallProtocol(gA, &ifaceA, &h1), EFI_SUCCESS);
  ASSERT_EQ(firmware->InstallProtocol(gA, &ifaceB, &h2), EFI_SUCCESS);
  UINTN size = 0;
  EXPECT_EQ(bs()->LocateHandle(ByProtocol, &gA, nullptr, &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 2 * sizeof(EFI_HANDLE));
  EFI_HANDLE handles[2] = {};
  EXPECT_EQ(bs()->LocateHandle(ByProtocol, &gA, nullptr, &size, handles), EFI_SUCCESS);
  EXPECT_EQ(handles[0], h1);
  EXPECT_EQ(handles[1], h2);
  EXPECT_EQ(bs()->LocateHandle(ByProtocol, &gB, nullptr, &size, handles), EFI_NOT_FOUND);
  EXPECT_EQ(bs()->LocateHandle(ByProtocol, nullptr, nullptr, &size, handles),
            EFI_INVALID_PARAMETER);

  UINTN count = 0;
  EFI_HANDLE *buffer = nullptr;
  ASSERT_EQ(bs()->LocateHandleBuffer(AllHandles, nullptr, nullptr, &count, &buffer), EFI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(bs()->FreePool(buffer), EFI_SUCCESS);
}

TEST_F(ProtocolsTest, ReinstallNotifiesWithTheNewInterface) {
  Probe probe;
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &probe, &event),
            EFI_SUCCESS);
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(firmware->InstallProtocol(gA, &ifaceA, &handle), EFI_SUCCESS);
  VOID *registration = nullptr;
  ASSERT_EQ(bs()->RegisterProtocolNotify(&gA, event, &registration), EFI_SUCCESS);
  EXPECT_EQ(bs()->ReinstallProtocolInterface(handle, &gA, &ifaceB, &ifaceC), EFI_NOT_FOUND);
  ASSERT_EQ(bs()->ReinstallProtocolInterface(handle, &gA, &ifaceA, &ifaceC), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 1);
  VOID *found = nullptr;
  EXPECT_EQ(bs()->LocateProtocol(&gA, registration, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &ifaceC);
}

TEST_F(ProtocolsTest, InvalidParametersAreRefused) {
  EFI_HANDLE handle = nullptr;
  VOID *found = nullptr;
  VOID *registration = nullptr;
  EXPECT_EQ(bs()->InstallProtocolInterface(nullptr, &gA, EFI_NATIVE_INTERFACE, &ifaceA),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->InstallProtocolInterface(&handle, nullptr, EFI_NATIVE_INTERFACE, &ifaceA),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->LocateProtocol(&gA, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->LocateProtocol(nullptr, nullptr, &found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->LocateProtocol(&gA, nullptr, &found), EFI_NOT_FOUND);
  EXPECT_EQ(bs()->HandleProtocol(nullptr, &gA, &found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->RegisterProtocolNotify(&gA, &ifaceA, &registration), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->RegisterProtocolNotify(&gA, nullptr, &registration), EFI_INVALID_PARAMETER);
}

} // namespace
} // namespace hosttest
