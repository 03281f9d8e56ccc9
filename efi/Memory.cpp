// The C memory routines the compiler calls for block copies and fills. The
// image has no C library, so it carries its own. This file is compiled with
// -fno-builtin: otherwise the optimiser would recognise the loops below as
// memcpy/memset idioms and turn them into calls to themselves.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void *memcpy(void *dest, const void *src, size_t size) {
  void *d = dest;
  // rep movsb is the fast copy on every x86-64 processor UEFI runs on.
  asm volatile("rep movsb" : "+D"(d), "+S"(src), "+c"(size) : : "memory");
  return dest;
}

void *memmove(void *dest, const void *src, size_t size) {
  auto d = reinterpret_cast<uintptr_t>(dest);
  auto s = reinterpret_cast<uintptr_t>(src);
  if (d - s >= size) {
    return memcpy(dest, src, size);
  }
  // The destination starts inside the source: copy downwards from the last
  // byte. The direction flag must be clear again before returning (UEFI 2.10
  // section 2.3.4.1).
  if (size != 0) {
    d += size - 1;
    s += size - 1;
    asm volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(s), "+c"(size) : : "memory");
  }
  return dest;
}

void *memset(void *dest, int value, size_t size) {
  void *d = dest;
  asm volatile("rep stosb" : "+D"(d), "+c"(size) : "a"(value) : "memory");
  return dest;
}

int memcmp(const void *a, const void *b, size_t size) {
  auto *x = static_cast<const uint8_t *>(a);
  auto *y = static_cast<const uint8_t *>(b);
  for (size_t i = 0; i < size; ++i) {
    if (x[i] != y[i]) {
      return x[i] < y[i] ? -1 : 1;
    }
  }
  return 0;
}

} // extern "C"
