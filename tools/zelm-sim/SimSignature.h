// The signature layer's part that the protocol adapter uses beside the
// KeyStore's signing and checking (declared in SimKeys.h).
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_SIGNATURE_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_SIGNATURE_H_

#include <uefi/UefiBaseType.h>

#include <string>

namespace sim {

// The subject of a DER certificate (the whole of Der, nothing after it) as
// one line of printable ASCII; FALSE when the bytes are no certificate.
bool CertificateSubject(const VOID *der, size_t size, std::string *text);

} // namespace sim

#endif
