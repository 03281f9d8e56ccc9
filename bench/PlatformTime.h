// Time spent in the platform's code during a driver call: the variable
// services and the setting providers. A benchmark subtracts it to tell the
// driver's own time from the platform's, whose cost depends on the flash
// and the board (a real variable service walks its store and writes flash).
#ifndef ZELM_BENCH_PLATFORM_TIME_H_
#define ZELM_BENCH_PLATFORM_TIME_H_

#include <uefi/UefiSystemTable.h>

#include <chrono>

class PlatformTime {
public:
  // Counts the platform's time for as long as it lives; nested scopes (a
  // provider calling the variable services) count once.
  class Scope {
  public:
    Scope() {
      if (depth_++ == 0) {
        start_ = std::chrono::steady_clock::now();
      }
    }
    ~Scope() {
      if (--depth_ == 0) {
        total_ += std::chrono::steady_clock::now() - start_;
      }
    }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
  };

  // Routes the variable services of Runtime through timed wrappers.
  static void Wrap(EFI_RUNTIME_SERVICES *runtime) {
    get_ = runtime->GetVariable;
    set_ = runtime->SetVariable;
    runtime->GetVariable = TimedGet;
    runtime->SetVariable = TimedSet;
  }

  // Platform time since the last call, in nanoseconds.
  static double TakeNs() {
    const double ns = std::chrono::duration<double, std::nano>(total_).count();
    total_ = {};
    return ns;
  }

private:
  static EFI_STATUS EFIAPI TimedGet(CHAR16 *name, EFI_GUID *guid, UINT32 *attributes, UINTN *size,
                                    VOID *data) {
    Scope scope;
    return get_(name, guid, attributes, size, data);
  }
  static EFI_STATUS EFIAPI TimedSet(CHAR16 *name, EFI_GUID *guid, UINT32 attributes, UINTN size,
                                    VOID *data) {
    Scope scope;
    return set_(name, guid, attributes, size, data);
  }

  static inline int depth_ = 0;
  static inline std::chrono::steady_clock::time_point start_;
  static inline std::chrono::steady_clock::duration total_{};
  static inline EFI_GET_VARIABLE get_ = nullptr;
  static inline EFI_SET_VARIABLE set_ = nullptr;
};

#endif
