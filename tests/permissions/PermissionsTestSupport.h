// "_SPP" images written independently of the driver's encoder, and a
// booted driver whose permission store a test drives directly.
#ifndef ZELM_TESTS_PERMISSIONS_PERMISSIONS_TEST_SUPPORT_H_
#define ZELM_TESTS_PERMISSIONS_PERMISSIONS_TEST_SUPPORT_H_

#include <platform/PlatformGuids.h>

#include <ostream>
#include <string>
#include <vector>

#include "permissions/PermissionImage.h"
#include "permissions/PermissionStore.h"
#include "support/VariableAttributes.h"
#include "tests/driver/DriverTestSupport.h"

namespace permissionstest {

struct Entry {
  std::string id;
  UINT8 pMask = 0;
  UINT8 dMask = 0;
  bool operator==(const Entry &) const = default;
};
inline void PrintTo(const Entry &e, std::ostream *os) {
  *os << "{" << e.id << ", " << int(e.pMask) << ", " << int(e.dMask) << "}";
}

// The header fields of an image; offsets 0 to 48.
struct ImageHeader {
  UINT8 format = 4;
  UINT32 version = 0;
  UINT32 lowest = 0;
  EFI_TIME createdOn{};
  EFI_TIME savedOn{};
  UINT8 defaultPMask = 0x01;
  UINT8 defaultDMask = 0x80; // formats 3 and 4 only
};

void Append(std::vector<UINT8> &out, const void *bytes, size_t size);
void Append32(std::vector<UINT8> &out, UINT32 value);

// A well-formed image of Format with Entries: formats 3 and 4 with DMask,
// format 2 without it (each entry's DMask is ignored), format 1 with five
// zero bytes per entry.
std::vector<UINT8> SppImage(const ImageHeader &header, const std::vector<Entry> &entries);

// The identity settings' entries of a default store, in their order.
const std::vector<Entry> &DefaultEntries();

// The store's entries in list order.
std::vector<Entry> EntriesOf(PermissionStore *store);

// The bytes of a variable, or an empty vector when it does not exist.
std::vector<UINT8> VariableBytes(const host::Platform &platform, std::u16string_view name,
                                 const EFI_GUID &guid);

// A "Setup" block of Size bytes (0x11 each) with Indicator at 0x80.
std::vector<UINT8> SetupBlock(size_t size, UINT8 indicator);

// A driver started without an authentication component, so the store is
// driven by hand; the clock reads 2026-12-09 10:20:30.
class StoreTest : public drivertest::DriverTest {
protected:
  void SetUp() override;
  void TearDown() override;
  // Replaces "_SPP" in the platform store.
  void PutSpp(const std::vector<UINT8> &bytes, UINT32 attributes = kStoredVariableAttributes);
  std::vector<UINT8> Spp() const;
  // SetVariable calls for Name since the log was last cleared.
  size_t WritesOf(std::u16string_view name) const;
  // Releases the driver's store.
  void DropStore();
};

} // namespace permissionstest

#endif
