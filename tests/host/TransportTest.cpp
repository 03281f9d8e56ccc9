// The transport double's deliveries of packets too short for their header:
// the record points at no byte that is not there.
#include <zelm/ZelmGuids.h>

#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "host/Transport.h"

namespace hosttest {
namespace {

TEST(TransportTest, PacketShorterThanItsHeaderHasNoPayload) {
  for (size_t size : {0, 3, 8}) {
    SCOPED_TRACE(size);
    host::Platform platform;
    std::vector<UINT8> packet(size, 'Z');
    host::Delivery delivery(platform, host::PacketKind::Settings, packet);
    const ZELM_APPLY_PACKET *record = delivery.Record();
    EXPECT_EQ(record->PacketSize, size);
    EXPECT_EQ(record->SignedLength, host::kSignedHeaderSize);
    EXPECT_EQ(record->PayloadSize, 0u);
    // Too short for the header: no pointer at all, so the driver's bounds
    // check refuses the record; a bare header ends where its bytes do.
    if (size < host::kSignedHeaderSize) {
      EXPECT_EQ(record->Signature, nullptr);
      EXPECT_EQ(record->Payload, nullptr);
    } else {
      EXPECT_EQ(record->Signature, record->PacketData + host::kSignedHeaderSize);
    }
    EXPECT_TRUE(delivery.MailboxPresent());
  }
}

} // namespace
} // namespace hosttest
