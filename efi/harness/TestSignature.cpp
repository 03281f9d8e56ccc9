#include "efi/harness/TestSignature.h"

#include "support/Memory.h"

namespace {

#pragma pack(push, 1)
struct SignatureBlock {
  UINT32 Length;
  UINT8 Signer;
  UINT8 Reserved[3];
  UINT64 Checksum;
};
#pragma pack(pop)
static_assert(sizeof(SignatureBlock) == HARNESS_SIGNATURE_SIZE, "signature block layout");
static_assert(offsetof(SignatureBlock, Checksum) == 8, "signature block layout");

constexpr UINT64 fnvOffset = 0xCBF29CE484222325ull;
constexpr UINT64 fnvPrime = 0x100000001B3ull;

UINT64 Fnv(UINT64 hash, const UINT8 *bytes, UINTN size) {
  for (UINTN i = 0; i < size; ++i) {
    hash = (hash ^ bytes[i]) * fnvPrime;
  }
  return hash;
}

UINT64 Checksum(const SignatureBlock &block, const VOID *data, UINTN size) {
  UINT64 hash =
      Fnv(fnvOffset, reinterpret_cast<const UINT8 *>(&block), offsetof(SignatureBlock, Checksum));
  return Fnv(hash, static_cast<const UINT8 *>(data), size);
}

} // namespace

VOID SignTestData(const VOID *Data, UINTN DataSize, UINT8 Signer, UINT8 *Block) {
  SignatureBlock block = {};
  block.Length = HARNESS_SIGNATURE_SIZE;
  block.Signer = Signer;
  block.Checksum = Checksum(block, Data, DataSize);
  CopyMem(Block, &block, sizeof(block));
}

BOOLEAN ReadTestSignature(const VOID *Data, UINTN DataSize, const UINT8 *Block, UINT8 *Signer) {
  if (Data == nullptr || Block == nullptr || Signer == nullptr) {
    return FALSE;
  }
  UINT32 length = 0;
  CopyMem(&length, Block, sizeof(length));
  if (length != HARNESS_SIGNATURE_SIZE) {
    return FALSE;
  }
  SignatureBlock block = {};
  CopyMem(&block, Block, sizeof(block));
  if (block.Reserved[0] != 0 || block.Reserved[1] != 0 || block.Reserved[2] != 0 ||
      block.Checksum != Checksum(block, Data, DataSize)) {
    return FALSE;
  }
  *Signer = block.Signer;
  return TRUE;
}
