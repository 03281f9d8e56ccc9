#include "tests/permissions/PacketTestSupport.h"

namespace packettest {

std::string PacketXml(UINT32 version, UINT32 lowest, const std::string &attributes,
                      const std::vector<Element> &elements) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PermissionsPacket><Version>" +
                    std::to_string(version) + "</Version><LowestSupportedVersion>" +
                    std::to_string(lowest) + "</LowestSupportedVersion><Permissions" + attributes +
                    ">";
  for (const Element &e : elements) {
    xml += "<Permission><Id>" + e.id + "</Id><PMask>" + std::to_string(e.pMask) + "</PMask>";
    if (e.dMask >= 0) {
      xml += "<DMask>" + std::to_string(e.dMask) + "</DMask>";
    }
    xml += "</Permission>";
  }
  return xml + "</Permissions></PermissionsPacket>";
}

Snapshot StoreState(PermissionStore *store) {
  Snapshot s;
  if (store == nullptr) {
    return s;
  }
  s.hasStore = true;
  s.version = store->Version;
  s.lowest = store->LowestSupportedVersion;
  s.defaultPMask = store->DefaultPMask;
  s.defaultDMask = store->DefaultDMask;
  s.entries = permissionstest::EntriesOf(store);
  return s;
}

void PacketTest::SetUp() {
  IdentityTest::SetUp();
  BootWith();
}

void PacketTest::BootWith(UINT8 extraIdentities) {
  platform.authentication.Enrol(extraIdentities);
  Boot(/*ownerEnrolled=*/true);
  apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmPermissionsApplyProtocolGuid);
  ASSERT_NE(apply, nullptr);
  ASSERT_NE(CurrentPermissionStore(), nullptr);
}

std::unique_ptr<host::Delivery> PacketTest::Deliver(const std::string &xml, UINT8 signer,
                                                    const host::DeliveryOptions &options) {
  return DeliverBytes(host::SignPacket(xml, signer), options);
}

std::unique_ptr<host::Delivery> PacketTest::DeliverBytes(std::vector<UINT8> packet,
                                                         const host::DeliveryOptions &options) {
  return std::make_unique<host::Delivery>(platform, host::PacketKind::Permissions,
                                          std::move(packet), options);
}

Snapshot PacketTest::Now() const {
  Snapshot s = StoreState(CurrentPermissionStore());
  s.spp = Spp();
  return s;
}

} // namespace packettest
