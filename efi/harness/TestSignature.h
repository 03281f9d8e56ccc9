// The harness's own test signature scheme, shared by its transport (which
// signs packets) and its authentication component (which verifies them).
// It is no cryptography: it binds a signer byte to the exact signed bytes,
// so that data changed after signing, a block of another shape or a signer
// byte edited in place is refused, and every run signs alike.
//
// Signature block (HARNESS_SIGNATURE_SIZE bytes, little-endian), placed
// right after the signed data:
//   0  UINT32 the block's whole length, always HARNESS_SIGNATURE_SIZE
//   4  UINT8  signer: the one identity bit that signed (ZELM_IDENTITY_*)
//   5  UINT8  reserved[3], zero
//   8  UINT64 checksum: FNV-1a-64 over bytes 0..7 of the block, then over
//             the signed data
#ifndef ZELM_EFI_HARNESS_TEST_SIGNATURE_H_
#define ZELM_EFI_HARNESS_TEST_SIGNATURE_H_

#include <uefi/UefiBaseType.h>

#define HARNESS_SIGNATURE_SIZE 16u

// Writes the block for Data signed by Signer into Block
// (HARNESS_SIGNATURE_SIZE bytes).
VOID SignTestData(const VOID *Data, UINTN DataSize, UINT8 Signer, UINT8 *Block);

// TRUE when Block is a well-formed block over Data by exactly one identity
// bit; *Signer is that bit. The caller gives no block size: only the
// length field's own four bytes are read before it is checked.
BOOLEAN VerifyTestSignature(const VOID *Data, UINTN DataSize, const UINT8 *Block, UINT8 *Signer);

#endif
