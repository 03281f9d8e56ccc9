// Helpers shared by the fuzz targets.
#ifndef ZELM_FUZZ_FUZZ_SUPPORT_H_
#define ZELM_FUZZ_FUZZ_SUPPORT_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace fuzz {

// A broken invariant is a finding: abort, so that libFuzzer keeps the
// input, and say which check broke.
inline void Check(bool condition, const char *file = __builtin_FILE(),
                  int line = __builtin_LINE()) {
  if (!condition) {
    fprintf(stderr, "check failed at %s:%d\n", file, line);
    abort();
  }
}

// Reads the input front to back; past its end every value reads as 0.
class Input {
public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  uint64_t Take(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; i++) {
      value |= static_cast<uint64_t>(Byte()) << (8 * i);
    }
    return value;
  }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  const uint8_t *Rest() const { return data_ + at_; }
  size_t Left() const { return size_ - at_; }

private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

} // namespace fuzz

#endif
