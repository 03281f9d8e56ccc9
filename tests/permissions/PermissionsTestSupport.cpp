#include "tests/permissions/PermissionsTestSupport.h"

#include <zelm/ZelmGuids.h>

#include <cstring>

namespace permissionstest {

void Append(std::vector<UINT8> &out, const void *bytes, size_t size) {
  const auto *p = static_cast<const UINT8 *>(bytes);
  out.insert(out.end(), p, p + size);
}

void Append32(std::vector<UINT8> &out, UINT32 value) {
  for (int i = 0; i < 4; i++) {
    out.push_back(static_cast<UINT8>(value >> (8 * i)));
  }
}

std::vector<UINT8> SppImage(const ImageHeader &header, const std::vector<Entry> &entries) {
  std::vector<UINT8> out = {'S', 'B', 'C', 'Z', header.format};
  Append32(out, header.version);
  Append32(out, header.lowest);
  Append(out, &header.createdOn, sizeof(EFI_TIME));
  Append(out, &header.savedOn, sizeof(EFI_TIME));
  out.push_back(header.defaultPMask);
  bool withDMask = header.format >= 3;
  if (withDMask) {
    out.push_back(header.defaultDMask);
  }
  out.push_back(static_cast<UINT8>(entries.size()));
  out.push_back(static_cast<UINT8>(entries.size() >> 8));
  for (const Entry &e : entries) {
    if (header.format == 1) {
      out.insert(out.end(), 5, 0);
      continue;
    }
    out.push_back(e.pMask);
    if (withDMask) {
      out.push_back(e.dMask);
    }
    out.push_back(static_cast<UINT8>(e.id.size() + 1));
    Append(out, e.id.c_str(), e.id.size() + 1);
  }
  return out;
}

const std::vector<Entry> &DefaultEntries() {
  static const std::vector<Entry> entries = {
      {"Zelm.OwnerKey.Enum", 0x09, 0x80},
      {"Zelm.ZtdKey.Enum", 0x01, 0x00},
      {"Zelm.ZtdUnenroll.Enable", 0x00, 0x00},
      {"Zelm.Ztd.Recovery.Enable", 0x00, 0x00},
  };
  return entries;
}

std::vector<Entry> EntriesOf(PermissionStore *store) {
  std::vector<Entry> out;
  for (PermissionEntry *e = FirstPermissionEntry(store); e != nullptr;
       e = NextPermissionEntry(store, e)) {
    EXPECT_EQ(strlen(e->Id) + 1, e->IdSize);
    out.push_back({e->Id, e->PMask, e->DMask});
  }
  return out;
}

std::vector<UINT8> VariableBytes(const host::Platform &platform, std::u16string_view name,
                                 const EFI_GUID &guid) {
  const host::Variable *v = platform.FindVariable(name, guid);
  return v == nullptr ? std::vector<UINT8>{} : v->data;
}

std::vector<UINT8> SetupBlock(size_t size, UINT8 indicator) {
  std::vector<UINT8> block(size, 0x11);
  if (size > 0x80) {
    block[0x80] = indicator;
  }
  return block;
}

void StoreTest::SetUp() {
  platform.SetClock(2026, 12, 9, 10, 20, 30);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  ASSERT_EQ(CurrentPermissionStore(), nullptr);
  platform.ClearSetVariableLog();
}

void StoreTest::TearDown() {
  DropStore();
}

void StoreTest::PutSpp(const std::vector<UINT8> &bytes, UINT32 attributes) {
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, attributes, bytes);
}

std::vector<UINT8> StoreTest::Spp() const {
  return VariableBytes(platform, u"_SPP", gZelmSettingsManagerVariableGuid);
}

size_t StoreTest::WritesOf(std::u16string_view name) const {
  size_t n = 0;
  for (const host::SetVariableCall &call : platform.SetVariableLog()) {
    n += call.name == name;
  }
  return n;
}

void StoreTest::DropStore() {
  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
}

} // namespace permissionstest
