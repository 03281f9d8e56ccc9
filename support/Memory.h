// Byte-block operations. They compile to the compiler's builtins; the EFI
// image supplies memcpy/memset/memcmp itself.
#ifndef ZELM_SUPPORT_MEMORY_H_
#define ZELM_SUPPORT_MEMORY_H_

#include <uefi/UefiBaseType.h>

inline VOID CopyMem(VOID *Dest, const VOID *Src, UINTN Size) {
  if (Size != 0) {
    __builtin_memmove(Dest, Src, Size);
  }
}
inline VOID SetMem(VOID *Dest, UINTN Size, UINT8 Value) {
  if (Size != 0) {
    __builtin_memset(Dest, Value, Size);
  }
}
inline VOID ZeroMem(VOID *Dest, UINTN Size) {
  SetMem(Dest, Size, 0);
}
inline INTN CompareMem(const VOID *A, const VOID *B, UINTN Size) {
  return Size == 0 ? 0 : __builtin_memcmp(A, B, Size);
}
inline BOOLEAN CompareGuid(const EFI_GUID *A, const EFI_GUID *B) {
  return CompareMem(A, B, sizeof(EFI_GUID)) == 0;
}

#endif
