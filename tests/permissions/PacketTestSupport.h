// A booted driver with the owner enrolled, the permissions-apply protocol,
// and packets delivered through the firmware double's transport.
#ifndef ZELM_TESTS_PERMISSIONS_PACKET_TEST_SUPPORT_H_
#define ZELM_TESTS_PERMISSIONS_PACKET_TEST_SUPPORT_H_

#include <zelm/ZelmGuids.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Transport.h"
#include "tests/permissions/IdentityTestSupport.h"

namespace packettest {

using permissionstest::Entry;

// One permission element of a packet; dMask < 0 leaves "DMask" out.
struct Element {
  std::string id;
  int pMask = 1;
  int dMask = -1;
};

// "PermissionsPacket" text: Attributes go inside the "Permissions" start
// tag as written (for example ` Append="True" Default="3"`).
std::string PacketXml(UINT32 version, UINT32 lowest, const std::string &attributes,
                      const std::vector<Element> &elements);

// What a test compares before and after a packet: "_SPP" and the in-memory
// store (absent when the pointer is empty).
struct Snapshot {
  std::vector<UINT8> spp;
  bool hasStore = false;
  UINT32 version = 0;
  UINT32 lowest = 0;
  UINT8 defaultPMask = 0;
  UINT8 defaultDMask = 0;
  std::vector<Entry> entries;
  bool operator==(const Snapshot &) const = default;
};

// The in-memory fields of Snapshot for a store.
Snapshot StoreState(PermissionStore *store);

class PacketTest : public identitytest::IdentityTest {
protected:
  void SetUp() override;
  // A fresh boot with the owner (and Extra identities) enrolled.
  void BootWith(UINT8 extraIdentities = 0);

  std::unique_ptr<host::Delivery> Deliver(const std::string &xml, UINT8 signer,
                                          const host::DeliveryOptions &options = {});
  std::unique_ptr<host::Delivery> DeliverBytes(std::vector<UINT8> packet,
                                               const host::DeliveryOptions &options = {});
  EFI_STATUS Apply(host::Delivery &delivery) {
    return apply->ApplyPacket(apply, delivery.Record());
  }
  EFI_STATUS Report(host::Delivery &delivery) {
    return apply->ReportResult(apply, delivery.Record());
  }
  EFI_STATUS Complete(host::Delivery &delivery, UINT8 operation) {
    return apply->CompletePacket(apply, delivery.Record(), operation);
  }
  // ApplyPacket, ReportResult, CompletePacket 2 (or 1 after a failure).
  host::PermissionsOutcome Run(host::Delivery &delivery) {
    return host::RunPermissionsPacket(apply, delivery);
  }
  Snapshot Now() const;

  ZELM_APPLY_PACKET_PROTOCOL *apply = nullptr;
};

} // namespace packettest

#endif
