// Builders of the region table and default-store images.
#include "host/PlatformRegions.h"

#include <platform/PlatformGuids.h>

#include <algorithm>
#include <cstring>

namespace host {

namespace {

template <typename T> void Put(std::vector<UINT8> &out, size_t at, T value) {
  if (at <= out.size() && sizeof(T) <= out.size() - at) {
    std::memcpy(out.data() + at, &value, sizeof(T));
  }
}

template <typename T> void Append(std::vector<UINT8> &out, T value) {
  const auto *bytes = reinterpret_cast<const UINT8 *>(&value);
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

bool IsZeroGuid(const EFI_GUID &guid) {
  EFI_GUID zero{};
  return GuidEqual(guid, zero);
}

constexpr size_t kTableHeaderSize = 28;
constexpr size_t kEntrySize = 52;

} // namespace

std::vector<UINT8> BuildRegionTable(const RegionTableLayout &layout) {
  size_t natural = layout.firstEntryOffset + layout.entries.size() * layout.stride;
  if (!layout.entries.empty() && layout.stride < kEntrySize) {
    natural += kEntrySize - layout.stride;
  }
  UINT32 length = layout.length.value_or(static_cast<UINT32>(std::max(natural, kTableHeaderSize)));
  size_t imageSize = layout.imageSize.value_or(std::max<size_t>(length, kTableHeaderSize));
  std::vector<UINT8> out(imageSize, 0);
  Put<UINT32>(out, 0, layout.signature);
  Put<UINT32>(out, 4, length);
  Put<UINT32>(out, 8, layout.firstEntryOffset);
  Put<UINT32>(out, 12, layout.stride);
  Put<UINT64>(out, 20, layout.base);
  for (size_t i = 0; i < layout.entries.size(); i++) {
    const RegionEntryLayout &e = layout.entries[i];
    size_t at = layout.firstEntryOffset + i * size_t(layout.stride);
    Put<EFI_GUID>(out, at, e.type);
    Put<EFI_GUID>(out, at + 16, e.subId);
    Put<UINT64>(out, at + 32, e.offset);
    Put<UINT64>(out, at + 40, e.size);
    Put<UINT32>(out, at + 48, e.attributes);
  }
  if (layout.fixChecksum && out.size() >= kTableHeaderSize) {
    UINT8 sum = 0;
    for (size_t i = 0; i < kTableHeaderSize; i++) {
      sum = static_cast<UINT8>(sum + out[i]);
    }
    out[16] = static_cast<UINT8>(out[16] - sum);
  }
  return out;
}

std::vector<UINT8> BuildDefaultStore(const DefaultStoreLayout &layout) {
  std::vector<UINT8> out(16, 0);
  for (const DefaultVariableLayout &v : layout.variables) {
    std::vector<UINT8> name(reinterpret_cast<const UINT8 *>(v.name.c_str()),
                            reinterpret_cast<const UINT8 *>(v.name.c_str()) +
                                (v.name.size() + 1) * sizeof(char16_t));
    Append<UINT16>(out, v.startId);
    Append<UINT8>(out, v.state);
    Append<UINT8>(out, 0);
    Append<UINT32>(out, 7);
    Append<UINT64>(out, 0);
    out.insert(out.end(), 16, 0); // time stamp
    Append<UINT32>(out, 0);       // public-key index
    Append<UINT32>(out, v.nameSize.value_or(static_cast<UINT32>(name.size())));
    Append<UINT32>(out, v.dataSize.value_or(static_cast<UINT32>(v.data.size())));
    Append<EFI_GUID>(out, IsZeroGuid(v.guid) ? gPlatformSetupVariableGuid : v.guid);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), v.data.begin(), v.data.end());
  }
  UINT16 distance = 0;
  if (layout.extendedId) {
    Append<UINT64>(out, *layout.extendedId);
    distance = 14; // size - 14 + 6 = the last 8 bytes
  }
  Put<UINT32>(out, 0, layout.signature);
  Put<UINT32>(out, 4, layout.size.value_or(static_cast<UINT32>(out.size())));
  out[8] = layout.format;
  out[9] = layout.state;
  Put<UINT16>(out, 10, layout.reserved);
  out[12] = layout.shortId;
  out[13] = static_cast<UINT8>(layout.flags);
  Put<UINT16>(out, 14, layout.distance.value_or(distance));
  return out;
}

std::vector<UINT8> BuildDefaultStores(const std::vector<DefaultStoreLayout> &layouts) {
  std::vector<UINT8> out;
  for (const DefaultStoreLayout &layout : layouts) {
    std::vector<UINT8> store = BuildDefaultStore(layout);
    out.insert(out.end(), store.begin(), store.end());
  }
  return out;
}

namespace {

// Every live PlatformMemory, in the order they were made.
std::vector<const PlatformMemory *> &LiveMemories() {
  static std::vector<const PlatformMemory *> memories;
  return memories;
}

size_t gMemoryGeneration = 0;

} // namespace

PlatformMemory::PlatformMemory() {
  LiveMemories().push_back(this);
}

PlatformMemory::~PlatformMemory() {
  auto &memories = LiveMemories();
  memories.erase(std::remove(memories.begin(), memories.end(), this), memories.end());
  gMemoryGeneration++;
}

const UINT8 *PlatformMemory::Hold(const std::vector<UINT8> &bytes) {
  size_t size = std::max<size_t>(bytes.size(), 1);
  auto block = std::make_unique<UINT8[]>(size);
  std::copy(bytes.begin(), bytes.end(), block.get());
  blocks_.push_back(std::move(block));
  sizes_.push_back(size);
  gMemoryGeneration++;
  return blocks_.back().get();
}

std::vector<PlatformMemory::Block> PlatformMemory::LiveBlocks() {
  std::vector<Block> out;
  for (const PlatformMemory *memory : LiveMemories()) {
    for (size_t i = 0; i < memory->blocks_.size(); i++) {
      out.push_back({Address(memory->blocks_[i].get()), memory->sizes_[i]});
    }
  }
  return out;
}

size_t PlatformMemory::Generation() {
  return gMemoryGeneration;
}

void PublishRegionTableHob(Platform &platform, const VOID *table) {
  UINT64 address = PlatformMemory::Address(table);
  std::vector<UINT8> data(sizeof(address));
  std::memcpy(data.data(), &address, sizeof(address));
  platform.AddGuidHob(gPlatformRegionTableHobGuid, data);
}

void PublishRegionTablePcd(Platform &platform, const VOID *table) {
  platform.SetPcd(gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN,
                  PlatformMemory::Address(table));
}

} // namespace host
