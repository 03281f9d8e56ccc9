// The HOB list handed to the boot: a handoff HOB, the platform's HOBs and
// the end-of-list HOB (PI 1.8 volume 3, chapter 5).
#include <uefi/Pi/PiHob.h>

#include <cstring>
#include <stdexcept>

#include "host/HostPlatform.h"

namespace host {

namespace {

constexpr size_t kHandoffHobSize = 56;

void AppendHeader(std::vector<UINT8> &out, UINT16 type, UINT16 length) {
  EFI_HOB_GENERIC_HEADER header{type, length, 0};
  const UINT8 *bytes = reinterpret_cast<const UINT8 *>(&header);
  out.insert(out.end(), bytes, bytes + sizeof(header));
}

} // namespace

void Platform::AddGuidHob(const EFI_GUID &guid, std::vector<UINT8> data) {
  // HOB lengths are 16-bit.
  size_t length = sizeof(EFI_HOB_GUID_TYPE) + data.size();
  if (alignGuidHobs) {
    length = (length + 7) & ~size_t(7);
  }
  if (length > 0xFFF8) {
    throw std::invalid_argument("GUID HOB data too long");
  }
  std::vector<UINT8> hob;
  AppendHeader(hob, EFI_HOB_TYPE_GUID_EXTENSION, static_cast<UINT16>(length));
  const UINT8 *name = reinterpret_cast<const UINT8 *>(&guid);
  hob.insert(hob.end(), name, name + sizeof(EFI_GUID));
  hob.insert(hob.end(), data.begin(), data.end());
  hob.resize(length, 0);
  hobs_.push_back(std::move(hob));
  hobListEnabled_ = true;
  hobGeneration_++;
}

void Platform::AddRawHob(std::vector<UINT8> bytes) {
  hobs_.push_back(std::move(bytes));
  hobListEnabled_ = true;
  hobGeneration_++;
}

void Platform::ClearHobs() {
  hobs_.clear();
  hobListEnabled_ = false;
  hobGeneration_++;
}

std::vector<UINT8> Platform::BuildHobList() const {
  std::vector<UINT8> list;
  // PHIT: version, boot mode and five memory bounds, all zero here.
  AppendHeader(list, EFI_HOB_TYPE_HANDOFF, kHandoffHobSize);
  list.resize(kHandoffHobSize, 0);
  list[8] = 9; // EFI_HOB_HANDOFF_TABLE_VERSION
  for (const auto &hob : hobs_) {
    list.insert(list.end(), hob.begin(), hob.end());
  }
  if (terminateHobList) {
    AppendHeader(list, EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER));
  }
  return list;
}

} // namespace host
