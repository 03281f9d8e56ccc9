// A cursor over outside bytes (variables, tables, packets) that fails
// instead of reading past the end. Reads copy, so unaligned fields are fine.
#ifndef ZELM_SUPPORT_BYTE_READER_H_
#define ZELM_SUPPORT_BYTE_READER_H_

#include <uefi/UefiBaseType.h>

#include "support/Memory.h"

class ByteReader {
public:
  ByteReader(const VOID *Bytes, UINTN Size)
      : bytes_(static_cast<const UINT8 *>(Bytes)), size_(Size) {}

  UINTN Remaining() const { return size_ - offset_; }
  UINTN Offset() const { return offset_; }

  // Copies the next sizeof(T) bytes into *Value; FALSE (nothing moved) when
  // fewer remain.
  template <typename T> BOOLEAN Read(T *Value) {
    if (Remaining() < sizeof(T)) {
      return FALSE;
    }
    CopyMem(Value, bytes_ + offset_, sizeof(T));
    offset_ += sizeof(T);
    return TRUE;
  }

  // Points *Span at the next Count bytes and moves past them; FALSE
  // (nothing moved) when fewer remain.
  BOOLEAN Take(UINTN Count, const UINT8 **Span) {
    if (Remaining() < Count) {
      return FALSE;
    }
    *Span = bytes_ + offset_;
    offset_ += Count;
    return TRUE;
  }

  // Moves to Offset; FALSE (nothing moved) beyond the end.
  BOOLEAN Seek(UINTN Offset) {
    if (Offset > size_) {
      return FALSE;
    }
    offset_ = Offset;
    return TRUE;
  }

private:
  const UINT8 *bytes_;
  UINTN size_;
  UINTN offset_ = 0;
};

#endif
