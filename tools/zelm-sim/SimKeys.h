// The simulator's identities and their keys. Each of the three identities
// (owner 0x80, ztd 0x08, local 0x01) has an RSA key and a self-signed
// X.509 certificate kept in the store directory under keys/, made on first
// use. Signing and checking packets with them is the signature layer
// (SimSignature.cpp); the protocol of one boot is SimAuthentication.
//
// Packet layout (all integers little-endian):
//   signed data:      "ZPKT" (4 bytes), UINT32 payload size, the XML payload
//   signature block:  UINT32 length of the whole block (4 + DER size), then
//                     the DER-encoded PKCS#7 signature
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_KEYS_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_KEYS_H_

#include <zelm/ZelmAuthentication.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/zelm-sim/SimOpenSsl.h"

namespace sim {

enum class Identity { Owner, Ztd, Local };

UINT8 IdentityBits(Identity identity);
const char *IdentityName(Identity identity);

// Keys and certificates under Dir/keys, made on first use.
class KeyStore {
public:
  explicit KeyStore(std::string dir);

  // --- Keys and certificates (SimKeys.cpp). ---
  // Makes the identity's key and certificate unless they exist. FALSE with
  // *Error set when they cannot be made or read.
  bool Ensure(Identity identity, std::string *error);
  // The DER certificate of an identity (after Ensure).
  std::vector<UINT8> Certificate(Identity identity);
  // The identity's key and certificate, made and written when missing.
  bool LoadOrMake(Identity identity, Owned<EVP_PKEY> *key, Owned<X509> *cert, std::string *error);
  // The identity's certificate from the store, or NULL when there is none.
  Owned<X509> StoredCertificate(Identity identity);

  // --- Signatures (SimSignature.cpp). ---
  // The packet (signed data, then the signature block) of Payload signed
  // by Identity; empty with *Error set on failure.
  std::vector<UINT8> SignPacket(std::string_view payload, Identity identity, std::string *error);
  // The same layout with a signature block that verifies for no identity.
  std::vector<UINT8> UnsignedPacket(std::string_view payload);
  // The identity bits whose certificate verifies Signature (a block that
  // starts with its UINT32 length) over Data, among Enrolled; 0 when none.
  UINT8 Verify(const VOID *data, size_t size, const UINT8 *block, UINT8 enrolled);
  // A one-line description of a DER certificate (its subject); empty when
  // the bytes are no certificate.
  std::string DescribeCertificate(const VOID *der, size_t size);

private:
  std::string dir_;
};

} // namespace sim

#endif
