// The test signature scheme of this project's two authentication
// components, the OVMF harness's and the firmware double's (host/), and of
// what signs for them (the harness's transport, the double's SignPacket).
// It is no cryptography: it binds a signer byte to the exact signed bytes,
// so that data changed after signing, a block of another shape or a signer
// byte edited in place is refused, and every run signs alike. Freestanding,
// so that the image-side harness and the host double build the same code.
//
// Signature block (HARNESS_SIGNATURE_SIZE bytes, little-endian), placed
// right after the signed data:
//   0  UINT32 the block's whole length, always HARNESS_SIGNATURE_SIZE
//   4  UINT8  signer: the identity bits (ZELM_IDENTITY_*) that signed
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

// TRUE when Block is a well-formed block over Data; *Signer is its signer
// byte as signed. Which signer bytes count (one identity bit, enrolled
// ones) is each authentication component's rule. The caller gives no block
// size: only the length field's own four bytes are read before it is
// checked.
BOOLEAN ReadTestSignature(const VOID *Data, UINTN DataSize, const UINT8 *Block, UINT8 *Signer);

#endif
