// The platform configuration block "Setup": reading a pool copy, writing a
// copy back (through the privileged SMM message when variables can be
// write-locked) and the cached default block from the default variable
// stores. Every copy carries its size, and the bytes the driver uses are
// read and written only through GetSetupByte and SetSetupByte, which refuse
// a block too short for the offset.
#ifndef ZELM_PROVIDERS_PLATFORM_SETUP_H_
#define ZELM_PROVIDERS_PLATFORM_SETUP_H_

#include <uefi/UefiBaseType.h>

#include "support/VariableAttributes.h"

// The bytes of "Setup" the driver interprets.
inline constexpr UINTN kSetupUsbBootDisabled = 0x5C;
inline constexpr UINTN kSetupNetworkBootCompanion = 0x64;
inline constexpr UINTN kSetupOnboardNetworkBoot = 0x6F;
inline constexpr UINTN kSetupPermissionIndicator = 0x80;

// A copy of the block and its size.
struct PlatformSetupBlock {
  UINT8 *data;
  UINTN size;
};

// Frees the copy's buffer and clears it.
VOID FreePlatformSetup(PlatformSetupBlock *Block);

// Owns one copy; frees it when it goes.
class PlatformSetupCopy {
public:
  PlatformSetupCopy() = default;
  PlatformSetupCopy(const PlatformSetupCopy &) = delete;
  PlatformSetupCopy &operator=(const PlatformSetupCopy &) = delete;
  ~PlatformSetupCopy() { FreePlatformSetup(&block); }

  PlatformSetupBlock block = {};
};

// The byte at Offset. EFI_SUCCESS; EFI_INVALID_PARAMETER (NULL pointer or
// block without data); EFI_BAD_BUFFER_SIZE (the block ends at or before
// Offset).
[[nodiscard]] EFI_STATUS GetSetupByte(const PlatformSetupBlock *Block, UINTN Offset, UINT8 *Value);
// Stores Value at Offset; statuses as GetSetupByte.
[[nodiscard]] EFI_STATUS SetSetupByte(PlatformSetupBlock *Block, UINTN Offset, UINT8 Value);

// A fresh, zero-filled pool copy of the current block in *Block (cleared
// first; the caller frees it). EFI_SUCCESS; EFI_INVALID_PARAMETER (Block
// NULL); EFI_OUT_OF_RESOURCES (boot services have ended in DXE mode, or the
// allocation failed); EFI_UNSUPPORTED (the size probe succeeded or reported
// 0 bytes; SMM mode without the SMM variable service); the variable
// service's status otherwise.
[[nodiscard]] EFI_STATUS ReadPlatformSetup(PlatformSetupBlock *Block);

// TRUE once ReadPlatformSetup allocates no more (boot services ended in DXE
// mode): its EFI_OUT_OF_RESOURCES then says nothing about the pool.
BOOLEAN PlatformSetupReadsEnded(VOID);

// Stores the whole block, attributes 7: in SMM mode through the SMM
// variable service; in DXE mode through the runtime services, or through
// the privileged SMM message when both EFI_SMM_VARIABLE_PROTOCOL and
// EDKII_VARIABLE_LOCK_PROTOCOL are installed. The block is not changed.
// EFI_SUCCESS; EFI_INVALID_PARAMETER (Block NULL, no data or size 0: a
// write of 0 bytes would delete the block); EFI_UNSUPPORTED (boot services
// have ended; SMM mode without the service; no
// EFI_SMM_COMMUNICATION_PROTOCOL); EFI_OUT_OF_RESOURCES (no communication
// buffer, or one too small for the whole message); the status of the write
// or, for the message, of Communicate or else of the SMM handler.
[[nodiscard]] EFI_STATUS WritePlatformSetup(const PlatformSetupBlock *Block);

// Reads the default block of store StoreId from the default variable stores
// and makes it the cached default block (replacing an earlier one);
// *Size receives its size. EFI_SUCCESS; EFI_INVALID_PARAMETER (Size NULL);
// EFI_OUT_OF_RESOURCES (boot services ended in DXE mode, allocation);
// EFI_UNSUPPORTED (the probe succeeded); the store search's status.
[[nodiscard]] EFI_STATUS ReadPlatformSetupDefaults(UINT64 StoreId, UINTN *Size);

// The cached default block, filled on first use: the default-store protocol
// (located once found, then retained) names the store; when reading that
// store fails, store 0 is read. EFI_SUCCESS with *Block pointing at the
// cache; EFI_INVALID_PARAMETER (Block NULL); EFI_NOT_FOUND (no protocol, no
// default block).
[[nodiscard]] EFI_STATUS GetPlatformSetupDefaults(const PlatformSetupBlock **Block);

// Frees the cached default block (shut-down after a failed start).
VOID ReleasePlatformSetupDefaults(VOID);
// Forgets the cache and the protocol without freeing them: a new start of
// the image, whose earlier pool is gone.
VOID ResetPlatformSetup(VOID);

#endif
