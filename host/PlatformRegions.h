// Platform memory the driver reads in place: the region table ("QFDM") and
// the default variable stores ("$VSS"), built from layouts that can also
// describe hostile images (wrong checksum, stated lengths that do not match,
// overflowing sizes). The double's platform services that go with them: the
// default-store protocol, the SMM buffer protocol and the SMM-side handler
// of the privileged variable write.
#ifndef ZELM_HOST_PLATFORM_REGIONS_H_
#define ZELM_HOST_PLATFORM_REGIONS_H_

#include <uefi/UefiBaseType.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/HostFirmware.h"

namespace host {

struct RegionEntryLayout {
  EFI_GUID type{};
  EFI_GUID subId{};
  UINT64 offset = 0;
  UINT64 size = 0;
  UINT32 attributes = 0;
};

struct RegionTableLayout {
  UINT32 signature = 0x4D444651u; // "QFDM"
  UINT32 firstEntryOffset = 32;
  UINT32 stride = 56;
  UINT64 base = 0;
  std::vector<RegionEntryLayout> entries;
  // Stated length; by default the end of the last entry's stride.
  std::optional<UINT32> length;
  // Bytes of the image; by default the stated length (at least 28).
  std::optional<size_t> imageSize;
  // Byte 16 makes the header sum 0; FALSE leaves it 0.
  bool fixChecksum = true;
};

// The table image: header, then each entry at firstEntryOffset + i * stride
// (entries that fall outside the image are cut).
std::vector<UINT8> BuildRegionTable(const RegionTableLayout &layout);

struct DefaultVariableLayout {
  std::u16string name = u"Setup"; // written with its terminator
  EFI_GUID guid{};                // gPlatformSetupVariableGuid when left zero
  UINT8 state = 0x3F;
  UINT16 startId = 0x55AA;
  std::vector<UINT8> data;
  // Stated sizes, when they differ from the bytes written.
  std::optional<UINT32> nameSize;
  std::optional<UINT32> dataSize;
};

struct DefaultStoreLayout {
  UINT32 signature = 0x53535624u; // "$VSS"
  UINT8 format = 0x5A;
  UINT8 state = 0xFE;
  UINT16 reserved = 0;
  UINT8 shortId = 0;
  INT8 flags = 0;
  // A 64-bit id placed in the last 8 bytes of the store, distance 14.
  std::optional<UINT64> extendedId;
  // Stated distance, when it differs from the one the id needs.
  std::optional<UINT16> distance;
  // Stated size; by default the bytes written.
  std::optional<UINT32> size;
  std::vector<DefaultVariableLayout> variables;
};

std::vector<UINT8> BuildDefaultStore(const DefaultStoreLayout &layout);
// The stores one after the other.
std::vector<UINT8> BuildDefaultStores(const std::vector<DefaultStoreLayout> &layouts);

// Keeps images at fixed addresses, each in a block of exactly its size, so
// that a read past an image is caught by AddressSanitizer. While a
// PlatformMemory lives, the memory map of the live Firmware describes each
// of its blocks (see GetMemoryMap in BootServices.cpp).
class PlatformMemory {
public:
  struct Block {
    UINT64 address = 0;
    size_t size = 0;
  };

  PlatformMemory();
  ~PlatformMemory();
  PlatformMemory(const PlatformMemory &) = delete;
  PlatformMemory &operator=(const PlatformMemory &) = delete;

  const UINT8 *Hold(const std::vector<UINT8> &bytes);
  static UINT64 Address(const VOID *p) { return reinterpret_cast<UINT64>(p); }

  // The blocks of every live PlatformMemory, in the order they were held.
  static std::vector<Block> LiveBlocks();
  // Changes with every block held or released; part of the map key.
  static size_t Generation();

private:
  std::vector<std::unique_ptr<UINT8[]>> blocks_;
  std::vector<size_t> sizes_;
};

// The region-table HOB (8 bytes: the table's address).
void PublishRegionTableHob(Platform &platform, const VOID *table);
// The PCD token that start-up reads when there is no HOB.
void PublishRegionTablePcd(Platform &platform, const VOID *table);

// --- Default-store protocol: the second member returns the store id. ---
void InstallDefaultStoreProtocol(Firmware &firmware, UINT64 storeId);
// Calls of GetCurrentStoreId since the protocol was installed.
size_t DefaultStoreIdCalls();

// --- SMM buffer protocol. ---
struct SmmBufferConfig {
  EFI_STATUS status = EFI_SUCCESS; // returned by GetBuffer
  bool handOutNull = false;        // GetBuffer gives a NULL buffer
};
// A buffer of Size bytes (filled with 0xCC) behind the protocol.
void InstallSmmBuffer(Firmware &firmware, size_t size);
SmmBufferConfig &SmmBuffer();
UINT8 *SmmBufferBytes();

// --- SMM-side handler of the privileged write. ---
struct SmmVariableWrite {
  std::vector<UINT8> message; // header, name and data as received
  EFI_TPL tpl = 0;            // TPL during the call
  EFI_STATUS status = EFI_SUCCESS;
};
// Handles messages with header GUID EFI_SMM_VARIABLE_PROTOCOL_GUID: checks
// them against the buffer and the message length, writes the variable into
// the platform store (variable locks do not apply; SetVariable fault
// injection does; the call is logged), and leaves the status in the
// message.
void InstallSmmVariableWriteHandler(Firmware &firmware);
const std::vector<SmmVariableWrite> &SmmVariableWrites();

} // namespace host

#endif
