// A machine's UEFI variables as Linux shows them in efivarfs: one file
// "<Name>-<guid>" per variable (GUID in lower-case 8-4-4-4-12 form), holding
// the 4-byte little-endian attributes and then the data. Everything read
// from such a directory comes from outside: each file is bounded, and a
// file that cannot be read or is too short is refused, never guessed at.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_EFIVARFS_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_EFIVARFS_H_

#include <uefi/UefiBaseType.h>

#include <optional>
#include <string>
#include <vector>

#include "host/HostPlatform.h"

namespace sim {

// Where Linux mounts efivarfs.
inline constexpr char kDefaultEfivarfs[] = "/sys/firmware/efi/efivars";

// A variable file is at most this large (attributes included): well above
// any variable a platform's flash holds.
inline constexpr size_t kMaxEfivarSize = 1u << 20;
// A directory is read up to this many entries.
inline constexpr size_t kMaxEfivarFiles = 4096;

struct EfiVariable {
  std::string name; // as in the file name (ASCII for every variable of the driver)
  EFI_GUID guid{};
  UINT32 attributes = 0;
  std::vector<UINT8> data;
};

// "Name-guid" for a file name; empty when the name is not of that form.
std::optional<std::pair<std::string, EFI_GUID>> ParseEfivarName(const std::string &fileName);
std::string EfivarFileName(const std::string &name, const EFI_GUID &guid);

// One variable file. FALSE with *Error (naming the file) when it cannot be
// read, is no regular file, is above kMaxEfivarSize or shorter than its
// attributes.
bool ReadEfivar(const std::string &dir, const std::string &name, const EFI_GUID &guid,
                EfiVariable *variable, std::string *error);

// Every variable file of Dir in name order; names not of the efivarfs form
// are no variables and are passed over. FALSE with *Error when Dir or one
// of its variable files cannot be read.
bool ReadEfivarfs(const std::string &dir, std::vector<EfiVariable> *variables, std::string *error);

// Only the files named Name (under whichever GUID). FALSE as above.
bool ReadEfivarsNamed(const std::string &dir, const std::string &name,
                      std::vector<EfiVariable> *variables, std::string *error);

// Writes every variable of Platform with the runtime-access attribute into
// Dir (created when missing) in efivarfs layout, each file replaced whole;
// *Count is how many. A variable of another name or GUID already in Dir is
// left alone. FALSE with *Error on the first failure.
bool ExportEfivarfs(const host::Platform &platform, const std::string &dir, size_t *count,
                    std::string *error);

} // namespace sim

#endif
