// A boot-services pool buffer owned by one scope: freed when it ends, so
// no early return of a check leaks it.
#ifndef ZELM_EFI_HARNESS_POOL_BUFFER_H_
#define ZELM_EFI_HARNESS_POOL_BUFFER_H_

#include <uefi/UefiSystemTable.h>

class PoolBuffer {
public:
  explicit PoolBuffer(EFI_BOOT_SERVICES *BootServices) : bs_(BootServices) {}
  ~PoolBuffer() { reset(); }
  PoolBuffer(const PoolBuffer &) = delete;
  PoolBuffer &operator=(const PoolBuffer &) = delete;

  // Drops the old buffer and allocates Size bytes; FALSE without pool.
  BOOLEAN allocate(UINTN Size) {
    reset();
    if (EFI_ERROR(bs_->AllocatePool(EfiBootServicesData, Size == 0 ? 1 : Size, &data_))) {
      data_ = nullptr;
      return FALSE;
    }
    return TRUE;
  }
  VOID reset() {
    if (data_ != nullptr) {
      bs_->FreePool(data_);
      data_ = nullptr;
    }
  }
  UINT8 *get() const { return static_cast<UINT8 *>(data_); }

private:
  EFI_BOOT_SERVICES *bs_;
  VOID *data_ = nullptr;
};

#endif
