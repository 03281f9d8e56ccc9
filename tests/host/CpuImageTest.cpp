// Image start and the processor hooks of support/Cpu.h.
#include <uefi/UefiGuids.h>

#include "HostTestSupport.h"
#include "support/Cpu.h"
#include "support/FirmwareTables.h"
#include "support/Pool.h"

namespace hosttest {
namespace {

struct EntryLog {
  EFI_HANDLE image = nullptr;
  EFI_SYSTEM_TABLE *table = nullptr;
  EFI_MEMORY_TYPE codeType = EfiMaxMemoryType;
};
EntryLog gEntry;

EFI_STATUS EFIAPI Entry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gEntry.image = ImageHandle;
  gEntry.table = SystemTable;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  VOID *loaded = nullptr;
  if (gBS->HandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, &loaded) == EFI_SUCCESS) {
    gEntry.codeType = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(loaded)->ImageCodeType;
  }
  // Left allocated on purpose: the boot report must show it.
  (void)AllocPool(24);
  return EFI_WARN_STALE_DATA;
}

TEST(ImageTest, RunImagePassesHandleTableAndCodeType) {
  host::Platform platform;
  for (EFI_MEMORY_TYPE type : {EfiBootServicesCode, EfiRuntimeServicesCode}) {
    host::Firmware firmware(platform);
    gEntry = {};
    EFI_HANDLE image = nullptr;
    EXPECT_EQ(firmware.RunImage(Entry, type, &image), EFI_WARN_STALE_DATA);
    EXPECT_EQ(gEntry.image, image);
    EXPECT_EQ(gEntry.table, firmware.SystemTable());
    EXPECT_EQ(gEntry.codeType, type);
    EXPECT_EQ(firmware.BootPool().Stats().liveCount, 1u);
  }
  EXPECT_EQ(platform.LastBoot().leakedBytes, 24u);
  EXPECT_EQ(gBS, nullptr); // cleared with the boot that owned it
}

TEST(CpuTest, PortHooksCountsAndDefaults) {
  host::Platform platform;
  UINT32 timer = 100;
  platform.cpu.SetPortReadHook(0x1808, [&](UINT16) { return timer += 50; });
  EXPECT_EQ(CpuIoRead32(0x1808), 150u);
  EXPECT_EQ(CpuIoRead32(0x1808), 200u);
  EXPECT_EQ(CpuIoRead32(0x80), 0xFFFFFFFFu);
  EXPECT_EQ(platform.cpu.PortReads(0x1808), 2u);
  EXPECT_EQ(platform.cpu.TotalPortReads(), 3u);
}

TEST(CpuTest, TscAdvancesOnReadsAndPauses) {
  host::Platform platform;
  UINT64 first = CpuReadTsc();
  UINT64 second = CpuReadTsc();
  EXPECT_GT(second, first);
  CpuPause();
  EXPECT_GE(CpuReadTsc() - second, platform.cpu.tscPerPause);
  // A wait bounded by a TSC budget ends even when the port never moves.
  UINT64 start = CpuReadTsc();
  size_t spins = 0;
  while (CpuReadTsc() - start < 20000000 && spins < 100000000) {
    CpuPause();
    spins++;
  }
  EXPECT_LT(spins, 10000u);
}

TEST(CpuTest, InterruptStateIsTracked) {
  host::Platform platform;
  BOOLEAN was = CpuSaveAndDisableInterrupts();
  EXPECT_TRUE(was);
  EXPECT_FALSE(platform.cpu.interruptsEnabled);
  BOOLEAN nested = CpuSaveAndDisableInterrupts();
  EXPECT_FALSE(nested);
  CpuRestoreInterrupts(nested);
  EXPECT_FALSE(platform.cpu.interruptsEnabled);
  CpuRestoreInterrupts(was);
  EXPECT_TRUE(platform.cpu.interruptsEnabled);
  EXPECT_EQ(platform.cpu.disableCount, 2u);
}

} // namespace
} // namespace hosttest
