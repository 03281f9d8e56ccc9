// Boot-services pool wrappers. Every allocation of the driver is
// EfiBootServicesData pool; whoever receives a buffer frees it.
#ifndef ZELM_SUPPORT_POOL_H_
#define ZELM_SUPPORT_POOL_H_

#include <uefi/UefiBaseType.h>

// NULL when the pool is exhausted (or Size is 0).
[[nodiscard]] VOID *AllocPool(UINTN Size);
[[nodiscard]] VOID *AllocZeroedPool(UINTN Size);
[[nodiscard]] VOID *AllocCopiedPool(UINTN Size, const VOID *Source);
// NULL is ignored.
VOID FreePool(VOID *Buffer);

// Owns one pool buffer until released or destroyed.
template <typename T> class PoolPtr {
public:
  PoolPtr() = default;
  explicit PoolPtr(T *p) : ptr_(p) {}
  PoolPtr(const PoolPtr &) = delete;
  PoolPtr &operator=(const PoolPtr &) = delete;
  PoolPtr(PoolPtr &&o) : ptr_(o.release()) {}
  PoolPtr &operator=(PoolPtr &&o) {
    reset(o.release());
    return *this;
  }
  ~PoolPtr() { FreePool(ptr_); }

  T *get() const { return ptr_; }
  T *operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T *release() {
    T *p = ptr_;
    ptr_ = nullptr;
    return p;
  }
  void reset(T *p = nullptr) {
    FreePool(ptr_);
    ptr_ = p;
  }

private:
  T *ptr_ = nullptr;
};

#endif
