// Fuzz target for the default-store walk: any bytes as a default-store
// region.
//
// The first 8 input bytes (when there are that many) are the store id to
// look for; the rest is the region, held in a block of exactly its size.
// Ids 0 and the first store's short id are tried as well.
//
// Checked on every input: a probe reports BUFFER_TOO_SMALL only with a
// size that a usable variable can have, and then a read into a buffer of
// that size succeeds with the same size and writes nothing past it.
#include <platform/PlatformDefaultStore.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "providers/DefaultStores.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    abort();
  }
}

void Search(const uint8_t *region, size_t size, UINT64 id) {
  UINTN needed = 0;
  EFI_STATUS status = FindDefaultSetupInRegion(region, size, id, &needed, nullptr);
  Check(status == EFI_BUFFER_TOO_SMALL || status == EFI_NOT_FOUND ||
        status == EFI_INVALID_PARAMETER);
  if (status != EFI_BUFFER_TOO_SMALL) {
    return;
  }
  Check(needed > 0 && needed <= size && needed <= PLATFORM_DEFAULT_VARIABLE_MAX_EXTENT);
  // One guard byte past the block.
  uint8_t *buffer = static_cast<uint8_t *>(malloc(needed + 1));
  buffer[needed] = 0xA5;
  UINTN readSize = needed;
  status = FindDefaultSetupInRegion(region, size, id, &readSize, buffer);
  Check(status == EFI_SUCCESS && readSize == needed && buffer[needed] == 0xA5);
  free(buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  UINT64 id = 0;
  if (size >= sizeof(id)) {
    memcpy(&id, data, sizeof(id));
    data += sizeof(id);
    size -= sizeof(id);
  }
  uint8_t *region = static_cast<uint8_t *>(malloc(size == 0 ? 1 : size));
  memcpy(region, data, size);
  Search(region, size, id);
  Search(region, size, 0);
  if (size > 12) {
    Search(region, size, region[12]);
  }
  free(region);
  return 0;
}
